#include "engine/dib.h"

#include <cstring>
#include <limits>

#include "engine/state.h"
#include "raster/bit_depth.h"
#include "raster/convert.h"

namespace korvex {

namespace {

uint32_t rd32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t rd16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void wr32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

raster::Palette palette_from_colors(const std::vector<uint32_t>& colors) {
  raster::Palette p;
  for (uint32_t c : colors) p.entries.push_back(0xFF000000u | (c & 0x00FFFFFFu));
  return p;
}

// Composites a colour over an opaque background.
uint32_t over(uint32_t argb, uint32_t background) {
  const uint32_t a = argb >> 24;
  if (a == 255) return argb;
  uint32_t out = 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t c = (argb >> shift) & 0xFF, b = (background >> shift) & 0xFF;
    out |= ((c * a + b * (255 - a) + 127) / 255) << shift;
  }
  return out;
}

// Position of the lowest set bit and the width of a contiguous mask.
bool mask_shape(uint32_t mask, int& shift, int& bits) {
  if (mask == 0) return false;
  shift = 0;
  while (((mask >> shift) & 1u) == 0) ++shift;
  bits = 0;
  while (shift + bits < 32 && ((mask >> (shift + bits)) & 1u)) ++bits;
  return (mask >> shift) == ((bits == 32 ? 0u : (1u << bits)) - 1u) || bits == 32;
}

uint8_t scale_field(uint32_t v, int bits) {
  if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
  const uint32_t max = (1u << bits) - 1u;
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
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
    for (size_t x = 0; x < line.size(); ++x) wr32(dst + 4 * x, over(line[x], background));
  }
  out = std::move(b);
  return raster::Status::Ok;
}

raster::Status ImageFromPackedDib(const uint8_t* block, size_t size,
                                  std::unique_ptr<raster::Image>& out) {
  using raster::Status;
  if (block == nullptr || size < 40) return Status::InvalidParameter;
  const uint32_t header = rd32(block);
  if (header < 40 || header > size) return Status::InvalidParameter;
  const int32_t width = static_cast<int32_t>(rd32(block + 4));
  const int32_t raw_height = static_cast<int32_t>(rd32(block + 8));
  const uint16_t planes = rd16(block + 12);
  const uint16_t bpp = rd16(block + 14);
  const uint32_t compression = rd32(block + 16);
  const int32_t ppm_x = static_cast<int32_t>(rd32(block + 24));
  const int32_t ppm_y = static_cast<int32_t>(rd32(block + 28));
  const uint32_t clr_used = rd32(block + 32);
  if (width <= 0 || raw_height == 0 || raw_height == std::numeric_limits<int32_t>::min() ||
      planes != 1) {
    return Status::InvalidParameter;
  }
  const bool top_down = raw_height < 0;
  const int32_t height = top_down ? -raw_height : raw_height;
  if (raster::format_for_depth(bpp, raster::DepthUse::kDib) == raster::pf::kUndefined) {
    return Status::InvalidParameter;
  }
  // Pixel layout: plain RGB, or bit fields for 16 and 32 bits.
  size_t offset = header;
  uint32_t masks[3] = {0, 0, 0};
  bool fields = false;
  if (compression == 3) {
    if (bpp != 16 && bpp != 32) return Status::InvalidParameter;
    const uint8_t* m = nullptr;
    if (header >= 52) {
      m = block + 40;  // the masks are part of a larger header
    } else {
      if (size - offset < 12) return Status::InvalidParameter;
      m = block + offset;
      offset += 12;
    }
    for (int i = 0; i < 3; ++i) masks[i] = rd32(m + 4 * i);
    int sh = 0, bits = 0;
    for (uint32_t mask : masks) {
      if (!mask_shape(mask, sh, bits) || (bpp == 16 && (mask >> 16) != 0)) {
        return Status::InvalidParameter;
      }
    }
    if ((masks[0] & masks[1]) | (masks[1] & masks[2]) | (masks[0] & masks[2])) {
      return Status::InvalidParameter;
    }
    fields = true;
  } else if (compression != 0) {
    return Status::InvalidParameter;
  }
  // Colour table: biClrUsed entries, or the full table for indexed depths.
  uint64_t colors = clr_used;
  if (bpp <= 8) {
    if (colors == 0) colors = uint64_t{1} << bpp;
    if (colors > (uint64_t{1} << bpp)) return Status::InvalidParameter;
  } else if (colors > 256) {
    return Status::InvalidParameter;
  }
  if (colors * 4 > size - offset) return Status::InvalidParameter;
  const uint8_t* table = block + offset;
  offset += static_cast<size_t>(colors * 4);
  const uint64_t stride = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
  if (stride * static_cast<uint64_t>(height) > size - offset) return Status::InvalidParameter;
  const uint8_t* bits = block + offset;

  // Bit fields other than the standard layouts are expanded to 32bppARGB.
  raster::PixelFormat f = raster::format_for_depth(bpp, raster::DepthUse::kDib);
  bool expand = false;
  if (fields) {
    if (bpp == 16 && masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F) {
      f = raster::pf::k16bppRGB555;
    } else if (bpp == 16 && masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) {
      f = raster::pf::k16bppRGB565;
    } else if (bpp == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF) {
      f = raster::pf::k32bppRGB;
    } else {
      f = raster::pf::k32bppARGB;
      expand = true;
    }
  }
  std::unique_ptr<raster::Image> img;
  if (Status s = raster::Image::create(width, height, f, img); s != Status::Ok) return s;
  raster::Surface& surf = img->surface();
  const size_t row_bytes = static_cast<size_t>((static_cast<uint64_t>(width) * bpp + 7) / 8);
  int sh[3] = {0, 0, 0}, nb[3] = {0, 0, 0};
  if (expand) {
    for (int i = 0; i < 3; ++i) mask_shape(masks[i], sh[i], nb[i]);
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = bits + stride * static_cast<uint64_t>(top_down ? y : height - 1 - y);
    uint8_t* dst = surf.row(y);
    if (!expand) {
      std::memcpy(dst, src, row_bytes);
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t v = bpp == 16 ? rd16(src + 2 * static_cast<size_t>(x))
                                   : rd32(src + 4 * static_cast<size_t>(x));
      dst[4 * x + 0] = scale_field((v & masks[2]) >> sh[2], nb[2]);
      dst[4 * x + 1] = scale_field((v & masks[1]) >> sh[1], nb[1]);
      dst[4 * x + 2] = scale_field((v & masks[0]) >> sh[0], nb[0]);
      dst[4 * x + 3] = 0xFF;
    }
  }
  if (bpp <= 8) {
    raster::Palette p;
    for (uint64_t i = 0; i < colors; ++i)
      p.entries.push_back(0xFF000000u | (rd32(table + 4 * i) & 0xFFFFFF));
    img->set_palette(p);
  }
  if (ppm_x > 0 && ppm_y > 0) {
    const int32_t dx = RoundHalfEven(ppm_x / 100.0 * 2.54),
                  dy = RoundHalfEven(ppm_y / 100.0 * 2.54);
    if (dx > 0 && dy > 0) img->set_resolution(static_cast<float>(dx), static_cast<float>(dy));
  }
  out = std::move(img);
  return Status::Ok;
}

raster::Status PackedDibFromImage(raster::Image& img, uint32_t background,
                                  std::vector<uint8_t>& out) {
  const raster::PixelFormat f = img.format();
  int32_t bpp = 32;
  if (raster::is_indexed(f)) bpp = raster::bits_per_pixel(f);
  if (f == raster::pf::k16bppRGB555) bpp = 16;
  if (f == raster::pf::k24bppRGB) bpp = 24;
  const int32_t w = img.width(), h = img.height();
  const uint64_t stride = ((static_cast<uint64_t>(w) * bpp + 31) / 32) * 4;
  const size_t colors = bpp <= 8 ? img.palette().entries.size() : 0;
  const uint64_t total = 40 + colors * 4 + stride * static_cast<uint64_t>(h);
  if (total > std::numeric_limits<uint32_t>::max()) return raster::Status::OutOfMemory;
  out.assign(static_cast<size_t>(total), 0);
  uint8_t* p = out.data();
  wr32(p, 40);
  wr32(p + 4, static_cast<uint32_t>(w));
  wr32(p + 8, static_cast<uint32_t>(h));
  p[12] = 1;
  p[14] = static_cast<uint8_t>(bpp);
  wr32(p + 20, static_cast<uint32_t>(stride * static_cast<uint64_t>(h)));
  wr32(p + 24, static_cast<uint32_t>(RoundHalfEven(img.dpi_x() / 2.54 * 100.0)));
  wr32(p + 28, static_cast<uint32_t>(RoundHalfEven(img.dpi_y() / 2.54 * 100.0)));
  wr32(p + 32, static_cast<uint32_t>(colors));
  for (size_t i = 0; i < colors; ++i) wr32(p + 40 + 4 * i, img.palette().entries[i] & 0xFFFFFF);
  uint8_t* bits = p + 40 + colors * 4;
  std::vector<uint32_t> line(static_cast<size_t>(w));
  const raster::Surface& s = img.surface();
  const size_t row_bytes = static_cast<size_t>((static_cast<uint64_t>(w) * bpp + 7) / 8);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* dst = bits + stride * static_cast<uint64_t>(h - 1 - y);
    if (bpp != 32) {
      std::memcpy(dst, s.row(y), row_bytes);
      continue;
    }
    if (raster::Status st = img.read_pixels({0, y, w, 1}, raster::pf::k32bppARGB,
                                            reinterpret_cast<uint8_t*>(line.data()), w * 4);
        st != raster::Status::Ok) {
      return st;
    }
    for (int32_t x = 0; x < w; ++x)
      wr32(dst + 4 * x, over(line[static_cast<size_t>(x)], background));
  }
  return raster::Status::Ok;
}

}  // namespace korvex
