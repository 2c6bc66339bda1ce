// The filter zone the pixel effects apply to, and the frame every effect
// member runs in.
#include <cstdint>

#include "engine/core.h"
#include "engine/effects.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/filter_engine.h"
#include "raster/handles.h"

namespace korvex {

void RefreshFilterZone(cKorvex& k) {
  cKorvex::State& s = EngineAccess::state(k);
  if (s.FilterZone.mode != 1) return;
  s.FilterZone.left = 0;
  s.FilterZone.top = 0;
  s.FilterZone.width = k.GetWidth();
  s.FilterZone.height = k.GetHeight();
}

raster::Rect FilterZoneRect(const FilterZoneFields& zone) {
  return raster::Rect{zone.left, zone.top, zone.width, zone.height};
}

cKorvexStatus RunEffect(cKorvex& k, int32_t effect, const filters::FilterParams& p) {
  cKorvex::State& s = EngineAccess::state(k);
  if (s.NativeImage == 0) return s.LastStatus;
  RefreshFilterZone(k);
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return SetStatus(s, raster::Status::InvalidParameter);
  return SetStatus(s,
                   filters::ApplyPixelFilter(effect, *img, p, FilterZoneRect(s.FilterZone)).status);
}

cKorvexStatus RunEffect(cKorvex& k, int32_t effect, double param) {
  filters::FilterParams p;
  p.param = param;
  return RunEffect(k, effect, p);
}

bool TestImage(cKorvex& k, int32_t effect, const filters::FilterParams& p) {
  cKorvex::State& s = EngineAccess::state(k);
  if (s.NativeImage == 0) return false;
  const cKorvexStatus before = s.LastStatus;
  RefreshFilterZone(k);
  s.LastStatus = before;
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return false;
  const filters::FilterResult r =
      filters::ApplyPixelFilter(effect, *img, p, FilterZoneRect(s.FilterZone));
  return r.status == raster::Status::Ok && r.answer == 1;
}

void cKorvex::FiltersToPicture() {
  s_->FilterZone = FilterZoneFields{};
}

void cKorvex::FiltersToZone(int32_t nTop, int32_t nLeft, int32_t nWidth, int32_t nHeight) {
  s_->FilterZone.mode = 2;
  s_->FilterZone.left = nLeft - 1;
  s_->FilterZone.top = nTop - 1;
  s_->FilterZone.width = nWidth;
  s_->FilterZone.height = nHeight;
}

}  // namespace korvex
