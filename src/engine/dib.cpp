#include "engine/dib.h"

#include <cstring>

#include "raster/bit_depth.h"
#include "raster/codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

raster::Palette palette_from_colors(const std::vector<uint32_t>& colors) {
  raster::Palette p;
  for (uint32_t c : colors) p.entries.push_back(0xFF000000u | (c & 0x00FFFFFFu));
  return p;
}

}  // namespace

raster::Status ImageFromHostBitmap(const host::Bitmap& b, const std::vector<uint32_t>* palette,
                                   std::unique_ptr<raster::Image>& out) {
  const raster::PixelFormat f = raster::format_for_depth(b.bits_per_pixel, raster::DepthUse::kDib);
  if (f == raster::pf::kUndefined || b.width <= 0 || b.height <= 0 ||
      b.bits.size() < static_cast<size_t>(b.stride()) * static_cast<size_t>(b.height)) {
    return raster::Status::InvalidParameter;
  }
  std::unique_ptr<raster::Image> img;
  if (raster::Status s = raster::Image::create(b.width, b.height, f, img);
      s != raster::Status::Ok) {
    return s;
  }
  raster::Surface& s = img->surface();
  const size_t row =
      static_cast<size_t>((static_cast<int64_t>(b.width) * b.bits_per_pixel + 7) / 8);
  for (int32_t y = 0; y < b.height; ++y) {
    std::memcpy(s.row(y), b.bits.data() + static_cast<size_t>(y) * b.stride(), row);
  }
  if (raster::is_indexed(f)) {
    const std::vector<uint32_t>* colors = palette != nullptr ? palette : &b.colors;
    if (!colors->empty()) {
      raster::Palette p = palette_from_colors(*colors);
      if (p.entries.size() > (size_t{1} << b.bits_per_pixel)) {
        p.entries.resize(size_t{1} << b.bits_per_pixel);
      }
      img->set_palette(p);
    }
  }
  out = std::move(img);
  return raster::Status::Ok;
}

raster::Status HostBitmapFromImage(raster::Image& img, uint32_t background, host::Bitmap& out) {
  host::Bitmap b = host::Bitmap::Blank(img.width(), img.height(), 32);
  std::vector<uint32_t> line(static_cast<size_t>(img.width()));
  for (int32_t y = 0; y < img.height(); ++y) {
    if (raster::Status s =
            img.read_pixels({0, y, img.width(), 1}, raster::pf::k32bppARGB,
                            reinterpret_cast<uint8_t*>(line.data()), img.width() * 4);
        s != raster::Status::Ok) {
      return s;
    }
    uint8_t* dst = b.bits.data() + static_cast<size_t>(y) * b.stride();
    for (size_t x = 0; x < line.size(); ++x) {
      raster::dib::put32(dst + 4 * x, raster::dib::opaque_over(line[x], background));
    }
  }
  out = std::move(b);
  return raster::Status::Ok;
}

raster::Status ImageFromPackedDib(const uint8_t* block, size_t size,
                                  std::unique_ptr<raster::Image>& out) {
  std::unique_ptr<raster::Image> img;
  raster::dib::Info info;
  const raster::Status st = raster::dib::read_packed(block, size, img, info);
  if (st == raster::Status::OutOfMemory) return st;
  if (st != raster::Status::Ok) return raster::Status::InvalidParameter;
  if (info.ppm_x > 0 && info.ppm_y > 0) {
    const int32_t dx = raster::RoundHalfEven(info.ppm_x / 100.0 * 2.54),
                  dy = raster::RoundHalfEven(info.ppm_y / 100.0 * 2.54);
    if (dx > 0 && dy > 0) img->set_resolution(static_cast<float>(dx), static_cast<float>(dy));
  }
  out = std::move(img);
  return raster::Status::Ok;
}

raster::Status PackedDibFromImage(raster::Image& img, uint32_t background,
                                  std::vector<uint8_t>& out) {
  const raster::PixelFormat f = img.format();
  raster::dib::WriteOptions options;
  options.rows =
      raster::is_indexed(f) || f == raster::pf::k16bppRGB555 || f == raster::pf::k24bppRGB
          ? f
          : raster::pf::k32bppRGB;
  options.background = background;
  raster::MemorySink sink(out);
  const raster::Status st = raster::dib::write(img, options, sink);
  // A block past 4 GiB cannot be allocated as one global memory block.
  return st == raster::Status::ValueOverflow ? raster::Status::OutOfMemory : st;
}

}  // namespace korvex
