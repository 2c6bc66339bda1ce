// Waves, Diffuse and the 3 x 3 pattern matrices, worked out by hand; the 3 x 3
// effects are checked pixel by pixel against the model in reference_model_test.
#include <gtest/gtest.h>

#include "filter_helpers.h"
#include "processing/filter_testing.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using test::apply;
using test::get;
using test::gray;
using test::grays;
using test::put;
using test::rgb;

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
