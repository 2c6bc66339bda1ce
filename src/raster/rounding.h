// Rounding to the nearest integer with halves to even, the rule of every
// resolution, placement and argument conversion in the library.
#pragma once

#include <cmath>
#include <cstdint>

namespace korvex::raster {

// Nearest whole number; a value exactly between two goes to the even one
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
inline double round_half_even(double v) {
  const double f = std::floor(v);
  const double d = v - f;
  if (d > 0.5 || (d == 0.5 && std::fmod(f, 2.0) != 0.0)) return f + 1.0;
  return f;
}

// The same, saturated to the 32-bit signed range.
inline int32_t RoundHalfEven(double v) {
  const double r = round_half_even(v);
  if (r >= 2147483647.0) return 2147483647;
  if (r <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(r);
}

}  // namespace korvex::raster

namespace korvex {

// Every layer above the raster one rounds with this same rule, so it is
// spelled there without the layer's prefix.
using raster::RoundHalfEven;

}  // namespace korvex
