// BMP encoder: file header + 40-byte info header, bottom-up rows padded to
// four bytes, in the image's own depth where BMP holds it:
//   1/4/8bppIndexed       same depth, the image's palette as colour table
//   16bppRGB555           16-bit BI_RGB
//   16bppRGB565           16-bit BI_BITFIELDS, the three masks after the header
//   24bppRGB              24-bit
//   32bppRGB / ARGB       32-bit BI_RGB; ARGB keeps its alpha bytes, RGB
//                         writes 0xFF there (readers that take the fourth
//                         byte as alpha see it opaque)
//   32bppPARGB            32-bit BI_RGB, unpremultiplied
//   16bppARGB1555, 64bpp  32-bit BI_RGB with alpha
//   16bppGrayScale, 48bpp 24-bit
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "raster/codecs/bmp/bmp_codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster {
namespace {

constexpr size_t kFileHeader = 14;

// Format the rows are written in.
PixelFormat file_format(PixelFormat f) {
  switch (f) {
    case pf::k1bppIndexed:
    case pf::k4bppIndexed:
    case pf::k8bppIndexed:
    case pf::k16bppRGB555:
    case pf::k16bppRGB565:
    case pf::k24bppRGB:
    case pf::k32bppRGB:
    case pf::k32bppARGB:
      return f;
    case pf::k16bppGrayScale:
    case pf::k48bppRGB:
      return pf::k24bppRGB;
    default:  // 32bppPARGB, 16bppARGB1555, 64bppARGB, 64bppPARGB
      return pf::k32bppARGB;
  }
}

// Pels per metre for a resolution in dpi, rounded; 0 when unknown.
uint32_t pels_per_metre(float dpi) {
  const double ppm = std::round(static_cast<double>(dpi) / 0.0254);
  if (!(ppm > 0)) return 0;
  return ppm >= std::numeric_limits<int32_t>::max()
             ? static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
             : static_cast<uint32_t>(ppm);
}

Status encode_bmp_unchecked(Image& img, ByteSink& out) {
  const Surface& src = img.surface();
  const int32_t w = src.width, h = src.height;
  if (w <= 0 || h <= 0 || src.scan0 == nullptr) return Status::InvalidParameter;
  const PixelFormat f = file_format(src.format);
  const int bits = bits_per_pixel(f);

  // Colour table: the palette, cut to what the depth can address. An empty
  // palette is written as black entries, since 0 colours would mean 2^bits.
  std::vector<uint32_t> table;
  if (is_indexed(f)) {
    const size_t most = size_t{1} << bits;
    table = src.palette.entries;
    if (table.size() > most) table.resize(most);
    if (table.empty()) table.assign(most, 0);
  }
  const size_t masks = f == pf::k16bppRGB565 ? 12 : 0;
  const uint64_t stride = (static_cast<uint64_t>(w) * bits + 31) / 32 * 4;
  const uint64_t image_size = stride * static_cast<uint64_t>(h);
  const uint64_t offset = kFileHeader + dib::kInfoHeader + masks + 4 * table.size();
  const uint64_t total = offset + image_size;
  // The file and image sizes are 32-bit fields.
  if (total > std::numeric_limits<uint32_t>::max()) return Status::ValueOverflow;

  out.expect(total);
  std::vector<uint8_t> header(static_cast<size_t>(offset), 0);
  uint8_t* p = header.data();
  p[0] = 'B';
  p[1] = 'M';
  dib::put32(p + 2, static_cast<uint32_t>(total));
  dib::put32(p + 10, static_cast<uint32_t>(offset));
  uint8_t* info = p + kFileHeader;
  dib::put32(info, dib::kInfoHeader);
  dib::put32(info + 4, static_cast<uint32_t>(w));
  dib::put32(info + 8, static_cast<uint32_t>(h));  // positive: bottom-up
  dib::put16(info + 12, 1);
  dib::put16(info + 14, static_cast<uint32_t>(bits));
  dib::put32(info + 16, masks != 0 ? dib::kBitfields : dib::kRgb);
  dib::put32(info + 20, static_cast<uint32_t>(image_size));
  dib::put32(info + 24, pels_per_metre(img.dpi_x()));
  dib::put32(info + 28, pels_per_metre(img.dpi_y()));
  dib::put32(info + 32, static_cast<uint32_t>(table.size()));
  uint8_t* q = info + dib::kInfoHeader;
  if (masks != 0) {
    dib::put32(q, 0xF800);
    dib::put32(q + 4, 0x07E0);
    dib::put32(q + 8, 0x001F);
    q += masks;
  }
  for (uint32_t argb : table) {
    dib::put32(q, argb & 0x00FFFFFF);  // B, G, R, reserved 0
    q += 4;
  }

  if (!out.write(header.data(), header.size())) return out.error();

  // Rows, last image row first, each padded with zeros to the stride.
  const size_t row_bytes = (static_cast<size_t>(w) * bits + 7) / 8;
  std::vector<uint32_t> scratch;
  if (f != src.format) scratch.resize(static_cast<size_t>(w));
  std::vector<uint8_t> line(static_cast<size_t>(stride), 0);
  uint8_t* d = line.data();
  for (int32_t y = h - 1; y >= 0; --y) {
    const uint8_t* s = src.row(y);
    if (f != src.format) {
      convert_pixels(src.format, s, 0, src.palette, f, d, 0, nullptr, w, scratch.data());
      if (!out.write(d, line.size())) return out.error();
      continue;
    }
    std::memcpy(d, s, row_bytes);
    if (is_indexed(f)) {
      // Bits past the last pixel are padding: write them as zero.
      const int64_t used = static_cast<int64_t>(w) * bits;
      if (used % 8 != 0) d[used / 8] &= static_cast<uint8_t>(0xFF << (8 - used % 8));
    } else if (f == pf::k32bppRGB) {
      for (int32_t x = 0; x < w; ++x) d[4 * x + 3] = 0xFF;
    }
    if (!out.write(d, line.size())) return out.error();
  }
  return Status::Ok;
}

}  // namespace

namespace bmp {

Status encode(Image& img, const EncoderParams& /*params*/, ByteSink& out) {
  return guarded([&] { return encode_bmp_unchecked(img, out); });
}

}  // namespace bmp
}  // namespace korvex::raster
