// Image sources: blank images.
#include <memory>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/handles.h"

namespace korvex {

namespace {

// Bit depth of a blank image to its pixel format; 0 when not offered.
raster::PixelFormat blank_format(int16_t depth) {
  switch (depth) {
    case 1:
      return raster::pf::k1bppIndexed;
    case 4:
      return raster::pf::k4bppIndexed;
    case 8:
      return raster::pf::k8bppIndexed;
    case 16:
      return raster::pf::k16bppRGB555;
    case 24:
      return raster::pf::k24bppRGB;
    case 32:
      return raster::pf::k32bppARGB;
    case 48:
      return raster::pf::k48bppRGB;
    case 64:
      return raster::pf::k64bppPARGB;
    default:
      return raster::pf::kUndefined;
  }
}

constexpr int32_t kOpaqueBlack = static_cast<int32_t>(0xFF000000);

}  // namespace

int32_t cKorvex::CreateNewImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat,
                                int32_t nBackColor) {
  const raster::PixelFormat f = blank_format(nPixelFormat);
  if (f == raster::pf::kUndefined) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> img;
  if (SetStatus(*s_, raster::Image::create(nWidth, nHeight, f, img)) != cKorvexStatus::Ok) {
    return 0;
  }
  const int32_t id = raster::register_image(std::move(img));
  s_->NativeImage = id;
  // Opaque black is the "no fill" value: the zeroed bitmap stays as it is
  // (black, or transparent black for formats with alpha). Any other colour is
  // composited over the whole picture, as a filled rectangle would be.
  if (nBackColor != kOpaqueBlack) {
    raster::Image* created = raster::find_image(id);
    SetStatus(*s_, created->fill_rect(raster::Rect{0, 0, nWidth, nHeight},
                                      static_cast<uint32_t>(nBackColor)));
  }
  return id;
}

cKorvexStatus cKorvex::CreateImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat) {
  CloseNativeImage();
  s_->NativeOwned = true;
  CreateNewImage(nWidth, nHeight, nPixelFormat, static_cast<int32_t>(0xFFFFFFFF));
  return s_->LastStatus;
}

}  // namespace korvex
