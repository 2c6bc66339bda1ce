// Graphics: host buffers, brushes, transforms, clipping, text hints, exact write-back.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "raster/graphics.h"
#include "raster_test_util.h"

namespace korvex::raster {
namespace {

std::unique_ptr<Image> white(int32_t w, int32_t h, PixelFormat f = pf::k32bppARGB) {
  auto img = make(w, h, f);
  EXPECT_EQ(img->fill_rect({0, 0, w, h}, 0xFFFFFFFF), Status::Ok);
  return img;
}

TEST(Graphics, DrawsOnAHostBufferOnlyWhereItInks) {
  std::vector<uint32_t> wide(20 * 8, 0x80123456u);  // half-transparent, stride padded below
  std::unique_ptr<Graphics> g;
  EXPECT_EQ(Graphics::open_buffer(reinterpret_cast<uint8_t*>(wide.data()), 20, 8, 40, g),
            Status::InvalidParameter);  // stride shorter than a row
  ASSERT_EQ(Graphics::open_buffer(reinterpret_cast<uint8_t*>(wide.data()), 16, 8, 80, g),
            Status::Ok);
  ASSERT_EQ(g->fill_rectangle(Brush::solid(0xFF00FF00), {2, 2, 3, 3}), Status::Ok);
  ASSERT_EQ(g->flush(), Status::Ok);
  EXPECT_EQ(wide[2 * 20 + 2], 0xFF00FF00u);
  EXPECT_EQ(wide[4 * 20 + 4], 0xFF00FF00u);
  EXPECT_EQ(wide[5 * 20 + 5], 0x80123456u);   // untouched pixels keep their exact value
  EXPECT_EQ(wide[2 * 20 + 17], 0x80123456u);  // past the width: never written
}

TEST(Graphics, LinearGradientsRepeatAndPathGradientsFollowTheHotPoint) {
  auto img = white(100, 10);
  std::unique_ptr<Graphics> g;
  ASSERT_EQ(Graphics::open(*img, g), Status::Ok);
  // Black to white over 50 pixels, tiled: the ramp starts again at x = 50.
  ASSERT_EQ(
      g->fill_rectangle(Brush::linear({0, 0}, {50, 0}, 0xFF000000, 0xFFFFFFFF), {0, 0, 100, 10}),
      Status::Ok);
  ASSERT_EQ(g->flush(), Status::Ok);
  EXPECT_LT(ch(px(*img, 1, 5), 0), 10);
  EXPECT_GT(ch(px(*img, 48, 5), 0), 240);
  EXPECT_LT(ch(px(*img, 51, 5), 0), 10);
  EXPECT_NEAR(ch(px(*img, 75, 5), 0), 128, 6);

  // Hot point off centre: its colour sits there, not at the ellipse's centre.
  auto spot = white(100, 100);
  ASSERT_EQ(Graphics::open(*spot, g), Status::Ok);
  g->set_smoothing(Smoothing::AntiAlias);
  const RectF box{0, 0, 100, 100};
  ASSERT_EQ(g->fill_ellipse(Brush::path_ellipse(box, {30, 50}, 0xFFFF0000, 0, 0, 0xFF0000FF), box),
            Status::Ok);
  ASSERT_EQ(g->flush(), Status::Ok);
  EXPECT_GT(ch(px(*spot, 30, 50), 16), 245);
  EXPECT_LT(ch(px(*spot, 50, 50), 16), 200);
  // Half way from the hot point to the left rim (x = 0) and to the right (x = 100).
  EXPECT_NEAR(ch(px(*spot, 15, 50), 16), 128, 12);
  EXPECT_NEAR(ch(px(*spot, 65, 50), 16), 128, 12);
}

TEST(Graphics, WorldTransformAndClipsCombine) {
  auto img = white(60, 60);
  std::unique_ptr<Graphics> g;
  ASSERT_EQ(Graphics::open(*img, g), Status::Ok);
  g->translate_transform(10, 0, true);
  g->rotate_transform(90, true);  // appended: rotate after translating
  PointF p{10, 20};
  ASSERT_EQ(g->device_to_world(&p, 1), Status::Ok);
  // device = R(T(world)): world (10, -10) -> T -> (20, -10) -> R90 -> (10, 20).
  EXPECT_NEAR(p.x, 10, 1e-9);
  EXPECT_NEAR(p.y, -10, 1e-9);
  g->reset_transform();
  // Two clips intersect: only the overlap of the squares is painted.
  ASSERT_EQ(g->clip_polygon({{0, 0}, {30, 0}, {30, 30}, {0, 30}}), Status::Ok);
  ASSERT_EQ(g->clip_polygon({{20, 20}, {50, 20}, {50, 50}, {20, 50}}), Status::Ok);
  ASSERT_EQ(g->fill_rectangle(Brush::solid(0xFF000000), {0, 0, 60, 60}), Status::Ok);
  ASSERT_EQ(g->flush(), Status::Ok);
  for (auto [xy, v] : {std::pair{25, 0xFF000000u}, {10, 0xFFFFFFFFu}, {40, 0xFFFFFFFFu},
                       {20, 0xFF000000u}, {30, 0xFFFFFFFFu}})
    EXPECT_EQ(px(*img, xy, xy), v) << xy;
}

TEST(Graphics, TexturesTileFromTheOriginAndMonoTextHasTwoLevels) {
  auto tex = make(2, 1, pf::k32bppARGB);
  tex->set_pixel(0, 0, 0xFFFF0000);
  tex->set_pixel(1, 0, 0xFF0000FF);
  Brush b;
  ASSERT_EQ(Brush::texture_of(*tex, b), Status::Ok);
  auto img = white(10, 2);
  std::unique_ptr<Graphics> g;
  ASSERT_EQ(Graphics::open(*img, g), Status::Ok);
  ASSERT_EQ(g->fill_rectangle(b, {3, 0, 5, 2}), Status::Ok);
  ASSERT_EQ(g->flush(), Status::Ok);
  EXPECT_EQ(px(*img, 3, 1), 0xFF0000FFu);  // odd column: the texture's second pixel
  EXPECT_EQ(px(*img, 4, 1), 0xFFFF0000u);
  EXPECT_EQ(px(*img, 2, 1), 0xFFFFFFFFu);

  Font font;
  ASSERT_EQ(Font::create("Arial", 30, Font::Regular, Unit::Pixel, 96, font), Status::Ok);
  EXPECT_EQ(font.family(), "Liberation Sans");
  for (TextHint hint : {TextHint::SingleBitPerPixel, TextHint::AntiAlias}) {
    auto page = white(120, 40);
    ASSERT_EQ(Graphics::open(*page, g), Status::Ok);
    g->set_text_hint(hint);
    ASSERT_EQ(g->draw_string("Ag&", font, Brush::solid(0xFF000000), {2, 2}), Status::Ok);
    ASSERT_EQ(g->flush(), Status::Ok);
    std::set<uint32_t> levels;
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 120; ++x) levels.insert(px(*page, x, y));
    if (hint == TextHint::SingleBitPerPixel)
      EXPECT_EQ(levels.size(), 2u);
    else
      EXPECT_GT(levels.size(), 10u);
  }
}

TEST(Graphics, DeepAndIndexedImagesChangeOnlyWhereDrawn) {
  auto deep = white(8, 8, pf::k64bppARGB);
  // A 16-bit value that 8 bits cannot hold survives a drawing elsewhere.
  const uint16_t deep_px[4] = {0x1234, 0x5678, 0x9ABC, 0xFFFF};
  ASSERT_EQ(deep->write_pixels({7, 7, 1, 1}, pf::k64bppARGB,
                               reinterpret_cast<const uint8_t*>(deep_px), 8),
            Status::Ok);
  std::unique_ptr<Graphics> g;
  ASSERT_EQ(Graphics::open(*deep, g), Status::Ok);
  g->set_smoothing(Smoothing::AntiAlias);
  ASSERT_EQ(g->draw_line({Brush::solid(0xFF000000), 1, false}, {0, 0}, {7, 0}), Status::Ok);
  ASSERT_EQ(g->flush(), Status::Ok);
  uint16_t back[4] = {};
  ASSERT_EQ(deep->read_pixels({7, 7, 1, 1}, pf::k64bppARGB, reinterpret_cast<uint8_t*>(back), 8),
            Status::Ok);
  EXPECT_EQ(back[0], 0x1234);
  EXPECT_EQ(back[2], 0x9ABC);
  EXPECT_EQ(px(*deep, 3, 0), 0xFF000000u);

  auto locked = make(4, 4, pf::k24bppRGB);
  LockData d;
  ASSERT_EQ(locked->lock_bits(nullptr, lock::kRead, pf::k24bppRGB, d), Status::Ok);
  EXPECT_EQ(Graphics::open(*locked, g), Status::WrongState);
  locked->unlock_bits(d);
}

}  // namespace
}  // namespace korvex::raster
