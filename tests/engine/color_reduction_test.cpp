// Colour reduction members: the indexed copy keeps resolution and tags; older raster versions.
#include "engine_test_util.h"
#include "raster/version.h"

namespace korvex {
namespace {

namespace pf = raster::pf;

// A 24-bit native image of the given ARGB pixels (one row), at 300 x 150 dpi
// with one tag.
void load_row(cKorvex& k, std::initializer_list<uint32_t> colours) {
  ASSERT_EQ(k.CreateImage(static_cast<int32_t>(colours.size()), 1, 24), S::Ok);
  int32_t x = 1;
  for (uint32_t c : colours) ASSERT_EQ(k.PixelSetColor(x++, 1, static_cast<int32_t>(c)), S::Ok);
  img(k.GetNativeImage())->set_resolution(300, 150);
  img(k.GetNativeImage())->set_property({0x010E, raster::ptype::kAscii, {'h', 'i', 0}});
}

// Each member reaches its kernel (worked values: processing tests); all of them put the copy in
// place through one routine, so the replaced image, resolution and tags are checked once.
TEST(ColourReduction, MembersReplaceTheNativeImageKeepingResolutionAndTags) {
  cKorvex k;
  EXPECT_EQ(k.ConvertTo8Bpp(), S::Ok);  // no image: the status as it was
  load_row(k, {0xFF102030u, 0xFF7E7E7Eu, 0xFF102030u, 0xFFFA0000u});
  const int32_t before = k.GetNativeImage();
  ASSERT_EQ(k.Quantize8Bpp(4), S::Ok);  // ConvertTo8BppQ is Quantize8Bpp(256)
  EXPECT_TRUE(k.GetNativeImage() != before && img(before) == nullptr);
  raster::Image* out = img(k.GetNativeImage());
  EXPECT_EQ((std::tuple{out->format(), out->palette().entries.size(), px(k, 2, 1)}),
            std::tuple(pf::k8bppIndexed, size_t{3}, 0xFF7E7E7Eu));
  EXPECT_EQ((std::tuple{out->dpi_x(), out->dpi_y(), out->properties().size()}),
            std::tuple(300.0f, 150.0f, size_t{1}));

  const struct {
    const char* name;
    S (cKorvex::*run)();
    raster::PixelFormat format;
    size_t entries;
    uint32_t second;  // colour of pixel 2 afterwards
  } cases[] = {
      {"ConvertTo8Bpp", &cKorvex::ConvertTo8Bpp, pf::k8bppIndexed, 256, 0xFF7E7E7Eu},
      {"ConvertTo8Bpp2", &cKorvex::ConvertTo8Bpp2, pf::k8bppIndexed, 256, 0xFF7E7E7Eu},
      {"ConvertTo8Bpp210", &cKorvex::ConvertTo8Bpp210, pf::k8bppIndexed, 216, 0xFF666666u},
      {"ConvertTo4Bpp16", &cKorvex::ConvertTo4Bpp16, pf::k4bppIndexed, 16, 0xFF808080u},
      {"ConvertTo1Bpp", &cKorvex::ConvertTo1Bpp, pf::k1bppIndexed, 2, 0xFFFFFFFFu},
      {"ConvertTo1BppFast", &cKorvex::ConvertTo1BppFast, pf::k1bppIndexed, 2, 0xFF000000u},
  };  // 216 entries: 126 / 51 = 2.47 gives level 2
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load_row(k, {0xFF102030u, 0xFF7E7E7Eu, 0xFF102030u, 0xFFFA0000u});
    ASSERT_EQ((k.*c.run)(), S::Ok);
    out = img(k.GetNativeImage());
    EXPECT_EQ((std::tuple{out->format(), out->palette().entries.size(), px(k, 2, 1)}),
              std::tuple(c.format, c.entries, c.second));
  }
}

TEST(ColourReduction, UserPalettesAreCutToWhatTheIndicesReachAndEmptyOnesRefused) {
  cKorvex k;
  load_row(k, {0xFF0000F0u, 0xFFF00000u, 0xFF00F000u});
  const int32_t before = k.GetNativeImage();
  Array<int32_t> none;
  EXPECT_EQ(k.ConvertTo4BppPal(none), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), before);
  EXPECT_EQ(img(before)->format(), pf::k24bppRGB);

  // Seventeen entries: the 17th (pure green) is beyond a 4-bit index.
  std::vector<int32_t> colours(16, static_cast<int32_t>(0xFF0000FFu));
  colours[3] = static_cast<int32_t>(0xFFFF0000u);
  colours.push_back(static_cast<int32_t>(0xFF00F000u));
  Array<int32_t> seventeen(colours);
  ASSERT_EQ(k.ConvertTo4BppPal(seventeen), S::Ok);
  EXPECT_EQ(k.ColorPaletteGetColorsCount(), 16);
  EXPECT_EQ(img(k.GetNativeImage())->palette().flags, 0u);
  expect_px(k, {{1, 1, 0xFF0000FFu}, {2, 1, 0xFFFF0000u}, {3, 1, 0xFF0000FFu}});

  // A palette longer than 256 keeps its first 256 entries.
  ASSERT_EQ(k.CreateImage(2, 2, 8), S::Ok);
  std::vector<int32_t> many(300, static_cast<int32_t>(0xFF111111u));
  many[255] = static_cast<int32_t>(0xFF222222u);
  Array<int32_t> too_long(many);
  ASSERT_EQ(k.ColorPaletteSet(too_long), S::Ok);
  EXPECT_EQ(k.ColorPaletteGetColorsCount(), 256);
  EXPECT_EQ(img(k.GetNativeImage())->palette().entries[255], 0xFF222222u);
}

TEST(ColourReduction, OlderRasterVersionsKeepOnlyOpaqueWhiteAndResizeIndexedPictures) {
  cKorvex k;
  load_row(k, {0xFFFEFFFFu, 0xFFFFFFFFu});
  raster::set_version_text_for_testing("5.1.3102.0");
  ASSERT_EQ(k.ConvertTo1BppFast(), S::Ok);
  expect_px(k, {{1, 1, 0xFF000000u}, {2, 1, 0xFFFFFFFFu}});

  // A 1-bit picture doubles in size and stays 1-bit (nearest neighbour).
  ASSERT_EQ(k.Resize(4, 2, 5), S::Ok);
  EXPECT_EQ(img(k.GetNativeImage())->format(), pf::k1bppIndexed);
  expect_px(k, {{2, 2, 0xFF000000u}, {3, 1, 0xFFFFFFFFu}});
  EXPECT_EQ(
      (std::tuple{img(k.GetNativeImage())->dpi_x(), img(k.GetNativeImage())->properties().size()}),
      std::tuple(300.0f, size_t{1}));

  // A 4-bit picture comes back with the palette it had.
  load_row(k, {0xFF0000F0u, 0xFFF00000u});
  Array<int32_t> two(
      std::vector<int32_t>{static_cast<int32_t>(0xFF0000F0u), static_cast<int32_t>(0xFFF00000u)});
  ASSERT_EQ(k.ConvertTo4BppPal(two), S::Ok);
  ASSERT_EQ(k.Resize(4, 1, 5), S::Ok);
  EXPECT_EQ(img(k.GetNativeImage())->format(), pf::k4bppIndexed);
  EXPECT_EQ(img(k.GetNativeImage())->palette().entries,
            (std::vector<uint32_t>{0xFF0000F0u, 0xFFF00000u}));
  expect_px(k, {{2, 1, 0xFF0000F0u}, {3, 1, 0xFFF00000u}});

  // An 8-bit picture comes back as the mean gray of its colours.
  load_row(k, {0xFF0000F0u, 0xFF303030u});
  ASSERT_EQ(k.ConvertTo8Bpp210(), S::Ok);
  ASSERT_EQ(k.Resize(4, 1, 5), S::Ok);
  EXPECT_EQ(img(k.GetNativeImage())->format(), pf::k8bppIndexed);
  expect_px(k, {{1, 1, 0xFF555555u}, {4, 1, 0xFF333333u}});  // (0 + 0 + 255) / 3; 51
  // A failing resize leaves the picture as it was.
  const int32_t before = k.GetNativeImage();
  EXPECT_EQ(k.Resize(0, 1), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), before);
  raster::set_version_text_for_testing("");
}

}  // namespace
}  // namespace korvex
