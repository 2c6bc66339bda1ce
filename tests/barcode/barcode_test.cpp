// cBarCode: module strings and check characters of written examples, the
// EAN-13 sets against the published relations between them, and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "barcode/barcode.h"

namespace korvex::barcode {
namespace {

using B = cBarCode;

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

}  // namespace
}  // namespace korvex::barcode
