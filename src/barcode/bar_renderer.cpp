// The bar renderer shared by the three symbologies.
#include "barcode/bar_renderer.h"

#include <cstddef>

#include "raster/rounding.h"

namespace korvex::barcode {

std::vector<BarRect> LayOutBars(std::string_view modules, double x, double y, double module,
                                double height, double guard) {
  std::vector<BarRect> bars;
  double h = height;
  size_t i = 0;
  while (i < modules.size()) {
    const char c = modules[i];
    if (c == '1') {
      size_t run = 1;
      while (i + run < modules.size() && modules[i + run] == '1') ++run;
      const double w = static_cast<double>(run) * module;
      if (h > 0) bars.push_back({raster::round_half_even(x), y, w, h});
      x += w;
      i += run;
      continue;
    }
    if (c == '0') x += module;
    if (c == '-') h -= guard;
    if (c == '+') h += guard;
    ++i;
  }
  return bars;
}

raster::Status PaintBars(raster::Graphics& g, const std::vector<BarRect>& bars, uint32_t argb) {
  g.set_smoothing(raster::Smoothing::AntiAlias);
  const raster::Brush ink = raster::Brush::solid(argb);
  raster::Status st = raster::Status::Ok;
  for (const BarRect& b : bars) {
    st = g.fill_rectangle(ink, {b.x, b.y, b.width, b.height});
    if (st != raster::Status::Ok) return st;
  }
  return st;
}

}  // namespace korvex::barcode
