// Palettes of indexed images: reading, replacing and marking as halftone.
#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/handles.h"

namespace korvex {

cKorvexStatus cKorvex::ColorPaletteGet(Array<int32_t>& nColorsArray, int32_t& nEntriesCount) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    return s_->NativeImage == 0 ? s_->LastStatus : SetStatus(*s_, raster::Status::InvalidParameter);
  }
  const raster::Palette& p = img->palette();
  nEntriesCount = static_cast<int32_t>(p.entries.size());
  if (nEntriesCount > 0) {
    nColorsArray.Redim({{1, nEntriesCount}});
    for (int32_t i = 0; i < nEntriesCount; ++i) {
      nColorsArray(i + 1) = static_cast<int32_t>(p.entries[static_cast<size_t>(i)]);
    }
  }
  return SetStatus(*s_, raster::Status::Ok);
}

int32_t cKorvex::ColorPaletteGetColorsCount() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    if (s_->NativeImage != 0) SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  SetStatus(*s_, raster::Status::Ok);
  return static_cast<int32_t>(img->palette().entries.size());
}

cKorvexStatus cKorvex::ColorPaletteSet(Array<int32_t>& nARGBColorsArray) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    return s_->NativeImage == 0 ? s_->LastStatus : SetStatus(*s_, raster::Status::InvalidParameter);
  }
  if (nARGBColorsArray.empty()) return s_->LastStatus;  // nothing to set
  raster::Palette p;
  p.flags = raster::Palette::kHasAlpha;
  // A palette holds at most 256 entries: a longer array gives its first 256.
  for (int32_t v : nARGBColorsArray.values()) {
    if (p.entries.size() == 256) break;
    p.entries.push_back(static_cast<uint32_t>(v));
  }
  // More entries than the image's indices can address are refused.
  return SetStatus(*s_, img->set_palette(p));
}

cKorvexStatus cKorvex::ColorPaletteConvertToHalftone() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    return s_->NativeImage == 0 ? s_->LastStatus : SetStatus(*s_, raster::Status::InvalidParameter);
  }
  raster::Palette p = img->palette();
  p.flags |= raster::Palette::kHalftone;
  return SetStatus(*s_, img->set_palette(p));
}

}  // namespace korvex
