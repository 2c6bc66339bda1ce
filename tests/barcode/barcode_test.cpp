// cBarCode: the tables against the published relations between them, the
// module strings and check characters of written examples, and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "barcode/bar_renderer.h"
#include "barcode/barcode.h"

namespace korvex::barcode {
namespace {

using B = cBarCode;

// One Code 39 character of the module string between start and stop.
std::string code39_char(char c) {
  const std::string all = B::Code39_Binaire(std::string(1, c));
  return all.substr(13, all.size() - 13 - 12);
}

TEST(BarCodeTables, FollowThePublishedStructure) {
  // EAN-13 digits: "101-", then each digit's 7 modules; A is the complement
  // of C and B the mirror of C; A codes have an odd number of bar modules.
  const std::string zeros = B::EAN13_Binaire("0000000000000");
  EXPECT_EQ(zeros.substr(0, 11), "101-0001101");
  for (char d = '0'; d <= '9'; ++d) {
    // Leading digit 1 gives parity AABABB: digit 2 in set A, digit 4 in B.
    const std::string s = B::EAN13_Binaire(std::string("1") + d + "0" + d + "000" + d + "00000");
    const std::string a = s.substr(4, 7), b = s.substr(18, 7), c = s.substr(53, 7);
    std::string not_c, mirror_c(c.rbegin(), c.rend());
    for (char m : c) not_c += m == '1' ? '0' : '1';
    EXPECT_EQ(a, not_c) << d;
    EXPECT_EQ(b, mirror_c) << d;
    EXPECT_EQ(std::count(a.begin(), a.end(), '1') % 2, 1) << d;
  }
  // Code 39: 43 distinct characters of 9 elements, three of them wide.
  std::set<std::string> seen;
  for (int32_t v = 0; v < 43; ++v) {
    const char c = B::Code39Char(v);
    ASSERT_EQ(B::Code39Value(c), v);
    const std::string m = code39_char(c);
    EXPECT_EQ(m.size(), 13u) << c;  // 6 narrow + 3 wide + the gap
    EXPECT_EQ(m.back(), '0') << c;
    seen.insert(m);
  }
  EXPECT_EQ(seen.size(), 43u);
  // Interleaved 2 of 5: ten distinct digits, two wide elements of five.
  seen.clear();
  for (char d = '0'; d <= '9'; ++d) {
    const std::string m = B::Code25i_Binaire(std::string(1, d) + d);
    EXPECT_EQ(m.size(), 4u + 14u + 5u) << d;  // 2 x (3 narrow + 2 wide) modules
    seen.insert(m);
  }
  EXPECT_EQ(seen.size(), 10u);
}

TEST(BarCodeModules, WrittenExamples) {
  const std::string ean = B::EAN13_Binaire("1234567890128");
  EXPECT_EQ(ean.size(), 95u + 4u);
  EXPECT_EQ(ean.substr(46, 7), "+01010-");
  EXPECT_EQ(ean.substr(ean.size() - 11), "1001000+101");  // 8 in set C, end guard
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
}

TEST(BarCodeChecks, WrittenExamplesAndRefusals) {
  EXPECT_EQ(B::CalculNumControlCodeBarre("123456789012"), "1234567890128");
  EXPECT_EQ(B::CalculNumControlCodeBarre("400638133393"), "4006381333931");
  EXPECT_EQ(B::CalculNumControlCodeBarre("000000000000"), "0000000000000");  // not "10"
  EXPECT_TRUE(B::CheckSumValide("1234567890128"));
  EXPECT_FALSE(B::CheckSumValide("1234567890129"));
  EXPECT_EQ(B::C39_Mod43("CODE39"), "W");   // 12 + 24 + 13 + 14 + 3 + 9 = 75
  EXPECT_EQ(B::C39_Mod43("CODE 39"), "R");  // + 38 for the space
  EXPECT_EQ(B::C39_Mod43("ab*"), B::C39_Mod43("   "));
  EXPECT_EQ(B::calculCheckSum2of5("123"), "6");  // 3x3 + 2 + 3x1 = 14
  EXPECT_EQ(B::calculCheckSum2of5("1234567"), "0");
  // Texts the encoders cannot take: never a table read with them.
  for (const char* bad : {"", "12345678901a8", "123456789012", "1234567890128 "}) {
    EXPECT_EQ(B::EAN13_Binaire(bad), "") << bad;
    EXPECT_FALSE(B::CheckSumValide(bad)) << bad;
  }
  for (const char* bad : {"", "123", "12a4", "12 4", "-123"}) {
    EXPECT_EQ(B::Code25i_Binaire(bad), "") << bad;
  }
  for (const char* bad : {"", "1 2", "x", "\xff"}) EXPECT_EQ(B::calculCheckSum2of5(bad), "") << bad;
  EXPECT_EQ(B::CalculNumControlCodeBarre("12345678901:"), "");
}

TEST(BarRenderer, RunsGuardsAndRounding) {
  // "1101-1+1": a 2-module bar, a 1-module bar shortened by the guard, then
  // full height again; x advances by whole modules from a half-pixel start.
  const std::vector<BarRect> bars = LayOutBars("1101-1+1", 2.5, 7, 3, 20, 4);
  ASSERT_EQ(bars.size(), 4u);
  const double want[4][4] = {{2, 7, 6, 20}, {12, 7, 3, 20}, {14, 7, 3, 16}, {18, 7, 3, 20}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(bars[i].x, want[i][0]) << i;
    EXPECT_EQ(bars[i].width, want[i][2]) << i;
    EXPECT_EQ(bars[i].height, want[i][3]) << i;
  }
}

}  // namespace
}  // namespace korvex::barcode
