// Plain pixel-format conversions of the native image, by format or by depth.
#include <cstdint>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/image.h"

namespace korvex {

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
