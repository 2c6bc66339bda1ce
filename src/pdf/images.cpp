// cPDF images: image XObjects from raster images, stored as JPEG (colour
// images while compression is on), zlib-compressed samples or raw samples,
// indexed images with their palette as a separate object. A 1-bit page that
// still holds the samples its CCITT Group 4 file data decodes to keeps that
// data (lossless, and far cheaper than compressing the samples again).
#include <zlib.h>

#include <cstring>

#include "host/file_io.h"
#include "pdf/pdf.h"
#include "raster/codec.h"
#include "raster/rounding.h"

namespace korvex::pdf {

namespace {

const raster::Encoder* jpeg_encoder() {
  for (const raster::Encoder& e : raster::encoders()) {
    if (e.extensions.find("*.JPG") != std::string::npos) return &e;
  }
  return nullptr;
}

// Samples row by row without padding, top row first: indexed formats as
// they are, every other format as 24-bit RGB. False when they cannot be read.
bool read_samples(raster::Image& img, int32_t depth, std::vector<uint8_t>& out) {
  const raster::PixelFormat f = depth == 1   ? raster::pf::k1bppIndexed
                                : depth == 4 ? raster::pf::k4bppIndexed
                                : depth == 8 ? raster::pf::k8bppIndexed
                                             : raster::pf::k24bppRGB;
  const int32_t w = img.width(), h = img.height();
  const uint64_t row = (static_cast<uint64_t>(w) * static_cast<uint64_t>(depth) + 7) / 8;
  const int32_t stride = raster::padded_stride(w, f);
  if (stride <= 0 || row > static_cast<uint64_t>(stride)) return false;
  const uint64_t total = row * static_cast<uint64_t>(h);
  if (total > (uint64_t{1} << 40)) return false;
  std::vector<uint8_t> band;
  try {
    out.resize(static_cast<size_t>(total));
    band.resize(static_cast<size_t>(stride) * 64);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t y = 0; y < h; y += 64) {
    const int32_t rows = std::min<int32_t>(64, h - y);
    if (img.read_pixels(raster::Rect{0, y, w, rows}, f, band.data(), stride) != raster::Status::Ok)
      return false;
    for (int32_t r = 0; r < rows; ++r) {
      uint8_t* dst = out.data() + static_cast<size_t>(y + r) * row;
      std::memcpy(dst, band.data() + static_cast<size_t>(r) * static_cast<size_t>(stride), row);
      if (depth == 24) {
        for (uint64_t i = 0; i + 2 < row; i += 3) std::swap(dst[i], dst[i + 2]);  // BGR to RGB
      }
    }
  }
  return true;
}

// A palette of exactly 2^depth entries: red, green, blue of each colour,
// zero bytes past the image's palette.
std::vector<uint8_t> palette_bytes(const raster::Palette& pal, int32_t depth) {
  const size_t entries = size_t{1} << depth;
  std::vector<uint8_t> out(entries * 3, 0);
  for (size_t i = 0; i < entries && i < pal.entries.size(); ++i) {
    const uint32_t argb = pal.entries[i];
    out[i * 3] = static_cast<uint8_t>(argb >> 16);
    out[i * 3 + 1] = static_cast<uint8_t>(argb >> 8);
    out[i * 3 + 2] = static_cast<uint8_t>(argb);
  }
  return out;
}

}  // namespace

int32_t cPDF::ImageWidth(int32_t id) const {
  return id > 0 && id <= image_count() ? images_[static_cast<size_t>(id) - 1].width : 0;
}
int32_t cPDF::ImageHeight(int32_t id) const {
  return id > 0 && id <= image_count() ? images_[static_cast<size_t>(id) - 1].height : 0;
}
int32_t cPDF::ImageResX(int32_t id) const {
  return id > 0 && id <= image_count() ? images_[static_cast<size_t>(id) - 1].res_x : 0;
}
int32_t cPDF::ImageResY(int32_t id) const {
  return id > 0 && id <= image_count() ? images_[static_cast<size_t>(id) - 1].res_y : 0;
}

int32_t cPDF::PdfAddImage(const std::string& path) {
  if (!writable() || in_page_) return 0;
  std::unique_ptr<raster::Image> img;
  raster::EncodedBytes bytes;
  if (host::open_image_file(path, img, bytes) != raster::Status::Ok) return 0;
  if (!img && raster::decode_image(bytes, img) != raster::Status::Ok) return 0;
  return img ? PdfAddImage(*img) : 0;
}

int32_t cPDF::PdfAddImage(raster::Image& img) {
  // An image object written while a page is open would land inside its content stream.
  if (!writable() || in_page_) return 0;
  const int32_t w = img.width(), h = img.height();
  int32_t depth = raster::bits_per_pixel(img.format());
  if (w <= 0 || h <= 0 || depth <= 0) return 0;
  const bool indexed = raster::is_indexed(img.format());
  if (indexed && depth != 1 && depth != 4 && depth != 8) return 0;
  std::vector<uint8_t> data, palette;
  const raster::CodedPixels* coded = indexed && depth == 1 && CompressData ? img.coded_pixels()
                                                                           : nullptr;
  if (coded != nullptr && coded->kind == raster::CodedPixels::Kind::CcittG4) {
    const int32_t k = image_count() + 1;
    WriteImageObject("Img" + std::to_string(k), coded->bytes, palette_bytes(img.palette(), 1), w,
                     h, 1, Storage::CcittG4);
    images_.push_back({w, h, RoundHalfEven(img.dpi_x()), RoundHalfEven(img.dpi_y())});
    return k;
  }
  if (!indexed && CompressData) {
    // A format the JPEG encoder refuses goes out as Flate-compressed RGB.
    const raster::Encoder* e = jpeg_encoder();
    const raster::EncoderParams params{{raster::encparam::kQuality, 90}};
    const bool jpeg = e != nullptr &&
                      raster::encode_to_memory(*e, img, params, data) == raster::Status::Ok &&
                      !data.empty();
    if (jpeg) return PdfAddJpeg(data, w, h, img.dpi_x(), img.dpi_y());
  }
  if (!indexed) depth = 24;
  if (!read_samples(img, depth, data)) return 0;
  if (indexed) palette = palette_bytes(img.palette(), depth);
  const int32_t k = image_count() + 1;
  WriteImageObject("Img" + std::to_string(k), data, palette, w, h, depth, Storage::Samples);
  images_.push_back({w, h, RoundHalfEven(img.dpi_x()), RoundHalfEven(img.dpi_y())});
  return k;
}

int32_t cPDF::PdfAddJpeg(const std::vector<uint8_t>& jpeg, int32_t width, int32_t height,
                         float dpi_x, float dpi_y) {
  if (!writable() || in_page_ || width <= 0 || height <= 0 || jpeg.empty()) return 0;
  const int32_t k = image_count() + 1;
  WriteImageObject("Img" + std::to_string(k), jpeg, {}, width, height, 24, Storage::Jpeg);
  images_.push_back({width, height, RoundHalfEven(dpi_x), RoundHalfEven(dpi_y)});
  return k;
}

void cPDF::WriteImageObject(const std::string& name, const std::vector<uint8_t>& data,
                            const std::vector<uint8_t>& palette, int32_t width, int32_t height,
                            int32_t depth, Storage storage) {
  const int32_t n = BeginObj(0);
  WriteLine("<<\r/Type /XObject\r/Subtype /Image\r/Name /" + name + "\r/Width " +
            std::to_string(width) + "\r/Height " + std::to_string(height));
  const uint8_t* bytes = data.data();
  size_t count = data.size();
  std::string filter;
  std::vector<uint8_t> packed;
  if (storage == Storage::Jpeg) {
    filter = " /Filter/DCTDecode";
  } else if (storage == Storage::CcittG4) {
    // Black runs decode to 1 bits, as they do in the frame the data came from.
    filter = " /Filter/CCITTFaxDecode /DecodeParms << /K -1 /Columns " + std::to_string(width) +
             " /Rows " + std::to_string(height) + " /BlackIs1 true >>";
  } else if (CompressData) {
    // Stored raw, without a filter, when zlib cannot compress the samples.
    uLongf out_len = compressBound(static_cast<uLong>(data.size()));
    bool ok = data.size() == static_cast<uLong>(data.size());
    if (ok) {
      try {
        packed.resize(out_len);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
    }
    if (ok && compress2(packed.data(), &out_len, data.data(), static_cast<uLong>(data.size()),
                        compress_level_) == Z_OK) {
      bytes = packed.data();
      count = out_len;
      filter = " /Filter/FlateDecode";
    }
  }
  if (depth <= 8) {
    WriteLine("/BitsPerComponent " + std::to_string(depth) + "\r/ColorSpace [/Indexed /DeviceRGB " +
              std::to_string((1 << depth) - 1) + " " + std::to_string(n + 2) + " 0 R]\r/Length " +
              std::to_string(count) + filter);
  } else {
    WriteLine("/BitsPerComponent 8\r/ColorSpace /DeviceRGB\r/Length " + std::to_string(n + 1) +
              " 0 R" + filter);
  }
  WriteBytes(">>\rstream\r\n", 11);
  WriteBytes(bytes, count);
  WriteLine("\rendstream");
  EndObj();
  image_resources_ += "/" + name + " " + std::to_string(n) + " 0 R \r";
  BeginObj(0);
  WriteLine(std::to_string(count));
  EndObj();
  if (depth <= 8) {
    BeginObj(0);
    WriteBytes("<<", 2);
    WriteLine("/Length " + std::to_string(palette.size()) + " >>\rstream");
    WriteBytes(palette.data(), palette.size());
    WriteLine("\rendstream");
    EndObj();
  }
}

}  // namespace korvex::pdf
