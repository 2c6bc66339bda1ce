// The engine's tag members: listing, writing, refusing, deleting, tags of a
// second TIFF page, and preserving across rebuilds. Single-page JPEG and TIFF
// round trips are checked against exiftool and exiv2 (test_tags_peers.py).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "../codecs/codec_test_util.h"
#include "engine/state.h"
#include "korvex/korvex.h"
#include "raster/handles.h"

namespace korvex {
namespace {

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

  // Values that do not fit are refused and write nothing.
  for (S s : {k.TagsWriteTypeByte(274, "300"), k.TagsWriteTypeShort(274, "70000"),
              k.TagsWriteTypeRational(274, "1/0"), k.TagsWriteTypeLong(274, "eight"),
              k.TagsWriteTypeShort(0x9999, "1,,2"), k.TagsWriteTypeASCII(70000, "x")}) {
    EXPECT_EQ(s, S::InvalidParameter);
  }
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
  // One member per path that rebuilds the native image.
  const std::pair<const char*, std::function<S(cKorvex&)>> rebuilds[] = {
      {"Crop", [](cKorvex& k) { return k.Crop(2, 2, 10, 10); }},
      {"AddBorders", [](cKorvex& k) { return k.AddBorders(3); }},
      {"RotateAngle", [](cKorvex& k) { return k.RotateAngle(30); }},
      {"Resize", [](cKorvex& k) { return k.Resize(7, 9); }},
      {"ConvertTo24Bpp", [](cKorvex& k) { return k.ConvertTo24Bpp(); }},
      {"ConvertTo1Bpp", [](cKorvex& k) { return k.ConvertTo1Bpp(); }},
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
