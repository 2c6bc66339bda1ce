// Colour values and conversions and the ink pictures, against integer arithmetic worked here.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <tuple>
#include <vector>

#include "engine_test_util.h"

namespace korvex {
namespace {

// round(num / den) with halves to even, in integers only.
int32_t div_even(int32_t num, int32_t den) {
  const int32_t q = num / den, twice_rem = 2 * (num % den);
  return twice_rem > den || (twice_rem == den && (q & 1)) ? q + 1 : q;
}

using Cmyk = std::array<int32_t, 4>;  // C, M, Y, K
Cmyk to_cmyk(int32_t r, int32_t g, int32_t b) {
  const int32_t k = 255 - std::max({r, g, b});
  if (k == 255) return {255, 255, 255, 255};
  auto ink = [k](int32_t v) { return div_even((255 - v - k) * 255, 255 - k); };
  return {ink(r), ink(g), ink(b), k};
}

TEST(Colors, WrittenValuesAndHalfEvenRounding) {
  cKorvex k;
  // Black, white and red are on the grid below. (5, 6, 6): black 249 leaves 6 levels,
  // cyan 255 / 6 = 42.5 rounds to 42.
  int32_t c = -9, m = -9, y = -9, kk = -9;
  EXPECT_EQ(k.ColorRGBtoCMYK(5, 6, 6, c, m, y, kk), S::Ok);
  EXPECT_EQ(Cmyk({c, m, y, kk}), Cmyk({42, 0, 0, 249}));
  int32_t r = -9, g = -9, b = -9;
  // Braced lists are evaluated in order: the outputs are read after the call.
  using Rgb = std::tuple<S, int32_t, int32_t, int32_t>;
  EXPECT_EQ((Rgb{k.ColorRGBtoCMY(10, 20, 30, r, g, b), r, g, b}), Rgb(S::Ok, 245, 235, 225));

  float h = 9, s = 9, l = 9;
  using Hsl = std::tuple<S, float, float, float>;
  EXPECT_EQ((Hsl{k.ColorRGBtoHSL(255, 0, 0, h, s, l), h, s, l}), Hsl(S::Ok, 0.0f, 1.0f, 0.5f));
  EXPECT_EQ((std::pair{k.ColorRGBtoHSLl(0, 0, 255, h, s, l), h}), std::pair(S::Ok, 4.0f));
  EXPECT_EQ((std::pair{k.ColorRGBtoHSL(255, 0, 255, h, s, l), h}), std::pair(S::Ok, -1.0f));
  uint8_t r8 = 0, g8 = 0, b8 = 0;
  EXPECT_EQ(k.ColorHSLtoRGB(5.0f, 1.0f, 0.5f, r8, g8, b8), S::Ok);  // 5 is magenta as well
  EXPECT_EQ(std::vector<int>({r8, g8, b8}), std::vector<int>({255, 0, 255}));

  EXPECT_EQ(k.ColorGetARGBValueFromARGB(255, 0, 0, 0), -16777216);
  EXPECT_EQ(k.ARGB(0x12, 0x34, 0x56, 0x78), 0x12345678);
  EXPECT_EQ(k.ColorGetARGBValueFromARGBl(128, 1, 2, 3), static_cast<int32_t>(0x80010203u));
  uint8_t a8 = 0;
  EXPECT_EQ(k.ColorGetARGBFromARGBValue(static_cast<int32_t>(0xFE102030u), a8, r8, g8, b8), S::Ok);
  EXPECT_EQ(std::vector<int>({a8, r8, g8, b8}), std::vector<int>({0xFE, 0x10, 0x20, 0x30}));
  EXPECT_EQ(k.GetRGB(1, 2, 3), 0x030201);
  EXPECT_EQ(k.ColorGetRGBValueFromRGBl(255, 255, 255), 0xFFFFFF);
  EXPECT_EQ((Rgb{k.ColorGetRGBFromRGBValuel(k.ColorGetRGBValueFromRGB(7, 8, 9), r, g, b), r, g, b}),
            Rgb(S::Ok, 7, 8, 9));
}

TEST(Colors, RefusedInputsLeaveOutputsAndLastStatusAlone) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(1, 1, 24), S::Ok);  // LastStatus Ok
  const float nan = std::numeric_limits<float>::quiet_NaN();
  int32_t o1 = 11, o2 = 22, o3 = 33, o4 = 44;
  uint8_t b1 = 11, b2 = 22, b3 = 33;
  float f1 = 11, f2 = 22, f3 = 33;
  const std::vector<std::function<S()>> refused = {
      [&] { return k.ColorCMYKtoRGB(0, 0, 0, -1, o1, o2, o3); },
      [&] { return k.ColorRGBtoCMYK(0, 256, 0, o1, o2, o3, o4); },
      [&] { return k.ColorRGBtoCMY(-1, 0, 0, o1, o2, o3); },
      [&] { return k.ColorCMYtoRGB(0, 0, 256, o1, o2, o3); },
      [&] { return k.ColorRGBtoHSLl(0, 0, 1000, f1, f2, f3); },
      [&] { return k.ColorHSLtoRGB(nan, 0.5f, 0.5f, b1, b2, b3); },
      [&] { return k.ColorHSLtoRGB(5.5f, 0.5f, 0.5f, b1, b2, b3); },
      [&] { return k.ColorHSLtoRGB(0, 1.5f, 0.5f, b1, b2, b3); },
      [&] { return k.ColorHSLtoRGBl(0, 0.5f, nan, o1, o2, o3); },
      [&] { return k.ColorGetRGBFromRGBValue(0x1000000, b1, b2, b3); },
      [&] { return k.ColorGetRGBFromRGBValuel(-1, o1, o2, o3); },
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(refused[i](), S::InvalidParameter) << "case " << i;
    EXPECT_EQ(std::vector<int32_t>({o1, o2, o3, o4, b1, b2, b3}),
              std::vector<int32_t>({11, 22, 33, 44, 11, 22, 33}))
        << "case " << i;
    EXPECT_EQ(std::vector<float>({f1, f2, f3}), std::vector<float>({11, 22, 33})) << "case " << i;
  }
  EXPECT_EQ(k.ColorGetRGBValueFromRGBl(256, 0, 0), -1);
  EXPECT_EQ(k.ColorGetARGBValueFromARGBl(0, 0, 0, -1), 0);
  EXPECT_EQ(k.GetStat(), S::Ok);
}

TEST(Colors, CmykAndHslRoundTripsOverAGrid) {
  cKorvex k;
  std::vector<int32_t> levels;
  for (int32_t v = 0; v < 256; v += 8) levels.push_back(v);
  levels.push_back(255);
  for (int32_t r : levels) {
    for (int32_t g : levels) {
      for (int32_t b : levels) {
        int32_t c, m, y, kk, r2 = -1, g2 = -1, b2 = -1;
        ASSERT_EQ(k.ColorRGBtoCMYK(r, g, b, c, m, y, kk), S::Ok);
        const Cmyk want = to_cmyk(r, g, b);
        ASSERT_EQ(Cmyk({c, m, y, kk}), want) << r << "," << g << "," << b;
        ASSERT_EQ(k.ColorCMYKtoRGB(c, m, y, kk, r2, g2, b2), S::Ok);
        ASSERT_EQ(std::vector<int32_t>({r2, g2, b2}), std::vector<int32_t>({r, g, b}));

        float h, s, l;
        ASSERT_EQ(k.ColorRGBtoHSLl(r, g, b, h, s, l), S::Ok);
        ASSERT_TRUE(h >= -1 && h < 5 && s >= 0 && s <= 1 && l >= 0 && l <= 1) << h << s << l;
        ASSERT_EQ(k.ColorHSLtoRGBl(h, s, l, r2, g2, b2), S::Ok);
        ASSERT_EQ(std::vector<int32_t>({r2, g2, b2}), std::vector<int32_t>({r, g, b}))
            << "HSL " << h << " " << s << " " << l;
      }
    }
  }
}

// The value a format stores for a colour, read back as ARGB.
uint32_t stored(int16_t depth, uint32_t argb) {
  cKorvex k;
  EXPECT_EQ(k.CreateImage(1, 1, depth), S::Ok);
  k.PixelSetColor(1, 1, static_cast<int32_t>(argb));
  return px(k, 1, 1);
}

TEST(Colors, InkPicturesArePixelExactInEveryKindOfFormat) {
  const std::vector<uint32_t> colours = {0xFF00FFFF, 0xFFFF00FF, 0xFFFFFF00, 0xFF000000,
                                         0xFFFFFFFF, 0xFFFF0000, 0xFF050606, 0xFFC86432,
                                         0xFF0C2238, 0x80406080, 0xFF808080, 0xFF20E0A0};
  const int32_t w = static_cast<int32_t>(colours.size());
  using Member = int32_t (cKorvex::*)();
  const Member members[4] = {&cKorvex::GetColorChannelFlagsC, &cKorvex::GetColorChannelFlagsM,
                             &cKorvex::GetColorChannelFlagsY, &cKorvex::GetColorChannelFlagsK};
  for (int16_t depth : {24, 32, 16, 48, 8, 4}) {
    cKorvex k;
    ASSERT_EQ(k.CreateImage(w, 2, depth), S::Ok);
    for (S s : {k.SetHorizontalResolution(150), k.SetVerticalResolution(300)}) ASSERT_EQ(s, S::Ok);
    for (int32_t x = 1; x <= w; ++x)
      for (int32_t y = 1; y <= 2; ++y)
        k.PixelSetColor(x, y, static_cast<int32_t>(colours[static_cast<size_t>(x - 1)]));
    const int32_t native = k.GetNativeImage();
    const bool indexed = k.IsPixelFormatIndexed();
    for (int ch = 0; ch < 4; ++ch) {
      const int32_t id = (k.*members[ch])();
      ASSERT_NE(id, 0) << depth << " " << ch;
      EXPECT_EQ(k.GetStat(), S::Ok);
      EXPECT_EQ(k.GetNativeImage(), native);
      const raster::Image* ink = img(id);
      EXPECT_EQ(ink->format(), img(native)->format());
      EXPECT_EQ(std::vector<float>({ink->dpi_x(), ink->dpi_y()}), std::vector<float>({150, 300}));
      for (int32_t x = 0; x < w; ++x) {
        // The colour the source holds after its own format stored it.
        const uint32_t src = px(k, x + 1, 2);
        const Cmyk c = to_cmyk(src >> 16 & 0xFF, src >> 8 & 0xFF, src & 0xFF);
        const uint32_t g = static_cast<uint32_t>(255 - c[static_cast<size_t>(ch)]);
        const uint32_t want = (src & 0xFF000000u) | g * 0x010101u;
        // Indexed pictures get exact grays in their palette; the others store them.
        EXPECT_EQ(pixel(id, x, 1), indexed ? want : stored(depth, want))
            << "depth " << depth << " ink " << ch << " colour " << std::hex << src;
      }
      EXPECT_EQ(k.CloseImage(id), S::Ok);
    }
  }
  {  // wider than one tile of columns: the last tile is separated too
    cKorvex k;
    const int32_t wide = (1 << 20) + 2;
    ASSERT_EQ(k.CreateImage(wide, 1, 24), S::Ok);  // white: no ink
    k.PixelSetColor(wide, 1, static_cast<int32_t>(0xFFC86432u));
    const int32_t id = k.GetColorChannelFlagsM();
    ASSERT_NE(id, 0);
    const uint32_t g = static_cast<uint32_t>(255 - to_cmyk(0xC8, 0x64, 0x32)[1]);
    EXPECT_EQ(std::vector<uint32_t>({pixel(id, 0, 0), pixel(id, wide - 1, 0)}),
              std::vector<uint32_t>({0xFFFFFFFFu, 0xFF000000u | g * 0x010101u}));
  }
  cKorvex none;
  EXPECT_EQ(none.GetColorChannelFlagsC(), 0);
  EXPECT_EQ(none.GetStat(), S::Ok);
}

}  // namespace
}  // namespace korvex
