// The bar renderer shared by the three symbologies.
#include "barcode/bar_renderer.h"

#include <algorithm>
#include <cmath>
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

raster::Status FillBars(raster::Image& img, const std::vector<BarRect>& bars, uint32_t argb) {
  const double w = img.width(), h = img.height();
  for (const BarRect& b : bars) {
    // Clipped in floating point first: bars may lie anywhere.
    const double x0 = std::max(0.0, std::floor(b.x)), y0 = std::max(0.0, std::floor(b.y));
    const double x1 = std::min(w, std::ceil(b.x + b.width));
    const double y1 = std::min(h, std::ceil(b.y + b.height));
    if (x1 <= x0 || y1 <= y0) continue;
    const raster::Rect r{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                         static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)};
    const raster::Status st = img.fill_rect(r, argb);
    if (st != raster::Status::Ok) return st;
  }
  return raster::Status::Ok;
}

}  // namespace korvex::barcode
