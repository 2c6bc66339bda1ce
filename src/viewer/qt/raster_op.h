// The 16 binary raster operations of the selection border, applied to
// 24-bit colours: R2 code n combines pen P and destination D bit by bit
// through the truth table n - 1 (bit (P << 1 | D) of the table is the
// result), so 7 is P xor D, 13 copies the pen and 6 inverts the screen.
#pragma once

#include <cstdint>

namespace korvex::qt {

inline uint32_t ApplyRasterOp(int32_t r2, uint32_t pen, uint32_t dst) {
  const uint32_t table = static_cast<uint32_t>(r2 - 1) & 0xF;
  uint32_t out = 0;
  if (table & 1) out |= ~pen & ~dst;
  if (table & 2) out |= ~pen & dst;
  if (table & 4) out |= pen & ~dst;
  if (table & 8) out |= pen & dst;
  return out & 0xFFFFFF;
}

// Whether pixel `i` along a one-pixel border of the given style is drawn
// (1 solid, 2 dash, 3 dot, 4 dash-dot, 5 dash-dot-dot); wider borders are solid.
inline bool BorderPixelOn(int32_t style, int32_t width, int32_t i) {
  if (width > 1) return true;
  switch (style) {
    case 2:
      return i % 24 < 18;
    case 3:
      return i % 6 < 3;
    case 4: {
      const int32_t k = i % 24;
      return k < 9 || (k >= 15 && k < 18);
    }
    case 5: {
      const int32_t k = i % 24;
      return k < 9 || (k >= 12 && k < 15) || (k >= 18 && k < 21);
    }
    default:
      return true;
  }
}

}  // namespace korvex::qt
