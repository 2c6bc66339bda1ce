// Neighbourhood effects and the 3 x 3 pattern matrices: invariants on uniform
// images, and small patterns worked out by hand, in-place order included.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "filter_helpers.h"
#include "processing/filter_testing.h"

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

using Effect = std::function<S(cKorvex&)>;

TEST(Neighbourhood, UniformImages) {
  const uint32_t v = rgb(101, 60, 200, 0x7F);
  struct Case {
    const char* name;
    Effect run;
    uint32_t inner;  // expected inner pixel value
  };
  const std::vector<Case> cases = {
      {"Blur", [](cKorvex& k) { return k.SetBlurEffect(); }, v},
      {"Smooth", [](cKorvex& k) { return k.SetSmoothEffect(); }, v},
      {"Soften0", [](cKorvex& k) { return k.SetSoftenEffect(0); }, v},
      {"Soften100", [](cKorvex& k) { return k.SetSoftenEffect(100); }, v},
      {"Sharpen", [](cKorvex& k) { return k.SetSharpenEffect(); }, v},
      {"SharpenMore", [](cKorvex& k) { return k.SetSharpenMoreEffect(); }, v},
      {"EdgeEnhance", [](cKorvex& k) { return k.SetEdgeEnhanceEffect(); }, v},
      {"Dilate", [](cKorvex& k) { return k.SetDilateEffect(); }, v},
      {"Erode", [](cKorvex& k) { return k.SetErodeEffect(); }, v},
      {"Aqua", [](cKorvex& k) { return k.SetAQUAEffect(); }, v},
      {"ConnectedContour", [](cKorvex& k) { return k.SetConnectedContourEffect(); },
       rgb(0, 0, 0, 0x7F)},
      {"Contour", [](cKorvex& k) { return k.SetContourEffect(); }, rgb(255, 255, 255, 0x7F)},
      // v / 2 + 50 per channel: 101 -> 100, 60 -> 80, 200 -> 150.
      {"Relief", [](cKorvex& k) { return k.SetReliefEffect(); }, rgb(100, 80, 150, 0x7F)},
      // Flat areas: 0 - 0 + k with k = RGB(0, 120, 120).
      {"EmbossMore", [](cKorvex& k) { return k.SetEmbossMoreEffect(); }, rgb(0, 120, 120, 0x7F)},
      {"EngraveMoreColor",
       [](cKorvex& k) { return k.SetEngraveMoreColorEffect(3 | 4 << 8 | 5 << 16); },
       rgb(3, 4, 5, 0x7F)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cKorvex k;
    const std::vector<uint32_t> px = apply(k, 6, 6, std::vector<uint32_t>(36, v), c.run);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 6; ++x) {
        // Aqua reaches two pixels in from the edge, the others one.
        const int edge = std::string(c.name) == "Aqua" ? 2 : 1;
        const bool inner = x >= edge && y >= edge && x < 6 - edge && y < 6 - edge;
        ASSERT_EQ(px[static_cast<size_t>(y * 6 + x)], inner ? c.inner : v) << x << "," << y;
      }
    }
  }
}

// Grays in a 4 x 3 zone: 0 0 0 0 / 0 a b 0 / 0 0 0 0. Only the two middle
// pixels are inner; the second sees the first already replaced.
struct InPlaceCase {
  const char* name;
  Effect run;
  uint32_t a, b;          // the two inner values before
  uint32_t out_a, out_b;  // and after
};

TEST(Neighbourhood, InPlaceEffectsSeeReplacedNeighbours) {
  const std::vector<InPlaceCase> cases = {
      // Blur: 160 / 8 = 20; then (20 + 0) / 8 = 2 (from the source it would be 10).
      {"Blur", [](cKorvex& k) { return k.SetBlurEffect(); }, 80, 160, 20, 2},
      // Smooth: (80 + 160) / 5 = 48; then (48 + 160) / 5 = 41.
      {"Smooth", [](cKorvex& k) { return k.SetSmoothEffect(); }, 80, 160, 48, 41},
      // Sharpen: (26 x 10 - 2 x 20) / 10 = 22; then (26 x 20 - 2 x 22) / 10 = 47.
      {"Sharpen", [](cKorvex& k) { return k.SetSharpenEffect(); }, 10, 20, 22, 47},
      // SharpenMore: (24 x 10 - 2 x 20) / 8 = 25; (24 x 20 - 2 x 25) / 8 = 53.
      {"SharpenMore", [](cKorvex& k) { return k.SetSharpenMoreEffect(); }, 10, 20, 25, 53},
      // Negative results truncate toward zero before the clamp: (26 x 0 - 2 x 50) / 10 < 0.
      {"SharpenClamps", [](cKorvex& k) { return k.SetSharpenEffect(); }, 0, 50, 0, 130},
      // EdgeEnhance: (10 x 10 - 20) / 2 = 40; (10 x 20 - 40) / 2 = 80.
      {"EdgeEnhance", [](cKorvex& k) { return k.SetEdgeEnhanceEffect(); }, 10, 20, 40, 80},
      // Soften 50: (U + D + L + R + 51 p) / 55: (0 + 20 + 510) / 55 = 9; (9 + 1020) / 55 = 18.
      {"Soften50", [](cKorvex& k) { return k.SetSoftenEffect(50); }, 10, 20, 9, 18},
  };
  for (const InPlaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    cKorvex k;
    EXPECT_EQ(apply(k, 4, 3, grays({0, 0, 0, 0, 0, c.a, c.b, 0, 0, 0, 0, 0}), c.run),
              grays({0, 0, 0, 0, 0, c.out_a, c.out_b, 0, 0, 0, 0, 0}));
  }
}

TEST(Neighbourhood, CopyEffectsReadTheSource) {
  // 4 x 3 grays: 10 20 30 40 / 50 60 70 80 / 90 100 110 120 (inner: 60 and 70).
  const std::vector<uint32_t> src = grays({10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120});
  struct Case {
    const char* name;
    Effect run;
    uint32_t out_a, out_b;
  };
  const std::vector<Case> cases = {
      // Dilate and Erode: block maxima 110, 120 and minima 10, 20.
      {"Dilate", [](cKorvex& k) { return k.SetDilateEffect(); }, 110, 120},
      {"Erode", [](cKorvex& k) { return k.SetErodeEffect(); }, 10, 20},
      {"ConnectedContour", [](cKorvex& k) { return k.SetConnectedContourEffect(); }, 50, 50},
      // EmbossMore with black: (UL + L + DL) - (UR + R + DR) = 150 - 210 < 0.
      {"EmbossMoreBlack", [](cKorvex& k) { return k.SetEmbossMoreColorEffect(0); }, 0, 0},
      // EngraveMore with black: (UR + R + DR) - (UL + L + DL) = 60 both times.
      {"EngraveMoreBlack", [](cKorvex& k) { return k.SetEngraveMoreColorEffect(0); }, 60, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cKorvex k;
    std::vector<uint32_t> want = src;
    want[5] = gray(c.out_a);
    want[6] = gray(c.out_b);
    EXPECT_EQ(apply(k, 4, 3, src, c.run), want);
  }
  cKorvex k;
  // Relief, 2 UL + U + L + p - R - D - 2 DR, on the reversed ramp
  // 120 110 100 90 / 80 70 60 50 / 40 30 20 10: 370 / 2 + 50 = 235, then
  // 360 / 2 + 50 = 230 (in place, the left neighbour 235 would give 312 -> 255).
  EXPECT_EQ(apply(k, 4, 3, grays({120, 110, 100, 90, 80, 70, 60, 50, 40, 30, 20, 10}),
                  &cKorvex::SetReliefEffect),
            grays({120, 110, 100, 90, 80, 235, 230, 50, 40, 30, 20, 10}));
}

TEST(Neighbourhood, EmbossAndEngraveVisitAllButTheLastRowAndColumn) {
  // 3 x 2 grays 50 70 90 / 20 40 60; k = RGB(0, 120, 120) (blue and green 120).
  cKorvex k;
  // (0,0): p - DR = 50 - 40 = 10: red 10, green and blue 130; (1,0): 70 - 60 = 10.
  EXPECT_EQ(apply(k, 3, 2, grays({50, 70, 90, 20, 40, 60}), &cKorvex::SetEmbossEffect),
            (std::vector<uint32_t>{rgb(10, 130, 130), rgb(10, 130, 130), gray(90), gray(20),
                                   gray(40), gray(60)}));
  // (0,0): DR - p = -10: |-10 + 200| = 190, |-10 + 100| = 90, |-10| = 10.
  // (1,0): 200 - 70 = 130: 330 -> 255, 230, 130.
  EXPECT_EQ(apply(k, 3, 2, grays({50, 70, 90, 20, 40, 200}),
                  [](cKorvex& e) { return e.SetEngraveColorEffect(200 | 100 << 8); }),
            (std::vector<uint32_t>{rgb(190, 90, 10), rgb(255, 230, 130), gray(90), gray(20),
                                   gray(40), gray(200)}));
}

TEST(Neighbourhood, AquaPicksTheCalmestWindow) {
  // 5 x 5 of 50 with a 59 centre and zeros in three corners: the windows
  // through those corners deviate by 94, the bottom-right one by 16 (mean 51).
  std::vector<uint32_t> px(25, gray(50));
  px[12] = gray(59);
  px[0] = px[4] = px[20] = gray(0);
  cKorvex k;
  std::vector<uint32_t> want = px;
  want[12] = gray(51);
  EXPECT_EQ(apply(k, 5, 5, px, &cKorvex::SetAQUAEffect), want);
}

TEST(Neighbourhood, PixelizeBlocksAtTheEdges) {
  // 4 x 4 grays 0..15 x 10: a 3 x 3 block, a 1 x 3 strip, a 3 x 1 strip and a pixel.
  std::vector<uint32_t> values;
  for (uint32_t i = 0; i < 16; ++i) values.push_back(i * 10);
  cKorvex k;
  // Block: (0+10+20+40+50+60+80+90+100) / 9 = 50; right strip (30+70+110) / 3 = 70;
  // bottom strip (120+130+140) / 3 = 130; corner 150.
  EXPECT_EQ(apply(k, 4, 4, grays(values), &cKorvex::SetPixelizeEffect),
            grays({50, 50, 50, 70, 50, 50, 50, 70, 50, 50, 50, 70, 130, 130, 130, 150}));
}

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

TEST(Neighbourhood, DiffuseRepeatsUnderOneSeedAndMovesColoursLocally) {
  std::vector<uint32_t> px;
  for (uint32_t i = 0; i < 64; ++i) px.push_back(rgb(i % 8, i / 8, 0, 0x20 + i));
  cKorvex k;
  const std::vector<uint32_t> first = test::seeded(k, 8, 8, px, 7, &cKorvex::SetDiffuseEffect);
  EXPECT_EQ(test::seeded(k, 8, 8, px, 7, &cKorvex::SetDiffuseEffect), first);
  EXPECT_NE(first, px);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(first[i] >> 24, px[i] >> 24);  // alpha stays
  // Uniform colour stays uniform.
  const std::vector<uint32_t> flat(64, gray(9));
  EXPECT_EQ(apply(k, 8, 8, flat, &cKorvex::SetDiffuseMoreEffect), flat);
}

// ---- pattern matrices ----------------------------------------------------------

constexpr uint32_t kW = 0xFFFFFFFFu, kB = 0xFF000000u;

std::vector<uint32_t> white_with(int32_t w, int32_t h, std::initializer_list<int> black) {
  std::vector<uint32_t> px(static_cast<size_t>(w * h), kW);
  for (int i : black) px[static_cast<size_t>(i)] = kB;
  return px;
}

TEST(Matrices, NumberedFromOne) {
  cKorvex k;
  EXPECT_EQ(k.MatrixCreate3x3x(1, 2, 3, 4, 5, 6, 7, 8, 9), 1);
  EXPECT_EQ(k.MatrixCreate3x3x(0, 0, 0, 0, 0, 0, 0, 0, 0), 2);
  cKorvex other;
  EXPECT_EQ(other.MatrixCreate3x3x(0, 0, 0, 0, 0, 0, 0, 0, 0), 1);
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

}  // namespace
}  // namespace korvex
