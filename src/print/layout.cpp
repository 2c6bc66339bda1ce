// Size and position of a printed image.
#include "print/layout.h"

#include "raster/rounding.h"

namespace korvex::print {

namespace {

constexpr double kInch = 25.4;

double effective_dpi(double dpi) {
  return dpi < 1 ? 72.0 : dpi;
}

// Horizontal and vertical rules of one alignment value.
enum class Axis { Keep, Centre, Far };
struct Rule {
  Axis horizontal;
  Axis vertical;
};

Rule rule_of(int32_t alignment) {
  switch (alignment) {
    case 0:  // middle left
      return {Axis::Keep, Axis::Centre};
    case 1:  // middle right
      return {Axis::Far, Axis::Centre};
    case 2:  // middle centre
      return {Axis::Centre, Axis::Centre};
    case 5:  // top right
      return {Axis::Far, Axis::Keep};
    case 7:  // bottom left
      return {Axis::Keep, Axis::Far};
    case 8:  // bottom right
      return {Axis::Far, Axis::Far};
    case 9:  // bottom centre
      return {Axis::Centre, Axis::Far};
    default:  // 3, 4 top left; 6 top centre places at the top-left as well
      return {Axis::Keep, Axis::Keep};
  }
}

double place(Axis a, double start, double area, double size) {
  if (size > area) return start;  // larger than the area: the position stays
  switch (a) {
    case Axis::Centre:
      return (area - size) / 2;
    case Axis::Far:
      return area - size;
    case Axis::Keep:
      break;
  }
  return start;
}

}  // namespace

RectMM layout_image(const LayoutRequest& r) {
  RectMM out;
  double w = r.requested.width;
  double h = r.requested.height;
  if (r.placement != Placement::BySize || w == 0 || h == 0) {
    w = r.pixel_width / effective_dpi(r.dpi_x) * kInch;
    h = r.pixel_height / effective_dpi(r.dpi_y) * kInch;
  }
  const double aw = r.area_width;
  const double ah = r.area_height;
  if (r.placement == Placement::Fit && w > 0 && h > 0) {
    const double scale = (w / h >= aw / ah) ? aw / w : ah / h;
    w *= scale;
    h *= scale;
  } else if (r.placement == Placement::Natural && (w > aw || h > ah) && w > 0 && h > 0) {
    // Reduce along the axis that overflows most (the width on a tie).
    const bool by_width = h <= ah || (w > aw && w - aw >= h - ah);
    if (by_width) {
      h = h * aw / w;
      w = aw;
    } else {
      w = w * ah / h;
      h = ah;
    }
  }
  double x = 0;
  double y = 0;
  if (r.placement == Placement::BySize) {
    x = r.requested.x;
    y = r.requested.y;
  }
  const Rule rule = rule_of(r.alignment);
  out.x = place(rule.horizontal, x, aw, w);
  out.y = place(rule.vertical, y, ah, h);
  out.width = w;
  out.height = h;
  return out;
}

RectMM round_to_mm(const RectMM& r) {
  return {raster::round_half_even(r.x), raster::round_half_even(r.y),
          raster::round_half_even(r.width), raster::round_half_even(r.height)};
}

}  // namespace korvex::print
