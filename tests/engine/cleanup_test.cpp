// Crops of one-colour edge bands, and ImageMagick's -trim on pages where both rules agree.
#include <functional>

#include "../codecs/codec_test_util.h"
#include "engine/state.h"
#include "engine_test_util.h"
#include "processing/bands.h"

namespace korvex {
namespace {

constexpr uint32_t kW = 0xFFFFFFFFu, kB = 0xFF000000u;
using Picture = std::function<uint32_t(int32_t x, int32_t y)>;  // 0-based

// Makes a w x h 24-bit native image of the picture, in format f when given.
void paint(cKorvex& k, int32_t w, int32_t h, const Picture& p, raster::PixelFormat f = 0) {
  ASSERT_EQ(k.CreateImage(w, h, 24), S::Ok);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) k.PixelSetColor(x + 1, y + 1, static_cast<int32_t>(p(x, y)));
  if (f == 0) return;
  std::unique_ptr<raster::Image> copy;
  ASSERT_EQ(img(k.GetNativeImage())->clone_area({0, 0, w, h}, f, copy), raster::Status::Ok);
  ASSERT_EQ(k.LoadFromImage(raster::register_image(std::move(copy))), S::Ok);
}

// The native image is the picture's rectangle at (x0, y0) of size w x h.
void expect_crop(cKorvex& k, const Picture& p, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  ASSERT_EQ(k.GetWidth(), w);
  ASSERT_EQ(k.GetHeight(), h);
  for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
    EXPECT_EQ(px(k, x + 1, y + 1), p(x0 + x, y0 + y)) << x << ", " << y;
}

TEST(Cleanup, WhiteBandsFollowSkipCountAndConfidence) {
  cKorvex k;
  EXPECT_EQ(k.CreateImageFromFile("/nonexistent/page.png"), 0);
  EXPECT_EQ(k.CropWhiteBands(), S::FileNotFound);  // no image: the last status
  // Rows 1-2 dark, rows 3-5 white, the rest dark: the skip count takes rows 1-5.
  auto rows = [](int32_t y) {
    return [y](int32_t, int32_t r) { return r >= 2 && r < y ? kW : kB; };
  };
  paint(k, 20, 20, rows(5));
  EXPECT_EQ(k.CropWhiteBands(100, 2), S::Ok);
  expect_crop(k, rows(5), 0, 5, 20, 15);
  paint(k, 20, 20, rows(2));  // row 3 not white: nothing at the top
  const int32_t kept = k.GetNativeImage();
  EXPECT_EQ(k.CropWhiteBands(100, 2), S::Ok);
  EXPECT_EQ(k.GetNativeImage(), kept);
  // 200-pixel rows: two dark pixels pass confidence 99, three do not.
  auto stray = [](int32_t x, int32_t y) {
    return y == 0 ? (x < 2 ? kB : kW) : y == 1 ? (x < 3 ? kB : kW) : kB;
  };
  paint(k, 200, 12, stray);
  k.SetHorizontalResolution(300);
  EXPECT_EQ(k.CropWhiteBands(99), S::Ok);
  expect_crop(k, stray, 0, 1, 200, 11);
  EXPECT_EQ(k.GetHorizontalResolution(), 300);
  EXPECT_TRUE(EngineAccess::state(k).NativeOwned);
}

TEST(Cleanup, UnsafeOrTinyPagesAreLeftAsTheyWere) {
  cKorvex k;
  auto white = [](int32_t, int32_t) { return kW; };
  struct Case {
    int32_t w, h;
    std::function<S(cKorvex&)> run;
    S want;
  };
  const Case cases[] = {
      {9, 40, [](cKorvex& c) { return c.CropWhiteBands(); }, S::FileNotFound},       // too narrow
      {40, 9, [](cKorvex& c) { return c.CropBorders(); }, S::FileNotFound},          // too low
      {30, 30, [](cKorvex& c) { return c.CropWhiteBands(); }, S::InvalidParameter},  // uniform
      {30, 30, [](cKorvex& c) { return c.CropBorders2(100, 3); }, S::InvalidParameter},
      {30, 30, [](cKorvex& c) { return c.CropBlackBands(0, -1); }, S::InvalidParameter},
  };
  for (const Case& c : cases) {
    paint(k, c.w, c.h, white);
    const int32_t kept = k.GetNativeImage();
    EXPECT_EQ(k.CreateImageFromFile("/nonexistent/page.png"), 0);  // the last status
    EXPECT_EQ(c.run(k), c.want) << c.w << " x " << c.h;
    EXPECT_EQ(k.GetNativeImage(), kept);
    expect_crop(k, white, 0, 0, c.w, c.h);
  }
}

// Four bands, each 90 % of its lines in its own colour, turning like a pinwheel.
uint32_t pinwheel(int32_t x, int32_t y) {
  if (y < 3 && x < 27) return 0xFFFF0000u;    // top: red
  if (x >= 27 && y < 27) return 0xFF00FF00u;  // right: green
  if (y >= 27 && x >= 3) return 0xFF0000FFu;  // bottom: blue
  if (x < 3 && y >= 3) return 0xFFFFFF00u;    // left: yellow
  return 0xFF808080u;
}

TEST(Cleanup, BordersTakeTheCornerColourAndTolerance) {
  cKorvex k;
  struct Case {
    int32_t confidence, corner, x0, y0, w, h;
  };
  for (const Case& c :
       {Case{90, 1, 0, 3, 30, 27}, Case{90, 2, 0, 0, 27, 30}, Case{90, 3, 0, 0, 30, 27},
        Case{90, 4, 3, 0, 27, 30}, Case{90, 0, 0, 3, 30, 27}, Case{90, 5, 0, 3, 30, 27}}) {
    paint(k, 30, 30, pinwheel);
    EXPECT_EQ(k.CropBorders2(c.confidence, c.corner), S::Ok) << c.corner;
    expect_crop(k, pinwheel, c.x0, c.y0, c.w, c.h);
  }
  // CropBorders: tolerance floor(3 x 7.65) = 22 around the top-left (200, 200, 200).
  auto shades = [](int32_t, int32_t y) {
    const uint32_t rows[] = {0xFFC8C8C8u, 0xFFCFCFD0u, 0xFFCFD0D0u, 0xFFDADADAu};
    return y < 4 ? rows[y] : 0xFF646464u;
  };
  paint(k, 40, 20, shades);
  EXPECT_EQ(k.CropBorders(), S::Ok);  // distance 22 matches, 23 does not
  expect_crop(k, shades, 0, 2, 40, 18);
  paint(k, 40, 20, shades);
  EXPECT_EQ(k.CropBorders2(96, 1), S::Ok);  // floor(4 x 7.65) = 30
  expect_crop(k, shades, 0, 3, 40, 17);
  // Confidence outside 0..100 means 98: one stray pixel in 50 is allowed.
  auto dot = [](int32_t x, int32_t y) {
    return (y == 0 && x == 7) || (y > 4 && y < 15 && x > 4 && x < 45) ? kB : kW;
  };
  paint(k, 50, 20, dot);
  EXPECT_EQ(k.CropBorders2(101, 1), S::Ok);
  expect_crop(k, dot, 5, 5, 40, 10);
}

// A page with a dark block and one stray mark in the right margin, row 1.
uint32_t page(int32_t x, int32_t y) {
  return (x >= 9 && x <= 66 && y >= 5 && y <= 14) || (x == 71 && y == 1) ? kB : kW;
}

TEST(Cleanup, EveryPixelFormatGivesTheSameCrop) {
  for (raster::PixelFormat f : raster::pf::kAll) {
    SCOPED_TRACE(raster::pixel_format_name(f));
    cKorvex k;
    paint(k, 75, 20, page, f);
    EXPECT_EQ(k.CropWhiteBands(100), S::Ok);
    expect_crop(k, page, 9, 1, 63, 14);
    paint(k, 75, 20, page, f);
    EXPECT_EQ(k.CropWhiteBands(95), S::Ok);  // the stray column is 95 % white
    expect_crop(k, page, 9, 5, 58, 10);
    paint(k, 75, 20, page, f);
    EXPECT_EQ(k.CropBorders2(95, 3), S::Ok);
    expect_crop(k, page, 9, 5, 58, 10);
  }
}

// Column counts of 1-bit pages gather in byte-wide lanes: 300 misses in one
// column must survive more than 255 rows. Bands stop one line short of the
// size, so opposite ones may cross.
TEST(Cleanup, LongColumnsCountEveryMissAndBandsStopBeforeTheLastLine) {
  std::unique_ptr<raster::Image> page;
  ASSERT_EQ(raster::Image::create(16, 600, raster::pf::k1bppIndexed, page), raster::Status::Ok);
  page->set_palette({0, {kB, kW}});
  for (int32_t y = 0; y < 600; ++y)
    for (int32_t x = 0; x < 16; ++x) page->set_pixel(x, y, x == 3 && y < 300 ? kB : kW);
  filters::BandDepths d;
  ASSERT_EQ(filters::MeasureBands(*page, {kW, 0, 51, 0}, d), raster::Status::Ok);
  EXPECT_EQ(std::tuple(d.top, d.bottom, d.left, d.right), std::tuple(599, 599, 3, 12));
}

TEST(Cleanup, WhiteBandsCropAsImageMagickTrims) {
  testutil::ScratchDir dir;
  uint32_t seed = 12345;
  auto next = [&seed] { return static_cast<int32_t>((seed = seed * 1103515245u + 12345u) >> 16); };
  for (int16_t depth : {int16_t{24}, int16_t{1}, int16_t{24}}) {
    const int32_t x0 = 20 + next() % 60, y0 = 10 + next() % 40;
    cKorvex k;
    ASSERT_EQ(k.CreateImage(300, 200, depth), S::Ok);
    for (int i = 0; i < 40; ++i) {  // marks of several colours inside a box
      const int32_t x = x0 + next() % 150, y = y0 + next() % 100;
      k.DrawFillRectangle(
          x, y, 1 + next() % 9, 1 + next() % 5,
          static_cast<int32_t>(0xFF000000u | static_cast<uint32_t>(next()) * 2654435761u), false);
    }
    const std::string in = dir.file("page.png"), out = dir.file("trim.png");
    ASSERT_EQ(k.SaveAsPng(in), S::Ok);
    ASSERT_EQ(testutil::run(testutil::convert_tool() + " " + in + " -fuzz 0 -trim +repage " + out),
              0);
    int32_t w = 0, h = 0;
    const auto want = testutil::rgba_to_argb(testutil::magick_rgba(out, &w, &h));
    ASSERT_EQ(k.CropWhiteBands(100, 0), S::Ok);
    EXPECT_EQ(k.GetWidth(), w);
    EXPECT_EQ(k.GetHeight(), h);
    EXPECT_EQ(testutil::argb_pixels(*img(k.GetNativeImage())), want);
  }
}

}  // namespace
}  // namespace korvex
