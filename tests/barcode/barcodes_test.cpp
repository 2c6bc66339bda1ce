// The engine's barcode members: refusals that leave the image untouched,
// texts that must draw the same symbol, and exact bars on every stored
// pixel format.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../codecs/codec_test_util.h"
#include "barcode/bar_renderer.h"
#include "barcode/barcode.h"
#include "korvex/korvex.h"
#include "raster/handles.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
constexpr int32_t kWhite = -1;
constexpr uint32_t kBlack = 0xFF000000;
using Draw = std::function<S(cKorvex&)>;

std::vector<uint32_t> pixels_of(cKorvex& k) {
  return testutil::argb_pixels(*raster::find_image(k.GetNativeImage()));
}

// The pixels of a fresh white 24-bit image after a drawing.
std::vector<uint32_t> drawn(const Draw& draw, S want = S::Ok) {
  cKorvex k;
  k.CreateNewImage(400, 90, 24, kWhite);
  EXPECT_EQ(draw(k), want);
  return pixels_of(k);
}

TEST(BarCodeDraw, RefusedTextsDrawNothing) {
  const std::vector<std::pair<const char*, Draw>> refused = {
      {"EAN 11 digits", [](cKorvex& k) { return k.BarCodeDrawEAN13("12345678901", 20, 5, 35); }},
      {"EAN wrong check",
       [](cKorvex& k) { return k.BarCodeDrawEAN13("1234567890129", 20, 5, 35); }},
      {"EAN letter", [](cKorvex& k) { return k.BarCodeDrawEAN13("12345678901a", 20, 5, 35); }},
      {"EAN signs", [](cKorvex& k) { return k.BarCodeDrawEAN13("+12345678901", 20, 5, 35); }},
      {"39 empty", [](cKorvex& k) { return k.BarCodeDraw39("   ", 20, 5, 35); }},
      {"39 40 chars", [](cKorvex& k) { return k.BarCodeDraw39(std::string(40, 'A'), 20, 5, 35); }},
      {"25i empty", [](cKorvex& k) { return k.BarCodeDraw25i("", 20, 5, 35); }},
      {"25i letter", [](cKorvex& k) { return k.BarCodeDraw25i("12a4", 20, 5, 35, true); }},
      {"25i inner space", [](cKorvex& k) { return k.BarCodeDraw25i("12 34", 20, 5, 35); }},
      {"25i number forms", [](cKorvex& k) { return k.BarCodeDraw25i("1e3", 20, 5, 35); }},
  };
  const std::vector<uint32_t> blank = drawn([](cKorvex&) { return S::Ok; });
  for (const auto& [name, draw] : refused) {
    cKorvex k;
    k.CreateNewImage(400, 90, 24, kWhite);
    EXPECT_EQ(draw(k), S::InvalidBarCode) << name;
    EXPECT_EQ(k.GetStat(), S::InvalidBarCode) << name;
    EXPECT_EQ(pixels_of(k), blank) << name;
  }
  EXPECT_EQ(drawn([](cKorvex& k) { return k.BarCodeDraw39("A", 20, 5, 0); }, S::InvalidParameter),
            blank);
  // Without an image: nothing drawn, the last status returned.
  cKorvex k;
  k.LoadFromFile("/no/such/file.png");
  EXPECT_EQ(k.BarCodeDrawEAN13("123456789012", 1, 1, 35), S::FileNotFound);
}

TEST(BarCodeDraw, EquivalentTextsDrawTheSameSymbol) {
  const std::vector<std::pair<Draw, Draw>> same = {
      {[](cKorvex& k) { return k.BarCodeDrawEAN13("123456789012", 30, 5, 70, 9); },
       [](cKorvex& k) { return k.BarCodeDrawEAN13(" 1234567890128 ", 30, 5, 70, 9); }},
      {[](cKorvex& k) { return k.BarCodeDraw25i("123", 10, 5, 35); },
       [](cKorvex& k) { return k.BarCodeDraw25i("1230", 10, 5, 35); }},
      {[](cKorvex& k) { return k.BarCodeDraw25i("123", 10, 5, 35, true); },
       [](cKorvex& k) { return k.BarCodeDraw25i("1236", 10, 5, 35); }},
      {[](cKorvex& k) { return k.BarCodeDraw39("CODE39", 10, 5, 35, true); },
       [](cKorvex& k) { return k.BarCodeDraw39("CODE39W", 10, 5, 35); }},
      // Lower case and any character outside the set (one per character,
      // not per UTF-8 byte) are spaces.
      {[](cKorvex& k) { return k.BarCodeDraw39("abc", 10, 5, 35); },
       [](cKorvex& k) { return k.BarCodeDraw39("x*y", 10, 5, 35); }},
      {[](cKorvex& k) { return k.BarCodeDraw39("A\xC3\xA9Z", 10, 5, 35); },
       [](cKorvex& k) { return k.BarCodeDraw39("A Z", 10, 5, 35); }},
  };
  const std::vector<uint32_t> blank = drawn([](cKorvex&) { return S::Ok; });
  for (size_t i = 0; i < same.size(); ++i) {
    const std::vector<uint32_t> a = drawn(same[i].first);
    EXPECT_NE(a, blank) << i;
    EXPECT_EQ(a, drawn(same[i].second)) << i;
  }
}

// Each module column black over the bar height where the module string has
// a bar, white elsewhere, with white rows above and below; on every format.
TEST(BarCodeDraw, ExactBarsOnEveryPixelFormat) {
  const std::string modules = barcode::cBarCode::Code39_Binaire("K9");
  for (int16_t format : {1, 4, 8, 16, 24, 32, 48, 64}) {
    cKorvex k;
    ASSERT_NE(k.CreateNewImage(80, 50, format, kWhite), 0) << format;
    ASSERT_EQ(k.BarCodeDraw39("K9", 11, 6, 52), S::Ok) << format;  // module width 1
    for (size_t i = 0; i < modules.size(); ++i) {
      const int32_t x = 11 + static_cast<int32_t>(i);
      const uint32_t ink = modules[i] == '1' ? kBlack : 0xFFFFFFFF;
      for (int32_t y : {6, 30, 50}) {
        EXPECT_EQ(static_cast<uint32_t>(k.PixelGetColor(x, y)), ink)
            << format << " " << x << "," << y;
      }
      EXPECT_EQ(static_cast<uint32_t>(k.PixelGetColor(x, 5)), 0xFFFFFFFFu) << format;
    }
    EXPECT_EQ(static_cast<uint32_t>(k.PixelGetColor(10, 20)), 0xFFFFFFFFu) << format;
  }
}

// Opaque bars go straight onto the pixels, translucent ones through the
// drawing surface: both must give what DrawFillRectangle gives for each bar,
// on every format, over a background that is not white.
TEST(BarCodeDraw, BarsMatchDrawFillRectangleOnEveryPixelFormat) {
  const std::vector<barcode::BarRect> bars =
      barcode::LayOutBars(barcode::cBarCode::Code39_Binaire("K9"), 4, 2, 2, 70, 0);
  for (int16_t format : {1, 4, 8, 16, 24, 32, 48, 64}) {
    for (uint32_t color : {0xFF000000u, 0xFFC01020u, 0x80FF0000u, 0x00000000u}) {
      cKorvex symbol, reference;
      for (cKorvex* k : {&symbol, &reference}) {
        ASSERT_NE(k->CreateNewImage(130, 60, format, static_cast<int32_t>(0xFF80A0C0)), 0);
      }
      ASSERT_EQ(symbol.BarCodeDraw39("K9", 5, 3, 70, false, static_cast<int32_t>(color)), S::Ok);
      for (const barcode::BarRect& b : bars) {
        reference.DrawFillRectangle(static_cast<int32_t>(b.x) + 1, static_cast<int32_t>(b.y) + 1,
                                    static_cast<int32_t>(b.width), static_cast<int32_t>(b.height),
                                    static_cast<int32_t>(color));
      }
      EXPECT_EQ(pixels_of(symbol), pixels_of(reference)) << format << " " << std::hex << color;
    }
  }
}

TEST(BarCodeDraw, EanGuardsReachBelowTheDigitBarsWhenDigitsArePrinted) {
  // Height 70: module 2, guard extension 7, digits from row 0.9 x 70 + 5 = 68.
  cKorvex k;
  k.CreateNewImage(300, 100, 24, kWhite);
  ASSERT_EQ(k.BarCodeDrawEAN13("4006381333931", 31, 5, 70, 8), S::Ok);
  auto dark = [&](int32_t x, int32_t y) { return (k.PixelGetColor(x, y) & 0xFF) < 128; };
  // Left guard bar: columns 31-32, rows 5-74; the first digit bar (0 in set
  // A is 0001101: modules 6-7 of the symbol, columns 43-46) ends at row 67.
  EXPECT_TRUE(dark(31, 5) && dark(32, 74) && !dark(31, 75) && !dark(33, 40));
  EXPECT_TRUE(dark(43, 67) && dark(46, 67) && !dark(43, 68) && !dark(42, 40));
  // The digits: "4" left of the bars from x = 31 - 18, the others under them.
  auto ink_in = [&](int32_t x0, int32_t x1) {
    int32_t n = 0;
    for (int32_t y = 68; y <= 95; ++y)
      for (int32_t x = x0; x <= x1; ++x) n += dark(x, y);
    return n;
  };
  EXPECT_GT(ink_in(13, 29), 0);
  EXPECT_GT(ink_in(37, 120), 0);
  EXPECT_GT(ink_in(129, 212), 0);
  EXPECT_EQ(ink_in(1, 12), 0);
}

TEST(BarCodeChecksums, MembersAndTheirEdgeTexts) {
  cKorvex k;
  k.LoadFromFile("/no/such/file.png");  // the checks leave GetStat alone
  EXPECT_EQ(k.BarCodeGetChecksumEAN13("123456789012"), "28");
  EXPECT_EQ(k.BarCodeGetChecksumEAN13(" 1234567890129"), "29");
  EXPECT_EQ(k.BarCodeGetChecksumEAN13("12345678901x"), "");
  EXPECT_EQ(k.BarCodeGetChecksumEAN13("1234567890"), "");
  EXPECT_TRUE(k.BarCodeIsValidEAN13("4006381333931"));
  EXPECT_FALSE(k.BarCodeIsValidEAN13("4006381333932"));
  EXPECT_FALSE(k.BarCodeIsValidEAN13("400638133393a"));
  EXPECT_EQ(k.BarCodeGetChecksum39("CODE 39"), "R");
  EXPECT_EQ(k.BarCodeGetChecksum25i("123"), "6");
  EXPECT_EQ(k.BarCodeGetChecksum25i("12.3"), "");
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
}

}  // namespace
}  // namespace korvex
