// What the pieces of the cairo graphics share: the recording a Graphics draws
// into, ownership of cairo and Pango objects, cairo's fixed-point reach, and
// the set-up that strokes, fills, images and text go through.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/graphics.h"

namespace korvex::raster {

namespace gfx {

constexpr double kPi = 3.14159265358979323846;

struct CairoDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
  void operator()(PangoLayout* l) const { g_object_unref(l); }
  void operator()(PangoContext* c) const { g_object_unref(c); }
  void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
  void operator()(PangoAttrList* a) const { pango_attr_list_unref(a); }
  void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
template <typename T>
using CairoPtr = std::unique_ptr<T, CairoDeleter>;

inline bool finite(double v) {
  return std::isfinite(v);
}
inline bool finite(PointF p) {
  return finite(p.x) && finite(p.y);
}
inline bool finite(const RectF& r) {
  return finite(r.x) && finite(r.y) && finite(r.width) && finite(r.height);
}

// cairo holds device coordinates in 24.8 fixed point (about +-8.4 million);
// geometry reaching further would wrap around. Rectangles and straight lines,
// which callers size generously to cover a whole picture, are cut to this
// range first: what lies beyond it is off any picture.
constexpr double kReach = 4194304.0;

// Whether every point, through the world transform, lies within the reach.
// Curves and ellipses cannot be cut like lines; beyond it they are refused
// with ValueOverflow rather than drawn wrapped around.
bool reachable(const cairo_matrix_t& world, const PointF* pts, size_t n);
bool reachable(const cairo_matrix_t& world, const RectF& r);

// A rectangle path with its edges limited to the reach.
void rectangle_path(cairo_t* cr, double x, double y, double w, double h);

// Strokes or fills the current path and marks the recording as drawn on.
Status finish(cairo_t* cr, bool stroke, bool& dirty);

// Premultiplied copy of a rectangle of an image, made now (a snapshot).
Status snapshot(Image& src, const Rect& from, std::shared_ptr<Image>& out);

// A cairo surface over a 32bppPARGB image with a 4-byte-aligned stride; the
// image lives as long as the surface.
CairoPtr<cairo_surface_t> surface_over(const std::shared_ptr<Image>& img);

// Sets the brush as the source. Colours and gradients are placed in the
// current user space; textures and path gradients in the world space. `tw`
// and `th` are the target's size.
Status set_brush(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, int32_t tw, int32_t th);

// Fill set-up: world space, brush source, antialiasing.
Status fill_begin(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, Smoothing sm,
                  int32_t tw, int32_t th);

inline cairo_antialias_t antialias_for(Smoothing m) {
  return m == Smoothing::AntiAlias || m == Smoothing::HighQuality ? CAIRO_ANTIALIAS_GRAY
                                                                  : CAIRO_ANTIALIAS_NONE;
}

}  // namespace gfx

// The target (an image or a host buffer) and the recording drawn into since
// the last flush.
struct Graphics::Impl {
  Image* image = nullptr;
  uint8_t* buffer = nullptr;
  int32_t width = 0, height = 0, stride = 0;

  gfx::CairoPtr<cairo_surface_t> rec;
  gfx::CairoPtr<cairo_t> cr;
  bool dirty = false;
  cairo_matrix_t world;
  std::vector<std::vector<PointF>> clips;  // device-space polygons

  Status begin();
  void apply_clips();
  Status read_argb(const Rect& r, std::vector<uint32_t>& out);
  Status write_span(int32_t x, int32_t y, int32_t n, const uint32_t* argb);
};

}  // namespace korvex::raster
