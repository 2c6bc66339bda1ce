// The engine's pixel-effect members: the filter zone, the effect setters, the
// grayscale and blank tests, and the 3 x 3 pattern matrices.
#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/filter_engine.h"
#include "raster/handles.h"

namespace korvex {

namespace {

using filters::FilterParams;

// COLORREF order: red in the low byte.
constexpr int32_t Rgb(int32_t r, int32_t g, int32_t b) {
  return r | g << 8 | b << 16;
}
constexpr int32_t kEmbossDefault = Rgb(0, 120, 120);

// The common frame: nothing without a native image; otherwise refresh the
// zone, run the effect and record its status.
cKorvexStatus Run(cKorvex& k, int32_t effect, const FilterParams& p) {
  cKorvex::State& s = EngineAccess::state(k);
  if (s.NativeImage == 0) return s.LastStatus;
  RefreshFilterZone(k);
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return SetStatus(s, raster::Status::InvalidParameter);
  return SetStatus(s, filters::ApplyPixelFilter(effect, *img, p, s.FilterZone).status);
}

cKorvexStatus Run(cKorvex& k, int32_t effect, double param = 0.0) {
  FilterParams p;
  p.param = param;
  return Run(k, effect, p);
}

cKorvexStatus RunExtra(cKorvex& k, int32_t effect, int32_t e1, int32_t e2 = 0, int32_t e3 = 0) {
  FilterParams p;
  p.extra1 = e1;
  p.extra2 = e2;
  p.extra3 = e3;
  return Run(k, effect, p);
}

// The Boolean tests answer False on any failure and leave LastStatus as it
// was, the zone refresh included.
bool Test(cKorvex& k, int32_t effect, int32_t extra1) {
  cKorvex::State& s = EngineAccess::state(k);
  if (s.NativeImage == 0) return false;
  const cKorvexStatus before = s.LastStatus;
  RefreshFilterZone(k);
  s.LastStatus = before;
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return false;
  FilterParams p;
  p.extra1 = extra1;
  const filters::FilterResult r = filters::ApplyPixelFilter(effect, *img, p, s.FilterZone);
  return r.status == raster::Status::Ok && r.answer == 1;
}

cKorvexStatus RunPatterns(cKorvex& k, const filters::Pattern3x3& in,
                          const filters::Pattern3x3& out) {
  filters::SetMatchPatterns(in, out);
  return Run(k, filters::kMatrix3x3);
}

filters::Pattern3x3 Isolated(uint32_t centre, uint32_t around) {
  filters::Pattern3x3 m;
  m.fill(around);
  m[4] = centre;
  return m;
}

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFFu, kOpaqueBlack = 0xFF000000u;

}  // namespace

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

cKorvexStatus cKorvex::SetNegativeEffect() { return Run(*this, filters::kNegative); }
cKorvexStatus cKorvex::SetBrightnessEffect(int32_t nBrightnessPct) {
  return Run(*this, filters::kBrightness, nBrightnessPct);
}
cKorvexStatus cKorvex::SetBrigtnessEffect(int32_t nBrightnessPct) {
  return SetBrightnessEffect(nBrightnessPct);
}
cKorvexStatus cKorvex::SetContrastEffect(int32_t nContrastPct) {
  return Run(*this, filters::kContrast, nContrastPct);
}
cKorvexStatus cKorvex::SetGammaCorrectionEffect(int32_t nGammaFactor) {
  return Run(*this, filters::kGamma, nGammaFactor);
}
cKorvexStatus cKorvex::SetSaturationEffect(int32_t nSaturationPct) {
  return Run(*this, filters::kSaturation, nSaturationPct);
}
cKorvexStatus cKorvex::SetTransparencyEffect(int32_t nTransparencyValue) {
  return Run(*this, filters::kTransparency, nTransparencyValue);
}
cKorvexStatus cKorvex::SetTransparencyColorEffect(int32_t nARGBColorValue) {
  return RunExtra(*this, filters::kTransparentColor, nARGBColorValue);
}
cKorvexStatus cKorvex::SetSwapColorEffect(int32_t nARGBColorSrc, int32_t nARGBColorDst) {
  return RunExtra(*this, filters::kSwapColor, nARGBColorSrc, nARGBColorDst);
}
cKorvexStatus cKorvex::SetAdjustRGBEffect(int32_t nRedAdjust, int32_t& nGreenAdjust,
                                          int32_t& nBlueAdjust) {
  return RunExtra(*this, filters::kAdjustRGB, nRedAdjust, nGreenAdjust, nBlueAdjust);
}
cKorvexStatus cKorvex::SetRedComponentsEffect() { return Run(*this, filters::kKeepRed); }
cKorvexStatus cKorvex::SetGreenComponentsEffect() { return Run(*this, filters::kKeepGreen); }
cKorvexStatus cKorvex::SetBlueComponentsEffect() { return Run(*this, filters::kKeepBlue); }
cKorvexStatus cKorvex::SetRemoveRedComponentsEffect() { return Run(*this, filters::kRemoveRed); }
cKorvexStatus cKorvex::SetRemoveGreenComponentsEffect() {
  return Run(*this, filters::kRemoveGreen);
}
cKorvexStatus cKorvex::SetRemoveBlueComponentsEffect() {
  return Run(*this, filters::kRemoveBlue);
}
cKorvexStatus cKorvex::SetScaleRedEffect(float nFactor) {
  return Run(*this, filters::kScaleRed, nFactor);
}
cKorvexStatus cKorvex::SetScaleGreenEffect(float nFactor) {
  return Run(*this, filters::kScaleGreen, nFactor);
}
cKorvexStatus cKorvex::SetScaleBlueEffect(float nFactor) {
  return Run(*this, filters::kScaleBlue, nFactor);
}
cKorvexStatus cKorvex::SetSwapColorsRGBtoBRG() { return Run(*this, filters::kSwapChannels, 1); }
cKorvexStatus cKorvex::SetSwapColorsRGBtoGBR() { return Run(*this, filters::kSwapChannels, 2); }
cKorvexStatus cKorvex::SetSwapColorsRGBtoRBG() { return Run(*this, filters::kSwapChannels, 3); }
cKorvexStatus cKorvex::SetSwapColorsRGBtoBGR() { return Run(*this, filters::kSwapChannels, 4); }
cKorvexStatus cKorvex::SetSwapColorsRGBtoGRB() { return Run(*this, filters::kSwapChannels, 5); }
cKorvexStatus cKorvex::SetGrayscaleEffect() { return Run(*this, filters::kGrayscale, 3); }

cKorvexStatus cKorvex::SetSepiaEffect() {
  FilterParams p;
  p.hue = 0.5f;
  p.saturation = 0.25f;
  p.luminosity = 1.0f;
  return Run(*this, filters::kColorize, p);
}

cKorvexStatus cKorvex::SetColorizeEffect(float nHue, float nSaturation, float nLuminosity) {
  // Degrees to sextants: h = round(hue x 2.4) in 1/40 sextant, wrapped into -1..5.
  int32_t h = RoundHalfEven(static_cast<double>(nHue) * 2.4);
  if (h >= 201) h -= 240;
  FilterParams p;
  p.hue = static_cast<float>(h / 40.0);
  p.saturation = static_cast<float>(nSaturation / 100.0);
  p.luminosity = static_cast<float>(nLuminosity / 100.0);
  return Run(*this, filters::kColorize, p);
}

cKorvexStatus cKorvex::SetBlackNWhiteEffect(int16_t nMode) {
  switch (nMode) {
    case 1:
      return Run(*this, filters::kThresholdBW, Rgb(180, 180, 180));
    case 2:
      return Run(*this, filters::kOrderedDitherBW);
    case 3:
      return Run(*this, filters::kDiffusionDitherBW);
    default:
      return s_->LastStatus;
  }
}

cKorvexStatus cKorvex::SetStretchEffect() { return Run(*this, filters::kStretch); }
cKorvexStatus cKorvex::SetStretchContrastEffect() { return SetStretchEffect(); }
cKorvexStatus cKorvex::SetAddNoiseEffect() { return Run(*this, filters::kAddNoise, 50); }
cKorvexStatus cKorvex::SetScanLineEffect() { return Run(*this, filters::kScanLine); }
cKorvexStatus cKorvex::SetRedEyesCorrectionEffect() { return Run(*this, filters::kRedEyes); }
cKorvexStatus cKorvex::SetSharpenEffect() { return Run(*this, filters::kSharpen, 2); }
cKorvexStatus cKorvex::SetSharpenMoreEffect() { return Run(*this, filters::kSharpen, 0); }
cKorvexStatus cKorvex::SetBlurEffect() { return Run(*this, filters::kBlur); }
cKorvexStatus cKorvex::SetSmoothEffect() { return Run(*this, filters::kSmooth); }
cKorvexStatus cKorvex::SetDiffuseEffect() { return Run(*this, filters::kDiffuse, 6); }
cKorvexStatus cKorvex::SetDiffuseMoreEffect() { return Run(*this, filters::kDiffuse, 12); }
cKorvexStatus cKorvex::SetEdgeEnhanceEffect() { return Run(*this, filters::kEdgeEnhance, 1); }
cKorvexStatus cKorvex::SetContourEffect() {
  return Run(*this, filters::kContour, Rgb(255, 255, 255));
}
cKorvexStatus cKorvex::SetEmbossEffect() { return Run(*this, filters::kEmboss, kEmbossDefault); }
cKorvexStatus cKorvex::SetEmbossColorEffect(int32_t nRGBColor) {
  return Run(*this, filters::kEmboss, nRGBColor);
}
cKorvexStatus cKorvex::SetEmbossMoreEffect() {
  return Run(*this, filters::kEmbossMore, kEmbossDefault);
}
cKorvexStatus cKorvex::SetEmbossMoreColorEffect(int32_t nRGBColor) {
  return Run(*this, filters::kEmbossMore, nRGBColor);
}
cKorvexStatus cKorvex::SetEngraveEffect() { return Run(*this, filters::kEngrave, kEmbossDefault); }
cKorvexStatus cKorvex::SetEngraveColorEffect(int32_t nRGBColor) {
  return Run(*this, filters::kEngrave, nRGBColor);
}
cKorvexStatus cKorvex::SetEngraveMoreEffect() {
  return Run(*this, filters::kEngraveMore, kEmbossDefault);
}
cKorvexStatus cKorvex::SetEngraveMoreColorEffect(int32_t nRGBColor) {
  return Run(*this, filters::kEngraveMore, nRGBColor);
}
cKorvexStatus cKorvex::SetReliefEffect() { return Run(*this, filters::kRelief); }
cKorvexStatus cKorvex::SetAQUAEffect() { return Run(*this, filters::kAqua); }
cKorvexStatus cKorvex::SetDilateEffect() { return Run(*this, filters::kDilate); }
cKorvexStatus cKorvex::SetErodeEffect() { return Run(*this, filters::kErode); }
cKorvexStatus cKorvex::SetConnectedContourEffect() {
  return Run(*this, filters::kConnectedContour);
}
cKorvexStatus cKorvex::SetPixelizeEffect() { return Run(*this, filters::kPixelize, 3); }
cKorvexStatus cKorvex::SetSoftenEffect(int32_t nSoftenValue) {
  return Run(*this, filters::kSoften, nSoftenValue);
}
// Waves: extra1 carries the amplitude, extra2 the period.
cKorvexStatus cKorvex::SethWavesEffect(int32_t nWidthWave, int32_t nHeightWave) {
  return RunExtra(*this, filters::kHWaves, nHeightWave, nWidthWave);
}
cKorvexStatus cKorvex::SetvWavesEffect(int32_t nWidthWave, int32_t nHeightWave) {
  return RunExtra(*this, filters::kVWaves, nWidthWave, nHeightWave);
}

bool cKorvex::IsGrayscale() { return Test(*this, filters::kIsGrayscaleTest, 0); }
bool cKorvex::IsBlank(int32_t nConfidence) {
  return Test(*this, filters::kIsBlankTest, nConfidence);
}

int32_t cKorvex::MatrixCreate3x3x(int32_t n1PixelValue, int32_t n2PixelValue, int32_t n3PixelValue,
                                  int32_t n4PixelValue, int32_t n5PixelValue, int32_t n6PixelValue,
                                  int32_t n7PixelValue, int32_t n8PixelValue,
                                  int32_t n9PixelValue) {
  for (int32_t v : {n1PixelValue, n2PixelValue, n3PixelValue, n4PixelValue, n5PixelValue,
                    n6PixelValue, n7PixelValue, n8PixelValue, n9PixelValue}) {
    s_->Matrices3x3.push_back(static_cast<uint32_t>(v));
  }
  s_->LastStatus = cKorvexStatus::Ok;
  return static_cast<int32_t>(s_->Matrices3x3.size() / 9);
}

cKorvexStatus cKorvex::MatrixFilter3x3x(int32_t nMatrix3x3xIN, int32_t nMatrix3x3xOUT) {
  const int32_t count = static_cast<int32_t>(s_->Matrices3x3.size() / 9);
  if (s_->NativeImage == 0 || nMatrix3x3xIN < 1 || nMatrix3x3xIN > count || nMatrix3x3xOUT < 1 ||
      nMatrix3x3xOUT > count) {
    return s_->LastStatus;
  }
  filters::Pattern3x3 in, out;
  for (size_t i = 0; i < 9; ++i) {
    in[i] = s_->Matrices3x3[static_cast<size_t>(nMatrix3x3xIN - 1) * 9 + i];
    out[i] = s_->Matrices3x3[static_cast<size_t>(nMatrix3x3xOUT - 1) * 9 + i];
  }
  return RunPatterns(*this, in, out);
}

cKorvexStatus cKorvex::MatrixFilter1bpp3x3x(int32_t nMatrix3x3xIN, int32_t nMatrix3x3xOUT) {
  return MatrixFilter3x3x(nMatrix3x3xIN, nMatrix3x3xOUT);
}

cKorvexStatus cKorvex::Filter1bppParasite() {
  filters::Pattern3x3 out;
  out.fill(kOpaqueWhite);
  return RunPatterns(*this, Isolated(kOpaqueBlack, kOpaqueWhite), out);
}

cKorvexStatus cKorvex::Filter1bppDilate8() {
  filters::Pattern3x3 out;
  out.fill(kOpaqueBlack);
  return RunPatterns(*this, Isolated(kOpaqueBlack, kOpaqueWhite), out);
}

}  // namespace korvex
