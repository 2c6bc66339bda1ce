// Pixel access, resolution setters and host handles of the native image.
#include <algorithm>

#include "engine/state.h"
#include "engine_test_util.h"
#include "korvex/host.h"

namespace korvex {
namespace {

// A 4 x 3 32-bit image whose pixel (x, y) (1-based) is 0xFF000000 | x << 8 | y.
void numbered(cKorvex& k) {
  ASSERT_EQ(k.CreateImage(4, 3, 32), S::Ok);
  for (int32_t y = 1; y <= 3; ++y)
    for (int32_t x = 1; x <= 4; ++x)
      ASSERT_EQ(k.PixelSetColor(x, y, 0xFF000000 | x << 8 | y), S::Ok);
}

TEST(Pixels, SinglePixelsAndRectanglesAreOneBasedRowBeforeColumn) {
  cKorvex k;
  numbered(k);
  expect_px(k, {{1, 1, 0xFF000101u}, {4, 3, 0xFF000403u}, {0, 0, 0u}});
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(k.PixelSetColor(5, 1, 0), S::InvalidParameter);

  Array<int32_t> a;
  ASSERT_EQ(k.GetPixelArray(a, 2, 3, 2, 2), S::Ok);  // row 2, column 3
  EXPECT_EQ(std::make_tuple(a.LBound(1), a.UBound(1), a.UBound(2)), std::make_tuple(1, 2, 2));
  EXPECT_EQ(std::make_tuple(a(1, 1), a(2, 1), a(1, 2)),
            std::make_tuple(int32_t(0xFF000302), int32_t(0xFF000402), int32_t(0xFF000303)));
  // Read then write back leaves the image as it was; a changed value lands.
  a(2, 2) = static_cast<int32_t>(0x80123456);
  ASSERT_EQ(k.SetPixelArray(a, 2, 3, 2, 2), S::Ok);
  expect_px(k, {{4, 3, 0x80123456u}, {3, 2, 0xFF000302u}});

  ASSERT_EQ(k.CreateImage(2, 1, 24), S::Ok);
  k.PixelSetColor(1, 1, static_cast<int32_t>(0xFFFF0000));
  Array<uint8_t> bytes;
  ASSERT_EQ(k.GetPixelArrayARGB(bytes, 1, 1, 2, 1), S::Ok);
  EXPECT_EQ(bytes.Dims(), 3);  // blue, green, red, alpha
  EXPECT_EQ(std::vector<int>({bytes(1, 1, 1), bytes(2, 1, 1), bytes(3, 1, 1), bytes(4, 1, 1)}),
            std::vector<int>({0, 0, 255, 255}));
  bytes(3, 2, 1) = 0;  // the second pixel's red off: white becomes cyan
  ASSERT_EQ(k.SetPixelArrayARGB(bytes, 1, 1, 2, 1), S::Ok);
  EXPECT_EQ(px(k, 2, 1), 0xFF00FFFFu);
}

TEST(Pixels, ArraysTooSmallOrRectanglesOutsideChangeNothingAndAreNotRecorded) {
  cKorvex k;
  numbered(k);
  Array<int32_t> small(std::vector<int32_t>(3, 0));
  k.GetWidth();                                                        // LastStatus Ok
  EXPECT_EQ(k.SetPixelArray(small, 1, 1, 2, 2), S::InvalidParameter);  // 3 Longs for 4 pixels
  EXPECT_EQ(px(k, 2, 2), 0xFF000202u);
  Array<uint8_t> bytes(std::vector<uint8_t>(15, 0));
  EXPECT_EQ(k.SetPixelArrayARGB(bytes, 1, 1, 2, 2), S::InvalidParameter);  // 15 bytes for 16
  EXPECT_EQ(px(k, 1, 1), 0xFF000101u);
  Array<int32_t> out;  // past the last row, empty, negative
  for (auto [r, c, h] : {std::tuple{3, 4, 1}, {1, 1, 0}, {1, 1, -2}})
    EXPECT_EQ(k.GetPixelArray(out, r, c, h, 2), S::InvalidParameter) << r << c << h;
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(k.GetStat(), S::Ok);  // rectangle transfers return their status only
}

// Set and read back through behaviour: Cleanup, Colors.InkPictures; rounding: EngineQueries.
TEST(Pixels, ResolutionSettersRefuseWhatRoundsToZero) {
  cKorvex k;
  EngineAccess::state(k).LastStatus = S::Aborted;
  EXPECT_EQ(k.SetHorizontalResolution(300), S::Aborted);  // no image: the status as it was
  ASSERT_EQ(k.CreateImage(2, 2), S::Ok);
  EXPECT_EQ(k.SetHorizontalResolution(0.3f), S::InvalidParameter);  // rounds to 0 dpi
}

TEST(Handles, BitmapsPicturesAndTheClipboardCompositeTransparencyAsTheyShould) {
  cKorvex k;
  EXPECT_EQ((std::pair{k.GetHBitmap(), k.GetStat()}), std::pair(0, S::InvalidParameter));
  EXPECT_EQ(k.GetPicture(), nullptr);
  ASSERT_EQ(k.CreateImage(3, 2, 32), S::Ok);
  k.PixelSetColor(1, 1, 0x00FF0000);  // fully transparent red
  k.PixelSetColor(2, 1, static_cast<int32_t>(0xFF0000FF));
  const int32_t hbm = k.GetHBitmap();
  ASSERT_NE(hbm, 0);
  const host::BitmapPtr b = host::GetBitmap(hbm);
  // Over black; the opaque blue stays.
  EXPECT_EQ(std::pair(b->bits[0] | b->bits[1] | b->bits[2], int{b->bits[4]}), std::pair(0, 0xFF));
  k.DeleteHBitmap(hbm);
  EXPECT_EQ(host::GetBitmap(hbm), nullptr);

  host::PicturePtr picture = k.GetPicture();
  ASSERT_NE(picture, nullptr);
  const host::BitmapPtr pb = host::GetBitmap(picture->handle());
  EXPECT_EQ(pb->bits[0] & pb->bits[1] & pb->bits[2], 0xFF);  // over white
  const int32_t handle = picture->handle();
  k.DeletePictureObject(picture);
  EXPECT_EQ(host::GetBitmap(handle), nullptr);
  picture.reset();  // deleting the picture afterwards must not touch the handle again

  ASSERT_EQ(k.CopyToClipboard(), S::Ok);
  host::BitmapPtr clip = host::GetBitmap(host::GetClipboardData(host::kClipboardBitmap));
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->bits[0] & clip->bits[1] & clip->bits[2], 0xFF);
  ASSERT_EQ(k.CopyRegionToClipboard(2, 1, 2, 2), S::Ok);
  clip = host::GetBitmap(host::GetClipboardData(host::kClipboardBitmap));
  // 2 wide, the blue pixel at the region's origin.
  EXPECT_EQ(std::make_tuple(clip->width, clip->bits[0], clip->bits[2]),
            std::make_tuple(2, 0xFF, 0));
  EXPECT_EQ(k.CopyRegionToClipboard(3, 1, 2, 2), S::InvalidParameter);
  k.DeleteClipboardData();
  EXPECT_FALSE(host::IsClipboardFormatAvailable(host::kClipboardBitmap));
}

// Reads a pixel of a 32-bit host bitmap as 0x00RRGGBB.
uint32_t surface_px(const host::Bitmap& b, int32_t x, int32_t y) {
  const uint8_t* p = b.bits.data() + static_cast<size_t>(y) * b.stride() + 4 * x;
  return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

TEST(Display, TheImageIsDrawnStretchedClippedAndCompositedOntoTheSurface) {
  cKorvex k;
  host::Bitmap white = host::Bitmap::Blank(10, 8, 32);
  std::fill(white.bits.begin(), white.bits.end(), 0xFF);
  const int32_t hbm = host::CreateBitmap(white);
  const int32_t dc = host::CreateMemoryDC();
  host::SelectBitmap(dc, hbm);
  EXPECT_EQ(k.DisplayImageOnHDC(dc, 1, 1, 4, 4), S::InvalidParameter);  // no image
  ASSERT_EQ(k.CreateImage(2, 2, 32), S::Ok);
  k.PixelSetColor(1, 1, static_cast<int32_t>(0xFFFF0000));
  k.PixelSetColor(2, 2, 0x000000FF);  // transparent: the surface shows through
  // 2 x 2 stretched to 4 x 4 at (3, 3), nearest neighbour, odd smoothing value.
  ASSERT_EQ(k.DisplayImageOnHDC(dc, 3, 3, 4, 4, 9, 5), S::Ok);
  const host::Bitmap& s = *host::GetBitmap(hbm);
  // At 4, 4 the transparent pixel.
  for (auto [at, c] :
       {std::pair{1, 0xFFFFFFu}, {2, 0xFF0000u}, {3, 0xFF0000u}, {4, 0xFFFFFFu}, {6, 0xFFFFFFu}})
    EXPECT_EQ(surface_px(s, at, at), c) << at;
  // An interpolation mode out of range is the default; a rectangle past the
  // surface is clipped; a source rectangle draws only its part.
  ASSERT_EQ(k.DisplayImageOnHDC(dc, 9, 7, 6, 6, 3, 12), S::Ok);
  ASSERT_EQ(k.DisplayImageRectOnHDC(dc, 1, 8, 2, 1, 1, 1, 1, 1, 3, 5), S::Ok);
  EXPECT_EQ(std::pair(surface_px(s, 0, 7), surface_px(s, 2, 7)), std::pair(0xFF0000u, 0xFFFFFFu));
  EXPECT_EQ(k.DisplayImageRectOnHDC(dc, 1, 1, 2, 2, 2, 2, 2, 2), S::InvalidParameter);
  EXPECT_EQ(k.DisplayImageOnHDC(dc, 1, 1, 0, 4), S::InvalidParameter);
  EXPECT_EQ(k.DisplayImageOnHDC(424242, 1, 1, 4, 4), S::Win32Error);
  host::ReleaseDC(dc);
  host::DeleteObject(hbm);

  const int32_t win = host::CreateWindow({0, 0, 6, 6});
  ASSERT_EQ(k.DisplayImageRectOnHwnd(win, 1, 1, 6, 6, 1, 1, 1, 1, 3, 5), S::Ok);
  const int32_t wdc = host::GetWindowDC(win);
  EXPECT_EQ(surface_px(*host::GetDCSurface(wdc), 5, 5), 0xFF0000u);
  host::ReleaseDC(wdc);
  ASSERT_EQ(k.DisplayImageOnHwnd(win, 1, 1, 6, 6), S::Ok);
  EXPECT_EQ(k.DisplayImageOnHwnd(987654, 1, 1, 6, 6), S::Win32Error);
  host::DestroyWindow(win);
}

}  // namespace
}  // namespace korvex
