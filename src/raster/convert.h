// Row conversions between the stored pixel formats and 32bppARGB.
//
// Every stored format converts to and from non-premultiplied 32bppARGB
// (one uint32_t per pixel: A in bits 24-31, R 16-23, G 8-15, B 0-7; in memory
// B, G, R, A). These are the building blocks of lock-bits, clones and format
// changes; they are plain loops over a row, with no per-pixel virtual call or
// allocation.
//
// Storage rules (little-endian, as the imaging API lays pixels out):
//  1bppIndexed  8 pixels a byte, most significant bit first
//  4bppIndexed  2 pixels a byte, high nibble first
//  8bppIndexed  one palette index a byte
//  16bppGrayScale  16-bit gray; written as luma x 257 with
//     luma = (299 R + 587 G + 114 B + 500) / 1000, read as gray >> 8
//  16bppRGB555  x RRRRR GGGGG BBBBB;  16bppRGB565  RRRRR GGGGGG BBBBB
//  16bppARGB1555  A RRRRR GGGGG BBBBB (A = 1 when alpha >= 128)
//     5/6-bit fields read back by bit replication, written by truncation
//  24bppRGB  B, G, R;  32bppRGB  B, G, R, 0xFF;  32bppARGB  B, G, R, A
//  32bppPARGB  premultiplied B, G, R, A
//  48bppRGB, 64bppARGB, 64bppPARGB  16-bit channels B, G, R(, A), each the
//     8-bit value x 257; read back as round(v / 257)
// Formats without alpha read as opaque; writing into them drops the alpha.
// Indexed formats read the palette entry (an index past the palette reads as
// 0x00000000) and are written with the nearest palette entry by squared RGB
// distance, the first minimum winning.
#pragma once

#include <cstdint>

#include "raster/types.h"

namespace korvex::raster {

// Premultiplies a 32bppARGB value; each channel is round(c * a / 255).
uint32_t premultiply(uint32_t argb);
// Inverse of premultiply: round(c * 255 / a), clamped to 255; alpha 0 gives 0.
uint32_t unpremultiply(uint32_t pargb);

// Finds the nearest palette entry to a colour. Keeps a small cache of recent
// colours, so images with few distinct colours map fast.
class PaletteMatcher {
 public:
  explicit PaletteMatcher(const Palette& palette);
  uint8_t nearest(uint32_t argb);

 private:
  static constexpr int kCacheSize = 4096;
  const Palette& palette_;
  uint32_t keys_[kCacheSize];
  uint8_t values_[kCacheSize];
  bool valid_[kCacheSize];
};

// Reads n pixels, starting at pixel x0 of `row` stored in format f, as 32bppARGB.
void load_argb(PixelFormat f, const uint8_t* row, int32_t x0, int32_t n, const Palette& palette,
               uint32_t* out);

// Stores n 32bppARGB pixels at pixel x0 of `row` in format f. For indexed
// formats `matcher` must be built over the destination palette (it may be null
// for the other formats). Bits of sub-byte formats outside the n pixels are kept.
void store_argb(PixelFormat f, uint8_t* row, int32_t x0, int32_t n, PaletteMatcher* matcher,
                const uint32_t* in);

// Copies n pixels of the same format from pixel src_x0 of `src` to pixel
// dst_x0 of `dst`; for sub-byte formats the bits are shifted as needed and the
// destination bits outside the n pixels are kept.
void copy_pixels(PixelFormat f, const uint8_t* src, int32_t src_x0, uint8_t* dst, int32_t dst_x0,
                 int32_t n);

// Converts n pixels from one format to another. Uses direct loops for the
// common pairs (24bppRGB, 32bppRGB, 32bppARGB, 32bppPARGB among themselves)
// and goes through 32bppARGB otherwise; `scratch` must hold n uint32_t.
// Same-format conversions are plain copies.
void convert_pixels(PixelFormat src_f, const uint8_t* src, int32_t src_x0,
                    const Palette& src_palette, PixelFormat dst_f, uint8_t* dst, int32_t dst_x0,
                    PaletteMatcher* dst_matcher, int32_t n, uint32_t* scratch);

}  // namespace korvex::raster
