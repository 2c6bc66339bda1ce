// cairo PDF output of print pages.
#include "print/render.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "raster/guard.h"

namespace korvex::print {

namespace {

constexpr double kPointsPerMM = 72.0 / 25.4;

raster::Status from_cairo(cairo_status_t st) {
  switch (st) {
    case CAIRO_STATUS_SUCCESS:
      return raster::Status::Ok;
    case CAIRO_STATUS_NO_MEMORY:
      return raster::Status::OutOfMemory;
    case CAIRO_STATUS_WRITE_ERROR:
    case CAIRO_STATUS_FILE_NOT_FOUND:
      return raster::Status::Win32Error;
    default:
      return raster::Status::GenericError;
  }
}

void set_argb(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                        (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
}

// Any image: its premultiplied 32-bit ARGB pixels (cairo's ARGB32 layout).
raster::Status draw_argb(cairo_t* cr, raster::Image& img) {
  const int32_t w = img.width();
  const int32_t h = img.height();
  cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  raster::Status st = from_cairo(cairo_surface_status(src));
  if (st == raster::Status::Ok) {
    cairo_surface_flush(src);
    st = img.read_pixels({0, 0, w, h}, raster::pf::k32bppPARGB, cairo_image_surface_get_data(src),
                         cairo_image_surface_get_stride(src));
    cairo_surface_mark_dirty(src);
  }
  if (st == raster::Status::Ok) {
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_fill(cr);
  }
  cairo_surface_destroy(src);
  return st;
}

// The bits of each byte in reverse order, eight bytes at a time: swaps of
// neighbouring bits, then pairs, then nibbles, inside every byte of a word.
void reverse_bits(const uint8_t* in, uint8_t* out, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, in + i, 8);
    v = (v >> 1 & 0x5555555555555555ull) | (v & 0x5555555555555555ull) << 1;
    v = (v >> 2 & 0x3333333333333333ull) | (v & 0x3333333333333333ull) << 2;
    v = (v >> 4 & 0x0F0F0F0F0F0F0F0Full) | (v & 0x0F0F0F0F0F0F0F0Full) << 4;
    std::memcpy(out + i, &v, 8);
  }
  for (; i < n; ++i) {
    uint32_t b = in[i];
    b = (b >> 1 & 0x55u) | (b & 0x55u) << 1;
    b = (b >> 2 & 0x33u) | (b & 0x33u) << 2;
    out[i] = static_cast<uint8_t>(b >> 4 | b << 4);
  }
}

// A 1-bit image (a fax page): its rectangle in the colour of index 0, then
// the pixels of index 1 through a 1-bit stencil, so the PDF keeps one bit
// per pixel instead of 32.
raster::Status draw_bilevel(cairo_t* cr, raster::Image& img) {
  const int32_t w = img.width();
  const int32_t h = img.height();
  const uint32_t c0 = img.palette().entries[0];
  const uint32_t c1 = img.palette().entries[1];
  cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A1, w, h);
  raster::Status st = from_cairo(cairo_surface_status(mask));
  raster::LockData lock;
  if (st == raster::Status::Ok)
    st = img.lock_bits(nullptr, raster::lock::kRead, raster::pf::k1bppIndexed, lock);
  if (st == raster::Status::Ok) {
    cairo_surface_flush(mask);
    uint8_t* dst = cairo_image_surface_get_data(mask);
    const int dst_stride = cairo_image_surface_get_stride(mask);
    const size_t row_bytes = (static_cast<size_t>(w) + 7) / 8;
    for (int32_t y = 0; y < h; ++y) {
      // Most significant bit first in the image; cairo's A1 on a
      // little-endian machine puts the first pixel in the lowest bit.
      const uint8_t* in = lock.scan0 + static_cast<std::ptrdiff_t>(y) * lock.stride;
      uint8_t* out = dst + static_cast<std::ptrdiff_t>(y) * dst_stride;
      if constexpr (std::endian::native == std::endian::little)
        reverse_bits(in, out, row_bytes);
      else
        std::memcpy(out, in, row_bytes);
    }
    img.unlock_bits(lock);
    cairo_surface_mark_dirty(mask);
    if ((c0 >> 24) != 0) {
      set_argb(cr, c0);
      cairo_rectangle(cr, 0, 0, w, h);
      cairo_fill(cr);
    }
    // A page still holding the CCITT Group 4 data it was decoded from hands
    // that on: the PDF stores the fax data as it is instead of recompressing.
    // Its black runs are the frame's 1 samples, which the stencil paints.
    const raster::CodedPixels* coded = img.coded_pixels();
    if (coded != nullptr && coded->kind == raster::CodedPixels::Kind::CcittG4 &&
        !coded->bytes.empty()) {
      const std::string params =
          "Columns=" + std::to_string(w) + " Rows=" + std::to_string(h) + " K=-1 BlackIs1=true";
      auto* g4 = new std::vector<uint8_t>(coded->bytes);
      auto* text = new std::string(params);
      cairo_surface_set_mime_data(
          mask, CAIRO_MIME_TYPE_CCITT_FAX, g4->data(), g4->size(),
          [](void* p) { delete static_cast<std::vector<uint8_t>*>(p); }, g4);
      cairo_surface_set_mime_data(
          mask, CAIRO_MIME_TYPE_CCITT_FAX_PARAMS, reinterpret_cast<const uint8_t*>(text->data()),
          text->size(), [](void* p) { delete static_cast<std::string*>(p); }, text);
    }
    set_argb(cr, c1);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(mask);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_BEST);
    cairo_mask(cr, pattern);
    cairo_pattern_destroy(pattern);
  }
  cairo_surface_destroy(mask);
  return st;
}

}  // namespace

struct PageWriter::Impl {
  cairo_surface_t* surface = nullptr;
  ~Impl() {
    if (surface != nullptr) cairo_surface_destroy(surface);
  }
};

PageWriter::PageWriter(const std::string& path, double sheet_width_mm, double sheet_height_mm)
    : impl_(std::make_unique<Impl>()) {
  impl_->surface = cairo_pdf_surface_create(path.c_str(), sheet_width_mm * kPointsPerMM,
                                            sheet_height_mm * kPointsPerMM);
  status_ = from_cairo(cairo_surface_status(impl_->surface));
  if (status_ == raster::Status::Ok)
    cairo_pdf_surface_set_metadata(impl_->surface, CAIRO_PDF_METADATA_CREATOR, "Korvex");
}

PageWriter::~PageWriter() = default;

raster::Status PageWriter::add_page(raster::Image& img, const RectMM& rect) {
  if (status_ != raster::Status::Ok) return status_;
  const int32_t w = img.width();
  const int32_t h = img.height();
  if (w <= 0 || h <= 0 || rect.width <= 0 || rect.height <= 0)
    return status_ = raster::Status::InvalidParameter;
  status_ = raster::guarded([&]() -> raster::Status {
    cairo_t* cr = cairo_create(impl_->surface);
    cairo_translate(cr, rect.x * kPointsPerMM, rect.y * kPointsPerMM);
    cairo_scale(cr, rect.width * kPointsPerMM / w, rect.height * kPointsPerMM / h);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    raster::Status st =
        img.format() == raster::pf::k1bppIndexed && img.palette().entries.size() >= 2
            ? draw_bilevel(cr, img)
            : draw_argb(cr, img);
    if (st == raster::Status::Ok) {
      cairo_show_page(cr);
      st = from_cairo(cairo_status(cr));
    }
    cairo_destroy(cr);
    return st;
  });
  return status_;
}

raster::Status PageWriter::finish() {
  if (impl_->surface == nullptr) return status_;
  cairo_surface_finish(impl_->surface);
  const raster::Status st = from_cairo(cairo_surface_status(impl_->surface));
  cairo_surface_destroy(impl_->surface);
  impl_->surface = nullptr;
  if (status_ == raster::Status::Ok) status_ = st;
  return status_;
}

}  // namespace korvex::print
