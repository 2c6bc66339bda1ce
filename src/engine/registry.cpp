// The engine object: construction, last status, the native image and its
// life cycle, clones, and the simple queries on the native image.
#include <memory>
#include <string>

#include "engine/core.h"
#include "engine/module_state.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

struct FormatName {
  raster::Guid guid;
  const char* name;
};

constexpr FormatName kFormatNames[] = {
    {raster::guids::kFormatMemoryBmp, "Memory BMP"},
    {raster::guids::kFormatBmp, "BMP"},
    {raster::guids::kFormatEmf, "EMF"},
    {raster::guids::kFormatWmf, "WMF"},
    {raster::guids::kFormatJpeg, "JPEG"},
    {raster::guids::kFormatPng, "PNG"},
    {raster::guids::kFormatGif, "GIF"},
    {raster::guids::kFormatTiff, "TIFF"},
    {raster::guids::kFormatExif, "EXIF"},
    {raster::guids::kFormatIcon, "ICON"},
};

// The native image, or null with InvalidParameter recorded.
raster::Image* native_or_fail(cKorvex::State& s) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) SetStatus(s, raster::Status::InvalidParameter);
  return img;
}

}  // namespace

cKorvex::cKorvex() : s_(std::make_unique<State>()) {
  module_state().WriteSoftwareTag = true;
  join_session();
}

cKorvex::~cKorvex() {
  leave_session();
}

cKorvexStatus cKorvex::GetStat() const {
  return s_->LastStatus;
}

double cKorvex::GetVersion() const {
  return 3.8;
}

int32_t cKorvex::GetNativeImage() const {
  return s_->NativeImage;
}

void cKorvex::SetNativeImage(int32_t nImageID) {
  if (nImageID == s_->NativeImage) return;
  s_->NativeOwned = false;
  s_->NativeImage = nImageID;
}

cKorvexStatus cKorvex::LoadFromImage(int32_t nImageID) {
  if (nImageID != s_->NativeImage) CloseNativeImage();
  s_->NativeOwned = false;
  s_->NativeImage = nImageID;
  s_->LastStatus = cKorvexStatus::Ok;
  return cKorvexStatus::Ok;
}

cKorvexStatus cKorvex::CloseImage(int32_t nImageID) {
  if (nImageID == 0) return s_->LastStatus;
  if (SetStatus(*s_, DisposeImage(nImageID)) == cKorvexStatus::Ok) {
    if (s_->MultiPageTarget == nImageID) s_->MultiPageTarget = 0;
    if (s_->NativeImage == nImageID) s_->NativeImage = 0;
  }
  return s_->LastStatus;
}

cKorvexStatus cKorvex::CloseNativeImage() {
  if (s_->NativeImage != 0 && s_->NativeOwned) {
    const cKorvexStatus st = CloseImage(s_->NativeImage);
    if (st != cKorvexStatus::Ok) return st;
    s_->NativeOwned = false;
  }
  s_->NativeImage = 0;
  return s_->LastStatus;
}

cKorvexStatus cKorvex::CloneImage(int32_t nImageID) {
  // The copy is taken before the owned native image is closed, so that
  // CloneImage(GetNativeImage()) copies the image instead of a disposed one.
  const int32_t copy = CreateClonedImage(nImageID);
  const cKorvexStatus st = s_->LastStatus;
  CloseNativeImage();
  s_->NativeOwned = true;
  s_->NativeImage = copy;
  s_->LastStatus = st;
  return st;
}

int32_t cKorvex::CreateClonedImage(int32_t nImageID) {
  SaveImageInfo(*s_, nImageID);
  raster::Image* src = raster::find_image(nImageID);
  if (src == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> copy;
  const raster::Status st = raster::guarded([&] { return src->clone(copy); });
  if (SetStatus(*s_, st) != cKorvexStatus::Ok) return 0;
  const int32_t id = raster::register_image(std::move(copy));
  RestoreImageInfo(*s_, id);
  return id;
}

int32_t cKorvex::CreateClonedImageI(int32_t nImageID) {
  raster::Image* src = raster::find_image(nImageID);
  if (src == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  return CloneToPixelFormat(*s_, nImageID, src->format());
}

int32_t cKorvex::CreateClonedImageARGB(int32_t nImageID) {
  return CloneToPixelFormat(*s_, nImageID, raster::pf::k32bppARGB);
}

int32_t cKorvex::GetWidth() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return 0;
  SetStatus(*s_, raster::Status::Ok);
  return img->width();
}

int32_t cKorvex::GetHeight() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return 0;
  SetStatus(*s_, raster::Status::Ok);
  return img->height();
}

float cKorvex::GetWidthMM() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return 0.0f;
  SetStatus(*s_, raster::Status::Ok);
  const int32_t dpi = RoundHalfEven(img->dpi_x());
  return dpi >= 1 ? static_cast<float>(img->width() / static_cast<double>(dpi) * 25.4) : 0.0f;
}

float cKorvex::GetHeightMM() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return 0.0f;
  SetStatus(*s_, raster::Status::Ok);
  const int32_t dpi = RoundHalfEven(img->dpi_y());
  return dpi >= 1 ? static_cast<float>(img->height() / static_cast<double>(dpi) * 25.4) : 0.0f;
}

int32_t cKorvex::GetHorizontalResolution() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return 0;
  SetStatus(*s_, raster::Status::Ok);
  return RoundHalfEven(img->dpi_x());
}

int32_t cKorvex::GetVerticalResolution() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return 0;
  SetStatus(*s_, raster::Status::Ok);
  return RoundHalfEven(img->dpi_y());
}

std::string cKorvex::GetImageFormat() {
  raster::Image* img = native_or_fail(*s_);
  if (img == nullptr) return {};
  SetStatus(*s_, raster::Status::Ok);
  for (const FormatName& f : kFormatNames) {
    if (f.guid == img->raw_format()) return f.name;
  }
  return "Undefined";
}

}  // namespace korvex
