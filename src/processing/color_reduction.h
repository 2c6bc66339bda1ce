// Colour reduction kernels: each builds a new indexed bitmap of the same size
// from any image (octree palette, grays, the 216-colour cube, nearest colour
// of a 16-entry palette, or 1-bit by a white rule). The source is read row by
// row as B, G, R(, A) bytes straight from its pixels when it is stored as
// 24bppRGB, 32bppRGB or 32bppARGB, and through a one-row conversion otherwise;
// the result's indices are written straight into the new bitmap's rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/image.h"

namespace korvex::reduce {

// Fixed palettes: 256 grays ARGB(255, i, i, i); the 216-colour cube
// 36 r + 6 g + b over levels 0, 51, ..., 255 (halftone flag); the sixteen
// colours of the 4-bit converter (halftone flag).
raster::Palette GrayPalette();
raster::Palette CubePalette();
raster::Palette Fixed16Palette();

// Octree quantisation to at most `colors` colours (held to 8..256). Pixels
// enter the tree from the bottom row up and from right to left in a row; the
// palette has the has-alpha flag and one entry per surviving leaf.
raster::Status Quantize8(const raster::Image& src, int32_t colors,
                         std::unique_ptr<raster::Image>& out);

enum class GrayRule {
  Mean,      // round((R + G + B) / 3)
  Weighted,  // round(round(0.3 R) + 0.59 G + 0.11 B)
};
// 8bppIndexed gray with GrayPalette (rounding halves to even).
raster::Status Gray8(const raster::Image& src, GrayRule rule, std::unique_ptr<raster::Image>& out);

// 8bppIndexed on the 216-colour cube: index (Q[R] 6 + Q[G]) 6 + Q[B], Q[v] = round(v / 51).
raster::Status Cube8(const raster::Image& src, std::unique_ptr<raster::Image>& out);

// 4bppIndexed with `palette` (1..16 entries): each pixel takes the entry of
// smallest squared RGB distance, the first of equals winning.
raster::Status Nearest4(const raster::Image& src, const raster::Palette& palette,
                        std::unique_ptr<raster::Image>& out);

enum class WhiteRule {
  Threshold,   // white when R, G and B are all at least 126
  OpaqueWhite  // white only for A = R = G = B = 255
};
// 1bppIndexed with the default black, white palette.
raster::Status Bits1(const raster::Image& src, WhiteRule rule, std::unique_ptr<raster::Image>& out);

inline constexpr uint8_t kWhiteThreshold = 126;

}  // namespace korvex::reduce
