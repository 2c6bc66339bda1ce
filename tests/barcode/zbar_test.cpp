// Every symbol drawn by the engine, at several module widths and on the
// stored pixel formats, read back by zbar's zbarimg as the text encoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "../codecs/codec_test_util.h"
#include "korvex/korvex.h"

namespace korvex {
namespace {

using S = cKorvexStatus;

enum class Kind { EAN13, Code39, Code39Check, I25, I25Check };

struct Case {
  Kind kind;
  std::string text;  // what is drawn
  std::string read;  // what zbar must read
};

// zbar reports EAN-13 with its check digit, Code 39 and Interleaved 2 of 5
// with every character drawn (it verifies no optional check character).
const std::vector<Case> kCases = {
    {Kind::EAN13, "123456789012", "EAN-13:1234567890128"},
    {Kind::EAN13, "4006381333931", "EAN-13:4006381333931"},
    {Kind::EAN13, "9780201379624", "EAN-13:9780201379624"},
    {Kind::Code39, "0123456789ABCDEFGHIJ", "CODE-39:0123456789ABCDEFGHIJ"},
    {Kind::Code39, "KLMNOPQRSTUVWXYZ-. $/+%", "CODE-39:KLMNOPQRSTUVWXYZ-. $/+%"},
    {Kind::Code39Check, "CODE 39", "CODE-39:CODE 39R"},
    {Kind::Code39, "lower", "CODE-39:     "},
    {Kind::I25, "123456", "I2/5:123456"},
    {Kind::I25, "2143658709", "I2/5:2143658709"},  // the digits as bars and as spaces
    {Kind::I25, "9876543", "I2/5:98765430"},
    {Kind::I25Check, "0012345", "I2/5:00123457"},
};

S draw(cKorvex& k, const Case& c, int32_t x, int32_t y, int32_t h) {
  switch (c.kind) {
    case Kind::EAN13:
      return k.BarCodeDrawEAN13(c.text, x, y, h, 10);
    case Kind::Code39:
      return k.BarCodeDraw39(c.text, x, y, h);
    case Kind::Code39Check:
      return k.BarCodeDraw39(c.text, x, y, h, true);
    case Kind::I25:
      return k.BarCodeDraw25i(c.text, x, y, h);
    case Kind::I25Check:
      return k.BarCodeDraw25i(c.text, x, y, h, true);
  }
  return S::GenericError;
}

// The symbols zbarimg reads in a file, sorted.
std::vector<std::string> zbar_read(const std::string& path) {
  std::string out;
  testutil::run("zbarimg -q --nodbus '" + path + "' 2>/dev/null", &out);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Each case alone on a white page with a quiet zone of 12 modules (more on
// the left of an EAN-13, where its first digit is printed).
void expect_read_back(int16_t format, int32_t height) {
  testutil::ScratchDir dir;
  const int32_t m = std::max(1, (height + 17) / 35);
  for (const Case& c : kCases) {
    cKorvex k;
    ASSERT_NE(k.CreateNewImage(80 * m + 24 * 13 * m, height + 30 * m, format, -1), 0);
    ASSERT_EQ(draw(k, c, 1 + 16 * m, 1 + 5 * m, height), S::Ok) << c.text;
    const std::string png = dir.file("symbol.png");
    ASSERT_EQ(k.SaveAsPng(png), S::Ok);
    EXPECT_EQ(zbar_read(png), std::vector<std::string>{c.read})
        << "format " << format << ", bar height " << height << ": " << c.text;
  }
}

TEST(BarCodeZbar, ReadsEverySymbolAtSeveralModuleWidths) {
  for (int32_t height : {40, 70, 105, 150}) expect_read_back(24, height);  // modules 1-4
}

TEST(BarCodeZbar, ReadsSymbolsDrawnOnIndexedAndBilevelImages) {
  for (int16_t format : {1, 4, 8, 32}) expect_read_back(format, 70);
}

// Leading digit 6 puts digits 2-4 in set A and 5-7 in set B: every digit
// of every set read back (zbar checks the check digit itself).
TEST(BarCodeZbar, ReadsEveryDigitOfEveryEanSet) {
  testutil::ScratchDir dir;
  for (char d = '0'; d <= '9'; ++d) {
    const std::string code = "6" + std::string(11, d);
    cKorvex k;
    k.CreateNewImage(300, 110, 24, -1);
    ASSERT_EQ(k.BarCodeDrawEAN13(code, 41, 11, 70), S::Ok);
    ASSERT_EQ(k.SaveAsPng(dir.file("ean.png")), S::Ok);
    const std::vector<std::string> read = zbar_read(dir.file("ean.png"));
    ASSERT_EQ(read.size(), 1u) << code;
    EXPECT_EQ(read[0].substr(0, 19), "EAN-13:" + code) << read[0];
    EXPECT_EQ(read[0].size(), 20u) << read[0];
  }
}

}  // namespace
}  // namespace korvex
