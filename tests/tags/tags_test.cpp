// Metadata tags: property items, written values, fuzz seeds and the engine's tag members;
// single-page JPEG and TIFF round trips are checked by exiftool and exiv2 (test_tags_peers.py).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "../../fuzz/tags_check.h"
#include "../codecs/codec_test_util.h"
#include "engine/state.h"
#include "korvex/korvex.h"
#include "raster/handles.h"
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

using S = cKorvexStatus;

// The id, type, name and value text of every item, in order.
using Listing = std::vector<std::tuple<int32_t, int32_t, std::string, std::string>>;

Listing listing(cKorvex& k) {
  Listing out;
  for (int32_t i = 1; i <= k.TagsCount(); ++i) {
    out.emplace_back(k.TagsGetID(i), k.TagsGetType(i), k.TagsGetName(i), k.TagsGetValue(i));
  }
  return out;
}

// One written tag of each type, Exif, GPS and private ones included.
struct Written {
  int32_t id, type;
  std::string text, name, reading;  // as written, listed name, as read back
};
const Written kWritten[] = {
    {315, 2, "Jane Doe", "Artist", "Jane Doe"},
    {274, 3, "6", "Orientation", "6"},
    {0x8827, 3, "200", "ExifISOSpeed", "200"},
    {0x829A, 5, "1/125", "ExifExposureTime", "1/125"},
    {2, 5, "48/1, 51/1, 2376/100", "GpsLatitude", "48/1, 51/1, 2376/100"},
    {1, 2, "N", "GpsLatitudeRef", "N"},
    {0, 1, "2,3,0,0", "GpsVer", "2, 3, 0, 0"},
    {-24574, 4, "4000", "ExifPixXDim", "4000"},  // 0xA002 through the signed form
    {0x9003, 2, "2024:05:06 07:08:09", "ExifDTOrig", "2024:05:06 07:08:09"},
    {0xC000, 1, "1, 2, 250", "C000", "1, 2, 250"},  // a private tag
};
using WriteMember = S (cKorvex::*)(int32_t, const std::string&);
const WriteMember kWrite[] = {nullptr,
                              &cKorvex::TagsWriteTypeByte,
                              &cKorvex::TagsWriteTypeASCII,
                              &cKorvex::TagsWriteTypeShort,
                              &cKorvex::TagsWriteTypeLong,
                              &cKorvex::TagsWriteTypeRational};
S write(cKorvex& k, const Written& w) {
  return (k.*kWrite[w.type])(w.id, w.text);
}
auto entry(const Written& w) {
  return std::tuple(w.id < 0 ? w.id + 65536 : w.id, w.type, w.name, w.reading);
}

// The listing entry of a tag id, or a type-0 entry when absent.
std::tuple<int32_t, int32_t, std::string, std::string> find(const Listing& l, int32_t id) {
  for (const auto& e : l) {
    if (std::get<0>(e) == id) return e;
  }
  return {id, 0, "", ""};
}

TEST(EngineTagMembers, WriteListReplaceRefuseDeleteAndOutOfRangeNumbers) {
  cKorvex k;
  EXPECT_EQ(k.TagsCount(), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);                     // no image
  EXPECT_EQ(k.TagsWriteTypeASCII(315, "x"), S::InvalidParameter);  // the last status
  ASSERT_GT(k.CreateNewImage(8, 8, 24), 0);
  EXPECT_EQ(k.TagsCount(), 0);
  EXPECT_EQ(k.GetStat(), S::Ok);

  Listing want;
  for (const Written& w : kWritten) {
    ASSERT_EQ(write(k, w), S::Ok) << w.name;
    want.emplace_back(entry(w));
  }
  EXPECT_EQ(listing(k), want);
  EXPECT_EQ(k.ExifTagsCount(), k.TagsCount());
  EXPECT_EQ(k.ExifTagsGetName(4) + " " + k.ExifTagsGetValue(4), "ExifExposureTime 1/125");

  // Replacing keeps the item's place and count; the type follows the write.
  ASSERT_EQ(k.TagsWriteTypeLong(274, "8"), S::Ok);
  want[1] = {274, 4, "Orientation", "8"};
  EXPECT_EQ(listing(k), want);

  // A value that does not fit (the parser's refusals are TagWrite's) or an id
  // out of range is refused and writes nothing.
  EXPECT_EQ(k.TagsWriteTypeByte(274, "300"), S::InvalidParameter);
  EXPECT_EQ(k.TagsWriteTypeASCII(70000, "x"), S::InvalidParameter);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(listing(k), want);

  // Item numbers outside 1..count.
  for (int32_t no : {0, -1, k.TagsCount() + 1, INT32_MIN}) {
    EXPECT_EQ((std::tuple{k.TagsGetID(no), k.TagsGetType(no), k.TagsGetName(no), k.TagsGetValue(no),
                          k.TagsDelete(no)}),
              std::tuple(0, 7, "", "", S::PropertyNotFound))
        << no;
  }
  EXPECT_EQ(listing(k), want);
  ASSERT_EQ(k.TagsDelete(1), S::Ok);
  want.erase(want.begin());
  EXPECT_EQ(listing(k), want);
}

TEST(EngineTagFiles, EveryWrittenTypeSurvivesAMultiPageTiffWithPageTwosOwnTags) {
  testutil::ScratchDir dir;
  const std::string file = dir.file("tags.tif");
  cKorvex k, p2;
  bool bypass = true;
  k.TagsBypassKorvexTag(bypass);
  ASSERT_GT(k.CreateNewImage(16, 12, 24, static_cast<int32_t>(0xFF336699)), 0);
  for (const Written& w : kWritten) ASSERT_EQ(write(k, w), S::Ok);
  const int32_t page = p2.CreateNewImage(4, 4, 24);
  ASSERT_EQ(p2.TagsWriteTypeASCII(270, "second page"), S::Ok);
  ASSERT_EQ(p2.TagsWriteTypeRational(0x829D, "28/5"), S::Ok);
  ASSERT_EQ(k.TiffSaveAsNativeMultiPage(file), S::Ok);
  ASSERT_EQ(k.TiffAddToNativeMultipage(page), S::Ok);
  ASSERT_EQ(k.TiffCloseNativeMultiPage(), S::Ok);
  p2.CloseImage(page);

  cKorvex r;
  ASSERT_EQ(r.LoadFromFile(file), S::Ok);
  Listing l = listing(r);
  for (const Written& w : kWritten) EXPECT_EQ(find(l, std::get<0>(entry(w))), entry(w)) << w.name;
  // Tags that describe the stored pixels are the encoder's, not the items'.
  EXPECT_EQ(find(l, 256), std::tuple(256, 3, "ImageWidth", "16"));
  ASSERT_EQ(r.TiffSelectPage(2), S::Ok);
  l = listing(r);
  EXPECT_EQ(find(l, 270), std::tuple(270, 2, "ImageDescription", "second page"));
  EXPECT_EQ(find(l, 0x829D), std::tuple(0x829D, 5, "ExifFNumber", "28/5"));
  EXPECT_EQ(std::get<1>(find(l, 315)), 0);  // page 1's artist stays on page 1
}

TEST(EngineTagPreserve, RebuiltImagesKeepTagsOnlyWhilePreserveIsOn) {
  // Paths that rebuild the native image (Crop and the colour reductions keep
  // tags in tests/engine); each must restore them, or drop them when off.
  const std::pair<const char*, std::function<S(cKorvex&)>> rebuilds[] = {
      {"AddBorders", [](cKorvex& k) { return k.AddBorders(3); }},
      {"RotateAngle", [](cKorvex& k) { return k.RotateAngle(30); }},
      {"Resize", [](cKorvex& k) { return k.Resize(7, 9); }},
      {"ConvertTo24Bpp", [](cKorvex& k) { return k.ConvertTo24Bpp(); }},
  };
  for (bool preserve : {true, false}) {
    for (const auto& [name, rebuild] : rebuilds) {
      SCOPED_TRACE(std::string(name) + (preserve ? " preserve" : " drop"));
      cKorvex k;
      ASSERT_GT(k.CreateNewImage(20, 20, 32), 0);
      ASSERT_EQ(k.TagsWriteTypeASCII(315, "Jane"), S::Ok);
      ASSERT_EQ(k.TagsWriteTypeRational(0x829A, "1/60"), S::Ok);
      k.TagsSetPreserve(preserve);
      const int32_t before = k.GetNativeImage();
      ASSERT_EQ(rebuild(k), S::Ok);
      EXPECT_NE(k.GetNativeImage(), before);  // a new image indeed
      EXPECT_EQ(listing(k), preserve ? (Listing{{315, 2, "Artist", "Jane"},
                                                {0x829A, 5, "ExifExposureTime", "1/60"}})
                                     : Listing{});
      EXPECT_EQ(EngineAccess::state(k).PreserveTags, preserve);
    }
  }
  // A clone is a copy of the whole image, items included, either way.
  cKorvex k;
  ASSERT_GT(k.CreateNewImage(4, 4, 24), 0);
  ASSERT_EQ(k.TagsWriteTypeASCII(315, "Jane"), S::Ok);
  k.TagsSetPreserve(false);
  const int32_t copy = k.CreateClonedImage(k.GetNativeImage());
  EXPECT_EQ(raster::find_image(copy)->properties().size(), 1u);
  k.CloseImage(copy);
}

}  // namespace
}  // namespace korvex
