// Bars of a module string as filled rectangles.
//
// The layout walks the module string left to right from x with the current
// bar height h: "0" advances x by one module width, "-" and "+" lower and
// raise h by the guard extension, and each run of consecutive "1" becomes one
// rectangle at (round(x), y), k modules wide and h high (rounding half to
// even). Coordinates are those of the caller (no origin is assumed).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "raster/graphics.h"
#include "raster/types.h"

namespace korvex::barcode {

struct BarRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

std::vector<BarRect> LayOutBars(std::string_view modules, double x, double y, double module,
                                double height, double guard);

// Fills the bars in one colour (ARGB), anti-aliased; the status of the last
// rectangle, or the first failure.
raster::Status PaintBars(raster::Graphics& g, const std::vector<BarRect>& bars, uint32_t argb);

// The same straight onto the image's own pixels, for bars on whole pixels
// (as LayOutBars gives them with whole module widths and heights): each bar
// is composited over its pixels, clipped to the image, without a drawing
// surface. Gives the same pixels as PaintBars for an opaque colour.
raster::Status FillBars(raster::Image& img, const std::vector<BarRect>& bars, uint32_t argb);

}  // namespace korvex::barcode
