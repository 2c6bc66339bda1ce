// Where an image goes on the printable area: its size from its pixels and
// resolution, reduced or fitted to the area, then placed by an alignment.
// Everything is in millimetres from the top-left of the printable area.
#pragma once

#include <cstdint>

namespace korvex::print {

enum class Placement {
  Natural,  // own size, reduced (keeping its ratio) when larger than the area
  Fit,      // scaled up or down to fit the area, keeping its ratio
  BySize,   // at the requested position and size
};

struct RectMM {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct LayoutRequest {
  Placement placement = Placement::Natural;
  RectMM requested;         // BySize: position and size; a size of 0 measures the image
  int32_t pixel_width = 0;  // image size in pixels
  int32_t pixel_height = 0;
  double dpi_x = 0;  // resolutions; below 1 counts as 72 dpi
  double dpi_y = 0;
  int32_t alignment = 0;  // ImagePosition value 0..9
  double area_width = 0;  // printable area
  double area_height = 0;
};

// The image rectangle before rounding.
RectMM layout_image(const LayoutRequest& r);

// The drawn rectangle: each of x, y, width and height rounded to whole
// millimetres (halves to even).
RectMM round_to_mm(const RectMM& r);

}  // namespace korvex::print
