// Lines, curves and shapes, stroked and filled, and clipping polygons.
#include "raster/graphics/graphics_p.h"

#include <algorithm>
#include <cmath>

namespace korvex::raster {

namespace gfx {

bool reachable(const cairo_matrix_t& world, const PointF* pts, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    double x = pts[i].x, y = pts[i].y;
    cairo_matrix_transform_point(&world, &x, &y);
    if (!(std::fabs(x) <= kReach && std::fabs(y) <= kReach)) return false;
  }
  return true;
}
bool reachable(const cairo_matrix_t& world, const RectF& r) {
  const PointF c[4] = {
      {r.x, r.y}, {r.x + r.width, r.y}, {r.x, r.y + r.height}, {r.x + r.width, r.y + r.height}};
  return reachable(world, c, 4);
}

// A rectangle path with its edges limited to the reach (an edge beyond it
// would be off the picture and is drawn, if at all, where it cannot be seen).
void rectangle_path(cairo_t* cr, double x, double y, double w, double h) {
  double x0 = std::min(x, x + w), x1 = std::max(x, x + w);
  double y0 = std::min(y, y + h), y1 = std::max(y, y + h);
  x0 = std::clamp(x0, -kReach, kReach), x1 = std::clamp(x1, -kReach, kReach);
  y0 = std::clamp(y0, -kReach, kReach), y1 = std::clamp(y1, -kReach, kReach);
  cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
}

Status finish(cairo_t* cr, bool stroke, bool& dirty) {
  if (stroke)
    cairo_stroke(cr);
  else
    cairo_fill(cr);
  dirty = true;
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? Status::Ok : Status::OutOfMemory;
}

}  // namespace gfx

using namespace gfx;

void Graphics::Impl::apply_clips() {
  cairo_t* c = cr.get();
  cairo_identity_matrix(c);
  cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(c, CAIRO_FILL_RULE_EVEN_ODD);
  for (const auto& poly : clips) {
    cairo_new_path(c);
    for (const PointF& p : poly) cairo_line_to(c, p.x, p.y);
    cairo_close_path(c);
    cairo_clip(c);
  }
  cairo_set_fill_rule(c, CAIRO_FILL_RULE_WINDING);
}

Status Graphics::clip_polygon(const std::vector<PointF>& pts) {
  std::vector<PointF> dev;
  dev.reserve(pts.size());
  for (PointF p : pts) {
    if (!finite(p)) return Status::InvalidParameter;
    cairo_matrix_transform_point(&impl_->world, &p.x, &p.y);
    dev.push_back(p);
  }
  // Fewer than three points enclose nothing: later drawing is clipped away.
  if (dev.size() < 3) dev.assign(3, PointF{-1, -1});
  impl_->clips.push_back(std::move(dev));
  // Drawing recorded so far is rendered under the clip it was made with;
  // the fresh recording starts with every clip applied.
  return impl_->dirty ? flush() : impl_->begin();
}

namespace {

// Device space of strokes: integer coordinates at pixel centres.
void stroke_space(cairo_t* cr, const cairo_matrix_t& world) {
  cairo_matrix_t t, m;
  cairo_matrix_init_translate(&t, 0.5, 0.5);
  cairo_matrix_multiply(&m, &world, &t);
  cairo_set_matrix(cr, &m);
}

// Cuts the segment a-b to the square of the reach (Liang-Barsky); false when
// nothing of it is inside.
bool clip_segment(PointF& a, PointF& b) {
  double t0 = 0, t1 = 1;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x + kReach, kReach - a.x, a.y + kReach, kReach - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
    } else {
      const double t = q[i] / p[i];
      if (p[i] < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  const PointF s = a;
  a = {s.x + t0 * dx, s.y + t0 * dy};
  b = {s.x + t1 * dx, s.y + t1 * dy};
  return true;
}

// The ellipse inscribed in a rectangle, as a closed path.
void ellipse_path(cairo_t* cr, const RectF& r) {
  cairo_save(cr);
  cairo_translate(cr, r.x + r.width / 2, r.y + r.height / 2);
  cairo_scale(cr, r.width / 2, r.height / 2);
  cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
  cairo_close_path(cr);
  cairo_restore(cr);
}

// Arrow-anchor cap: a filled triangle whose tip is the end point, as wide
// and as long as twice the pen width (at least 4 pixels).
void arrow_head(cairo_t* cr, PointF from, PointF tip, double width, PointF& base) {
  const double len = std::hypot(tip.x - from.x, tip.y - from.y);
  base = from;
  if (len == 0) return;
  const double ux = (tip.x - from.x) / len, uy = (tip.y - from.y) / len;
  const double s = 2 * std::max(width, 2.0);
  base = {tip.x - ux * s, tip.y - uy * s};
  cairo_move_to(cr, tip.x, tip.y);
  cairo_line_to(cr, base.x - uy * s / 2, base.y + ux * s / 2);
  cairo_line_to(cr, base.x + uy * s / 2, base.y - ux * s / 2);
  cairo_close_path(cr);
  cairo_fill(cr);
}

}  // namespace

// Shared set-up of a stroke: stroke space, pen source, width, caps.
#define KORVEX_STROKE_BEGIN(pen)                                                          \
  if (!finite((pen).width) || (pen).width < 0) return Status::InvalidParameter;           \
  cairo_t* cr = impl_->cr.get();                                                          \
  cairo_new_path(cr);                                                                     \
  stroke_space(cr, impl_->world);                                                         \
  if (Status bst = set_brush(cr, (pen).brush, impl_->world, impl_->width, impl_->height); \
      bst != Status::Ok)                                                                  \
    return bst;                                                                           \
  cairo_set_antialias(cr, antialias_for(smoothing_));                                     \
  cairo_set_line_width(cr, std::max(1.0, (pen).width));                                   \
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);                                            \
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);                                         \
  cairo_set_miter_limit(cr, 10.0)

Status Graphics::draw_line(const Pen& pen, PointF a, PointF b) {
  if (!finite(a) || !finite(b)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  // Lengthened by half a pixel at each end so the line covers its end pixels.
  const double len = std::hypot(b.x - a.x, b.y - a.y);
  PointF s = a, e = b;
  if (len > 0) {
    const double ux = (b.x - a.x) / len * 0.5, uy = (b.y - a.y) / len * 0.5;
    s = {a.x - ux, a.y - uy};
    e = {b.x + ux, b.y + uy};
  } else {
    s = {a.x - 0.5, a.y};
    e = {a.x + 0.5, a.y};
  }
  if (pen.arrow_end) {
    PointF base;
    arrow_head(cr, a, b, pen.width, base);
    if (len > 0) e = base;
  }
  if (!clip_segment(s, e)) return Status::Ok;
  cairo_move_to(cr, s.x, s.y);
  cairo_line_to(cr, e.x, e.y);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_lines(const Pen& pen, const std::vector<PointF>& pts) {
  if (!pts.empty() && !reachable(impl_->world, pts.data(), pts.size()))
    return Status::ValueOverflow;
  if (pts.size() < 2) return Status::InvalidParameter;
  for (PointF p : pts)
    if (!finite(p)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  for (PointF p : pts) cairo_line_to(cr, p.x, p.y);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_arc(const Pen& pen, const RectF& box, double start, double sweep) {
  if (finite(box) && !reachable(impl_->world, box)) return Status::ValueOverflow;
  if (!finite(box) || !finite(start) || !finite(sweep)) return Status::InvalidParameter;
  if (box.width <= 0 || box.height <= 0) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  const double a = box.width / 2, b = box.height / 2;
  // Angles are geometric angles on the ellipse; cairo's arc of a scaled
  // circle takes parametric ones.
  auto param = [&](double deg) {
    const double th = deg * kPi / 180.0;
    const double p = std::atan2(a * std::sin(th), b * std::cos(th));
    return p + 2 * kPi * std::round((th - p) / (2 * kPi));
  };
  const double clamped = std::clamp(sweep, -360.0, 360.0);
  const double p0 = param(start), p1 = param(start + clamped);
  cairo_save(cr);
  cairo_translate(cr, box.x + a, box.y + b);
  cairo_scale(cr, a, b);
  if (clamped >= 0)
    cairo_arc(cr, 0, 0, 1, p0, p1);
  else
    cairo_arc_negative(cr, 0, 0, 1, p0, p1);
  cairo_restore(cr);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_bezier(const Pen& pen, PointF p1, PointF p2, PointF p3, PointF p4) {
  const PointF bez[4] = {p1, p2, p3, p4};
  if (finite(p1) && finite(p2) && finite(p3) && finite(p4) && !reachable(impl_->world, bez, 4))
    return Status::ValueOverflow;
  if (!finite(p1) || !finite(p2) || !finite(p3) || !finite(p4)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  cairo_move_to(cr, p1.x, p1.y);
  cairo_curve_to(cr, p2.x, p2.y, p3.x, p3.y, p4.x, p4.y);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_curve(const Pen& pen, const std::vector<PointF>& pts, double tension) {
  if (!pts.empty() && !reachable(impl_->world, pts.data(), pts.size()))
    return Status::ValueOverflow;
  if (pts.size() < 2 || !finite(tension)) return Status::InvalidParameter;
  for (PointF p : pts)
    if (!finite(p)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  // Cardinal spline as Bézier segments: the tangent at point i is
  // tension * (P[i+1] - P[i-1]), the end points using themselves as the
  // missing neighbour; control points lie a third of the tangent away.
  const size_t n = pts.size();
  const double k = tension / 3.0;
  cairo_move_to(cr, pts[0].x, pts[0].y);
  for (size_t i = 0; i + 1 < n; ++i) {
    const PointF& prev = pts[i == 0 ? 0 : i - 1];
    const PointF& p = pts[i];
    const PointF& q = pts[i + 1];
    const PointF& next = pts[std::min(n - 1, i + 2)];
    cairo_curve_to(cr, p.x + k * (q.x - prev.x), p.y + k * (q.y - prev.y), q.x - k * (next.x - p.x),
                   q.y - k * (next.y - p.y), q.x, q.y);
  }
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_rectangle(const Pen& pen, const RectF& r) {
  if (!finite(r)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  rectangle_path(cr, r.x, r.y, r.width, r.height);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_ellipse(const Pen& pen, const RectF& r) {
  if (finite(r) && !reachable(impl_->world, r)) return Status::ValueOverflow;
  if (!finite(r)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  if (r.width == 0 || r.height == 0)
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
  else
    ellipse_path(cr, r);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::fill_rectangle(const Brush& brush, const RectF& r) {
  if (!finite(r)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  rectangle_path(cr, r.x, r.y, r.width, r.height);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::fill_ellipse(const Brush& brush, const RectF& r) {
  if (finite(r) && !reachable(impl_->world, r)) return Status::ValueOverflow;
  if (!finite(r)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  if (r.width == 0 || r.height == 0) return Status::Ok;
  ellipse_path(cr, r);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::fill_polygon(const Brush& brush, const std::vector<PointF>& pts) {
  if (!pts.empty() && !reachable(impl_->world, pts.data(), pts.size()))
    return Status::ValueOverflow;
  if (pts.size() < 3) return Status::InvalidParameter;
  for (PointF p : pts)
    if (!finite(p)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  for (PointF p : pts) cairo_line_to(cr, p.x, p.y);
  cairo_close_path(cr);
  return finish(cr, false, impl_->dirty);
}

}  // namespace korvex::raster
