// Colour reduction of the native image: octree quantisation and the
// fixed-palette converters. Each builds the indexed copy with a kernel of
// processing/color_reduction and replaces the native image only when the
// copy is complete, keeping its resolution and tags.
#include "engine/color_reduction.h"

#include <memory>

#include "engine/core.h"
#include "engine/module_state.h"
#include "korvex/engine.h"
#include "processing/color_reduction.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/resample.h"

namespace korvex {

namespace {

// Runs `build` over the native image and puts its result in place.
template <class Fn>
cKorvexStatus reduce_native(cKorvex& k, cKorvex::State& s, Fn&& build) {
  raster::Image* native = raster::find_image(s.NativeImage);
  if (native == nullptr) {
    return s.NativeImage == 0 ? s.LastStatus : SetStatus(s, raster::Status::InvalidParameter);
  }
  if (native->locked()) return SetStatus(s, raster::Status::WrongState);
  SaveImageInfo(s, s.NativeImage);
  std::unique_ptr<raster::Image> img;
  const raster::Status st = raster::guarded([&] { return build(*native, img); });
  if (SetStatus(s, st) != cKorvexStatus::Ok) return s.LastStatus;
  return ReplaceNativeImage(k, s, std::move(img));
}

}  // namespace

cKorvexStatus cKorvex::Quantize8Bpp(int32_t nColors) {
  return reduce_native(*this, *s_, [&](const raster::Image& src, auto& out) {
    return reduce::Quantize8(src, nColors, out);
  });
}

cKorvexStatus cKorvex::ConvertTo8BppQ() {
  return Quantize8Bpp(256);
}

cKorvexStatus cKorvex::ConvertTo8Bpp() {
  return reduce_native(*this, *s_, [](const raster::Image& src, auto& out) {
    return reduce::Gray8(src, reduce::GrayRule::Mean, out);
  });
}

cKorvexStatus cKorvex::ConvertTo8Bpp2() {
  return reduce_native(*this, *s_, [](const raster::Image& src, auto& out) {
    return reduce::Gray8(src, reduce::GrayRule::Weighted, out);
  });
}

cKorvexStatus cKorvex::ConvertTo8Bpp210() {
  return reduce_native(*this, *s_,
                       [](const raster::Image& src, auto& out) { return reduce::Cube8(src, out); });
}

cKorvexStatus cKorvex::ConvertTo4Bpp16() {
  return reduce_native(*this, *s_, [](const raster::Image& src, auto& out) {
    return reduce::Nearest4(src, reduce::Fixed16Palette(), out);
  });
}

cKorvexStatus cKorvex::ConvertTo4BppPal(Array<int32_t>& nARGBColorsArray) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  // A 4-bit index reaches 16 entries: a longer array gives its first 16; an
  // empty one leaves no colour to map to.
  if (nARGBColorsArray.empty()) return SetStatus(*s_, raster::Status::InvalidParameter);
  raster::Palette palette;
  for (int32_t v : nARGBColorsArray.values()) {
    if (palette.entries.size() == 16) break;
    palette.entries.push_back(static_cast<uint32_t>(v));
  }
  return reduce_native(*this, *s_, [&](const raster::Image& src, auto& out) {
    return reduce::Nearest4(src, palette, out);
  });
}

cKorvexStatus cKorvex::ConvertTo1Bpp() {
  return reduce_native(*this, *s_, [](const raster::Image& src, auto& out) {
    return reduce::Bits1(src, reduce::WhiteRule::Threshold, out);
  });
}

cKorvexStatus cKorvex::ConvertTo1BppFast() {
  // Current raster versions convert to 1 bit themselves; older ones could
  // not map colours into an indexed bitmap, so only pure white stays white.
  if (!old_raster_version()) return ConvertNativePixelFormat(*s_, raster::pf::k1bppIndexed);
  return reduce_native(*this, *s_, [](const raster::Image& src, auto& out) {
    return reduce::Bits1(src, reduce::WhiteRule::OpaqueWhite, out);
  });
}

cKorvexStatus ResizeIndexedThroughArgb(cKorvex& k, cKorvex::State& s, int32_t width, int32_t height,
                                       int32_t mode) {
  raster::Image* native = raster::find_image(s.NativeImage);
  if (native == nullptr) return s.LastStatus;
  const raster::PixelFormat f = native->format();
  const raster::Palette palette = native->palette();
  std::unique_ptr<raster::Image> result;
  const raster::Status st = raster::guarded([&] {
    std::unique_ptr<raster::Image> canvas;
    raster::Status r = raster::Image::create(width, height, raster::pf::k32bppARGB, canvas);
    if (r != raster::Status::Ok) return r;
    r = raster::resample(*native, {0, 0, native->width(), native->height()}, *canvas,
                         static_cast<raster::Interpolation>(mode));
    if (r != raster::Status::Ok) return r;
    if (f == raster::pf::k1bppIndexed) {
      return reduce::Bits1(*canvas, reduce::WhiteRule::OpaqueWhite, result);
    }
    if (f == raster::pf::k4bppIndexed) {
      // The palette the image had; one with no entries cannot be mapped to.
      raster::Palette p = palette;
      if (p.entries.size() > 16) p.entries.resize(16);
      p.flags = 0;
      return reduce::Nearest4(*canvas, p, result);
    }
    return reduce::Gray8(*canvas, reduce::GrayRule::Mean, result);
  });
  if (SetStatus(s, st) != cKorvexStatus::Ok) return s.LastStatus;
  return ReplaceNativeImage(k, s, std::move(result));
}

}  // namespace korvex
