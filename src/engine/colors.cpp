// Colour values and colour models: packing and unpacking ARGB and RGB values,
// the CMY, CMYK and HSL conversions, and the ink pictures of the native image.
//
// The conversions keep no state and never record a status: a refused input
// is answered by the member's own result (InvalidParameter, or the invalid
// value of a value builder) and leaves the by-reference outputs untouched.
#include <cstdint>
#include <memory>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/color_models.h"
#include "processing/ink_channels.h"
#include "raster/guard.h"
#include "raster/handles.h"

namespace korvex {

namespace {

using colors::cCMY;
using colors::cCMYK;
using colors::cColor;

constexpr cKorvexStatus kOk = cKorvexStatus::Ok;
constexpr cKorvexStatus kRefused = cKorvexStatus::InvalidParameter;
constexpr int32_t kInvalidRGB = -1;  // no RGB value is negative

bool is_byte(int32_t v) {
  return v >= 0 && v <= 255;
}
bool are_bytes(int32_t a, int32_t b, int32_t c) {
  return is_byte(a) && is_byte(b) && is_byte(c);
}
bool is_rgb_value(int32_t v) {
  return v >= 0 && v <= 0xFFFFFF;
}
uint8_t b8(int32_t v) {
  return static_cast<uint8_t>(v);
}

// Three outputs at once, in the Byte or the Long form (values already 0..255).
template <typename T>
void put3(T& a, T& b, T& c, int32_t x, int32_t y, int32_t z) {
  a = static_cast<T>(x);
  b = static_cast<T>(y);
  c = static_cast<T>(z);
}

// One ink picture of the native image, registered for the caller.
int32_t ink_picture(cKorvex::State& s, colors::InkChannel ch) {
  if (s.NativeImage == 0) return 0;  // nothing to separate: LastStatus stays
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> out;
  if (SetStatus(s, raster::guarded([&] { return colors::InkChannelImage(*img, ch, out); })) !=
      kOk) {
    return 0;
  }
  return raster::register_image(std::move(out));
}

}  // namespace

// ---- packed values ----------------------------------------------------------

int32_t cKorvex::ColorGetARGBValueFromARGB(uint8_t nAlpha, uint8_t nRed, uint8_t nGreen,
                                           uint8_t nBlue) {
  return cColor::MakeARGB(nAlpha, nRed, nGreen, nBlue);
}

int32_t cKorvex::ColorGetARGBValueFromARGBl(int32_t nAlpha, int32_t nRed, int32_t nGreen,
                                            int32_t nBlue) {
  if (!is_byte(nAlpha) || !are_bytes(nRed, nGreen, nBlue)) return 0;
  return cColor::MakeARGB(b8(nAlpha), b8(nRed), b8(nGreen), b8(nBlue));
}

int32_t cKorvex::ARGB(uint8_t nAlpha, uint8_t nRed, uint8_t nGreen, uint8_t nBlue) {
  return cColor::MakeARGB(nAlpha, nRed, nGreen, nBlue);
}

cKorvexStatus cKorvex::ColorGetARGBFromARGBValue(int32_t nARGBValue, uint8_t& nAlpha, uint8_t& nRed,
                                                 uint8_t& nGreen, uint8_t& nBlue) {
  cColor c;
  c.SetValue(nARGBValue);
  nAlpha = c.GetAlpha();
  put3(nRed, nGreen, nBlue, c.GetRed(), c.GetGreen(), c.GetBlue());
  return kOk;
}

cKorvexStatus cKorvex::ColorGetARGBFromARGBValuel(int32_t nARGBValue, int32_t& nAlpha,
                                                  int32_t& nRed, int32_t& nGreen, int32_t& nBlue) {
  cColor c;
  c.SetValue(nARGBValue);
  nAlpha = c.GetAlpha();
  put3(nRed, nGreen, nBlue, c.GetRed(), c.GetGreen(), c.GetBlue());
  return kOk;
}

int32_t cKorvex::ColorGetRGBValueFromRGB(uint8_t nRed, uint8_t nGreen, uint8_t nBlue) {
  return colors::MakeRGBValue(nRed, nGreen, nBlue);
}

int32_t cKorvex::ColorGetRGBValueFromRGBl(int32_t nRed, int32_t nGreen, int32_t nBlue) {
  if (!are_bytes(nRed, nGreen, nBlue)) return kInvalidRGB;
  return colors::MakeRGBValue(nRed, nGreen, nBlue);
}

int32_t cKorvex::GetRGB(uint8_t nRed, uint8_t nGreen, uint8_t nBlue) {
  return colors::MakeRGBValue(nRed, nGreen, nBlue);
}

cKorvexStatus cKorvex::ColorGetRGBFromRGBValue(int32_t nRGBValue, uint8_t& nRed, uint8_t& nGreen,
                                               uint8_t& nBlue) {
  if (!is_rgb_value(nRGBValue)) return kRefused;
  put3(nRed, nGreen, nBlue, nRGBValue & 0xFF, (nRGBValue >> 8) & 0xFF, nRGBValue >> 16);
  return kOk;
}

cKorvexStatus cKorvex::ColorGetRGBFromRGBValuel(int32_t nRGBValue, int32_t& nRed, int32_t& nGreen,
                                                int32_t& nBlue) {
  if (!is_rgb_value(nRGBValue)) return kRefused;
  put3(nRed, nGreen, nBlue, nRGBValue & 0xFF, (nRGBValue >> 8) & 0xFF, nRGBValue >> 16);
  return kOk;
}

// ---- CMY and CMYK -----------------------------------------------------------

cKorvexStatus cKorvex::ColorRGBtoCMY(int32_t nRedValue, int32_t nGreenValue, int32_t nBlueValue,
                                     int32_t& nCyan, int32_t& nMagenta, int32_t& nYellow) {
  if (!are_bytes(nRedValue, nGreenValue, nBlueValue)) return kRefused;
  cCMY m;
  m.R(nRedValue);
  m.G(nGreenValue);
  m.B(nBlueValue);
  put3(nCyan, nMagenta, nYellow, m.C(), m.M(), m.y());
  return kOk;
}

cKorvexStatus cKorvex::ColorCMYtoRGB(int32_t nCyan, int32_t nMagenta, int32_t nYellow,
                                     int32_t& nRed, int32_t& nGreen, int32_t& nBlue) {
  if (!are_bytes(nCyan, nMagenta, nYellow)) return kRefused;
  cCMY m;
  m.FromCMY(nCyan, nMagenta, nYellow);
  put3(nRed, nGreen, nBlue, m.R(), m.G(), m.B());
  return kOk;
}

cKorvexStatus cKorvex::ColorRGBtoCMYK(int32_t nRedValue, int32_t nGreenValue, int32_t nBlueValue,
                                      int32_t& nCyan, int32_t& nMagenta, int32_t& nYellow,
                                      int32_t& nBlack) {
  if (!are_bytes(nRedValue, nGreenValue, nBlueValue)) return kRefused;
  cCMYK m;
  m.RGB(colors::MakeRGBValue(nRedValue, nGreenValue, nBlueValue));
  put3(nCyan, nMagenta, nYellow, m.C(), m.M(), m.y());
  nBlack = m.K();
  return kOk;
}

cKorvexStatus cKorvex::ColorCMYKtoRGB(int32_t nCyan, int32_t nMagenta, int32_t nYellow,
                                      int32_t nBlack, int32_t& nRed, int32_t& nGreen,
                                      int32_t& nBlue) {
  if (!are_bytes(nCyan, nMagenta, nYellow) || !is_byte(nBlack)) return kRefused;
  cCMYK m;
  m.FromCMYK(nCyan, nMagenta, nYellow, nBlack);
  put3(nRed, nGreen, nBlue, m.R(), m.G(), m.B());
  return kOk;
}

// ---- HSL --------------------------------------------------------------------

cKorvexStatus cKorvex::ColorRGBtoHSL(uint8_t nRedValue, uint8_t nGreenValue, uint8_t nBlueValue,
                                     float& nHueReturn, float& nSaturationReturn,
                                     float& nLightnessReturn) {
  double h, s, l;
  colors::HSL::RgbToHsl(nRedValue, nGreenValue, nBlueValue, h, s, l);
  nHueReturn = static_cast<float>(h);
  nSaturationReturn = static_cast<float>(s);
  nLightnessReturn = static_cast<float>(l);
  return kOk;
}

cKorvexStatus cKorvex::ColorRGBtoHSLl(int32_t nRedValue, int32_t nGreenValue, int32_t nBlueValue,
                                      float& nHueReturn, float& nSaturationReturn,
                                      float& nLightnessReturn) {
  if (!are_bytes(nRedValue, nGreenValue, nBlueValue)) return kRefused;
  return ColorRGBtoHSL(b8(nRedValue), b8(nGreenValue), b8(nBlueValue), nHueReturn,
                       nSaturationReturn, nLightnessReturn);
}

cKorvexStatus cKorvex::ColorHSLtoRGB(float nHueValue, float nSaturationValue, float nLightnessValue,
                                     uint8_t& nRed, uint8_t& nGreen, uint8_t& nBlue) {
  if (!colors::HSL::IsValidHsl(nHueValue, nSaturationValue, nLightnessValue)) return kRefused;
  colors::HSL::HslToRgb(nHueValue, nSaturationValue, nLightnessValue, nRed, nGreen, nBlue);
  return kOk;
}

cKorvexStatus cKorvex::ColorHSLtoRGBl(float nHueValue, float nSaturationValue,
                                      float nLightnessValue, int32_t& nRed, int32_t& nGreen,
                                      int32_t& nBlue) {
  uint8_t r, g, b;
  if (ColorHSLtoRGB(nHueValue, nSaturationValue, nLightnessValue, r, g, b) != kOk) return kRefused;
  put3(nRed, nGreen, nBlue, r, g, b);
  return kOk;
}

// ---- ink pictures -----------------------------------------------------------

int32_t cKorvex::GetColorChannelFlagsC() {
  return ink_picture(*s_, colors::InkChannel::C);
}
int32_t cKorvex::GetColorChannelFlagsM() {
  return ink_picture(*s_, colors::InkChannel::M);
}
int32_t cKorvex::GetColorChannelFlagsY() {
  return ink_picture(*s_, colors::InkChannel::Y);
}
int32_t cKorvex::GetColorChannelFlagsK() {
  return ink_picture(*s_, colors::InkChannel::K);
}

}  // namespace korvex
