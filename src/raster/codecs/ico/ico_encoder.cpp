#include "raster/codecs/ico/ico.h"

#include <new>

#include "raster/codecs/bmp/dib.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster {
namespace {

constexpr int32_t kSide = 32;
constexpr size_t kDirectoryBytes = 6 + 16;
constexpr size_t kColourBytes = kSide * kSide * 4;
constexpr size_t kMaskStride = 4;  // 32 bits, already a multiple of four bytes
constexpr size_t kEntryBytes = dib::kInfoHeader + kColourBytes + kMaskStride * kSide;

Status encode_ico_unchecked(Image& img, ByteSink& out) {
  const Surface& src = img.surface();
  if (src.width != kSide || src.height != kSide || src.scan0 == nullptr) {
    return Status::InvalidParameter;
  }
  std::vector<uint8_t> file(kDirectoryBytes + kEntryBytes, 0);
  uint8_t* p = file.data();
  // Directory: one icon entry.
  dib::put16(p + 2, 1);  // type: icon
  dib::put16(p + 4, 1);  // one entry
  p[6] = kSide;
  p[7] = kSide;
  dib::put16(p + 10, 1);   // planes
  dib::put16(p + 12, 32);  // bits per pixel
  dib::put32(p + 14, static_cast<uint32_t>(kEntryBytes));
  dib::put32(p + 18, static_cast<uint32_t>(kDirectoryBytes));
  // DIB header: the height counts the colour rows and the mask rows.
  uint8_t* info = p + kDirectoryBytes;
  dib::put32(info, dib::kInfoHeader);
  dib::put32(info + 4, kSide);
  dib::put32(info + 8, 2 * kSide);
  dib::put16(info + 12, 1);
  dib::put16(info + 14, 32);
  dib::put32(info + 20, static_cast<uint32_t>(kColourBytes + kMaskStride * kSide));

  // Bottom-up BGRA rows (non-premultiplied), then the mask rows in the same order.
  uint8_t* colour = info + dib::kInfoHeader;
  uint8_t* mask = colour + kColourBytes;
  uint32_t scratch[kSide];
  for (int32_t y = kSide - 1; y >= 0; --y, colour += kSide * 4, mask += kMaskStride) {
    convert_pixels(src.format, src.row(y), 0, src.palette, pf::k32bppARGB, colour, 0, nullptr,
                   kSide, scratch);
    for (int32_t x = 0; x < kSide; ++x) {
      if (colour[4 * x + 3] < 128) mask[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return out.write(file.data(), file.size()) ? Status::Ok : out.error();
}

}  // namespace

Status encode_ico(Image& img, ByteSink& out) {
  return guarded([&] { return encode_ico_unchecked(img, out); });
}

}  // namespace korvex::raster
