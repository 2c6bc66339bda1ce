// Pages and frames, GIF timing and palettes, palette and plain conversion members.
#include "engine/state.h"
#include "engine_test_util.h"

namespace korvex {
namespace {

// A registered image of `n` frames in a dimension; frame i is (10 + i) wide.
int32_t make_frames(int n, const raster::Guid& dimension, const raster::Guid& format) {
  std::vector<raster::Frame> frames(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    raster::allocate_surface(10 + i, 5, raster::pf::k8bppIndexed,
                             frames[static_cast<size_t>(i)].pixels);
  }
  return raster::register_image(
      raster::Image::from_frames(std::move(frames), dimension, format, nullptr));
}

TEST(Frames, PagesAndFramesAreCountedOnlyForTheirFormatAndSelectedOneBased) {
  cKorvex k;
  EXPECT_EQ(k.TiffGetPageCount(), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(k.TiffSelectPage(1), S::InvalidParameter);
  k.SetNativeImage(make_frames(3, raster::guids::kFrameDimensionPage, raster::guids::kFormatTiff));
  EXPECT_EQ((std::tuple{k.TiffGetPageCount(), k.GifGetFrameCount(), k.GetStat()}),
            std::tuple(3, 0, S::Ok));
  ASSERT_EQ(k.TiffSelectPage(2), S::Ok);
  EXPECT_EQ(k.GetWidth(), 11);
  // Past the end, zero, and frames in a file without a time dimension.
  for (S s : {k.TiffSelectPage(4), k.TiffSelectPage(0), k.GifSelectFrame(1)})
    EXPECT_EQ(s, S::InvalidParameter);
  EXPECT_EQ(k.GetWidth(), 11);
  k.CloseImage(k.GetNativeImage());

  k.SetNativeImage(make_frames(2, raster::guids::kFrameDimensionTime, raster::guids::kFormatGif));
  EXPECT_EQ((std::pair{k.GifGetFrameCount(), k.TiffGetPageCount()}), std::pair(2, 0));
  ASSERT_EQ(k.GifSelectFrame(2), S::Ok);
  EXPECT_EQ(k.GetWidth(), 11);
  // A PNG has neither.
  ASSERT_EQ(k.CreateImage(4, 4), S::Ok);
  img(k.GetNativeImage())->set_raw_format(raster::guids::kFormatPng);
  EXPECT_EQ((std::tuple{k.TiffGetPageCount(), k.GifGetFrameCount(), k.GetStat()}),
            std::tuple(0, 0, S::Ok));
}

TEST(Frames, DelaysAndLoopCountComeFromTheirPropertiesCheckedForSize) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(2, 2, 8), S::Ok);
  raster::Image* image = img(k.GetNativeImage());
  Array<int32_t> delays;
  EXPECT_EQ(k.GifGetFrameDelay(delays), S::PropertyNotFound);
  EXPECT_EQ(k.GifGetLoopCount(), 0);
  image->set_property({0x5100, raster::ptype::kLong, {10, 0, 0, 0, 0x2C, 0x01, 0, 0}});
  image->set_property({0x5101, raster::ptype::kShort, {0xE8, 0x03}});
  ASSERT_EQ(k.GifGetFrameDelay(delays), S::Ok);
  ASSERT_EQ(std::pair(delays.LBound(), delays.UBound()), std::pair(1, 2));
  EXPECT_EQ(std::pair(delays(1), delays(2)), std::pair(10, 300));
  k.GetWidth();
  k.TiffSelectPage(7);  // a failing status, which the loop count must not touch
  const cKorvexStatus before = k.GetStat();
  EXPECT_EQ(k.GifGetLoopCount(), 1000);
  EXPECT_EQ(k.GetStat(), before);
  image->set_property({0x5101, raster::ptype::kShort, {0x05}});  // one byte: no count
  EXPECT_EQ(k.GifGetLoopCount(), 0);
}

TEST(Palettes, GetSetAndTransparencyWorkOnTheNativePalette) {
  cKorvex k;
  Array<int32_t> colors;
  int32_t count = -1;
  EXPECT_EQ(k.ColorPaletteGet(colors, count), S::Ok);  // no image: the status as it was
  EXPECT_EQ(count, -1);
  ASSERT_EQ(k.CreateImage(4, 4, 4), S::Ok);
  ASSERT_EQ(k.ColorPaletteGet(colors, count), S::Ok);
  // Index 12 (1-based 13) is red.
  EXPECT_EQ(std::tuple(count, colors(13), k.ColorPaletteGetColorsCount()),
            std::tuple(16, int32_t(0xFFFF0000), 16));

  Array<int32_t> mine(std::vector<int32_t>{static_cast<int32_t>(0xFF112233), -1, -1});
  ASSERT_EQ(k.ColorPaletteSet(mine), S::Ok);
  ASSERT_EQ(k.GifGetColorPalette(colors, count), S::Ok);
  EXPECT_EQ(count, 3);
  const raster::Palette& p = img(k.GetNativeImage())->palette();
  EXPECT_EQ(p.flags, raster::Palette::kHasAlpha);
  ASSERT_EQ(k.GifSetTransparency(), S::Ok);  // opaque white entries become transparent white
  EXPECT_EQ(p.entries, (std::vector<uint32_t>{0xFF112233u, 0x00FFFFFFu, 0x00FFFFFFu}));
  ASSERT_EQ(k.ColorPaletteConvertToHalftone(), S::Ok);
  EXPECT_EQ(p.flags, raster::Palette::kHasAlpha | raster::Palette::kHalftone);

  Array<int32_t> empty;
  k.GetWidth();
  EXPECT_EQ(k.ColorPaletteSet(empty), S::Ok);  // changes nothing
  EXPECT_EQ(k.ColorPaletteGetColorsCount(), 3);
  Array<int32_t> too_many(std::vector<int32_t>(17, 0));
  EXPECT_EQ(k.ColorPaletteSet(too_many), S::InvalidParameter);  // 4-bit indices reach 16
  ASSERT_EQ(k.CreateImage(2, 2, 8), S::Ok);
  Array<int32_t> sixteen(std::vector<int32_t>(16, static_cast<int32_t>(0xFF808080)));
  ASSERT_EQ(k.GifSetColorPalette(sixteen, 99), S::Ok);
  EXPECT_EQ(k.ColorPaletteGetColorsCount(), 16);
}

TEST(Conversions, PlainConversionsMapColoursAndRefuseUnknownDepths) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(3, 2, 24), S::Ok);
  const int32_t before = k.GetNativeImage();
  EXPECT_EQ(k.ConvertToPixelFormatCR(2), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), before);
  const struct {
    int32_t depth;
    raster::PixelFormat f;
  } table[] = {{1, raster::pf::k1bppIndexed}, {4, raster::pf::k4bppIndexed},
               {8, raster::pf::k8bppIndexed}, {16, raster::pf::k16bppRGB555},
               {24, raster::pf::k24bppRGB},   {32, raster::pf::k32bppARGB},
               {48, raster::pf::k48bppRGB},   {64, raster::pf::k64bppARGB}};
  for (const auto& row : table) {
    ASSERT_EQ(k.CreateImage(3, 2, 24), S::Ok);
    SCOPED_TRACE(row.depth);
    img(k.GetNativeImage())->set_pixel(0, 0, 0xFFFF0000);
    ASSERT_EQ(k.ConvertToPixelFormatCR(row.depth), S::Ok);
    EXPECT_EQ(img(k.GetNativeImage())->format(), row.f);
    // Red survives everywhere but in 1 bit, where it is nearer black than white.
    EXPECT_EQ(pixel(k.GetNativeImage(), 0, 0), row.depth == 1 ? 0xFF000000u : 0xFFFF0000u);
    EXPECT_EQ(pixel(k.GetNativeImage(), 2, 1), 0xFFFFFFFFu);
  }
}

}  // namespace
}  // namespace korvex
