// Code page 1252 both ways, and drawn text that is not UTF-8.
#include "raster/cp1252.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace korvex::raster {
namespace {

TEST(Cp1252, BytesAndCharactersMapBothWays) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  const std::string text = cp1252_to_utf8(all.data(), all.size());
  EXPECT_EQ(utf8_to_cp1252(text), all);
  // The euro sign, Y with diaeresis, e acute.
  for (auto [b, utf8] : {std::pair{0x80, "\xE2\x82\xAC"}, {0x9F, "\xC5\xB8"}, {0xE9, "\xC3\xA9"}})
    EXPECT_EQ(cp1252_to_utf8(all.data() + b, 1), utf8);
  // Outside the code page, broken and overlong UTF-8: '?'.
  EXPECT_EQ(utf8_to_cp1252("\xE4\xB8\xAD"), std::vector<uint8_t>{'?'});
  EXPECT_EQ(utf8_to_cp1252("a\xC3"), (std::vector<uint8_t>{'a', '?'}));
  EXPECT_EQ(utf8_to_cp1252("\xC0\x80"), (std::vector<uint8_t>{'?', '?'}));
}

TEST(Cp1252, TextThatIsNotUtf8IsReadAsTheCodePage) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 kept
      {"caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},              // code page bytes
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},          // a surrogate is not UTF-8
      {"\xC3\xA9\0"s, "\xC3\x83\xC2\xA9\0"s},                    // nor is a NUL
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(utf8_or_cp1252(in), out);
}

}  // namespace
}  // namespace korvex::raster
