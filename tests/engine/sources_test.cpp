// Blank images of every offered depth.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/state.h"
#include "korvex/korvex.h"
#include "raster/handles.h"

namespace korvex {
namespace {

using S = cKorvexStatus;

raster::Image* img(int32_t id) {
  return raster::find_image(id);
}

TEST(BlankImages, EveryDepthGetsItsFormatAndTheDefaultColourLeavesBitsZero) {
  const struct {
    int16_t depth;
    raster::PixelFormat f;
  } table[] = {{1, raster::pf::k1bppIndexed}, {4, raster::pf::k4bppIndexed},
               {8, raster::pf::k8bppIndexed}, {16, raster::pf::k16bppRGB555},
               {24, raster::pf::k24bppRGB},   {32, raster::pf::k32bppARGB},
               {48, raster::pf::k48bppRGB},   {64, raster::pf::k64bppPARGB}};
  cKorvex k;
  for (const auto& row : table) {
    SCOPED_TRACE(row.depth);
    const int32_t id = k.CreateNewImage(9, 3, row.depth);
    ASSERT_NE(id, 0);
    EXPECT_EQ(k.GetStat(), S::Ok);
    EXPECT_EQ(k.GetNativeImage(), id);
    EXPECT_EQ(img(id)->format(), row.f);
    const raster::Surface& s = img(id)->surface();
    const std::vector<uint8_t> zero(static_cast<size_t>(s.stride), 0);
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(s.row(y), zero.data(), zero.size()), 0);
    uint32_t v = 1;
    ASSERT_EQ(img(id)->get_pixel(8, 2, v), raster::Status::Ok);
    EXPECT_EQ(v, raster::has_alpha(row.f) ? 0x00000000u : 0xFF000000u);
    k.CloseImage(id);
  }
}

TEST(BlankImages, CreateImageIsOpaqueWhiteInEveryDepth) {
  const struct {
    int16_t depth;
    std::vector<uint8_t> first_bytes;
  } table[] = {{1, {0xFF}},
               {4, {0xFF}},  // index 15 twice
               {8, {15}},
               {16, {0xFF, 0x7F}},
               {24, {0xFF, 0xFF, 0xFF}},
               {32, {0xFF, 0xFF, 0xFF, 0xFF}},
               {48, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
               {64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}};
  cKorvex k;
  for (const auto& row : table) {
    SCOPED_TRACE(row.depth);
    ASSERT_EQ(k.CreateImage(8, 2, row.depth), S::Ok);
    const raster::Surface& s = img(k.GetNativeImage())->surface();
    EXPECT_EQ(std::memcmp(s.row(1), row.first_bytes.data(), row.first_bytes.size()), 0);
    uint32_t v = 0;
    ASSERT_EQ(img(k.GetNativeImage())->get_pixel(7, 1, v), raster::Status::Ok);
    EXPECT_EQ(v, 0xFFFFFFFFu);
  }
}

TEST(BlankImages, BackColoursAreCompositedLikeAFilledRectangle) {
  cKorvex k;
  // Over the transparent 32-bit bitmap a translucent colour stays as given;
  // over the black 24-bit one it is blended.
  const int32_t argb = k.CreateNewImage(2, 2, 32, static_cast<int32_t>(0x80FF8040));
  uint32_t v = 0;
  ASSERT_EQ(img(argb)->get_pixel(1, 1, v), raster::Status::Ok);
  EXPECT_EQ(v, 0x80FF8040u);
  const int32_t rgb = k.CreateNewImage(2, 2, 24, static_cast<int32_t>(0x80FF8040));
  ASSERT_EQ(img(rgb)->get_pixel(0, 0, v), raster::Status::Ok);
  EXPECT_EQ(v, 0xFF804020u);
  const int32_t pal = k.CreateNewImage(2, 2, 4, static_cast<int32_t>(0xFF0000F0));
  EXPECT_EQ(img(pal)->surface().row(0)[0], 0x99);  // nearest standard colour: blue (9)
  for (int32_t id : {argb, rgb, pal}) k.CloseImage(id);
}

TEST(BlankImages, RefusedDepthsAndSizesLeaveTheNativeImageAlone) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 4), S::Ok);
  const int32_t native = k.GetNativeImage();
  const size_t open = raster::open_image_count();
  for (int16_t depth : {int16_t{0}, int16_t{2}, int16_t{12}, int16_t{-32}, int16_t{128}}) {
    EXPECT_EQ(k.CreateNewImage(4, 4, depth), 0);
    EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  }
  EXPECT_EQ(k.CreateNewImage(0, 4), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(k.CreateNewImage(4, -4), 0);
  EXPECT_EQ(k.CreateNewImage(100000, 100000, 64), 0);  // 80 GB: over the pixel memory limit
  EXPECT_EQ(k.GetStat(), S::OutOfMemory);
  EXPECT_EQ(k.GetNativeImage(), native);
  EXPECT_EQ(raster::open_image_count(), open);
}

TEST(BlankImages, CreateNewImageLeavesImagesToTheCallerAndCreateImageOwnsItsOwn) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 4), S::Ok);
  const int32_t owned = k.GetNativeImage();
  EXPECT_TRUE(EngineAccess::state(k).NativeOwned);
  const int32_t next = k.CreateNewImage(2, 2);
  EXPECT_NE(img(owned), nullptr);  // not closed
  // The new image is the caller's, so a CreateImage now does not dispose it.
  EXPECT_FALSE(EngineAccess::state(k).NativeOwned);
  ASSERT_EQ(k.CreateImage(3, 3, 8), S::Ok);
  EXPECT_NE(img(next), nullptr);
  EXPECT_TRUE(EngineAccess::state(k).NativeOwned);
  EXPECT_EQ(k.GetWidth(), 3);
  // The engine's own native image is closed by the next CreateImage.
  const int32_t third = k.GetNativeImage();
  ASSERT_EQ(k.CreateImage(1, 1), S::Ok);
  EXPECT_EQ(img(third), nullptr);
  k.CloseImage(next);
  k.CloseImage(owned);
}

}  // namespace
}  // namespace korvex
