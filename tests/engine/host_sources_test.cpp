// Images from host objects: packed DIBs (checked field by field), bitmaps,
// picture objects, the clipboard and screen captures.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core.h"
#include "engine/dib.h"
#include "engine/state.h"
#include "engine_test_util.h"
#include "korvex/global_memory.h"
#include "korvex/host.h"

namespace korvex {
namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A packed DIB: 40-byte header, then `extra` (masks or colour table), then rows.
std::vector<uint8_t> dib(int32_t w, int32_t h, uint16_t bpp, uint32_t compression,
                         const std::vector<uint32_t>& extra, uint32_t clr_used,
                         size_t pixel_bytes) {
  // Size, width, height, one plane and the depth, compression, pixel bytes (left 0),
  // 11811 and 3937 pixels a metre (300 and 100 dpi), colours used and important.
  std::vector<uint32_t> words = {40, uint32_t(w), uint32_t(h), 1u | bpp << 16, compression,
                                 0,  11811,       3937,        clr_used,       0};
  words.insert(words.end(), extra.begin(), extra.end());
  std::vector<uint8_t> v(4 * words.size() + pixel_bytes, 0);
  for (size_t i = 0; i < words.size(); ++i) put32(v, 4 * i, words[i]);
  return v;
}

// A global memory block holding a copy of the bytes.
int32_t block_of(const std::vector<uint8_t>& v) {
  const int32_t block = host::GlobalAlloc(v.size());
  std::memcpy(host::GlobalLock(block), v.data(), v.size());
  host::GlobalUnlock(block);
  return block;
}

TEST(PackedDib, ValidBlocksBecomeImagesBottomUpWithTheirResolution) {
  // 2 x 2, 8 bits, 2 colours used; bottom row first in memory.
  std::vector<uint8_t> v = dib(2, 2, 8, 0, {0x00FF0000, 0x000000FF}, 2, 8);
  v[48] = 1;  // bottom-left pixel: colour 1 (blue)
  std::unique_ptr<raster::Image> img;
  ASSERT_EQ(ImageFromPackedDib(v.data(), v.size(), img), raster::Status::Ok);
  EXPECT_EQ(std::pair(img->format(), img->palette().entries.size()),
            std::pair(raster::pf::k8bppIndexed, size_t{2}));
  EXPECT_EQ(std::make_pair(pixel(img.get(), 0, 0), pixel(img.get(), 0, 1)),
            std::make_pair(0xFFFF0000u, 0xFF0000FFu));
  EXPECT_EQ(std::make_pair(img->dpi_x(), img->dpi_y()), std::make_pair(300.0f, 100.0f));

  // A round trip through the packed form keeps palette, pixels and resolution.
  std::vector<uint8_t> back;
  ASSERT_EQ(PackedDibFromImage(*img, 0xFFFFFFFF, back), raster::Status::Ok);
  std::vector<uint8_t> expect = v;
  put32(expect, 20, 8);  // the writer fills in the pixel byte count
  EXPECT_EQ(back, expect);
}

TEST(PackedDib, InconsistentBlocksAreRefusedBeforeAnythingIsRead) {
  const std::vector<uint8_t> good = dib(4, 4, 24, 0, {}, 0, 48);
  std::unique_ptr<raster::Image> img;
  ASSERT_EQ(ImageFromPackedDib(good.data(), good.size(), img), raster::Status::Ok);
  auto refused = [&](std::vector<uint8_t> v) {
    std::unique_ptr<raster::Image> out;
    return ImageFromPackedDib(v.data(), v.size(), out) == raster::Status::InvalidParameter;
  };
  auto with = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> v = good;
    put32(v, at, value);
    return v;
  };
  // A core header, a header larger than the block, no width, no height, one row
  // more than the block holds, rows past the block (without overflow), run-length
  // compression, a colour table that is not there, two planes, two bits a pixel.
  const std::pair<size_t, uint32_t> fields[] = {
      {0, 12}, {0, 4000},          {4, 0},           {8, 0}, {8, 5}, {4, 0x7FFFFFFF}, {16, 1},
      {32, 1}, {12, 2 | 24 << 16}, {12, 1 | 2 << 16}};
  for (auto [at, value] : fields) EXPECT_TRUE(refused(with(at, value))) << at << " " << value;
  EXPECT_TRUE(refused(dib(2, 2, 8, 0, {}, 300, 8)));                        // 300 colours of 8 bits
  EXPECT_TRUE(refused(dib(2, 2, 16, 3, {0xF800, 0x0FE0, 0x001F}, 0, 8)));   // overlapping masks
  EXPECT_TRUE(refused(dib(2, 2, 16, 3, {0xF0F0, 0x0F00, 0x000F}, 0, 8)));   // broken mask
  EXPECT_TRUE(refused(dib(2, 2, 24, 3, {0xFF0000, 0xFF00, 0xFF}, 0, 16)));  // fields on 24 bits
  EXPECT_TRUE(refused(std::vector<uint8_t>(39, 0)));
  std::vector<uint8_t> v3 = dib(2, 2, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF800000}, 0, 16);
  put32(v3, 0, 56);
  EXPECT_TRUE(refused(v3));  // a 56-byte header whose alpha mask overlaps red
}

// Bit fields are read by the BMP reader's code (masks of every width: bmp_test);
// here the alpha mask inside a 124-byte header of a block without a file header.
TEST(PackedDib, BitFieldsInsideALargeHeaderKeepTheirAlpha) {
  std::vector<uint8_t> v = dib(1, 1, 16, 3, {0x7C00, 0x3E0, 0x1F, 0x8000}, 0, 0);
  put32(v, 0, 124);
  v.resize(128);
  put32(v, 124, 0x001F);  // pure blue, alpha bit clear
  std::unique_ptr<raster::Image> img;
  ASSERT_EQ(ImageFromPackedDib(v.data(), v.size(), img), raster::Status::Ok);
  EXPECT_EQ(std::pair(img->format(), pixel(img.get(), 0, 0)),
            std::pair(raster::pf::k16bppARGB1555, 0x000000FFu));
}

TEST(HostSources, DibBlocksAreCopiedAndReleasedOnlyWhenHandedOver) {
  cKorvex k;
  const std::vector<uint8_t> v = dib(3, 1, 24, 0, {}, 0, 12);
  const int32_t block = block_of(v);
  const int32_t id = k.CreateImageFromDIB(block);
  ASSERT_NE(id, 0);
  EXPECT_EQ(k.GetHorizontalResolution(), 300);
  EXPECT_EQ(k.CloseImage(id), S::Ok);
  EXPECT_EQ(host::GlobalSize(block), v.size());  // still the caller's
  // The DIB routine used for handed-over blocks (scanners) releases it.
  const int32_t owned = ImageFromPackedDibBlock(EngineAccess::state(k), block, 1);
  EXPECT_TRUE(owned != 0 && k.CloseImage(owned) == S::Ok);
  EXPECT_EQ(host::GlobalSize(block), 0u);
  EXPECT_EQ(k.LoadFromGdiDib(0), S::InvalidParameter);
  EXPECT_EQ(k.LoadFromGdiDib(987654), S::GenericError);  // no such block
}

TEST(HostSources, BitmapsPicturesAndIconsKeepTheirColours) {
  cKorvex k;
  host::Bitmap b = host::Bitmap::Blank(2, 1, 8);
  b.colors = {0x00000000, 0x0000FF00};
  b.bits[1] = 1;
  const int32_t hbm = host::CreateBitmap(b);
  ASSERT_EQ(k.LoadFromHBitmap(hbm), S::Ok);
  EXPECT_EQ(pixel(k.GetNativeImage(), 1, 0), 0xFF00FF00u);
  // A picture's palette takes the place of the bitmap's colours.
  const int32_t hpal = host::CreatePalette({0x00000000, 0x00FF0000});
  auto picture = std::make_shared<host::Picture>(host::Picture::kBitmap, hbm, hpal);
  ASSERT_EQ(k.LoadFromPicture(picture), S::Ok);
  EXPECT_EQ(pixel(k.GetNativeImage(), 1, 0), 0xFFFF0000u);
  EXPECT_EQ(k.LoadFromPicture(nullptr), S::InvalidParameter);
  auto meta = std::make_shared<host::Picture>(host::Picture::kMetafile, 0, 0, false);
  EXPECT_EQ(k.LoadFromPicture(meta), S::UnknownImageFormat);

  // An icon: colours with the AND mask as transparency.
  host::Bitmap colour = host::Bitmap::Blank(2, 1, 32);
  colour.bits = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue
  host::Bitmap mask = host::Bitmap::Blank(2, 1, 1);
  mask.bits[0] = 0x40;  // the second pixel is transparent
  auto icon = std::make_shared<host::Picture>(host::Picture::kIcon, host::CreateIcon(colour, mask));
  ASSERT_EQ(k.LoadFromPicture(icon), S::Ok);
  EXPECT_EQ(std::pair(pixel(k.GetNativeImage(), 0, 0), pixel(k.GetNativeImage(), 1, 0) >> 24),
            std::pair(0xFFFF0000u, 0u));
  host::DeleteObject(hpal);
}

TEST(HostSources, TheClipboardGivesItsDibBeforeItsBitmap) {
  cKorvex k;
  host::EmptyClipboard();
  EXPECT_EQ(k.LoadFromClipboard(), S::GenericError);
  host::SetClipboardData(host::kClipboardBitmap, host::CreateBitmap(host::Bitmap::Blank(5, 5, 24)));
  ASSERT_EQ(k.LoadFromClipboard(), S::Ok);
  EXPECT_EQ(k.GetWidth(), 5);
  const std::vector<uint8_t> v = dib(3, 1, 24, 0, {}, 0, 12);
  const int32_t block = block_of(v);
  host::SetClipboardData(host::kClipboardDib, block);
  const int32_t id = k.CreateImageFromClipboard();
  EXPECT_TRUE(id != 0 && k.GetWidth() == 3);
  k.CloseImage(id);
  EXPECT_EQ(host::GlobalSize(block), v.size());  // still the clipboard's
  host::EmptyClipboard();
  host::SetClipboardData(host::kClipboardPalette, host::CreatePalette({0}));
  EXPECT_EQ(k.LoadFromClipboard(), S::GenericError);
  host::EmptyClipboard();
}

TEST(HostSources, CapturesReadTheScreenOrAWindowsSurface) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  host::SetVirtualDesktopSize(40, 30);
  const int32_t dc = host::GetWindowDC(0);
  host::GetDCSurface(dc)->bits[2] = 0x80;  // red of the top-left pixel
  host::ReleaseDC(dc);
  cKorvex k;
  ASSERT_EQ(k.LoadFromCapture(), S::Ok);
  EXPECT_EQ(std::make_pair(k.GetWidth(), k.GetHeight()), std::make_pair(40, 30));
  EXPECT_EQ(std::pair(pixel(k.GetNativeImage(), 0, 0), EngineAccess::state(k).NativeOwned),
            std::pair(0xFF800000u, true));

  const int32_t win = host::CreateWindow({5, 5, 15, 9});
  const int32_t id = k.CreateImageFromHwnd(win);
  ASSERT_NE(id, 0);
  EXPECT_EQ(std::pair(k.GetWidth(), EngineAccess::state(k).NativeOwned), std::pair(10, false));
  EXPECT_EQ((std::pair{k.CreateImageFromHwnd(123456789), k.GetStat()}),
            std::pair(0, S::InvalidParameter));
  k.CloseImage(id);
  host::DestroyWindow(win);
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
}  // namespace korvex
