// Drawing the native image onto host device contexts and windows.
#include <algorithm>
#include <memory>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "korvex/host.h"
#include "raster/handles.h"
#include "raster/resample.h"

namespace korvex {

namespace {

// Draws the source rectangle of the native image scaled into the destination
// rectangle (0-based) of a device context's surface, composited over what
// the surface shows; parts outside the surface are clipped. Smoothing modes
// shape lines and fills, not images: out-of-range values fall back to none
// (3), interpolation modes to the default (0), as the members document.
cKorvexStatus display(cKorvex::State& s, int32_t hdc, const raster::Rect& dst_rect,
                      const raster::Rect* src_rect, int32_t smoothing, int32_t interpolation) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return SetStatus(s, raster::Status::InvalidParameter);
  const host::BitmapPtr surface = host::GetDCSurface(hdc);
  if (surface == nullptr || surface->bits_per_pixel != 32) {
    return SetStatus(s, raster::Status::Win32Error);  // no drawing surface on that handle
  }
  (void)smoothing;
  if (interpolation < 0 || interpolation > 7) interpolation = 0;
  if (dst_rect.width <= 0 || dst_rect.height <= 0)
    return SetStatus(s, raster::Status::InvalidParameter);
  const raster::Rect from = src_rect ? *src_rect : raster::Rect{0, 0, img->width(), img->height()};
  // The scaled picture, then composited row by row onto the visible part.
  std::unique_ptr<raster::Image> scaled;
  if (SetStatus(s, raster::Image::create(dst_rect.width, dst_rect.height, raster::pf::k32bppARGB,
                                         scaled)) != cKorvexStatus::Ok) {
    return s.LastStatus;
  }
  if (SetStatus(s, raster::resample(*img, from, *scaled,
                                    static_cast<raster::Interpolation>(interpolation))) !=
      cKorvexStatus::Ok) {
    return s.LastStatus;
  }
  const int64_t x0 = std::max<int64_t>(0, dst_rect.x), y0 = std::max<int64_t>(0, dst_rect.y);
  const int64_t x1 = std::min<int64_t>(surface->width, int64_t{dst_rect.x} + dst_rect.width);
  const int64_t y1 = std::min<int64_t>(surface->height, int64_t{dst_rect.y} + dst_rect.height);
  const raster::Surface& sc = scaled->surface();
  for (int64_t y = y0; y < y1; ++y) {
    const uint8_t* src = sc.row(static_cast<int32_t>(y - dst_rect.y));
    uint8_t* dst = surface->bits.data() + static_cast<size_t>(y) * surface->stride();
    for (int64_t x = x0; x < x1; ++x) {
      const uint8_t* p = src + 4 * (x - dst_rect.x);
      uint8_t* q = dst + 4 * x;
      const uint32_t a = p[3];
      for (int c = 0; c < 3; ++c)
        q[c] = static_cast<uint8_t>((p[c] * a + q[c] * (255 - a) + 127) / 255);
    }
  }
  return SetStatus(s, raster::Status::Ok);
}

cKorvexStatus on_window(cKorvex::State& s, int32_t hwnd, const raster::Rect& dst,
                        const raster::Rect* src, int32_t smoothing, int32_t interpolation) {
  if (raster::find_image(s.NativeImage) == nullptr)
    return SetStatus(s, raster::Status::InvalidParameter);
  const int32_t hdc = host::GetWindowDC(hwnd);
  if (hdc == 0) return SetStatus(s, raster::Status::Win32Error);
  const cKorvexStatus st = display(s, hdc, dst, src, smoothing, interpolation);
  host::ReleaseDC(hdc);
  return st;
}

}  // namespace

cKorvexStatus cKorvex::DisplayImageOnHDC(int32_t nHDC, int32_t nDstX, int32_t nDstY,
                                         int32_t nDstWidth, int32_t nDstHeight,
                                         int32_t nSmoothingMode, int32_t nInterpolationMode) {
  return display(*s_, nHDC, {nDstX - 1, nDstY - 1, nDstWidth, nDstHeight}, nullptr, nSmoothingMode,
                 nInterpolationMode);
}

cKorvexStatus cKorvex::DisplayImageOnHwnd(int32_t nHWND, int32_t nDstX, int32_t nDstY,
                                          int32_t nDstWidth, int32_t nDstHeight,
                                          int32_t nSmoothingMode, int32_t nInterpolationMode) {
  return on_window(*s_, nHWND, {nDstX - 1, nDstY - 1, nDstWidth, nDstHeight}, nullptr,
                   nSmoothingMode, nInterpolationMode);
}

cKorvexStatus cKorvex::DisplayImageRectOnHDC(int32_t nHDC, int32_t nDstX, int32_t nDstY,
                                             int32_t nDstWidth, int32_t nDstHeight, int32_t nSrcX,
                                             int32_t nSrcY, int32_t nSrcWidth, int32_t nSrcHeight,
                                             int32_t nSmoothingMode, int32_t nInterpolationMode) {
  const raster::Rect src{nSrcX - 1, nSrcY - 1, nSrcWidth, nSrcHeight};
  return display(*s_, nHDC, {nDstX - 1, nDstY - 1, nDstWidth, nDstHeight}, &src, nSmoothingMode,
                 nInterpolationMode);
}

cKorvexStatus cKorvex::DisplayImageRectOnHwnd(int32_t nHWND, int32_t nDstX, int32_t nDstY,
                                              int32_t nDstWidth, int32_t nDstHeight, int32_t nSrcX,
                                              int32_t nSrcY, int32_t nSrcWidth, int32_t nSrcHeight,
                                              int32_t nSmoothingMode, int32_t nInterpolationMode) {
  const raster::Rect src{nSrcX - 1, nSrcY - 1, nSrcWidth, nSrcHeight};
  return on_window(*s_, nHWND, {nDstX - 1, nDstY - 1, nDstWidth, nDstHeight}, &src, nSmoothingMode,
                   nInterpolationMode);
}

}  // namespace korvex
