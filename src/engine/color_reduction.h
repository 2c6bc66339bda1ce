// Colour reduction shared with the geometry family.
#pragma once

#include <cstdint>

#include "engine/state.h"

namespace korvex {

// Resize of a 1-, 4- or 8-bit native image for raster versions that cannot
// draw onto indexed bitmaps: the picture is drawn onto a 32bppARGB canvas of
// the new size, then brought back to its depth with the colour-reduction
// rules (exact white for 1 bit, its own palette by nearest colour for 4 bits,
// the mean gray for 8 bits). The native image is replaced only on success;
// the caller has saved the image's information.
cKorvexStatus ResizeIndexedThroughArgb(cKorvex& k, cKorvex::State& s, int32_t width, int32_t height,
                                       int32_t mode);

}  // namespace korvex
