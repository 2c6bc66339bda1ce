// Palettes of indexed images and the plain pixel-format conversions.
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
  for (int32_t v : nARGBColorsArray.values()) p.entries.push_back(static_cast<uint32_t>(v));
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

cKorvexStatus cKorvex::ConvertTo4Bpp() {
  return ConvertNativePixelFormat(*s_, raster::pf::k4bppIndexed);
}
cKorvexStatus cKorvex::ConvertTo16Bpp() {
  return ConvertNativePixelFormat(*s_, raster::pf::k16bppRGB555);
}
cKorvexStatus cKorvex::ConvertTo24Bpp() {
  return ConvertNativePixelFormat(*s_, raster::pf::k24bppRGB);
}
cKorvexStatus cKorvex::ConvertTo32Bpp() {
  return ConvertNativePixelFormat(*s_, raster::pf::k32bppARGB);
}
cKorvexStatus cKorvex::ConvertTo48Bpp() {
  return ConvertNativePixelFormat(*s_, raster::pf::k48bppRGB);
}
cKorvexStatus cKorvex::ConvertTo64Bpp() {
  return ConvertNativePixelFormat(*s_, raster::pf::k64bppARGB);
}

cKorvexStatus cKorvex::ConvertToPixelFormatCR(int32_t nPixelDepth) {
  raster::PixelFormat f;
  switch (nPixelDepth) {
    case 1:
      f = raster::pf::k1bppIndexed;
      break;
    case 4:
      f = raster::pf::k4bppIndexed;
      break;
    case 8:
      f = raster::pf::k8bppIndexed;
      break;
    case 16:
      f = raster::pf::k16bppRGB555;
      break;
    case 24:
      f = raster::pf::k24bppRGB;
      break;
    case 32:
      f = raster::pf::k32bppARGB;
      break;
    case 48:
      f = raster::pf::k48bppRGB;
      break;
    case 64:
      f = raster::pf::k64bppARGB;
      break;
    default:
      return SetStatus(*s_, raster::Status::InvalidParameter);
  }
  return ConvertNativePixelFormat(*s_, f);
}

}  // namespace korvex
