// BMP decoder: a 14-byte file header ("BM", file size, two reserved words,
// offset of the pixel array) followed by a DIB. Indexed pictures keep their
// depth and colour table; 16-bit pictures whose masks match a stored format
// keep it; anything else with masks becomes 32bppARGB.
#include <memory>

#include "raster/codecs/bmp/bmp_codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/guard.h"

namespace korvex::raster {
namespace {

constexpr size_t kFileHeader = 14;

Status decode_bmp_unchecked(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  const uint8_t* data = in.data;
  const size_t size = in.size;
  if (!bmp::sniff(data, size)) return Status::UnknownImageFormat;
  if (size < kFileHeader + 4) return Status::GenericError;

  dib::Info info;
  if (Status s = dib::parse_header(data + kFileHeader, size - kFileHeader, false, info);
      s != Status::Ok) {
    return s;
  }
  // The pixel array must start after the headers (and masks) and inside the file.
  const uint32_t offset = dib::u32(data + 10);
  if (offset < kFileHeader + info.table_offset || offset > size) return Status::GenericError;
  if (Status s = dib::check_pixel_limit(info.width, info.height, info.format); s != Status::Ok) {
    return s;
  }
  if (info.layout != dib::Layout::kRle && dib::minimum_array_size(info) > size - offset) {
    return Status::GenericError;
  }

  std::unique_ptr<Image> img;
  if (Status s = Image::create(info.width, info.height, info.format, img); s != Status::Ok) {
    return s;
  }
  Surface& surface = img->surface();
  if (is_indexed(info.format)) {
    // The table ends where the pixels begin at the latest.
    surface.palette = dib::read_palette(info, data + kFileHeader, offset - kFileHeader);
  }
  if (Status s = dib::decode_pixels(info, data + offset, size - offset, surface); s != Status::Ok) {
    return s;
  }
  float dpi_x, dpi_y;
  dib::resolution(info, dpi_x, dpi_y);
  img->set_resolution(dpi_x, dpi_y);
  img->set_raw_format(guids::kFormatBmp);
  out = std::move(img);
  return Status::Ok;
}

}  // namespace

namespace bmp {

bool sniff(const uint8_t* data, size_t size) {
  return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  return guarded([&] { return decode_bmp_unchecked(in, out); });
}

}  // namespace bmp
}  // namespace korvex::raster
