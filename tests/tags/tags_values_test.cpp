// Tag names, value texts and element access of property items, and the
// parsing of written values.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "../../fuzz/tags_check.h"
#include "../codecs/codec_test_util.h"
#include "tags/property_item.h"
#include "tags/property_tags.h"

namespace korvex {
namespace {

using Bytes = std::vector<uint8_t>;
using tags::GDIPPropertyItem;
using tags::Rational;

GDIPPropertyItem item(uint16_t type, Bytes bytes, uint32_t id = 0x9000) {
  GDIPPropertyItem p;
  p.Create(id, type, std::move(bytes));
  return p;
}

TEST(TagNames, EnumerationNamesExceptionsAndHexadecimalForOthers) {
  const auto table = tags::PropertyTagTable();
  ASSERT_EQ(table.size(), 218u);
  for (size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1].id, table[i].id);
  // clang-format off
  const std::pair<uint32_t, const char*> cases[] = {
      {41493, "ExifExposureIndex"}, {271, "EquipMake"}, {34665, "ExifIFD"}, {0, "GpsVer"},
      {0x9003, "ExifDTOrig"}, {0x5100, "FrameDelay"}, {255, "TagSubFileType"}, {512, "JPEroc"},
      {27, "ProcessingMethod"}, {34853, "8825"}, {0x9C9B, "9C9B"}, {0x1F, "1F"},
      {0x12345, "12345"}, {0x0104, "104"}};
  // clang-format on
  for (const auto& [id, name] : cases) EXPECT_EQ(tags::TagName(id), name) << id;
  // Signed ids of the 16-bit range wrap; others are refused.
  for (const auto& [in, ok, out] :
       {std::tuple(-25445, true, 40091u), std::tuple(65535, true, 65535u),
        std::tuple(65536, false, 0u), std::tuple(-32769, false, 0u)}) {
    uint32_t id = 0;
    EXPECT_EQ(tags::UnsignedTagId(in, id), ok) << in;
    EXPECT_EQ(ok ? id : 0u, out);
  }
}

// Plain values of each type are compared with exiv2's in test_tags_peers.py.
TEST(TagValues, TextAndCountByTypeWithPartialElementsNeverRead) {
  const std::tuple<uint16_t, Bytes, uint32_t, std::string> cases[] = {
      {5, {44, 1, 0, 0, 1, 0, 0, 0, 44, 1, 0, 0, 1, 0, 0, 0}, 2, "300/1, 300/1"},
      {5, {44, 1, 0, 0, 1, 0, 0, 0, 9, 9, 9}, 1, "300/1"},  // 11 bytes: one rational
      {10, {0xFD, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}, 1, "-3/2"},
      {3, {0xFF, 0xFF, 0x40, 0x9C, 7}, 2, "65535, 40000"},   // unsigned; odd byte left
      {4, {0x40, 0x42, 0x0F, 0, 0xAA, 0xBB}, 1, "1000000"},  // 6 bytes: one LONG
      {4, {0xFF, 0xFF, 0xFF, 0xFF}, 1, "4294967295"},
      {2, {'C', 'a', 'f', 0xE9, 0}, 1, "Caf\xC3\xA9"},  // not UTF-8: code page 1252
      {2, {0xC3, 0xA9, 0}, 1, "\xC3\xA9"},              // UTF-8 as it is
      {11, {0, 0, 0x80, 0x3F}, 1, "11 4"},
      {9, {1, 0, 0, 0}, 1, "9 4"},
      {99, {1, 2}, 0, "99 2"},
      {3, {}, 0, ""},
  };
  for (const auto& [type, bytes, count, text] : cases) {
    const GDIPPropertyItem p = item(type, bytes);
    EXPECT_EQ(p.ValueCount(), count) << type << " " << text;
    EXPECT_EQ(p.ValueText(), text) << type;
    EXPECT_EQ(p.Length(), bytes.size());
    EXPECT_EQ(p.GetDataB(), bytes);
  }
}

TEST(TagValues, ElementsByNumberOnlyInsideTheValue) {
  const GDIPPropertyItem s = item(3, {1, 0, 0xFE, 0xFF, 9});
  EXPECT_EQ(s.ElementDataSize(), 2u);
  EXPECT_EQ(s.ParseShort(1), 1);
  EXPECT_EQ(s.ParseShort(2), 0xFFFE);
  for (int64_t i : {-1, 0, 3}) EXPECT_EQ(s.ParseShort(i), 0) << i;
  EXPECT_EQ(s.ParseLong(1), 0u);  // a SHORT value has no LONG elements

  const GDIPPropertyItem l = item(4, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(l.ParseLong(1), 0x04030201u);
  EXPECT_EQ(l.ParseLong(2), 0u);

  const GDIPPropertyItem r = item(5, {72, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0});
  EXPECT_EQ(r.ParseRational(1), (Rational{72, 1}));
  EXPECT_EQ(r.ParseRational(2), std::nullopt);
  EXPECT_EQ(r.ParseRational(0), std::nullopt);
}

TEST(TagWrite, ParsesEachTypeAndRefusesWhatDoesNotFit) {
  using enum raster::Status;
  const std::tuple<uint16_t, std::string, Bytes> cases[] = {
      {3, " 1, 2 ,3", {1, 0, 2, 0, 3, 0}},
      {1, "0,255", {0, 255}},
      {1, "2.5, 3.5, +7", {2, 4, 7}},  // halves to even
      {3, "65535", {0xFF, 0xFF}},
      {4, "4294967295,1", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}},
      {5, "72/1,5", {72, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0}},
      {5, " 1 / 125 ", {1, 0, 0, 0, 125, 0, 0, 0}},
      {2, "Jane", {'J', 'a', 'n', 'e', 0}},
      {2, "", {0}}};
  // Out of range, malformed, or not a writable type (7): refused, nothing written.
  // clang-format off
  const std::pair<uint16_t, const char*> refused[] = {
      {1, "300"}, {1, "-1"}, {3, "70000"}, {4, "4294967296"}, {4, "99999999999999999999999"},
      {5, "1/0"}, {5, "1/2/3"}, {5, "a/2"}, {3, "12abc"}, {3, ""}, {3, "1,,2"}, {3, "1e3"},
      {3, "0x10"}, {3, "--1"}, {3, "nan"}, {7, "1"}};
  // clang-format on
  for (const auto& [type, text] : refused) {
    Bytes out = {42};
    EXPECT_EQ(tags::ParseValue(type, text, out), InvalidParameter) << type << " '" << text << "'";
    EXPECT_TRUE(out.empty()) << type << " '" << text << "'";
  }
  for (const auto& [type, text, bytes] : cases) {
    Bytes out = {42};
    EXPECT_EQ(tags::ParseValue(type, text, out), Ok) << type << " '" << text << "'";
    EXPECT_EQ(out, bytes) << type << " '" << text << "'";
  }
}

TEST(TagFuzzSeeds, EverySeedAndRegressionKeepsTheInvariants) {
  size_t files = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const auto dir = std::filesystem::path(KORVEX_SOURCE_DIR) / "fuzz" / kind / "tags";
    if (!std::filesystem::exists(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const Bytes seed = testutil::read_file(entry.path().string());
      EXPECT_EQ(tags_check(seed.data(), seed.size()), "") << entry.path();
      ++files;
    }
  }
  EXPECT_GE(files, 8u);
}

}  // namespace
}  // namespace korvex
