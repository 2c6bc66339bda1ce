// Images drawn into rectangles and parallelograms, scaled by our own kernels
// or cairo's filters, and the snapshots and cairo surfaces brushes share.
#include "raster/graphics/graphics_p.h"

#include <algorithm>
#include <cmath>

#include "raster/resample.h"

namespace korvex::raster {

using namespace gfx;

namespace {

// Keeps an Image alive as long as a cairo surface made over its pixels.
const cairo_user_data_key_t kImageKey{};
void release_image(void* p) {
  delete static_cast<std::shared_ptr<Image>*>(p);
}

cairo_filter_t filter_for(Interpolation m) {
  switch (m) {
    case Interpolation::NearestNeighbor:
      return CAIRO_FILTER_NEAREST;
    case Interpolation::Bicubic:
    case Interpolation::HighQualityBilinear:
      return CAIRO_FILTER_GOOD;
    case Interpolation::HighQuality:
    case Interpolation::HighQualityBicubic:
      return CAIRO_FILTER_BEST;
    default:
      return CAIRO_FILTER_BILINEAR;
  }
}

}  // namespace

namespace gfx {

CairoPtr<cairo_surface_t> surface_over(const std::shared_ptr<Image>& img) {
  Surface& s = img->surface();
  CairoPtr<cairo_surface_t> cs(cairo_image_surface_create_for_data(s.scan0, CAIRO_FORMAT_ARGB32,
                                                                   s.width, s.height, s.stride));
  if (cairo_surface_status(cs.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_set_user_data(cs.get(), &kImageKey, new std::shared_ptr<Image>(img), release_image);
  return cs;
}

Status snapshot(Image& src, const Rect& from, std::shared_ptr<Image>& out) {
  std::unique_ptr<Image> copy;
  Status st = Image::create(from.width, from.height, pf::k32bppPARGB, copy);
  if (st != Status::Ok) return st;
  Surface& s = copy->surface();
  st = src.read_pixels(from, pf::k32bppPARGB, s.scan0, s.stride);
  if (st != Status::Ok) return st;
  out = std::move(copy);
  return Status::Ok;
}

}  // namespace gfx

Status Graphics::draw_image(Image& src, const RectF& dst, const Rect& from) {
  if (!finite(dst)) return Status::InvalidParameter;
  if (from.width <= 0 || from.height <= 0 || from.x < 0 || from.y < 0 ||
      int64_t{from.x} + from.width > src.width() || int64_t{from.y} + from.height > src.height())
    return Status::InvalidParameter;
  if (dst.width == 0 || dst.height == 0) return Status::Ok;
  cairo_t* cr = impl_->cr.get();
  const cairo_matrix_t& w = impl_->world;
  const bool axis_aligned = w.xx == 1 && w.yy == 1 && w.xy == 0 && w.yx == 0;
  const double dx = dst.x + w.x0, dy = dst.y + w.y0;
  const bool integral = axis_aligned && dx == std::floor(dx) && dy == std::floor(dy) &&
                        dst.width == std::floor(dst.width) &&
                        dst.height == std::floor(dst.height) && dst.width > 0 && dst.height > 0;
  // Scaled by our own separable kernels when the destination is a whole-pixel
  // rectangle not much larger than the target; cairo's filters otherwise.
  const double area = dst.width * dst.height;
  const double target_area = double(impl_->width) * impl_->height;
  std::shared_ptr<Image> pixels;
  if (integral && area <= 4 * target_area + 1e6) {
    std::unique_ptr<Image> scaled;
    Status st = Image::create(static_cast<int32_t>(dst.width), static_cast<int32_t>(dst.height),
                              pf::k32bppPARGB, scaled);
    if (st != Status::Ok) return st;
    if (from.width == dst.width && from.height == dst.height) {
      Surface& s = scaled->surface();
      st = src.read_pixels(from, pf::k32bppPARGB, s.scan0, s.stride);
    } else {
      st = resample(src, from, *scaled, interpolation_);
    }
    if (st != Status::Ok) return st;
    pixels = std::move(scaled);
    CairoPtr<cairo_surface_t> cs = surface_over(pixels);
    if (!cs) return Status::OutOfMemory;
    cairo_new_path(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, cs.get(), dx, dy);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    rectangle_path(cr, dx, dy, dst.width, dst.height);
    return finish(cr, false, impl_->dirty);
  }
  Status st = snapshot(src, from, pixels);
  if (st != Status::Ok) return st;
  CairoPtr<cairo_surface_t> cs = surface_over(pixels);
  if (!cs) return Status::OutOfMemory;
  cairo_new_path(cr);
  cairo_set_matrix(cr, &w);
  CairoPtr<cairo_pattern_t> p(cairo_pattern_create_for_surface(cs.get()));
  cairo_matrix_t pm;  // user space -> source pixels
  cairo_matrix_init_scale(&pm, from.width / dst.width, from.height / dst.height);
  cairo_matrix_translate(&pm, -dst.x, -dst.y);
  cairo_pattern_set_matrix(p.get(), &pm);
  cairo_pattern_set_filter(p.get(), filter_for(interpolation_));
  cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_PAD);
  cairo_set_source(cr, p.get());
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  rectangle_path(cr, dst.x, dst.y, dst.width, dst.height);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::draw_image_points(Image& src, PointF tl, PointF tr, PointF bl) {
  const PointF corners[4] = {tl, tr, bl, {tr.x + bl.x - tl.x, tr.y + bl.y - tl.y}};
  if (finite(tl) && finite(tr) && finite(bl) && !reachable(impl_->world, corners, 4))
    return Status::ValueOverflow;
  if (!finite(tl) || !finite(tr) || !finite(bl)) return Status::InvalidParameter;
  const double w = src.width(), h = src.height();
  // Source (u, v) -> user: tl + u/w * (tr - tl) + v/h * (bl - tl).
  cairo_matrix_t map;
  cairo_matrix_init(&map, (tr.x - tl.x) / w, (tr.y - tl.y) / w, (bl.x - tl.x) / h,
                    (bl.y - tl.y) / h, tl.x, tl.y);
  cairo_matrix_t inv = map;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return Status::Ok;  // degenerate: nothing
  std::shared_ptr<Image> pixels;
  Status st = snapshot(src, {0, 0, src.width(), src.height()}, pixels);
  if (st != Status::Ok) return st;
  CairoPtr<cairo_surface_t> cs = surface_over(pixels);
  if (!cs) return Status::OutOfMemory;
  cairo_t* cr = impl_->cr.get();
  cairo_new_path(cr);
  cairo_set_matrix(cr, &impl_->world);
  CairoPtr<cairo_pattern_t> p(cairo_pattern_create_for_surface(cs.get()));
  cairo_pattern_set_matrix(p.get(), &inv);
  cairo_pattern_set_filter(p.get(), filter_for(interpolation_));
  cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_PAD);
  cairo_set_source(cr, p.get());
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  const PointF br{tr.x + bl.x - tl.x, tr.y + bl.y - tl.y};
  cairo_move_to(cr, tl.x, tl.y);
  cairo_line_to(cr, tr.x, tr.y);
  cairo_line_to(cr, br.x, br.y);
  cairo_line_to(cr, bl.x, bl.y);
  cairo_close_path(cr);
  return finish(cr, false, impl_->dirty);
}

}  // namespace korvex::raster
