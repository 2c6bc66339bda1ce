// Lock bits: format conversions, rectangles, modes and refusals. Stored byte layouts and
// sub-byte offsets are checked on the row conversions the locks call (convert_test).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "raster/version.h"
#include "raster_test_util.h"

namespace korvex::raster {
namespace {

Status write_argb(Image& img, const Rect& r, const std::vector<uint32_t>& px) {
  return img.write_pixels(r, pf::k32bppARGB, reinterpret_cast<const uint8_t*>(px.data()),
                          r.width * 4);
}

// Opaque colours whose channels survive 5-bit truncation: every non-indexed format keeps them.
const std::vector<uint32_t> kOpaque = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00,
                                       0xFF0000FF, 0xFF841808, 0xFFC6E739};

TEST(LockConvert, EveryFormatRoundTripsExactColoursThrough32bppARGB) {
  for (PixelFormat f : pf::kAll) {
    SCOPED_TRACE(pixel_format_name(f));
    const int32_t w = static_cast<int32_t>(kOpaque.size());
    auto img = make(w, 2, f);
    if (is_indexed(f)) {
      // A palette holding exactly the test colours (the 1-bit one only the first two).
      const auto end = kOpaque.begin() + (f == pf::k1bppIndexed ? 2 : w);
      ASSERT_EQ(img->set_palette(Palette{0, {kOpaque.begin(), end}}), Status::Ok);
    }
    std::vector<uint32_t> in(kOpaque), expect(kOpaque);
    if (f == pf::k1bppIndexed) {
      for (size_t i = 2; i < in.size(); ++i) in[i] = expect[i] = (i % 2) ? 0xFFFFFFFF : 0xFF000000;
    }
    if (f == pf::k16bppGrayScale) {
      // Luma of each colour, replicated into the three channels.
      expect = {0xFF000000, 0xFFFFFFFF, 0xFF4C4C4C, 0xFF969696, 0xFF1D1D1D, 0xFF363636, 0xFFC9C9C9};
    }
    in.insert(in.end(), in.begin(), in.end());
    expect.insert(expect.end(), expect.begin(), expect.end());
    ASSERT_EQ(write_argb(*img, Rect{0, 0, w, 2}, in), Status::Ok);
    EXPECT_EQ(read_px(*img, Rect{0, 0, w, 2}), expect);
  }
}

TEST(LockConvert, IndexedWritesPickTheNearestEntryAndLocksInOwnFormatAreRaw) {
  auto img = make(9, 1, pf::k4bppIndexed);
  // Nearest of the sixteen standard colours by squared RGB distance; on a tie
  // the lowest index wins, and alpha plays no part.
  std::vector<uint32_t> in = {0xFF000000, 0xFFFF0000, 0xFF400000, 0xFF404040, 0xFFC8C8C8,
                              0xFF0000F0, 0xFFFFFF00, 0xFFFFFFFF, 0x00FF0000};
  ASSERT_EQ(write_argb(*img, Rect{0, 0, 9, 1}, in), Status::Ok);
  std::vector<uint8_t> idx(8);
  ASSERT_EQ(img->read_pixels(Rect{0, 0, 9, 1}, pf::k4bppIndexed, idx.data(), 8), Status::Ok);
  // 0, 12 (red), 0 ((64,0,0) ties black and dark red), 0 ((64,64,64) ties black,
  // navy and gray), 8 (silver), 9 (blue), 14, 15, 12 (transparent red).
  EXPECT_EQ(std::vector<uint8_t>(idx.begin(), idx.begin() + 4),
            (std::vector<uint8_t>{0x0C, 0x00, 0x89, 0xEF}));
  EXPECT_EQ(idx[4] & 0xF0, 0xC0);

  // Another indexed layout than the image's own is refused.
  EXPECT_EQ(img->read_pixels(Rect{0, 0, 9, 1}, pf::k8bppIndexed, idx.data(), 9),
            Status::InvalidParameter);
  auto rgb = make(4, 1, pf::k24bppRGB);
  EXPECT_EQ(rgb->read_pixels(Rect{0, 0, 4, 1}, pf::k8bppIndexed, idx.data(), 4),
            Status::InvalidParameter);
}

TEST(LockRect, EdgesInsideAreAcceptedAndAnythingOutsideIsRefused) {
  auto img = make(5, 4, pf::k24bppRGB);
  std::vector<uint32_t> all(20);
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010203);
  ASSERT_EQ(write_argb(*img, Rect{0, 0, 5, 4}, all), Status::Ok);
  // Bottom-right corner pixel and the last column.
  EXPECT_EQ(read_px(*img, Rect{4, 3, 1, 1})[0], all[19]);
  const auto col = read_px(*img, Rect{4, 0, 1, 4});
  EXPECT_EQ(col, (std::vector<uint32_t>{all[4], all[9], all[14], all[19]}));

  std::vector<uint32_t> buf(64);
  auto* b = reinterpret_cast<uint8_t*>(buf.data());
  for (const Rect& r :
       {Rect{-1, 0, 2, 2}, Rect{0, -1, 2, 2}, Rect{4, 0, 2, 1}, Rect{0, 3, 1, 2}, Rect{0, 0, 0, 1},
        Rect{0, 0, 1, 0}, Rect{2147483647, 0, 1, 1}, Rect{1, 1, 2147483647, 1}}) {
    EXPECT_EQ(img->read_pixels(r, pf::k32bppARGB, b, 64), Status::InvalidParameter)
        << r.x << "," << r.y << " " << r.width << "x" << r.height;
  }
  // A caller stride too small for the row is refused before anything is touched.
  EXPECT_EQ(img->read_pixels(Rect{0, 0, 5, 1}, pf::k32bppARGB, b, 16), Status::InvalidParameter);
  EXPECT_EQ(img->read_pixels(Rect{0, 0, 5, 1}, pf::k32bppARGB, nullptr, 20),
            Status::InvalidParameter);
}

TEST(LockModes, DirectLockSharesPixelsAndConvertingLockWritesBackOnUnlock) {
  auto img = make(4, 3, pf::k32bppARGB);
  LockData d;
  const Rect r{1, 1, 2, 2};
  ASSERT_EQ(img->lock_bits(&r, lock::kRead | lock::kWrite, pf::k32bppARGB, d), Status::Ok);
  EXPECT_EQ(d.scan0, img->surface().scan0 + img->surface().stride + 4);  // no copy
  // A second lock and a pixel write wait for the unlock.
  LockData d2;
  EXPECT_EQ(img->lock_bits(nullptr, lock::kRead, pf::k32bppARGB, d2), Status::WrongState);
  EXPECT_EQ(img->set_pixel(0, 0, 0xFFFFFFFF), Status::WrongState);
  std::memset(d.scan0, 0x11, 8);
  ASSERT_EQ(img->unlock_bits(d), Status::Ok);
  EXPECT_EQ(img->unlock_bits(d), Status::WrongState);

  auto rgb = make(3, 2, pf::k24bppRGB);
  ASSERT_EQ(rgb->lock_bits(nullptr, lock::kWrite, pf::k32bppARGB, d), Status::Ok);
  EXPECT_EQ(d.stride, 12);
  for (int i = 0; i < 6; ++i) {
    const uint32_t v = 0x80102030u + static_cast<uint32_t>(i);
    std::memcpy(d.scan0 + 4 * i, &v, 4);
  }
  ASSERT_EQ(rgb->unlock_bits(d), Status::Ok);
  EXPECT_EQ(read_px(*rgb, Rect{2, 1, 1, 1})[0], 0xFF102035u);  // alpha dropped on the way in
  // Read-only converting locks never write back.
  ASSERT_EQ(rgb->lock_bits(nullptr, lock::kRead, pf::k32bppARGB, d), Status::Ok);
  std::memset(d.scan0, 0, 24);
  ASSERT_EQ(rgb->unlock_bits(d), Status::Ok);
  EXPECT_EQ(read_px(*rgb, Rect{2, 1, 1, 1})[0], 0xFF102035u);
  // A lock needs read or write, and no unknown mode bits.
  EXPECT_EQ(rgb->lock_bits(nullptr, lock::kUserInputBuffer, pf::k32bppARGB, d),
            Status::InvalidParameter);
  EXPECT_EQ(rgb->lock_bits(nullptr, 8 | lock::kRead, pf::k32bppARGB, d), Status::InvalidParameter);
  EXPECT_EQ(rgb->lock_bits(nullptr, lock::kRead, 0x12345, d), Status::InvalidParameter);
}

TEST(LockModes, OldRasterVersionRefusesConvertingWritesIntoIndexedImages) {
  auto img = make(2, 2, pf::k8bppIndexed);
  std::vector<uint32_t> px(4, 0xFFFF0000);
  set_version_text_for_testing("5.2.6001.0");
  EXPECT_TRUE(is_old_version());
  EXPECT_EQ(write_argb(*img, Rect{0, 0, 2, 2}, px), Status::PixelFormatMustBeConverted);
  // Reads and same-format writes still work.
  EXPECT_EQ(read_px(*img, Rect{0, 0, 2, 2})[0], 0xFF000000u);
  uint8_t idx[4] = {12, 12, 12, 12};
  EXPECT_EQ(img->write_pixels(Rect{0, 0, 2, 2}, pf::k8bppIndexed, idx, 2), Status::Ok);
  set_version_text_for_testing("");
  EXPECT_FALSE(is_old_version());
  EXPECT_EQ(write_argb(*img, Rect{0, 0, 2, 2}, px), Status::Ok);
  EXPECT_EQ(img->surface().scan0[0], 12);
}

}  // namespace
}  // namespace korvex::raster
