// Resizing and rotation by any angle: the native image is drawn onto a new
// bitmap of its own pixel format, which then replaces it.
#include <cmath>
#include <memory>

#include "engine/color_reduction.h"
#include "engine/core.h"
#include "engine/module_state.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/affine.h"
#include "raster/handles.h"
#include "raster/resample.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

// The angle constant of the rotations: slightly above pi, so that 90 and 180
// degrees carry a tiny excess that rounds the enlarged canvas up by a pixel.
constexpr double kPi = 3.141592657;
constexpr int32_t kNoFill = static_cast<int32_t>(0xFF000000);

// A new bitmap of the given size in the native image's own format and palette.
raster::Status new_canvas(const raster::Image& native, int32_t w, int32_t h,
                          std::unique_ptr<raster::Image>& out) {
  if (raster::Status s = raster::Image::create(w, h, native.format(), out);
      s != raster::Status::Ok) {
    return s;
  }
  if (!native.palette().entries.empty()) out->set_palette(native.palette());
  return raster::Status::Ok;
}

enum class Framing { Enlarged, TopLeft, Centre };

// Rotation by `angle` degrees, clockwise on screen. The placement follows the
// world-transform drawing it stands for: device = R * world, with R the
// rotation (x cos - y sin, x sin + y cos), and the image drawn at a world
// position chosen by the framing.
cKorvexStatus rotate_angle(cKorvex& k, cKorvex::State& s, int32_t angle, Framing framing, bool fill,
                           int32_t back) {
  raster::Image* native = raster::find_image(s.NativeImage);
  if (native == nullptr) return s.LastStatus;
  // Older raster versions cannot draw onto an indexed canvas.
  if (raster::is_indexed(native->format()) && old_raster_version())
    return SetStatus(s, raster::Status::PixelFormatMustBeConverted);
  const double r = angle * kPi / 180.0;
  const double cs = std::cos(r), sn = std::sin(r);
  const int32_t w = native->width(), h = native->height();
  int32_t W = w, H = h;
  double x0 = 0, y0 = 0;  // world position of the image's top-left corner
  switch (framing) {
    case Framing::Enlarged: {
      const double nw = std::ceil(std::fabs(sn) * h + std::fabs(cs) * w);
      const double nh = std::ceil(std::fabs(sn) * w + std::fabs(cs) * h);
      if (nw > INT32_MAX || nh > INT32_MAX) return SetStatus(s, raster::Status::InvalidParameter);
      W = static_cast<int32_t>(nw);
      H = static_cast<int32_t>(nh);
      // The canvas centre, mapped from device to world coordinates.
      const double cx = RoundHalfEven(W / 2.0), cy = RoundHalfEven(H / 2.0);
      const double wx = cx * cs + cy * sn, wy = -cx * sn + cy * cs;
      x0 = RoundHalfEven(wx - 0.5 * w);
      y0 = RoundHalfEven(wy - 0.5 * h);
      break;
    }
    case Framing::TopLeft:
      break;  // translated by half the size and drawn back by as much: about the corner
    case Framing::Centre: {
      const double wx = w * cs + h * sn, wy = -w * sn + h * cs;
      x0 = RoundHalfEven(wx / 2.0 - w / 2.0);
      y0 = RoundHalfEven(wy / 2.0 - h / 2.0);
      break;
    }
  }
  SaveImageInfo(s, s.NativeImage);
  std::unique_ptr<raster::Image> canvas;
  if (SetStatus(s, new_canvas(*native, W, H, canvas)) != cKorvexStatus::Ok) return s.LastStatus;
  if (fill) {
    if (SetStatus(s, canvas->fill_rect({0, 0, W, H}, static_cast<uint32_t>(back))) !=
        cKorvexStatus::Ok) {
      return s.LastStatus;
    }
  }
  const double m[6] = {cs, sn, -sn, cs, cs * x0 - sn * y0, sn * x0 + cs * y0};
  if (SetStatus(s, raster::draw_transformed(*native, m, *canvas)) != cKorvexStatus::Ok) {
    return s.LastStatus;
  }
  return ReplaceNativeImage(k, s, std::move(canvas));
}

}  // namespace

cKorvexStatus cKorvex::Resize(int32_t nNewPictureWidth, int32_t nNewPictureHeight,
                              int32_t nInterpolationMode) {
  raster::Image* native = raster::find_image(s_->NativeImage);
  if (native == nullptr) return s_->LastStatus;
  if (nNewPictureWidth <= 0 || nNewPictureHeight <= 0 || nInterpolationMode < 0 ||
      nInterpolationMode > 7) {
    return SetStatus(*s_, raster::Status::InvalidParameter);
  }
  SaveImageInfo(*s_, s_->NativeImage);
  // Older raster versions cannot draw onto 1-, 4- or 8-bit bitmaps.
  if (raster::is_indexed(native->format()) && old_raster_version()) {
    return ResizeIndexedThroughArgb(*this, *s_, nNewPictureWidth, nNewPictureHeight,
                                    nInterpolationMode);
  }
  std::unique_ptr<raster::Image> canvas;
  {
    // The inner steps leave the tags alone; they go onto the result at the end.
    PreserveTagsOverride inner(*s_, false);
    if (SetStatus(*s_, new_canvas(*native, nNewPictureWidth, nNewPictureHeight, canvas)) !=
        cKorvexStatus::Ok) {
      return s_->LastStatus;
    }
    const raster::Status st =
        raster::resample(*native, {0, 0, native->width(), native->height()}, *canvas,
                         static_cast<raster::Interpolation>(nInterpolationMode));
    if (SetStatus(*s_, st) != cKorvexStatus::Ok) return s_->LastStatus;
  }
  return ReplaceNativeImage(*this, *s_, std::move(canvas));
}

cKorvexStatus cKorvex::ResizeHeightRatio(int32_t nNewPictureHeight, int32_t nInterpolationMode) {
  raster::Image* native = raster::find_image(s_->NativeImage);
  if (native == nullptr) return s_->LastStatus;
  const int32_t w =
      RoundHalfEven(static_cast<double>(nNewPictureHeight) * native->width() / native->height());
  return Resize(w, nNewPictureHeight, nInterpolationMode);
}

cKorvexStatus cKorvex::ResizeWidthRatio(int32_t nNewPictureWidth, int32_t nInterpolationMode) {
  raster::Image* native = raster::find_image(s_->NativeImage);
  if (native == nullptr) return s_->LastStatus;
  const int32_t h =
      RoundHalfEven(static_cast<double>(nNewPictureWidth) * native->height() / native->width());
  return Resize(nNewPictureWidth, h, nInterpolationMode);
}

cKorvexStatus cKorvex::RotateAngle(int32_t nAngle) {
  return rotate_angle(*this, *s_, nAngle, Framing::Enlarged, false, kNoFill);
}
cKorvexStatus cKorvex::RotateAngleBackColor(int32_t nAngle, int32_t nBackColor) {
  return rotate_angle(*this, *s_, nAngle, Framing::Enlarged, true, nBackColor);
}
cKorvexStatus cKorvex::RotateAnglePreserveDimentions(int32_t nAngle) {
  return rotate_angle(*this, *s_, nAngle, Framing::TopLeft, false, kNoFill);
}
cKorvexStatus cKorvex::RotateAnglePreserveDimentionsBackColor(int32_t nAngle, int32_t nBackColor) {
  return rotate_angle(*this, *s_, nAngle, Framing::TopLeft, true, nBackColor);
}
cKorvexStatus cKorvex::RotateAnglePreserveDimentionsCenter(int32_t nAngle) {
  return rotate_angle(*this, *s_, nAngle, Framing::Centre, false, kNoFill);
}
cKorvexStatus cKorvex::RotateAnglePreserveDimentionsCenterBackColor(int32_t nAngle,
                                                                    int32_t nBackColor) {
  return rotate_angle(*this, *s_, nAngle, Framing::Centre, true, nBackColor);
}

}  // namespace korvex
