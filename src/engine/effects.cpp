// The pixel-effect members: colour and tone effects, black-and-white
// conversions, and the neighbourhood effects (sharpen, blur, emboss, waves
// and the rest), each run over the filter zone of the native image.
#include <cstdint>

#include "engine/effects.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/filter_engine.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

using filters::FilterParams;

// COLORREF order: red in the low byte.
constexpr int32_t Rgb(int32_t r, int32_t g, int32_t b) {
  return r | g << 8 | b << 16;
}
constexpr int32_t kEmbossDefault = Rgb(0, 120, 120);

// The members below that run one point effect with at most one scalar: a
// fixed value, or their Long argument.
struct PointMember {
  const char* name;
  int32_t effect;
  bool takes_argument;
  double fixed = 0.0;
};
constexpr PointMember kPointMembers[] = {
    {"SetNegativeEffect", filters::kNegative, false},
    {"SetBrightnessEffect", filters::kBrightness, true},
    {"SetBrigtnessEffect", filters::kBrightness, true},
    {"SetContrastEffect", filters::kContrast, true},
    {"SetGammaCorrectionEffect", filters::kGamma, true},
    {"SetSaturationEffect", filters::kSaturation, true},
    {"SetGrayscaleEffect", filters::kGrayscale, false, 3},
    {"SetStretchEffect", filters::kStretch, false},
    {"SetStretchContrastEffect", filters::kStretch, false},
};

// The neighbourhood members of the same shape.
constexpr PointMember kNeighbourhoodMembers[] = {
    {"SetSharpenEffect", filters::kSharpen, false, 2},
    {"SetSharpenMoreEffect", filters::kSharpen, false, 0},
    {"SetBlurEffect", filters::kBlur, false},
    {"SetSmoothEffect", filters::kSmooth, false},
    {"SetEdgeEnhanceEffect", filters::kEdgeEnhance, false, 1},
    {"SetContourEffect", filters::kContour, false, Rgb(255, 255, 255)},
    {"SetEmbossEffect", filters::kEmboss, false, kEmbossDefault},
    {"SetEmbossColorEffect", filters::kEmboss, true},
    {"SetEmbossMoreEffect", filters::kEmbossMore, false, kEmbossDefault},
    {"SetEmbossMoreColorEffect", filters::kEmbossMore, true},
    {"SetEngraveEffect", filters::kEngrave, false, kEmbossDefault},
    {"SetEngraveColorEffect", filters::kEngrave, true},
    {"SetEngraveMoreEffect", filters::kEngraveMore, false, kEmbossDefault},
    {"SetEngraveMoreColorEffect", filters::kEngraveMore, true},
    {"SetReliefEffect", filters::kRelief, false},
    {"SetAQUAEffect", filters::kAqua, false},
    {"SetDilateEffect", filters::kDilate, false},
    {"SetErodeEffect", filters::kErode, false},
    {"SetConnectedContourEffect", filters::kConnectedContour, false},
    {"SetPixelizeEffect", filters::kPixelize, false, 3},
    {"SetSoftenEffect", filters::kSoften, true},
};

template <size_t N>
bool find_member(const PointMember (&table)[N], const std::string& member,
                 const std::vector<int32_t>& args, int32_t& effect, filters::FilterParams& p) {
  for (const PointMember& m : table) {
    if (member != m.name || args.size() != (m.takes_argument ? 1u : 0u)) continue;
    effect = m.effect;
    p = filters::FilterParams{};
    p.param = m.takes_argument ? static_cast<double>(args[0]) : m.fixed;
    return true;
  }
  return false;
}

}  // namespace

bool PointEffectMember(const std::string& member, const std::vector<int32_t>& args,
                       int32_t& effect, filters::FilterParams& p) {
  if (member == "SetBlackNWhiteEffect" && args.size() == 1 && args[0] >= 1 && args[0] <= 3) {
    // The three modes as SetBlackNWhiteEffect runs them; others do nothing.
    constexpr int32_t kModes[] = {filters::kThresholdBW, filters::kOrderedDitherBW,
                                  filters::kDiffusionDitherBW};
    effect = kModes[args[0] - 1];
    p = filters::FilterParams{};
    if (args[0] == 1) p.param = Rgb(180, 180, 180);
    return true;
  }
  return find_member(kPointMembers, member, args, effect, p);
}

bool NeighbourhoodEffectMember(const std::string& member, const std::vector<int32_t>& args,
                               int32_t& effect, filters::FilterParams& p) {
  return find_member(kNeighbourhoodMembers, member, args, effect, p);
}

cKorvexStatus cKorvex::SetNegativeEffect() {
  return RunEffect(*this, filters::kNegative);
}
cKorvexStatus cKorvex::SetBrightnessEffect(int32_t nBrightnessPct) {
  return RunEffect(*this, filters::kBrightness, nBrightnessPct);
}
cKorvexStatus cKorvex::SetBrigtnessEffect(int32_t nBrightnessPct) {
  return SetBrightnessEffect(nBrightnessPct);
}
cKorvexStatus cKorvex::SetContrastEffect(int32_t nContrastPct) {
  return RunEffect(*this, filters::kContrast, nContrastPct);
}
cKorvexStatus cKorvex::SetGammaCorrectionEffect(int32_t nGammaFactor) {
  return RunEffect(*this, filters::kGamma, nGammaFactor);
}
cKorvexStatus cKorvex::SetSaturationEffect(int32_t nSaturationPct) {
  return RunEffect(*this, filters::kSaturation, nSaturationPct);
}
cKorvexStatus cKorvex::SetTransparencyEffect(int32_t nTransparencyValue) {
  return RunEffect(*this, filters::kTransparency, nTransparencyValue);
}
cKorvexStatus cKorvex::SetTransparencyColorEffect(int32_t nARGBColorValue) {
  FilterParams p;
  p.colors.from = static_cast<uint32_t>(nARGBColorValue);
  return RunEffect(*this, filters::kTransparentColor, p);
}
cKorvexStatus cKorvex::SetSwapColorEffect(int32_t nARGBColorSrc, int32_t nARGBColorDst) {
  FilterParams p;
  p.colors.from = static_cast<uint32_t>(nARGBColorSrc);
  p.colors.to = static_cast<uint32_t>(nARGBColorDst);
  return RunEffect(*this, filters::kSwapColor, p);
}
cKorvexStatus cKorvex::SetAdjustRGBEffect(int32_t nRedAdjust, int32_t& nGreenAdjust,
                                          int32_t& nBlueAdjust) {
  FilterParams p;
  p.offsets = {nRedAdjust, nGreenAdjust, nBlueAdjust};
  return RunEffect(*this, filters::kAdjustRGB, p);
}
cKorvexStatus cKorvex::SetRedComponentsEffect() {
  return RunEffect(*this, filters::kKeepRed);
}
cKorvexStatus cKorvex::SetGreenComponentsEffect() {
  return RunEffect(*this, filters::kKeepGreen);
}
cKorvexStatus cKorvex::SetBlueComponentsEffect() {
  return RunEffect(*this, filters::kKeepBlue);
}
cKorvexStatus cKorvex::SetRemoveRedComponentsEffect() {
  return RunEffect(*this, filters::kRemoveRed);
}
cKorvexStatus cKorvex::SetRemoveGreenComponentsEffect() {
  return RunEffect(*this, filters::kRemoveGreen);
}
cKorvexStatus cKorvex::SetRemoveBlueComponentsEffect() {
  return RunEffect(*this, filters::kRemoveBlue);
}
cKorvexStatus cKorvex::SetScaleRedEffect(float nFactor) {
  return RunEffect(*this, filters::kScaleRed, nFactor);
}
cKorvexStatus cKorvex::SetScaleGreenEffect(float nFactor) {
  return RunEffect(*this, filters::kScaleGreen, nFactor);
}
cKorvexStatus cKorvex::SetScaleBlueEffect(float nFactor) {
  return RunEffect(*this, filters::kScaleBlue, nFactor);
}
cKorvexStatus cKorvex::SetSwapColorsRGBtoBRG() {
  return RunEffect(*this, filters::kSwapChannels, 1);
}
cKorvexStatus cKorvex::SetSwapColorsRGBtoGBR() {
  return RunEffect(*this, filters::kSwapChannels, 2);
}
cKorvexStatus cKorvex::SetSwapColorsRGBtoRBG() {
  return RunEffect(*this, filters::kSwapChannels, 3);
}
cKorvexStatus cKorvex::SetSwapColorsRGBtoBGR() {
  return RunEffect(*this, filters::kSwapChannels, 4);
}
cKorvexStatus cKorvex::SetSwapColorsRGBtoGRB() {
  return RunEffect(*this, filters::kSwapChannels, 5);
}
cKorvexStatus cKorvex::SetGrayscaleEffect() {
  return RunEffect(*this, filters::kGrayscale, 3);
}

cKorvexStatus cKorvex::SetSepiaEffect() {
  FilterParams p;
  p.colorize = {0.5f, 0.25f, 1.0f};
  return RunEffect(*this, filters::kColorize, p);
}

cKorvexStatus cKorvex::SetColorizeEffect(float nHue, float nSaturation, float nLuminosity) {
  // Degrees to sextants: h = round(hue x 2.4) in 1/40 sextant, wrapped into -1..5.
  int32_t h = RoundHalfEven(static_cast<double>(nHue) * 2.4);
  if (h >= 201) h -= 240;
  FilterParams p;
  p.colorize.hue = static_cast<float>(h / 40.0);
  p.colorize.saturation = static_cast<float>(nSaturation / 100.0);
  p.colorize.luminosity = static_cast<float>(nLuminosity / 100.0);
  return RunEffect(*this, filters::kColorize, p);
}

cKorvexStatus cKorvex::SetBlackNWhiteEffect(int16_t nMode) {
  switch (nMode) {
    case 1:
      return RunEffect(*this, filters::kThresholdBW, Rgb(180, 180, 180));
    case 2:
      return RunEffect(*this, filters::kOrderedDitherBW);
    case 3:
      return RunEffect(*this, filters::kDiffusionDitherBW);
    default:
      return s_->LastStatus;
  }
}

cKorvexStatus cKorvex::SetStretchEffect() {
  return RunEffect(*this, filters::kStretch);
}
cKorvexStatus cKorvex::SetStretchContrastEffect() {
  return SetStretchEffect();
}
cKorvexStatus cKorvex::SetAddNoiseEffect() {
  return RunEffect(*this, filters::kAddNoise, 50);
}
cKorvexStatus cKorvex::SetScanLineEffect() {
  return RunEffect(*this, filters::kScanLine);
}
cKorvexStatus cKorvex::SetRedEyesCorrectionEffect() {
  return RunEffect(*this, filters::kRedEyes);
}
cKorvexStatus cKorvex::SetSharpenEffect() {
  return RunEffect(*this, filters::kSharpen, 2);
}
cKorvexStatus cKorvex::SetSharpenMoreEffect() {
  return RunEffect(*this, filters::kSharpen, 0);
}
cKorvexStatus cKorvex::SetBlurEffect() {
  return RunEffect(*this, filters::kBlur);
}
cKorvexStatus cKorvex::SetSmoothEffect() {
  return RunEffect(*this, filters::kSmooth);
}
cKorvexStatus cKorvex::SetDiffuseEffect() {
  return RunEffect(*this, filters::kDiffuse, 6);
}
cKorvexStatus cKorvex::SetDiffuseMoreEffect() {
  return RunEffect(*this, filters::kDiffuse, 12);
}
cKorvexStatus cKorvex::SetEdgeEnhanceEffect() {
  return RunEffect(*this, filters::kEdgeEnhance, 1);
}
cKorvexStatus cKorvex::SetContourEffect() {
  return RunEffect(*this, filters::kContour, Rgb(255, 255, 255));
}
cKorvexStatus cKorvex::SetEmbossEffect() {
  return RunEffect(*this, filters::kEmboss, kEmbossDefault);
}
cKorvexStatus cKorvex::SetEmbossColorEffect(int32_t nRGBColor) {
  return RunEffect(*this, filters::kEmboss, nRGBColor);
}
cKorvexStatus cKorvex::SetEmbossMoreEffect() {
  return RunEffect(*this, filters::kEmbossMore, kEmbossDefault);
}
cKorvexStatus cKorvex::SetEmbossMoreColorEffect(int32_t nRGBColor) {
  return RunEffect(*this, filters::kEmbossMore, nRGBColor);
}
cKorvexStatus cKorvex::SetEngraveEffect() {
  return RunEffect(*this, filters::kEngrave, kEmbossDefault);
}
cKorvexStatus cKorvex::SetEngraveColorEffect(int32_t nRGBColor) {
  return RunEffect(*this, filters::kEngrave, nRGBColor);
}
cKorvexStatus cKorvex::SetEngraveMoreEffect() {
  return RunEffect(*this, filters::kEngraveMore, kEmbossDefault);
}
cKorvexStatus cKorvex::SetEngraveMoreColorEffect(int32_t nRGBColor) {
  return RunEffect(*this, filters::kEngraveMore, nRGBColor);
}
cKorvexStatus cKorvex::SetReliefEffect() {
  return RunEffect(*this, filters::kRelief);
}
cKorvexStatus cKorvex::SetAQUAEffect() {
  return RunEffect(*this, filters::kAqua);
}
cKorvexStatus cKorvex::SetDilateEffect() {
  return RunEffect(*this, filters::kDilate);
}
cKorvexStatus cKorvex::SetErodeEffect() {
  return RunEffect(*this, filters::kErode);
}
cKorvexStatus cKorvex::SetConnectedContourEffect() {
  return RunEffect(*this, filters::kConnectedContour);
}
cKorvexStatus cKorvex::SetPixelizeEffect() {
  return RunEffect(*this, filters::kPixelize, 3);
}
cKorvexStatus cKorvex::SetSoftenEffect(int32_t nSoftenValue) {
  return RunEffect(*this, filters::kSoften, nSoftenValue);
}
// Horizontal waves run along the rows: each column moves up or down by up to
// the wave height, the sine's period set by the wave width. Vertical waves run
// down the columns: each row moves sideways by up to the wave width, the
// period set by the wave height.
cKorvexStatus cKorvex::SethWavesEffect(int32_t nWidthWave, int32_t nHeightWave) {
  FilterParams p;
  p.waves = {nHeightWave, nWidthWave};
  return RunEffect(*this, filters::kHWaves, p);
}
cKorvexStatus cKorvex::SetvWavesEffect(int32_t nWidthWave, int32_t nHeightWave) {
  FilterParams p;
  p.waves = {nWidthWave, nHeightWave};
  return RunEffect(*this, filters::kVWaves, p);
}

}  // namespace korvex
