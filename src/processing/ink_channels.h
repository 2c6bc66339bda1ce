// One CMYK ink of an image as a picture of its own: each pixel's gray level
// is 255 minus the amount of that ink the pixel needs, so full ink prints
// black and no ink leaves white (a pure cyan pixel is black in the cyan
// picture and white in the three others).
#pragma once

#include <cstdint>
#include <memory>

#include "raster/image.h"

namespace korvex::colors {

enum class InkChannel : int32_t { C = 0, M = 1, Y = 2, K = 3 };

// The ink picture of the active frame of `src`: same size, pixel format and
// resolution. Inks follow the RGB-to-CMYK conversion of cCMYK; alpha is
// carried over unchanged (formats without alpha drop it). Indexed images keep
// their pixel indices and get each palette entry replaced by its ink gray, so
// the result is exact in any palette. `out` is set only on success.
raster::Status InkChannelImage(raster::Image& src, InkChannel ch,
                               std::unique_ptr<raster::Image>& out);

// The gray level of one ARGB colour in an ink picture, alpha kept.
uint32_t InkGray(uint32_t argb, InkChannel ch);

}  // namespace korvex::colors
