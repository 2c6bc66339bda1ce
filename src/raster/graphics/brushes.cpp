// Brushes: solid colours, linear gradients, elliptical path gradients and
// image textures, and how each becomes a cairo source.
#include "raster/graphics/graphics_p.h"

#include <algorithm>
#include <cmath>

#include "raster/convert.h"

namespace korvex::raster {

using namespace gfx;

namespace {

void set_rgba(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                        (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
}

void add_stop(cairo_pattern_t* p, double offset, uint32_t argb) {
  cairo_pattern_add_color_stop_rgba(p, offset, ((argb >> 16) & 0xFF) / 255.0,
                                    ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                                    (argb >> 24) / 255.0);
}

// Path-gradient colours at device pixel centres over the ellipse's device
// bounding box, as an image source placed in device space.
Status path_gradient_source(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, int32_t tw,
                            int32_t th) {
  const double a = b.ellipse.width / 2, bb = b.ellipse.height / 2;
  const double ecx = b.ellipse.x + a, ecy = b.ellipse.y + bb;
  // Device bounding box of the ellipse (through its transformed box corners).
  double xs[4] = {b.ellipse.x, b.ellipse.x + b.ellipse.width, b.ellipse.x,
                  b.ellipse.x + b.ellipse.width};
  double ys[4] = {b.ellipse.y, b.ellipse.y, b.ellipse.y + b.ellipse.height,
                  b.ellipse.y + b.ellipse.height};
  double lx = 1e300, ly = 1e300, hx = -1e300, hy = -1e300;
  for (int i = 0; i < 4; ++i) {
    cairo_matrix_transform_point(&world, &xs[i], &ys[i]);
    lx = std::min(lx, xs[i]), hx = std::max(hx, xs[i]);
    ly = std::min(ly, ys[i]), hy = std::max(hy, ys[i]);
  }
  const int32_t x0 = static_cast<int32_t>(std::max(0.0, std::floor(lx)));
  const int32_t y0 = static_cast<int32_t>(std::max(0.0, std::floor(ly)));
  const int32_t x1 = static_cast<int32_t>(std::min<double>(tw, std::ceil(hx)));
  const int32_t y1 = static_cast<int32_t>(std::min<double>(th, std::ceil(hy)));
  if (x1 <= x0 || y1 <= y0 || a <= 0 || bb <= 0) {
    set_rgba(cr, 0);
    return Status::Ok;
  }
  std::shared_ptr<Image> img;
  std::unique_ptr<Image> made;
  Status st = Image::create(x1 - x0, y1 - y0, pf::k32bppPARGB, made);
  if (st != Status::Ok) return st;
  img = std::move(made);
  cairo_matrix_t inv = world;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return Status::InvalidParameter;
  // Multiplier k with C + k * (vx, vy) on the outline (in units of the
  // radii), the larger root; -1 when the ray misses it.
  const double ux = (b.centre.x - ecx) / a, uy = (b.centre.y - ecy) / bb;
  auto reach = [&](double vx, double vy) {
    const double qa = vx * vx + vy * vy, qb = 2 * (ux * vx + uy * vy), qc = ux * ux + uy * uy - 1;
    if (qa <= 0) return -1.0;
    const double disc = qb * qb - 4 * qa * qc;
    return disc < 0 ? -1.0 : (-qb + std::sqrt(disc)) / (2 * qa);
  };
  const double fx = std::max(0.0, b.focus_x), fy = std::max(0.0, b.focus_y);
  auto chan = [](uint32_t c, int sh) { return static_cast<double>((c >> sh) & 0xFF); };
  Surface& s = img->surface();
  for (int32_t y = y0; y < y1; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(s.row(y - y0));
    for (int32_t x = x0; x < x1; ++x) {
      double px = x + 0.5, py = y + 0.5;
      cairo_matrix_transform_point(&inv, &px, &py);
      // Along the ray from the centre point C through P (P = C + d): the
      // outline at C + k d, the focus outline (the outline scaled by the
      // focus scales about C) at C + kf d. Centre colour up to the focus
      // outline, then a linear blend to the surround colour at the outline.
      const double dx = (px - b.centre.x) / a, dy = (py - b.centre.y) / bb;
      double u = 0;
      if (dx != 0 || dy != 0) {
        const double k = reach(dx, dy);
        const double kf = fx > 0 && fy > 0 ? reach(dx / fx, dy / fy) : 0.0;
        if (k <= 0)
          u = 1;
        else if (kf < 1)
          u = k > kf ? (1 - std::max(0.0, kf)) / (k - std::max(0.0, kf)) : 1;
      }
      u = std::clamp(u, 0.0, 1.0);
      uint32_t argb = 0;
      for (int c = 0; c < 4; ++c) {
        const double v = chan(b.centre_color, 8 * c) * (1 - u) + chan(b.end_color, 8 * c) * u;
        argb |= static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))) << (8 * c);
      }
      row[x - x0] = premultiply(argb);
    }
  }
  CairoPtr<cairo_surface_t> cs = surface_over(img);
  if (!cs) return Status::OutOfMemory;
  cairo_matrix_t saved;
  cairo_get_matrix(cr, &saved);
  cairo_identity_matrix(cr);
  cairo_set_source_surface(cr, cs.get(), x0, y0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_set_matrix(cr, &saved);
  return Status::Ok;
}

}  // namespace

Brush Brush::solid(uint32_t argb) {
  Brush b;
  b.color = argb;
  return b;
}

Brush Brush::linear(PointF from, PointF to, uint32_t start, uint32_t end) {
  Brush b;
  b.kind = Kind::LinearGradient;
  b.p1 = from;
  b.p2 = to;
  b.color = start;
  b.end_color = end;
  return b;
}

Brush Brush::path_ellipse(const RectF& ellipse, PointF centre, uint32_t centre_argb, double focus_x,
                          double focus_y, uint32_t surround_argb) {
  Brush b;
  b.kind = Kind::PathGradient;
  b.ellipse = ellipse;
  b.centre = centre;
  b.centre_color = centre_argb;
  b.focus_x = focus_x;
  b.focus_y = focus_y;
  b.end_color = surround_argb;
  return b;
}

Status Brush::texture_of(Image& img, Brush& out) {
  std::shared_ptr<Image> snap;
  const Status st = snapshot(img, {0, 0, img.width(), img.height()}, snap);
  if (st != Status::Ok) return st;
  out = Brush{};
  out.kind = Kind::Texture;
  out.texture = std::move(snap);
  return Status::Ok;
}

namespace gfx {

Status set_brush(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, int32_t tw, int32_t th) {
  switch (b.kind) {
    case Brush::Kind::Solid:
      set_rgba(cr, b.color);
      return Status::Ok;
    case Brush::Kind::LinearGradient: {
      if (!finite(b.p1) || !finite(b.p2)) return Status::InvalidParameter;
      if (b.p1.x == b.p2.x && b.p1.y == b.p2.y) return Status::OutOfMemory;  // no direction
      CairoPtr<cairo_pattern_t> p(cairo_pattern_create_linear(b.p1.x, b.p1.y, b.p2.x, b.p2.y));
      add_stop(p.get(), 0, b.color);
      add_stop(p.get(), 1, b.end_color);
      cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_REPEAT);
      cairo_set_source(cr, p.get());
      return Status::Ok;
    }
    case Brush::Kind::PathGradient:
      return path_gradient_source(cr, b, world, tw, th);
    case Brush::Kind::Texture: {
      if (!b.texture) return Status::InvalidParameter;
      CairoPtr<cairo_surface_t> cs = surface_over(b.texture);
      if (!cs) return Status::OutOfMemory;
      cairo_matrix_t saved;
      cairo_get_matrix(cr, &saved);
      cairo_set_matrix(cr, &world);
      cairo_set_source_surface(cr, cs.get(), 0, 0);
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
      const bool integral = world.xx == 1 && world.yy == 1 && world.xy == 0 && world.yx == 0 &&
                            world.x0 == std::floor(world.x0) && world.y0 == std::floor(world.y0);
      cairo_pattern_set_filter(cairo_get_source(cr),
                               integral ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
      cairo_set_matrix(cr, &saved);
      return Status::Ok;
    }
  }
  return Status::InvalidParameter;
}

Status fill_begin(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, Smoothing sm,
                  int32_t tw, int32_t th) {
  cairo_new_path(cr);
  cairo_set_matrix(cr, &world);
  if (Status st = set_brush(cr, b, world, tw, th); st != Status::Ok) return st;
  cairo_set_matrix(cr, &world);
  cairo_set_antialias(cr, antialias_for(sm));
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  return Status::Ok;
}

}  // namespace gfx

}  // namespace korvex::raster
