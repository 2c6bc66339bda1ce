// Point, neighbourhood and pattern-matrix effects, zones, indexed images and the kernels'
// typed parameters on hand-worked bytes; effects with a pixel rule: reference_model_test.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <string>

#include "filter_helpers.h"
#include "processing/filter_engine.h"
#include "processing/filter_testing.h"
#include "processing/lut_apply.h"
#include "raster/version.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using test::apply;
using test::get;
using test::gray;
using test::grays;
using test::native;
using test::put;
using test::rgb;

struct PointCase {
  const char* name;
  std::function<S(cKorvex&)> run;
  std::vector<uint32_t> in, out;  // one row
};

TEST(PointEffects, HandComputedBytes) {
  int32_t green = -20, blue = 300;
  const std::vector<PointCase> cases = {
      // Same member under its second spelling; f = 0.5 and halves go to even: 5 -> 2, 7 -> 4.
      {"Brigtness-50", [](cKorvex& k) { return k.SetBrigtnessEffect(-50); }, {rgb(5, 7, 200)},
       {rgb(2, 4, 100)}},
      // Every pixel of a row, alpha kept.
      {"Negative", &cKorvex::SetNegativeEffect,
       {rgb(0x10, 0x20, 0x30, 0x80), rgb(200, 100, 50, 0x10), gray(77)},
       {rgb(0xEF, 0xDF, 0xCF, 0x80), rgb(55, 155, 205, 0x10), gray(178)}},
      // Saturation -100: every channel becomes floor((R + G + B) / 3).
      {"Saturation-100", [](cKorvex& k) { return k.SetSaturationEffect(-100); },
       {rgb(10, 20, 32), rgb(255, 0, 1)}, {gray(20), gray(85)}},
      // Saturation 50 (s = 0.5), m = 20: 10 -> 5, 21 -> 21.5 -> 22, 29 -> 33.5 -> 34.
      {"Saturation50", [](cKorvex& k) { return k.SetSaturationEffect(50); }, {rgb(10, 21, 29)},
       {rgb(5, 22, 34)}},
      {"SwapBRG", &cKorvex::SetSwapColorsRGBtoBRG, {rgb(1, 2, 3)}, {rgb(3, 1, 2)}},
      {"SwapGBR", &cKorvex::SetSwapColorsRGBtoGBR, {rgb(1, 2, 3)}, {rgb(2, 3, 1)}},
      {"SwapRBG", &cKorvex::SetSwapColorsRGBtoRBG, {rgb(1, 2, 3)}, {rgb(1, 3, 2)}},
      {"SwapBGR", &cKorvex::SetSwapColorsRGBtoBGR, {rgb(1, 2, 3), rgb(200, 100, 50, 0x10), gray(77)},
       {rgb(3, 2, 1), rgb(50, 100, 200, 0x10), gray(77)}},
      {"SwapGRB", &cKorvex::SetSwapColorsRGBtoGRB, {rgb(1, 2, 3)}, {rgb(2, 1, 3)}},
      // Threshold RGB(180, 180, 180): black only when all three are below it.
      {"ThresholdBW", [](cKorvex& k) { return k.SetBlackNWhiteEffect(1); },
       {rgb(179, 179, 179, 9), rgb(180, 0, 0)}, {gray(0, 9), gray(255)}},
      {"TransparencyDown", [](cKorvex& k) { return k.SetTransparencyEffect(-100); },
       {rgb(1, 2, 3, 128), rgb(1, 2, 3, 50)}, {rgb(1, 2, 3, 28), rgb(1, 2, 3, 0)}},
      {"TransparencyUp", [](cKorvex& k) { return k.SetTransparencyEffect(200); },
       {rgb(1, 2, 3, 128)}, {rgb(1, 2, 3, 255)}},
      {"AdjustRGB", [&](cKorvex& k) { return k.SetAdjustRGBEffect(10, green, blue); },
       {rgb(250, 10, 0)}, {rgb(255, 0, 255)}},
      // round(51 / 2) = 26 (halves to even), 3 x 26 < 200: red halves. round(67 / 2) = 34:
      // 102 is not below 100, so the second pixel stays.
      {"RedEyes", &cKorvex::SetRedEyesCorrectionEffect, {rgb(200, 50, 51), rgb(100, 67, 0)},
       {rgb(100, 50, 51), rgb(100, 67, 0)}},
      {"KeepRed", &cKorvex::SetRedComponentsEffect, {rgb(0x11, 0x22, 0x33, 0x80)},
       {rgb(0x11, 0, 0, 0x80)}},
      {"KeepGreen", &cKorvex::SetGreenComponentsEffect, {rgb(0x11, 0x22, 0x33)}, {rgb(0, 0x22, 0)}},
      {"KeepBlue", &cKorvex::SetBlueComponentsEffect, {rgb(0x11, 0x22, 0x33)}, {rgb(0, 0, 0x33)}},
      {"RemoveRed", &cKorvex::SetRemoveRedComponentsEffect, {rgb(0x11, 0x22, 0x33)},
       {rgb(0, 0x22, 0x33)}},
      // RemoveGreen and RemoveBlue: Zone.ARowZoneThenThePictureAgain.
      {"ScaleRed", [](cKorvex& k) { return k.SetScaleRedEffect(1.5f); },
       {rgb(100, 100, 100), rgb(200, 1, 1)}, {rgb(150, 100, 100), rgb(255, 1, 1)}},
      {"ScaleGreenNegative", [](cKorvex& k) { return k.SetScaleGreenEffect(-1.0f); },
       {rgb(9, 100, 9)}, {rgb(9, 0, 9)}},
      {"ScaleBlueHalves", [](cKorvex& k) { return k.SetScaleBlueEffect(0.5f); },
       {rgb(1, 1, 5), rgb(1, 1, 7)}, {rgb(1, 1, 2), rgb(1, 1, 4)}},
      // The colour's alpha is not compared.
      {"TransparentColor",
       [](cKorvex& k) { return k.SetTransparencyColorEffect(static_cast<int32_t>(0x80112233)); },
       {rgb(0x11, 0x22, 0x33), rgb(0x11, 0x22, 0x34)},
       {rgb(0x11, 0x22, 0x33, 0), rgb(0x11, 0x22, 0x34)}},
      // All four bytes must match.
      {"SwapColor",
       [](cKorvex& k) {
         return k.SetSwapColorEffect(static_cast<int32_t>(0xFF112233),
                                     static_cast<int32_t>(0x80445566));
       },
       {rgb(0x11, 0x22, 0x33), rgb(0x11, 0x22, 0x33, 0xFE)},
       {rgb(0x44, 0x55, 0x66, 0x80), rgb(0x11, 0x22, 0x33, 0xFE)}},
      // Gamma 2: sqrt(64 / 255) x 255 = 127.75 -> 128.
      {"Gamma200", [](cKorvex& k) { return k.SetGammaCorrectionEffect(200); }, {rgb(0, 64, 255)},
       {rgb(0, 128, 255)}},
      {"StretchContrast", &cKorvex::SetStretchContrastEffect, {gray(10), gray(20)},
       {gray(0), gray(255)}},
      // Sepia (hue 0.5, saturation 0.25, luminosity 1): L = 384 / 765 gives
      // m1 = 0.37745, m2 = 0.62647: 159.75, 128.0, 96.25.
      {"Sepia", &cKorvex::SetSepiaEffect, {gray(128, 0x33), gray(255), gray(0)},
       {rgb(160, 128, 96, 0x33), gray(255), gray(0)}},
      // Colorize at 0 degrees, saturation 100 %, luminosity 100 %: pure red at L = 0.5.
      {"ColorizeRed", [](cKorvex& k) { return k.SetColorizeEffect(0, 100, 100); },
       {rgb(255, 0, 0)}, {rgb(170, 0, 0)}},
  };
  for (const PointCase& c : cases) {
    SCOPED_TRACE(c.name);
    cKorvex k;
    EXPECT_EQ(apply(k, static_cast<int32_t>(c.in.size()), 1, c.in, c.run), c.out);
  }
}

TEST(PointEffects, RefusedParametersChangeNothing) {
  cKorvex k;
  const std::vector<uint32_t> px = grays({10, 20, 30, 40, 50, 60, 70, 80, 90});
  put(k, 3, 3, px);
  const std::vector<std::pair<const char*, std::function<S(cKorvex&)>>> refused = {
      {"gamma 0", [](cKorvex& e) { return e.SetGammaCorrectionEffect(0); }},
      {"gamma -5", [](cKorvex& e) { return e.SetGammaCorrectionEffect(-5); }},
      {"hwaves period 0", [](cKorvex& e) { return e.SethWavesEffect(0, 3); }},
      {"vwaves period 0", [](cKorvex& e) { return e.SetvWavesEffect(3, 0); }},
      {"soften 101", [](cKorvex& e) { return e.SetSoftenEffect(101); }},
  };
  for (const auto& [name, run] : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(run(k), S::InvalidParameter);
    EXPECT_EQ(k.GetStat(), S::InvalidParameter);
    EXPECT_EQ(get(k), px);
  }
  // Modes outside 1..3 do nothing and keep the last status.
  k.GetWidth();
  EXPECT_EQ(k.SetBlackNWhiteEffect(4), S::Ok);
  k.PixelGetColor(0, 0);  // InvalidParameter
  EXPECT_EQ(k.SetBlackNWhiteEffect(0), S::InvalidParameter);
  EXPECT_EQ(get(k), px);
}

TEST(PointEffects, NoNativeImageKeepsLastStatus) {
  cKorvex k;
  k.GetWidth();  // InvalidParameter on a fresh engine
  EXPECT_EQ(k.SetNegativeEffect(), S::InvalidParameter);
  EXPECT_EQ(k.MatrixFilter3x3x(1, 1), S::InvalidParameter);
  EXPECT_FALSE(k.IsGrayscale());
  EXPECT_FALSE(k.IsBlank());
}

TEST(SeededEffects, RepeatUnderOneSeedAndKeepAlpha) {
  cKorvex k;
  // Noise moves red by at most 50; blue at 240 stays near the top.
  const std::vector<uint32_t> flat(64, rgb(128, 20, 240, 0x44));
  const std::vector<uint32_t> noisy = test::seeded(k, 8, 8, flat, 42, &cKorvex::SetAddNoiseEffect);
  EXPECT_EQ(test::seeded(k, 8, 8, flat, 42, &cKorvex::SetAddNoiseEffect), noisy);
  int changed = 0;
  for (uint32_t p : noisy) {
    EXPECT_EQ(p >> 24, 0x44u);
    EXPECT_LE(std::abs(static_cast<int>((p >> 16) & 0xFF) - 128), 50);
    EXPECT_GE(p & 0xFF, 190u);
    changed += p != flat[0];
  }
  EXPECT_GT(changed, 32);
  // Diffuse moves colours, never alpha; a uniform colour stays uniform.
  std::vector<uint32_t> px;
  for (uint32_t i = 0; i < 64; ++i) px.push_back(rgb(i % 8, i / 8, 0, 0x20 + i));
  const std::vector<uint32_t> moved = test::seeded(k, 8, 8, px, 7, &cKorvex::SetDiffuseEffect);
  EXPECT_EQ(test::seeded(k, 8, 8, px, 7, &cKorvex::SetDiffuseEffect), moved);
  EXPECT_NE(moved, px);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(moved[i] >> 24, px[i] >> 24);
  const std::vector<uint32_t> uniform(64, gray(9));
  EXPECT_EQ(apply(k, 8, 8, uniform, &cKorvex::SetDiffuseMoreEffect), uniform);
}

TEST(ZoneTests, IsBlankThresholdsAndStatus) {
  cKorvex k;
  put(k, 100, 100, std::vector<uint32_t>(10000, 0xFFFFFFFFu));
  EXPECT_TRUE(k.IsBlank(100));
  EXPECT_TRUE(k.IsBlank());
  // At 98 %, t = floor(2 x 7.65) = 15 and 100 x 100 / 100 x 2 = 200 ink pixels are allowed.
  raster::Image& img = native(k);
  for (int32_t i = 0; i < 200; ++i) img.set_pixel(i % 100, i / 100, 0xFF000000u);
  EXPECT_TRUE(k.IsBlank(98));
  img.set_pixel(50, 50, gray(255 - 5));  // 765 - 750 = 15: not above t, not ink
  EXPECT_TRUE(k.IsBlank(98));
  img.set_pixel(51, 50, rgb(255, 255, 239));  // 16 below white: ink
  EXPECT_FALSE(k.IsBlank(98));
  EXPECT_TRUE(k.IsBlank(97));
  // The tests leave the last status alone, zone refresh included.
  k.PixelGetColor(0, 0);
  ASSERT_EQ(k.GetStat(), S::InvalidParameter);
  k.IsBlank();
  k.IsGrayscale();
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
}

TEST(ZoneTests, IsGrayscale) {
  cKorvex k;
  put(k, 3, 2, grays({0, 50, 100, 150, 200, 255}));
  EXPECT_TRUE(k.IsGrayscale());
  native(k).set_pixel(2, 1, rgb(1, 1, 2));
  EXPECT_FALSE(k.IsGrayscale());
  k.FiltersToZone(1, 1, 3, 1);  // the first row only
  EXPECT_TRUE(k.IsGrayscale());
}

// Zones are checked for every effect in reference_model_test; here the last row as a zone,
// and FiltersToPicture ending it, in place and through the work buffer.
TEST(Zone, ARowZoneThenThePictureAgain) {
  for (int16_t depth : {32, 24}) {
    SCOPED_TRACE(depth);
    cKorvex k;
    put(k, 20, 20, std::vector<uint32_t>(400, 0xFF102030u), depth);
    k.FiltersToZone(20, 1, 20, 1);
    ASSERT_EQ(k.SetRemoveGreenComponentsEffect(), S::Ok);
    EXPECT_EQ(get(k)[19 * 20 + 19], 0xFF100030u);
    EXPECT_EQ(get(k)[18 * 20 + 19], 0xFF102030u);
    k.FiltersToPicture();
    ASSERT_EQ(k.SetRemoveBlueComponentsEffect(), S::Ok);
    EXPECT_EQ(get(k)[18 * 20 + 19], 0xFF102000u);
  }
}

TEST(Zone, EmptyAndOutsideZones) {
  cKorvex k;
  const std::vector<uint32_t> px = grays({1, 2, 3, 4, 5, 6});
  put(k, 3, 2, px);
  k.FiltersToZone(1, 1, 0, 2);
  k.PixelGetColor(0, 0);  // InvalidParameter, replaced by the effect's Ok
  EXPECT_EQ(k.SetNegativeEffect(), S::Ok);
  EXPECT_EQ(get(k), px);
  const std::vector<std::array<int32_t, 4>> outside = {
      {1, 1, 4, 2}, {2, 1, 3, 2}, {0, 1, 1, 1}, {1, -1, 2, 1}, {1, 3, 0x7FFFFFFF, 1}};
  for (auto [top, left, w, h] : outside) {
    k.FiltersToZone(top, left, w, h);
    EXPECT_EQ(k.SetNegativeEffect(), S::InvalidParameter);
    EXPECT_EQ(k.SetBlurEffect(), S::InvalidParameter);
    EXPECT_EQ(get(k), px);
  }
}

TEST(Indexed, NegativeAndBrightnessChangeOnlyThePalette) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 1, 8), S::Ok);
  raster::Image& img = native(k);
  ASSERT_EQ(img.set_palette({0, {0xFF000000u, 0xFF102030u, 0x80FFFFFFu, 0xFF646464u}}),
            raster::Status::Ok);
  for (int x = 0; x < 4; ++x) img.surface().row(0)[x] = static_cast<uint8_t>(x);
  k.FiltersToZone(1, 1, 1, 1);  // the palette path ignores the zone's extent
  ASSERT_EQ(k.SetNegativeEffect(), S::Ok);
  EXPECT_EQ(img.palette().entries,
            (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFEFDFCFu, 0x80000000u, 0xFF9B9B9Bu}));
  ASSERT_EQ(k.SetBrightnessEffect(50), S::Ok);
  EXPECT_EQ(img.palette().entries,
            (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu, 0x80000000u, 0xFFE8E8E8u}));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(img.surface().row(0)[x], x);
}

// Index of a 1-bit pixel as stored.
int bit_at(raster::Image& img, int x, int y) {
  return (img.surface().row(y)[x / 8] >> (7 - x % 8)) & 1;
}

TEST(Indexed, OneBitWriteBackFollowsTheRedByteOnBothPaletteOrders) {
  for (bool min_is_white : {false, true}) {
    SCOPED_TRACE(min_is_white);
    cKorvex k;
    ASSERT_EQ(k.CreateImage(10, 2, 1), S::Ok);
    raster::Image& img = native(k);
    if (min_is_white) {
      ASSERT_EQ(img.set_palette({0, {0xFFFFFFFFu, 0xFF000000u}}), raster::Status::Ok);
    }
    const int white = min_is_white ? 0 : 1;
    // Every pixel white (both rows), then effects on part of the image.
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 10; ++x) ASSERT_EQ(img.set_pixel(x, y, 0xFFFFFFFFu), raster::Status::Ok);
    // Red 255 with green halved: stays white. Red removed: becomes black.
    ASSERT_EQ(k.SetScaleGreenEffect(0.5f), S::Ok);
    k.FiltersToZone(1, 3, 5, 1);  // columns 3..7 of the first row, off a byte boundary
    ASSERT_EQ(k.SetRemoveRedComponentsEffect(), S::Ok);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool black = y == 0 && x >= 2 && x <= 6;
        EXPECT_EQ(bit_at(img, x, y), black ? 1 - white : white) << x << "," << y;
      }
  }
}

TEST(Indexed, EightBitColoursMapToTheNearestEntry) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(2, 1, 8), S::Ok);
  raster::Image& img = native(k);
  // Red becomes blue through the nearest entry (0, 0, 250), with both raster versions (the
  // older one maps the colours itself).
  for (const char* version : {"", "5.1.3102.5512"}) {
    SCOPED_TRACE(version);
    raster::set_version_text_for_testing(version);
    ASSERT_EQ(img.set_palette({0, {rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 250), rgb(0, 0, 0)}}),
              raster::Status::Ok);
    img.surface().row(0)[0] = 0;
    img.surface().row(0)[1] = 1;
    ASSERT_EQ(k.SetSwapColorsRGBtoBGR(), S::Ok);
    EXPECT_EQ(img.surface().row(0)[0], 2);
    EXPECT_EQ(img.surface().row(0)[1], 1);
  }
  raster::set_version_text_for_testing("");
}

// ---- neighbourhood effects --------------------------------------------------

TEST(Neighbourhood, Waves) {
  std::vector<uint32_t> src;
  for (uint32_t i = 1; i <= 9; ++i) src.push_back(gray(i));
  cKorvex k;
  // Amplitude 0 changes nothing.
  put(k, 3, 3, src);
  ASSERT_EQ(k.SetvWavesEffect(0, 5), S::Ok);
  ASSERT_EQ(k.SethWavesEffect(5, 0), S::Ok);
  EXPECT_EQ(get(k), src);
  // Horizontal waves with amplitude 1, period 1: off = round(sin(x)) = 1, 1, 0 by
  // column; columns 1 and 2 move up one row, the bottom row keeps its old values.
  EXPECT_EQ(apply(k, 3, 3, src, [](cKorvex& e) { return e.SethWavesEffect(1, 1); }),
            grays({4, 5, 3, 7, 8, 6, 7, 8, 9}));
  // Vertical waves, amplitude 1, period 1: rows 1 and 2 move left by one; the
  // first pixel of row 2 wraps to the end of row 1; row 2's last stays.
  EXPECT_EQ(apply(k, 3, 3, src, [](cKorvex& e) { return e.SetvWavesEffect(1, 1); }),
            grays({2, 3, 4, 5, 6, 6, 7, 8, 9}));
}

// ---- pattern matrices ----------------------------------------------------------

constexpr uint32_t kW = 0xFFFFFFFFu, kB = 0xFF000000u;

std::vector<uint32_t> white_with(int32_t w, int32_t h, std::initializer_list<int> black) {
  std::vector<uint32_t> px(static_cast<size_t>(w * h), kW);
  for (int i : black) px[static_cast<size_t>(i)] = kB;
  return px;
}

TEST(Matrices, ParasiteAndDilateOnIsolatedDots) {
  for (int16_t depth : {32, 1}) {
    SCOPED_TRACE(depth);
    cKorvex k;
    // 7 x 5: an isolated dot at (2, 2), dots on the border at (0, 0) and
    // (3, 4), and two side by side inside at (5, 2) and (5, 3).
    const std::vector<uint32_t> px =
        white_with(7, 5, {2 * 7 + 2, 0, 4 * 7 + 3, 2 * 7 + 5, 3 * 7 + 5});
    EXPECT_EQ(apply(k, 7, 5, px, &cKorvex::Filter1bppParasite, depth),
              white_with(7, 5, {0, 4 * 7 + 3, 2 * 7 + 5, 3 * 7 + 5}));
    EXPECT_EQ(
        apply(k, 7, 5, px, &cKorvex::Filter1bppDilate8, depth),
        white_with(7, 5, {0, 8, 9, 10, 15, 16, 17, 22, 23, 24, 4 * 7 + 3, 2 * 7 + 5, 3 * 7 + 5}));
  }
}

TEST(Matrices, UserPatternsIgnoreAlphaAndSeeEarlierReplacements) {
  cKorvex k;
  const int32_t w = static_cast<int32_t>(kW), b = static_cast<int32_t>(kB);
  // IN: a white 3 x 3 block; OUT: white with a black centre. Given as
  // half-transparent, so only the colours take part.
  const int32_t tw = 0x80FFFFFF;
  const int32_t in = k.MatrixCreate3x3x(tw, tw, tw, tw, tw, tw, tw, tw, tw);
  const int32_t out = k.MatrixCreate3x3x(w, w, w, w, b & 0x00FFFFFF, w, w, w, w);
  EXPECT_EQ(std::pair(in, out), std::pair(1, 2));  // numbered from 1 by each engine
  EXPECT_EQ(cKorvex().MatrixCreate3x3x(w, w, w, w, w, w, w, w, w), 1);
  // 5 x 3 white, alpha 0x40: the window at x = 1 matches and blackens (1, 1);
  // the one at x = 2 then sees that black pixel and does not match; x = 3 does.
  put(k, 5, 3, std::vector<uint32_t>(15, 0x40FFFFFFu));
  ASSERT_EQ(k.MatrixFilter3x3x(in, out), S::Ok);
  std::vector<uint32_t> want(15, 0x40FFFFFFu);
  want[6] = want[8] = 0x40000000u;  // alpha kept
  EXPECT_EQ(get(k), want);
  // Unknown numbers do nothing and return the last status.
  k.PixelGetColor(0, 0);
  EXPECT_EQ(k.MatrixFilter1bpp3x3x(in, 3), S::InvalidParameter);
  EXPECT_EQ(k.MatrixFilter1bpp3x3x(0, out), S::InvalidParameter);
  EXPECT_EQ(get(k), want);
  EXPECT_EQ(k.MatrixFilter1bpp3x3x(out, in), S::Ok);  // black centre back to white
  EXPECT_EQ(get(k), std::vector<uint32_t>(15, 0x40FFFFFFu));
}

// ---- the kernels alone: typed parameters and a raster rectangle, no engine state -----

filters::PatternPair lone_black_to(uint32_t out) {
  filters::PatternPair p;
  p.in.fill(kW);
  p.in[4] = kB;
  p.out.fill(out);
  return p;
}

// Each run uses its own patterns and only windows inside the zone: the 3 x 3 corner zone
// clears (1, 1) but not (3, 3); the second run paints (3, 3)'s window red. In place (32-bit)
// and through bands (24-bit). The engine only holds the image.
TEST(KernelParams, PatternPairsComeWithEachRunAndStayInTheZone) {
  for (int16_t depth : {32, 24}) {
    SCOPED_TRACE(depth);
    cKorvex k;
    std::vector<uint32_t> px = white_with(5, 5, {1 * 5 + 1, 3 * 5 + 3});
    put(k, 5, 5, px, depth);
    filters::FilterParams clear, paint;
    clear.patterns = lone_black_to(kW);
    paint.patterns = lone_black_to(0xFFFF0000u);
    const auto run = [&](const filters::FilterParams& p, raster::Rect zone) {
      return filters::ApplyPixelFilter(filters::kMatrix3x3, native(k), p, zone).status;
    };
    ASSERT_EQ(run(clear, {0, 0, 3, 3}), raster::Status::Ok);
    px[1 * 5 + 1] = kW;
    EXPECT_EQ(get(k), px);
    ASSERT_EQ(run(paint, {0, 0, 5, 5}), raster::Status::Ok);
    for (int i = 0; i < 9; ++i) px[static_cast<size_t>((2 + i / 3) * 5 + 2 + i % 3)] = 0xFFFF0000u;
    EXPECT_EQ(get(k), px);
  }
}

}  // namespace
}  // namespace korvex
