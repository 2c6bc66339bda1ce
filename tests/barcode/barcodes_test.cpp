// Barcodes: module strings, check characters, the engine's members and zbarimg read-backs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
using B = barcode::cBarCode;
enum Kind { EAN13, C39, C39Check, I25, I25Check };

TEST(BarCodeModules, WrittenExamplesAndEanSetRelations) {
  const std::string ean = B::EAN13_Binaire("1234567890128");
  EXPECT_EQ(ean.size(), 95u + 4u);
  EXPECT_EQ(ean.substr(0, 11) + ean.substr(46, 7),
            "101-0010011"
            "+01010-");                                   // 2 in set A
  EXPECT_EQ(ean.substr(ean.size() - 11), "1001000+101");  // 8 in set C
  // Start "*" with its gap, "0" = EEELLELEE, "A" = LEEEELEEL, stop "*".
  EXPECT_EQ(B::Code39_Binaire("0A"),
            "1001011011010"
            "1010011011010"
            "1101010010110"
            "100101101101");
  // Start EEEE; 1 (LEEEL) as bars interleaved with 2 (ELEEL) as spaces; stop LEEE.
  EXPECT_EQ(B::Code25i_Binaire("12"),
            "1010"
            "11010010101100"
            "11010");
  // Leading 1 (parity AABABB) puts digit 2 in set A and digit 4 in set B:
  // A is the complement of C, B the mirror of C, A has odd bar parity.
  for (char d = '0'; d <= '9'; ++d) {
    const std::string s = B::EAN13_Binaire(std::string("1") + d + "0" + d + "000" + d + "00000");
    const std::string a = s.substr(4, 7), b = s.substr(18, 7), c = s.substr(53, 7);
    std::string not_c;
    for (char m : c) not_c += m == '1' ? '0' : '1';
    EXPECT_EQ(a, not_c) << d;
    EXPECT_EQ(b, std::string(c.rbegin(), c.rend())) << d;
    EXPECT_EQ(std::count(a.begin(), a.end(), '1') % 2, 1) << d;
  }
}

TEST(BarCodeChecks, WrittenExamplesAndRefusals) {
  EXPECT_EQ(B::CalculNumControlCodeBarre("123456789012"), "1234567890128");
  EXPECT_EQ(B::CalculNumControlCodeBarre("000000000000"), "0000000000000");  // not "10"
  EXPECT_TRUE(B::CheckSumValide("4006381333931"));
  EXPECT_FALSE(B::CheckSumValide("4006381333932"));
  EXPECT_EQ(B::C39_Mod43("CODE 39"), "R");  // 12 + 24 + 13 + 14 + 38 + 3 + 9 = 113
  EXPECT_EQ(B::C39_Mod43("ab*"), B::C39_Mod43("   "));
  EXPECT_EQ(B::calculCheckSum2of5("123"), "6");  // 3x3 + 2 + 3x1 = 14
  // Texts the encoders cannot take give nothing, never a table read with them.
  for (const char* bad : {"", "12345678901a8", "123456789012", "1234567890128 "}) {
    EXPECT_EQ(B::EAN13_Binaire(bad), "") << bad;
    EXPECT_FALSE(B::CheckSumValide(bad)) << bad;
  }
  EXPECT_EQ(B::CalculNumControlCodeBarre("12345678901:"), "");
  EXPECT_EQ(B::Code25i_Binaire("123"), "");  // odd count
  for (const char* bad : {"", "12a4", "-123", "\xff\xfe"}) {
    EXPECT_EQ(B::Code25i_Binaire(bad) + B::calculCheckSum2of5(bad), "") << bad;
  }
}

S draw(cKorvex& k, Kind kind, const std::string& text, int32_t x = 20, int32_t y = 5,
       int32_t h = 35, int32_t color = static_cast<int32_t>(0xFF000000)) {
  if (kind == EAN13) return k.BarCodeDrawEAN13(text, x, y, h, h > 50 ? 9 : 0, color);
  if (kind == C39 || kind == C39Check)
    return k.BarCodeDraw39(text, x, y, h, kind == C39Check, color);
  return k.BarCodeDraw25i(text, x, y, h, kind == I25Check, color);
}

std::vector<uint32_t> pixels_of(cKorvex& k) {
  return testutil::argb_pixels(*raster::find_image(k.GetNativeImage()));
}

// A white 24-bit image after a drawing with the expected status.
std::vector<uint32_t> drawn(Kind kind, const std::string& text, S want = S::Ok, int32_t h = 35) {
  cKorvex k;
  k.CreateNewImage(400, 90, 24, -1);
  EXPECT_EQ(draw(k, kind, text, 20, 5, h), want) << text;
  EXPECT_EQ(k.GetStat(), want) << text;
  return pixels_of(k);
}

TEST(BarCodeDraw, RefusedTextsDrawNothingAndEquivalentTextsDrawTheSameSymbol) {
  const std::vector<uint32_t> blank = drawn(C39, "1", S::InvalidParameter, 0);
  const std::vector<std::pair<Kind, std::vector<std::string>>> refused = {
      {EAN13, {"12345678901", "1234567890129", "12345678901a", "+12345678901"}},
      {C39, {"   ", std::string(40, 'A')}},
      {I25, {"", "12 34", "1e3"}},
      {I25Check, {"12a4"}}};
  for (const auto& [kind, texts] : refused) {
    for (const std::string& t : texts) EXPECT_EQ(drawn(kind, t, S::InvalidBarCode), blank) << t;
  }
  cKorvex none;  // without an image: nothing drawn, the last status returned
  none.LoadFromFile("/no/such/file.png");
  EXPECT_EQ(draw(none, EAN13, "123456789012"), S::FileNotFound);

  const std::tuple<Kind, std::string, Kind, std::string> same[] = {
      {EAN13, "123456789012", EAN13, " 1234567890128 "},
      {I25, "123", I25, "1230"},  // an odd count gets a 0
      {I25Check, "123", I25, "1236"},
      {C39Check, "CODE39", C39, "CODE39W"},
      // Lower case and characters outside the set, one per character (not
      // per UTF-8 byte), are spaces.
      {C39, "abc", C39, "x*y"},
      {C39, "A\xC3\xA9Z", C39, "A Z"}};
  for (const auto& [k1, t1, k2, t2] : same) {
    const std::vector<uint32_t> a = drawn(k1, t1, S::Ok, 70);
    EXPECT_NE(a, blank) << t1;
    EXPECT_EQ(a, drawn(k2, t2, S::Ok, 70)) << t1;
  }
}

// Opaque bars go straight onto the pixels, translucent ones through the
// drawing surface: both must give what DrawFillRectangle gives bar by bar.
TEST(BarCodeDraw, BarsMatchDrawFillRectangleOnEveryPixelFormat) {
  const std::vector<barcode::BarRect> bars =
      barcode::LayOutBars(B::Code39_Binaire("K9"), 4, 2, 2, 70, 0);
  for (int16_t format : {1, 4, 8, 16, 24, 32, 48, 64}) {
    for (uint32_t color : {0xFF000000u, 0xFFC01020u, 0x80FF0000u}) {
      cKorvex symbol, reference;
      symbol.CreateNewImage(130, 60, format, static_cast<int32_t>(0xFF80A0C0));
      reference.CreateNewImage(130, 60, format, static_cast<int32_t>(0xFF80A0C0));
      ASSERT_EQ(draw(symbol, C39, "K9", 5, 3, 70, static_cast<int32_t>(color)), S::Ok);
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
  k.CreateNewImage(300, 100, 24, -1);
  ASSERT_EQ(k.BarCodeDrawEAN13("4006381333931", 31, 5, 70, 8), S::Ok);
  auto dark = [&](int32_t x, int32_t y) { return (k.PixelGetColor(x, y) & 0xFF) < 128; };
  // Left guard bar: columns 31-32, rows 5-74; the first digit bar (0 in set
  // A is 0001101: modules 6-7, columns 43-46) ends at row 67.
  EXPECT_TRUE(dark(31, 5) && dark(32, 74) && !dark(31, 75) && !dark(33, 40));
  EXPECT_TRUE(dark(43, 67) && dark(46, 67) && !dark(43, 68) && !dark(42, 40));
  auto ink_in = [&](int32_t x0, int32_t x1) {
    int32_t n = 0;
    for (int32_t y = 68; y <= 95; ++y)
      for (int32_t x = x0; x <= x1; ++x) n += dark(x, y);
    return n;
  };
  // "4" from x = 31 - 18, left of the bars; the others between the guards.
  EXPECT_TRUE(ink_in(13, 29) > 0 && ink_in(37, 120) > 0 && ink_in(129, 212) > 0);
  EXPECT_EQ(ink_in(1, 12), 0);
}

TEST(BarCodeChecksums, MembersLeaveTheStatusAlone) {
  cKorvex k;
  k.LoadFromFile("/no/such/file.png");
  EXPECT_EQ(k.BarCodeGetChecksumEAN13("123456789012") +
                k.BarCodeGetChecksumEAN13(" 1234567890129") +
                k.BarCodeGetChecksumEAN13("12345678901x") + k.BarCodeGetChecksum25i("12.3") +
                k.BarCodeGetChecksum39("CODE 39") + k.BarCodeGetChecksum25i("123"),
            "2829R6");
  EXPECT_EQ(
      std::pair(k.BarCodeIsValidEAN13("4006381333931"), k.BarCodeIsValidEAN13("400638133393a")),
      std::pair(true, false));
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
}

// What zbar must read (it verifies no optional check character, so the
// drawn one is part of the text).
const std::tuple<Kind, std::string, std::string> kRead[] = {
    {EAN13, "123456789012", "EAN-13:1234567890128"},
    {EAN13, "4006381333931", "EAN-13:4006381333931"},
    {EAN13, "9780201379624", "EAN-13:9780201379624"},
    {C39, "0123456789ABCDEFGHIJ", "CODE-39:0123456789ABCDEFGHIJ"},
    {C39, "KLMNOPQRSTUVWXYZ-. $/+%", "CODE-39:KLMNOPQRSTUVWXYZ-. $/+%"},
    {C39Check, "CODE 39", "CODE-39:CODE 39R"},
    {C39, "lower", "CODE-39:     "},
    {I25, "123456", "I2/5:123456"},
    {I25, "2143658709", "I2/5:2143658709"},  // every digit as bars and as spaces
    {I25, "9876543", "I2/5:98765430"},
    {I25Check, "0012345", "I2/5:00123457"}};

// Each symbol alone on a white page with quiet zones of 12 modules or more,
// at module widths 1 to 4 on 24-bit pages, and on indexed and 1-bit pages.
TEST(BarCodeZbar, ReadsEverySymbolAtEveryModuleWidthAndOnIndexedAndBilevelImages) {
  testutil::ScratchDir dir;
  const int16_t formats[] = {24, 24, 24, 24, 1, 4, 8, 32};
  const int32_t heights[] = {40, 70, 105, 150, 70, 70, 70, 70};
  for (size_t i = 0; i < std::size(formats); ++i) {
    const int16_t format = formats[i];
    const int32_t height = heights[i];
    const int32_t m = std::max(1, (height + 17) / 35);
    for (const auto& [kind, text, read] : kRead) {
      cKorvex k;
      ASSERT_NE(k.CreateNewImage(390 * m, height + 30 * m, format, -1), 0);
      ASSERT_EQ(draw(k, kind, text, 1 + 16 * m, 1 + 5 * m, height), S::Ok) << text;
      ASSERT_EQ(k.SaveAsPng(dir.file("symbol.png")), S::Ok);
      std::string out;
      testutil::run("zbarimg -q --nodbus '" + dir.file("symbol.png") + "' 2>/dev/null", &out);
      EXPECT_EQ(out, read + "\n") << "format " << format << ", bar height " << height;
    }
  }
}

}  // namespace
}  // namespace korvex
