// Resizing of a rectangle of one image onto the whole of another, with the
// eight interpolation modes.
//
// Filters (pixel centres at i + 0.5 in both images; taps outside the source
// rectangle take the nearest border pixel of the rectangle):
//  NearestNeighbor               the source pixel whose centre is nearest
//  Default, LowQuality, Bilinear triangle filter, 2 x 2 taps at any scale
//  Bicubic                       cubic convolution (a = -0.5), 4 x 4 taps
//  HighQualityBilinear           triangle widened by the scale factor when
//                                shrinking (area-correct, no aliasing)
//  HighQuality, HighQualityBicubic  cubic (a = -0.5) widened likewise
// When enlarging, the high-quality modes equal their plain counterparts.
// Colours are filtered premultiplied by alpha and unpremultiplied into the
// destination's format; indexed destinations take the nearest palette entry.
// A same-size resample copies the pixels exactly. Results are identical
// whatever the processor features or the number of threads used.
#pragma once

#include <cstdint>

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster {

enum class Interpolation : int32_t {
  Default = 0,
  LowQuality = 1,
  HighQuality = 2,
  Bilinear = 3,
  Bicubic = 4,
  NearestNeighbor = 5,
  HighQualityBilinear = 6,
  HighQualityBicubic = 7
};

// Resamples the rectangle `from` of the active frame of `src` onto the whole of `dst`
// (any sizes, any stored formats on both sides). InvalidParameter for an empty or outside rectangle.
// WrongState when either image is locked. `src` and `dst` may be the same image.
Status resample(Image& src, const Rect& from, Image& dst, Interpolation mode);

}  // namespace korvex::raster
