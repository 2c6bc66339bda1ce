// The raster image: limits, palettes, turns, clones, fills, frames, properties, handles.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "raster/handles.h"
#include "raster_test_util.h"

namespace korvex::raster {
namespace {

class PixelLimit : public ::testing::Test {
 protected:
  void TearDown() override { set_pixel_memory_limit(uint64_t{4} << 30); }
};

TEST_F(PixelLimit, SizesAreCheckedIn64BitsBeforeAnythingIsAllocated) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(0, 10, pf::k32bppARGB, img), Status::InvalidParameter);
  EXPECT_EQ(Image::create(10, -1, pf::k32bppARGB, img), Status::InvalidParameter);
  EXPECT_EQ(Image::create(10, 10, 0x12345, img), Status::InvalidParameter);
  // 65536 x 65536 x 8 bytes = 32 GiB: over the default limit, no allocation tried.
  EXPECT_EQ(Image::create(65536, 65536, pf::k64bppARGB, img), Status::OutOfMemory);
  EXPECT_EQ(Image::create(2147483647, 2147483647, pf::k64bppARGB, img), Status::OutOfMemory);
  EXPECT_EQ(img, nullptr);
  // The limit counts padded rows: 3 x 2 at 24 bits is 2 rows of 12 bytes.
  set_pixel_memory_limit(24);
  EXPECT_EQ(Image::create(3, 2, pf::k24bppRGB, img), Status::Ok);
  EXPECT_EQ(img->surface().stride, 12);
  EXPECT_EQ(Image::create(3, 3, pf::k24bppRGB, img), Status::OutOfMemory);
  // Converting locks allocate under the same limit.
  LockData d;
  EXPECT_EQ(img->lock_bits(nullptr, lock::kRead, pf::k64bppARGB, d), Status::OutOfMemory);
  EXPECT_EQ(img->lock_bits(nullptr, lock::kRead, pf::k32bppARGB, d), Status::Ok);  // 24 bytes
  img->unlock_bits(d);
  EXPECT_EQ(padded_stride(1, pf::k1bppIndexed), 4);
  EXPECT_EQ(padded_stride(33, pf::k1bppIndexed), 8);
  EXPECT_EQ(padded_stride(2147483647, pf::k64bppARGB), -1);
}

TEST(ImageCreate, ResolutionsAndPalettesAreChecked) {
  // Defaults (96 dpi, "Memory BMP", blank pixels) are read through the engine: registry_test.
  auto img = make(7, 3, pf::k8bppIndexed);
  EXPECT_EQ(img->set_resolution(0.0f, 72.0f), Status::InvalidParameter);
  EXPECT_EQ(img->set_palette(Palette{0, std::vector<uint32_t>(257)}), Status::InvalidParameter);
}

TEST(ImageCreate, BitmapOverCallerPixelsSharesThemIncludingBottomUpRows) {
  // Two rows of 24-bit pixels stored bottom-up, as in a DIB.
  uint8_t rows[2][8] = {{1, 2, 3, 0, 0, 0, 0, 0}, {4, 5, 6, 0, 0, 0, 0, 0}};
  std::unique_ptr<Image> img;
  ASSERT_EQ(Image::create_from_scan0(2, 2, -8, pf::k24bppRGB, rows[1], img), Status::Ok);
  EXPECT_EQ(px(*img, 0, 0), 0xFF060504u);  // top row is the last one in memory
  EXPECT_EQ(px(*img, 0, 1), 0xFF030201u);
  ASSERT_EQ(img->set_pixel(1, 1, 0xFFAABBCC), Status::Ok);
  EXPECT_EQ(rows[0][3], 0xCC);
  EXPECT_EQ(Image::create_from_scan0(3, 2, 8, pf::k24bppRGB, rows[0], img),
            Status::InvalidParameter);  // 9 bytes of pixels do not fit an 8-byte stride
}

TEST(ImageGeometry, EightRotateFlipTypesMoveEveryPixelWhereItBelongs) {
  // Source 3 x 2:  a b c / d e f. Expected layouts row by row for types 0..7 (rotations by
  // 0, 90, 180, 270, then the same after a flip in x); odd types turn it 2 x 3.
  const char* layouts[8] = {"abcdef", "daebfc", "fedcba", "cfbead",
                            "cbafed", "adbecf", "defabc", "fcebda"};
  const uint32_t colour[6] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000,
                              0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
  for (PixelFormat f : {pf::k1bppIndexed, pf::k4bppIndexed, pf::k8bppIndexed, pf::k16bppRGB565,
                        pf::k24bppRGB, pf::k32bppARGB, pf::k48bppRGB, pf::k64bppARGB}) {
    // 1 bit: a, c, e white; b, d, f black.
    auto value = [&](int i) { return f == pf::k1bppIndexed ? colour[1 - i % 2] : colour[i]; };
    for (int t = 0; t < 8; ++t) {
      SCOPED_TRACE(std::string(pixel_format_name(f)) + " type " + std::to_string(t));
      auto img = make(3, 2, f);
      for (int i = 0; i < 6; ++i) ASSERT_EQ(img->set_pixel(i % 3, i / 3, value(i)), Status::Ok);
      ASSERT_EQ(img->set_resolution(100.0f, 200.0f), Status::Ok);
      ASSERT_EQ(img->rotate_flip(static_cast<RotateFlip>(t)), Status::Ok);
      const int32_t w = t % 2 ? 2 : 3;
      ASSERT_EQ(std::make_pair(img->width(), img->height()), std::make_pair(w, 6 / w));
      for (int i = 0; i < 6; ++i)
        EXPECT_EQ(px(*img, i % w, i / w), value(layouts[t][i] - 'a')) << i;
      EXPECT_FLOAT_EQ(img->dpi_x(), w == 3 ? 100.0f : 200.0f);
    }
  }
  auto img = make(2, 2, pf::k24bppRGB);
  EXPECT_EQ(img->rotate_flip(static_cast<RotateFlip>(8)), Status::InvalidParameter);
}

TEST(ImageCopies, CloneIsDeepAndKeepsPaletteResolutionPropertiesAndFrames) {
  auto img = make(4, 3, pf::k8bppIndexed);
  const Palette p{Palette::kHasAlpha, {0x00000000, 0x80FF0000, 0xFF00FF00}};
  ASSERT_EQ(img->set_palette(p), Status::Ok);
  ASSERT_EQ(img->set_pixel(3, 2, 0x80FF0000), Status::Ok);
  ASSERT_EQ(img->set_resolution(300.0f, 150.0f), Status::Ok);
  ASSERT_EQ(img->set_property(PropertyItem{305, ptype::kAscii, {'K', 0}}), Status::Ok);
  std::unique_ptr<Image> copy;
  ASSERT_EQ(img->clone(copy), Status::Ok);
  EXPECT_EQ(copy->palette(), p);
  EXPECT_EQ(px(*copy, 3, 2), 0x80FF0000u);
  EXPECT_FLOAT_EQ(copy->dpi_y(), 150.0f);
  EXPECT_EQ(copy->properties(), (std::vector<PropertyItem>{{305, ptype::kAscii, {'K', 0}}}));
  // Independent pixels.
  ASSERT_EQ(copy->set_pixel(3, 2, 0xFF00FF00), Status::Ok);
  EXPECT_EQ(px(*img, 3, 2), 0x80FF0000u);

  // Area clone in the image's own format keeps the palette and resolution;
  // in another format converts.
  std::unique_ptr<Image> area;
  ASSERT_EQ(img->clone_area(Rect{2, 1, 2, 2}, pf::k8bppIndexed, area), Status::Ok);
  EXPECT_EQ(area->palette(), p);
  EXPECT_EQ(px(*area, 1, 1), 0x80FF0000u);
  EXPECT_FLOAT_EQ(area->dpi_x(), 300.0f);
  EXPECT_TRUE(area->properties().empty());
  ASSERT_EQ(img->clone_area(Rect{2, 1, 2, 2}, pf::k24bppRGB, area), Status::Ok);
  EXPECT_EQ(px(*area, 1, 1), 0xFFFF0000u);
}

// A loader that decodes frame i as a 2 x 2 image filled with colour i.
struct CountingLoader : FrameLoader {
  int loads = 0;
  Status load(uint32_t index, Frame& out) override {
    ++loads;
    if (index == 3) return Status::GenericError;  // a damaged frame
    if (Status s = allocate_surface(2, 2, pf::k24bppRGB, out.pixels); s != Status::Ok) return s;
    for (int32_t y = 0; y < 2; ++y) std::memset(out.pixels.row(y), static_cast<int>(index), 6);
    return Status::Ok;
  }
};

TEST(ImageFrames, FramesLoadOnFirstSelectionAndAFailedOneKeepsTheActiveFrame) {
  auto loader = std::make_shared<CountingLoader>();
  std::vector<Frame> frames(4);
  for (size_t i = 1; i < 4; ++i) frames[i].loaded = false;
  ASSERT_EQ(loader->load(0, frames[0]), Status::Ok);
  loader->loads = 0;
  auto img =
      Image::from_frames(std::move(frames), guids::kFrameDimensionTime, guids::kFormatGif, loader);
  // Counts per dimension and selections past the end: tests/engine/frames_test.
  for (uint32_t i : {2u, 0u, 2u})
    ASSERT_EQ(img->select_active_frame(guids::kFrameDimensionTime, i), Status::Ok);
  EXPECT_EQ(loader->loads, 1);
  EXPECT_EQ(px(*img, 1, 1), 0xFF020202u);
  EXPECT_EQ(img->select_active_frame(guids::kFrameDimensionTime, 3), Status::GenericError);
  EXPECT_EQ(img->active_frame(), 2u);  // a failed selection keeps the active frame
  std::unique_ptr<Image> copy;
  EXPECT_EQ(img->clone(copy), Status::GenericError);  // cannot copy a frame that will not load
}

TEST(ImageProperties, SetReplacesByIdRemoveReportsMissingItems) {
  auto img = make(1, 1, pf::k24bppRGB);
  ASSERT_EQ(img->set_property(PropertyItem{0x5100, ptype::kLong, {10, 0, 0, 0}}), Status::Ok);
  ASSERT_EQ(img->set_property(PropertyItem{0x5100, ptype::kLong, {20, 0, 0, 0}}), Status::Ok);
  EXPECT_EQ(img->properties(), (std::vector<PropertyItem>{{0x5100, ptype::kLong, {20, 0, 0, 0}}}));
  EXPECT_EQ(img->set_property(PropertyItem{1, 6, {}}), Status::InvalidParameter);  // no type 6
  EXPECT_EQ(img->remove_property(0x5101), Status::PropertyNotFound);
  EXPECT_EQ(img->remove_property(0x5100), Status::Ok);
  EXPECT_TRUE(img->properties().empty());
}

TEST(ImagePixels, FillCompositesOverWhatIsThereInTheImagesOwnFormat) {
  // Fills over transparent and over opaque black are checked by tests/engine/registry_test.
  auto argb = make(3, 2, pf::k32bppARGB);
  ASSERT_EQ(argb->fill_rect(Rect{0, 0, 3, 2}, 0x80FF0000), Status::Ok);
  ASSERT_EQ(argb->fill_rect(Rect{1, 0, 1, 1}, 0x800000FF), Status::Ok);
  // 50 % blue over 50 % red: alpha 128 + 128 * 127 / 255 = 192, red 84.8 / 192 * 255
  // and blue 128 / 192 * 255, rounded: 85 and 170.
  EXPECT_EQ(px(*argb, 1, 0), 0xC05500AAu);
  EXPECT_EQ(px(*argb, 0, 0), 0x80FF0000u);
  EXPECT_EQ(argb->fill_rect(Rect{2, 0, 2, 1}, 0xFFFFFFFF), Status::InvalidParameter);
  auto indexed = make(2, 1, pf::k1bppIndexed);
  ASSERT_EQ(indexed->fill_rect(Rect{1, 0, 1, 1}, 0xFFF0F0F0), Status::Ok);
  EXPECT_EQ(indexed->surface().scan0[0], 0x40);
}

TEST(ImageCopies, ThumbnailAveragesAreasAndKeepsFlatColoursExact) {
  auto img = make(4, 2, pf::k32bppARGB);
  // Left half white, right half black, then a thumbnail of 2 x 1.
  ASSERT_EQ(img->fill_rect(Rect{0, 0, 2, 2}, 0xFFFFFFFF), Status::Ok);
  ASSERT_EQ(img->fill_rect(Rect{2, 0, 2, 2}, 0xFF000000), Status::Ok);
  const auto white_black = std::make_pair(0xFFFFFFFFu, 0xFF000000u);
  std::unique_ptr<Image> th;
  ASSERT_EQ(img->thumbnail(2, 1, th), Status::Ok);
  EXPECT_EQ(th->format(), pf::k32bppPARGB);
  EXPECT_EQ(std::make_pair(px(*th, 0, 0), px(*th, 1, 0)), white_black);
  ASSERT_EQ(img->thumbnail(1, 1, th), Status::Ok);
  EXPECT_EQ(px(*th, 0, 0), 0xFF808080u);  // 127.5 rounds up
  ASSERT_EQ(img->thumbnail(8, 5, th), Status::Ok);
  EXPECT_EQ(std::make_pair(px(*th, 0, 0), px(*th, 7, 4)), white_black);
  EXPECT_EQ(img->thumbnail(0, 5, th), Status::InvalidParameter);
}

// Identifiers never reused and stale ones refused: tests/engine/registry_test.
TEST(Handles, ThreadsShareNoImageAndALockedImageStays) {
  const int32_t mine = register_image(make(1, 1, pf::k24bppRGB));
  LockData d;
  ASSERT_EQ(find_image(mine)->lock_bits(nullptr, lock::kRead, pf::k24bppRGB, d), Status::Ok);
  EXPECT_EQ(dispose_image(mine), Status::ObjectBusy);
  find_image(mine)->unlock_bits(d);
  int32_t theirs = 0;
  bool saw_mine = true;
  std::thread t([&] {
    saw_mine = find_image(mine) != nullptr || dispose_image(mine) == Status::Ok;
    theirs = register_image(make(1, 1, pf::k24bppRGB));
  });
  t.join();
  EXPECT_FALSE(saw_mine);
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(find_image(theirs), nullptr);  // died with its thread, never visible here
  EXPECT_NE(find_image(mine), nullptr);
  EXPECT_EQ(dispose_image(mine), Status::Ok);
}

}  // namespace
}  // namespace korvex::raster
