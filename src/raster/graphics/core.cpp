// Graphics over cairo: drawing is recorded, then replayed onto a premultiplied
// proxy of the inked rectangle and written back in the target's own format.
#include "raster/graphics/graphics_p.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster/convert.h"
#include "raster/version.h"

namespace korvex::raster {

using namespace gfx;

Status Graphics::Impl::begin() {
  cairo_rectangle_t extents{0, 0, static_cast<double>(width), static_cast<double>(height)};
  rec.reset(cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents));
  cr.reset(cairo_create(rec.get()));
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return Status::OutOfMemory;
  dirty = false;
  apply_clips();
  return Status::Ok;
}

Status Graphics::Impl::read_argb(const Rect& r, std::vector<uint32_t>& out) {
  out.resize(static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
  if (image != nullptr) {
    return image->read_pixels(r, pf::k32bppARGB, reinterpret_cast<uint8_t*>(out.data()),
                              r.width * 4);
  }
  for (int32_t y = 0; y < r.height; ++y) {
    std::memcpy(&out[static_cast<size_t>(y) * r.width],
                buffer + static_cast<ptrdiff_t>(r.y + y) * stride + 4 * r.x,
                static_cast<size_t>(r.width) * 4);
  }
  return Status::Ok;
}

Status Graphics::Impl::write_span(int32_t x, int32_t y, int32_t n, const uint32_t* argb) {
  if (image != nullptr) {
    return image->write_pixels({x, y, n, 1}, pf::k32bppARGB, reinterpret_cast<const uint8_t*>(argb),
                               n * 4);
  }
  std::memcpy(buffer + static_cast<ptrdiff_t>(y) * stride + 4 * x, argb,
              static_cast<size_t>(n) * 4);
  return Status::Ok;
}

Status Graphics::open(Image& img, std::unique_ptr<Graphics>& out) {
  if (img.locked()) return Status::WrongState;
  if (img.width() <= 0 || img.height() <= 0) return Status::InvalidParameter;
  // Older raster versions have no drawing surface on indexed images.
  if (is_indexed(img.format()) && is_old_version()) return Status::PixelFormatMustBeConverted;
  std::unique_ptr<Graphics> g(new Graphics());
  g->impl_ = std::make_unique<Impl>();
  g->impl_->image = &img;
  g->impl_->width = img.width();
  g->impl_->height = img.height();
  cairo_matrix_init_identity(&g->impl_->world);
  const Status st = g->impl_->begin();
  if (st != Status::Ok) return st;
  out = std::move(g);
  return Status::Ok;
}

Status Graphics::open_buffer(uint8_t* bgra, int32_t width, int32_t height, int32_t stride,
                             std::unique_ptr<Graphics>& out) {
  if (bgra == nullptr || width <= 0 || height <= 0 || stride < int64_t{width} * 4)
    return Status::InvalidParameter;
  std::unique_ptr<Graphics> g(new Graphics());
  g->impl_ = std::make_unique<Impl>();
  g->impl_->buffer = bgra;
  g->impl_->width = width;
  g->impl_->height = height;
  g->impl_->stride = stride;
  cairo_matrix_init_identity(&g->impl_->world);
  const Status st = g->impl_->begin();
  if (st != Status::Ok) return st;
  out = std::move(g);
  return Status::Ok;
}

Graphics::~Graphics() {
  if (impl_) flush();
}

Status Graphics::flush() {
  Impl& m = *impl_;
  if (!m.dirty) return Status::Ok;
  cairo_surface_flush(m.rec.get());
  double ex = 0, ey = 0, ew = 0, eh = 0;
  cairo_recording_surface_ink_extents(m.rec.get(), &ex, &ey, &ew, &eh);
  const int64_t x0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(ex)));
  const int64_t y0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(ey)));
  const int64_t x1 = std::min<int64_t>(m.width, static_cast<int64_t>(std::ceil(ex + ew)));
  const int64_t y1 = std::min<int64_t>(m.height, static_cast<int64_t>(std::ceil(ey + eh)));
  Status st = Status::Ok;
  if (x1 > x0 && y1 > y0) {
    const Rect r{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                 static_cast<int32_t>(y1 - y0)};
    std::vector<uint32_t> orig;
    st = m.read_argb(r, orig);
    if (st == Status::Ok) {
      std::vector<uint32_t> proxy(orig.size());
      for (size_t i = 0; i < orig.size(); ++i) proxy[i] = premultiply(orig[i]);
      CairoPtr<cairo_surface_t> target(
          cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(proxy.data()),
                                              CAIRO_FORMAT_ARGB32, r.width, r.height, r.width * 4));
      cairo_surface_set_device_offset(target.get(), -r.x, -r.y);
      {
        CairoPtr<cairo_t> c(cairo_create(target.get()));
        cairo_set_source_surface(c.get(), m.rec.get(), 0, 0);
        cairo_paint(c.get());
        if (cairo_status(c.get()) != CAIRO_STATUS_SUCCESS) st = Status::OutOfMemory;
      }
      cairo_surface_flush(target.get());
      target.reset();
      // Write back only the runs of pixels the drawing changed, so untouched
      // pixels keep their exact stored values (deep colours, palette indices).
      for (int32_t y = 0; y < r.height && st == Status::Ok; ++y) {
        const size_t row = static_cast<size_t>(y) * r.width;
        int32_t x = 0;
        while (x < r.width && st == Status::Ok) {
          if (proxy[row + x] == premultiply(orig[row + x])) {
            ++x;
            continue;
          }
          const int32_t start = x;
          while (x < r.width && proxy[row + x] != premultiply(orig[row + x])) {
            orig[row + x] = unpremultiply(proxy[row + x]);
            ++x;
          }
          st = m.write_span(r.x + start, r.y + y, x - start, &orig[row + start]);
        }
      }
    }
  }
  const Status st2 = m.begin();
  return st != Status::Ok ? st : st2;
}

void Graphics::rotate_transform(double degrees, bool append) {
  cairo_matrix_t r;
  cairo_matrix_init_rotate(&r, degrees * kPi / 180.0);
  if (append)
    cairo_matrix_multiply(&impl_->world, &impl_->world, &r);
  else
    cairo_matrix_multiply(&impl_->world, &r, &impl_->world);
}

void Graphics::translate_transform(double dx, double dy, bool append) {
  cairo_matrix_t t;
  cairo_matrix_init_translate(&t, dx, dy);
  if (append)
    cairo_matrix_multiply(&impl_->world, &impl_->world, &t);
  else
    cairo_matrix_multiply(&impl_->world, &t, &impl_->world);
}

void Graphics::reset_transform() {
  cairo_matrix_init_identity(&impl_->world);
}

Status Graphics::device_to_world(PointF* pts, size_t n) const {
  cairo_matrix_t inv = impl_->world;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return Status::InvalidParameter;
  for (size_t i = 0; i < n; ++i) cairo_matrix_transform_point(&inv, &pts[i].x, &pts[i].y);
  return Status::Ok;
}

}  // namespace korvex::raster
