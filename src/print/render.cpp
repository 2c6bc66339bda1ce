// cairo PDF output of print pages.
#include "print/render.h"

#include <cairo-pdf.h>
#include <cairo.h>

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
    // Premultiplied 32-bit ARGB rows are cairo's ARGB32 layout.
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
    if (stride <= 0) return raster::Status::OutOfMemory;
    cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    raster::Status st = from_cairo(cairo_surface_status(src));
    if (st == raster::Status::Ok) {
      cairo_surface_flush(src);
      const raster::Rect all{0, 0, w, h};
      st = img.read_pixels(all, raster::pf::k32bppPARGB, cairo_image_surface_get_data(src),
                           cairo_image_surface_get_stride(src));
      cairo_surface_mark_dirty(src);
    }
    if (st == raster::Status::Ok) {
      cairo_t* cr = cairo_create(impl_->surface);
      cairo_translate(cr, rect.x * kPointsPerMM, rect.y * kPointsPerMM);
      cairo_scale(cr, rect.width * kPointsPerMM / w, rect.height * kPointsPerMM / h);
      cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
      cairo_set_source_surface(cr, src, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
      cairo_rectangle(cr, 0, 0, w, h);
      cairo_fill(cr);
      cairo_show_page(cr);
      st = from_cairo(cairo_status(cr));
      cairo_destroy(cr);
    }
    cairo_surface_destroy(src);
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
