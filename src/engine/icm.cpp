// Loading with colour management: pixels described by an embedded ICC
// profile (property 0x8773) are converted to sRGB through lcms2.
#include <lcms2.h>

#include <memory>
#include <mutex>
#include <vector>

#include "engine/core.h"
#include "engine/source_pair.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/handles.h"

namespace korvex {

namespace {

constexpr uint32_t kIccProfileTag = 0x8773;

struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformDeleter {
  void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformDeleter>;

// lcms2 reports errors through a global handler: keep them quiet, a profile
// that cannot be used just leaves the pixels as they are.
void quiet(cmsContext, cmsUInt32Number, const char*) {}

// Converts the image's pixels (or its palette) from the embedded profile to
// sRGB. Images whose profile is not an RGB one, or whose format has no
// matching layout, are left as they are.
raster::Status apply_profile(raster::Image& img) {
  const raster::PropertyItem* icc = img.property(kIccProfileTag);
  if (icc == nullptr || icc->value.empty()) return raster::Status::Ok;
  // The handler is process-wide: set once, not by every thread on every load.
  static std::once_flag quieted;
  std::call_once(quieted, [] { cmsSetLogErrorHandler(quiet); });
  Profile source(cmsOpenProfileFromMem(icc->value.data(), icc->length()));
  if (!source || cmsGetColorSpace(source.get()) != cmsSigRgbData) return raster::Status::Ok;
  Profile srgb(cmsCreate_sRGBProfile());
  cmsUInt32Number layout = 0, flags = 0;
  const raster::PixelFormat f = img.format();
  if (raster::is_indexed(f)) {
    layout = TYPE_BGRA_8;
    flags = cmsFLAGS_COPY_ALPHA;
  } else if (f == raster::pf::k24bppRGB) {
    layout = TYPE_BGR_8;
  } else if (f == raster::pf::k32bppRGB || f == raster::pf::k32bppARGB) {
    layout = TYPE_BGRA_8;
    flags = cmsFLAGS_COPY_ALPHA;
  } else if (f == raster::pf::k48bppRGB) {
    layout = TYPE_BGR_16;
  } else if (f == raster::pf::k64bppARGB) {
    layout = TYPE_BGRA_16;
    flags = cmsFLAGS_COPY_ALPHA;
  } else {
    return raster::Status::Ok;
  }
  Transform t(cmsCreateTransform(source.get(), layout, srgb.get(), layout, INTENT_PERCEPTUAL, flags));
  if (!t) return raster::Status::Ok;
  if (raster::is_indexed(f)) {
    raster::Palette p = img.palette();
    cmsDoTransform(t.get(), p.entries.data(), p.entries.data(),
                   static_cast<cmsUInt32Number>(p.entries.size()));
    if (raster::Status s = img.set_palette(p); s != raster::Status::Ok) return s;
  } else {
    raster::Surface& s = img.surface();
    for (int32_t y = 0; y < s.height; ++y) {
      cmsDoTransform(t.get(), s.row(y), s.row(y), static_cast<cmsUInt32Number>(s.width));
    }
  }
  // The pixels are sRGB now; the old description would mislead.
  img.remove_property(kIccProfileTag);
  return raster::Status::Ok;
}

}  // namespace

int32_t cKorvex::CreateImageFromFileICM(const std::string& sFilePath) {
  const int32_t id = CreateImageFromFile(sFilePath);
  if (id == 0) return 0;
  raster::Image* img = raster::find_image(id);
  if (SetStatus(*s_, apply_profile(*img)) != cKorvexStatus::Ok) {
    CloseImage(id);
    return 0;
  }
  return id;
}

}  // namespace korvex
