// Document clean-up: crops the bands of one colour that scanning leaves along
// a page's edges (white margins, black lid shadows, a border in the colour of
// a corner). The bands are measured by processing/bands; the crop is the
// engine's own, so resolution, tags and ownership follow as for Crop.
#include <cstdint>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/bands.h"
#include "raster/guard.h"
#include "raster/handles.h"

namespace korvex {

namespace {

// Pages smaller than this in either direction are left alone.
constexpr int32_t kMinimumSide = 10;

// The native image when it is large enough to be cleaned up; null otherwise
// (the caller then returns `status`: the last status, or InvalidParameter
// for an identifier that no longer names an image).
raster::Image* page(cKorvex::State& s, cKorvexStatus& status) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) {
    status = s.NativeImage == 0 ? s.LastStatus : SetStatus(s, raster::Status::InvalidParameter);
    return nullptr;
  }
  status = s.LastStatus;
  return img->width() < kMinimumSide || img->height() < kMinimumSide ? nullptr : img;
}

// Measures the bands and crops them away. Bands from opposite edges that meet
// or cross (a uniform page) leave no picture: the crop is refused.
cKorvexStatus crop_bands(cKorvex& k, cKorvex::State& s, raster::Image& img,
                         const filters::BandRule& rule) {
  filters::BandDepths d;
  const raster::Status st = raster::guarded([&] { return filters::MeasureBands(img, rule, d); });
  if (st != raster::Status::Ok) return SetStatus(s, st);
  if (d.top == 0 && d.bottom == 0 && d.left == 0 && d.right == 0) return s.LastStatus;
  const int64_t w = static_cast<int64_t>(img.width()) - d.left - d.right;
  const int64_t h = static_cast<int64_t>(img.height()) - d.top - d.bottom;
  if (w <= 0 || h <= 0) return SetStatus(s, raster::Status::InvalidParameter);
  return k.Crop(d.left + 1, d.top + 1, static_cast<int32_t>(w), static_cast<int32_t>(h));
}

cKorvexStatus crop_colour_bands(cKorvex& k, cKorvex::State& s, uint32_t colour, int32_t confidence,
                                int32_t skip) {
  cKorvexStatus status;
  raster::Image* img = page(s, status);
  if (img == nullptr) return status;
  filters::BandRule rule;
  rule.reference = colour;
  rule.confidence = confidence;
  rule.skip = skip;
  return crop_bands(k, s, *img, rule);
}

}  // namespace

cKorvexStatus cKorvex::CropWhiteBands(int32_t nConfidence, int32_t nSkipLinesCount) {
  return crop_colour_bands(*this, *s_, 0xFFFFFFFFu, nConfidence, nSkipLinesCount);
}

cKorvexStatus cKorvex::CropBlackBands(int32_t nConfidence, int32_t nSkipLinesCount) {
  return crop_colour_bands(*this, *s_, 0xFF000000u, nConfidence, nSkipLinesCount);
}

cKorvexStatus cKorvex::CropBorders2(int32_t nConfidence, int32_t nColorReference) {
  cKorvexStatus status;
  raster::Image* img = page(*s_, status);
  if (img == nullptr) return status;
  if (nConfidence < 0 || nConfidence > 100) nConfidence = 98;
  if (nColorReference < 1 || nColorReference > 4) nColorReference = 1;
  // Corners 1..4: top-left, top-right, bottom-right, bottom-left.
  const int32_t right = img->width() - 1, bottom = img->height() - 1;
  const int32_t x = nColorReference == 2 || nColorReference == 3 ? right : 0;
  const int32_t y = nColorReference >= 3 ? bottom : 0;
  filters::BandRule rule;
  if (const raster::Status st = img->get_pixel(x, y, rule.reference); st != raster::Status::Ok)
    return SetStatus(*s_, st);
  // floor((100 - c) x 7.65) in whole numbers: the nearest double to 7.65 lies
  // above it, so the floating product never falls below an exact integer.
  rule.tolerance = (100 - nConfidence) * 765 / 100;
  rule.confidence = nConfidence;
  return crop_bands(*this, *s_, *img, rule);
}

cKorvexStatus cKorvex::CropBorders() {
  return CropBorders2(97, 1);
}

}  // namespace korvex
