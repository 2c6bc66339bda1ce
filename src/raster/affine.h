// Drawing an image through an affine transform: rotations by any angle,
// skews, scales and translations of one image onto another.
#pragma once

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster {

// Maps source pixel coordinates (x, y) to destination coordinates
// (a*x + c*y + e, b*x + d*y + f): the matrix m = {a, b, c, d, e, f}.
// Draws the active frame of `src` into `dst` through that map, compositing
// source-over onto what dst holds (non-premultiplied result in dst's format).
// Sampling is bilinear through the inverse map (pixel centres at i + 0.5);
// the source rectangle's outline is antialiased: a destination pixel only
// partly covered by the transformed source gets that coverage as extra alpha.
// InvalidParameter for a singular matrix.
//
// Samples that fall within half a pixel outside the source take the nearest
// edge pixel, so the outline's softness comes from the coverage alone.
// Coverage is the exact area of the pixel square inside the transformed
// rectangle, rounded to 1/255. Indexed destinations receive the nearest entry
// of their own palette. A locked source or destination gives WrongState.
Status draw_transformed(Image& src, const double m[6], Image& dst);

}  // namespace korvex::raster
