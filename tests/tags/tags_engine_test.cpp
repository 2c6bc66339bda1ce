// The engine's tag members: listing, writing, deleting, preserving across
// rebuilds, and the round trip of every written type through JPEG and TIFF.
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
  const int32_t n = k.TagsCount();
  for (int32_t i = 1; i <= n; ++i) {
    out.emplace_back(k.TagsGetID(i), k.TagsGetType(i), k.TagsGetName(i), k.TagsGetValue(i));
  }
  return out;
}

// One written tag of each type, including Exif and GPS ones.
struct Written {
  int32_t id;
  int32_t type;
  std::string text;     // as written
  std::string name;     // as listed
  std::string reading;  // as read back
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

S write(cKorvex& k, const Written& w) {
  switch (w.type) {
    case 1:
      return k.TagsWriteTypeByte(w.id, w.text);
    case 2:
      return k.TagsWriteTypeASCII(w.id, w.text);
    case 3:
      return k.TagsWriteTypeShort(w.id, w.text);
    case 4:
      return k.TagsWriteTypeLong(w.id, w.text);
    default:
      return k.TagsWriteTypeRational(w.id, w.text);
  }
}

// The listing entry of a tag id, or a type-0 entry when absent.
std::tuple<int32_t, std::string, std::string> find(const Listing& l, int32_t id) {
  for (const auto& [i, type, name, value] : l) {
    if (i == id) return {type, name, value};
  }
  return {0, "", ""};
}

TEST(EngineTagMembers, WriteListReplaceDeleteAndOutOfRangeNumbers) {
  cKorvex k;
  EXPECT_EQ(k.TagsCount(), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);                     // no image
  EXPECT_EQ(k.TagsWriteTypeASCII(315, "x"), S::InvalidParameter);  // the last status
  ASSERT_GT(k.CreateNewImage(8, 8, 24), 0);
  EXPECT_EQ(k.TagsCount(), 0);
  EXPECT_EQ(k.GetStat(), S::Ok);

  for (const Written& w : kWritten) ASSERT_EQ(write(k, w), S::Ok) << w.name;
  Listing l = listing(k);
  ASSERT_EQ(l.size(), std::size(kWritten));
  for (size_t i = 0; i < l.size(); ++i) {
    const Written& w = kWritten[i];
    EXPECT_EQ(l[i], std::make_tuple(w.id < 0 ? w.id + 65536 : w.id, w.type, w.name, w.reading));
  }
  EXPECT_EQ(k.ExifTagsCount(), k.TagsCount());
  EXPECT_EQ(k.ExifTagsGetName(4), "ExifExposureTime");
  EXPECT_EQ(k.ExifTagsGetValue(4), "1/125");

  // Replacing keeps the item's place and count; the type follows the write.
  ASSERT_EQ(k.TagsWriteTypeLong(274, "8"), S::Ok);
  EXPECT_EQ(listing(k)[1], std::make_tuple(274, 4, std::string("Orientation"), std::string("8")));
  EXPECT_EQ(k.TagsCount(), static_cast<int32_t>(std::size(kWritten)));

  // Values that do not fit are refused and change nothing.
  l = listing(k);
  for (S s : {k.TagsWriteTypeByte(274, "300"), k.TagsWriteTypeShort(274, "70000"),
              k.TagsWriteTypeRational(274, "1/0"), k.TagsWriteTypeLong(274, "eight"),
              k.TagsWriteTypeShort(0x9999, "1,,2"), k.TagsWriteTypeASCII(70000, "x")}) {
    EXPECT_EQ(s, S::InvalidParameter);
  }
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(listing(k), l);

  // Numbers outside 1..count.
  const int32_t n = k.TagsCount();
  for (int32_t no : {0, -1, n + 1, INT32_MIN}) {
    EXPECT_EQ(k.TagsGetID(no), 0) << no;
    EXPECT_EQ(k.TagsGetType(no), 7) << no;
    EXPECT_EQ(k.TagsGetName(no), "") << no;
    EXPECT_EQ(k.TagsGetValue(no), "") << no;
    EXPECT_EQ(k.TagsDelete(no), S::PropertyNotFound) << no;
  }
  EXPECT_EQ(listing(k), l);
  ASSERT_EQ(k.TagsDelete(1), S::Ok);
  l.erase(l.begin());
  EXPECT_EQ(listing(k), l);
}

class EngineTagFiles : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }
  testutil::ScratchDir dir_;
};

TEST_F(EngineTagFiles, EveryWrittenTypeSurvivesJpegAndTiffSingleAndMultiPage) {
  bool bypass = true;
  cKorvex k;
  k.TagsBypassKorvexTag(bypass);
  for (const char* ext : {"jpg", "tif", "multi.tif"}) {
    SCOPED_TRACE(ext);
    ASSERT_GT(k.CreateNewImage(16, 12, 24, static_cast<int32_t>(0xFF336699)), 0);
    for (const Written& w : kWritten) ASSERT_EQ(write(k, w), S::Ok);
    const std::string file = path(std::string("tags.") + ext);
    if (std::string(ext) == "jpg") {
      ASSERT_EQ(k.SaveAsJpeg(file), S::Ok);
    } else if (std::string(ext) == "tif") {
      ASSERT_EQ(k.SaveAsTiff(file, 6), S::Ok);
    } else {
      // Page 2 has tags of its own.
      cKorvex p2;
      const int32_t page = p2.CreateNewImage(4, 4, 24);
      ASSERT_EQ(p2.TagsWriteTypeASCII(270, "second page"), S::Ok);
      ASSERT_EQ(p2.TagsWriteTypeRational(0x829D, "28/5"), S::Ok);
      ASSERT_EQ(k.TiffSaveAsNativeMultiPage(file), S::Ok);
      ASSERT_EQ(k.TiffAddToNativeMultipage(page), S::Ok);
      ASSERT_EQ(k.TiffCloseNativeMultiPage(), S::Ok);
      p2.CloseImage(page);
    }
    cKorvex r;
    ASSERT_EQ(r.LoadFromFile(file), S::Ok);
    const Listing l = listing(r);
    for (const Written& w : kWritten) {
      EXPECT_EQ(find(l, w.id < 0 ? w.id + 65536 : w.id), std::make_tuple(w.type, w.name, w.reading))
          << w.name;
    }
    if (std::string(ext) == "multi.tif") {
      ASSERT_EQ(r.TiffSelectPage(2), S::Ok);
      const Listing l2 = listing(r);
      EXPECT_EQ(find(l2, 270),
                std::make_tuple(2, std::string("ImageDescription"), std::string("second page")));
      EXPECT_EQ(find(l2, 0x829D),
                std::make_tuple(5, std::string("ExifFNumber"), std::string("28/5")));
      EXPECT_EQ(std::get<0>(find(l2, 315)), 0);  // page 1's artist stays on page 1
    }
    // Tags that describe the stored pixels are the encoder's, not the items'.
    if (std::string(ext) != "jpg") {
      EXPECT_EQ(find(l, 256), std::make_tuple(3, std::string("ImageWidth"), std::string("16")));
    }
  }
}

TEST(EngineTagPreserve, RebuiltImagesKeepTagsOnlyWhilePreserveIsOn) {
  const std::pair<const char*, std::function<S(cKorvex&)>> rebuilds[] = {
      {"Crop", [](cKorvex& k) { return k.Crop(2, 2, 10, 10); }},
      {"AddBorders", [](cKorvex& k) { return k.AddBorders(3); }},
      {"RotateAngle", [](cKorvex& k) { return k.RotateAngle(30); }},
      {"Resize", [](cKorvex& k) { return k.Resize(7, 9); }},
      {"ConvertTo24Bpp", [](cKorvex& k) { return k.ConvertTo24Bpp(); }},
      {"ConvertTo1Bpp", [](cKorvex& k) { return k.ConvertTo1Bpp(); }},
      {"ConvertTo4Bpp16", [](cKorvex& k) { return k.ConvertTo4Bpp16(); }},
      {"ConvertTo8Bpp", [](cKorvex& k) { return k.ConvertTo8Bpp(); }},
      {"Quantize8Bpp", [](cKorvex& k) { return k.Quantize8Bpp(16); }},
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
      if (preserve) {
        EXPECT_EQ(listing(k),
                  (Listing{{315, 2, "Artist", "Jane"}, {0x829A, 5, "ExifExposureTime", "1/60"}}));
      } else {
        EXPECT_EQ(k.TagsCount(), 0);
      }
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
