// The kernels on their own, without an engine: typed parameters and a raster rectangle for the
// zone. Colour parameters, zones and refusals are checked through the members (filters_test).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "processing/filter_engine.h"
#include "raster/image.h"

namespace korvex::filters {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u, kRed = 0xFFFF0000u;
constexpr int32_t kSide = 5;

std::unique_ptr<raster::Image> image_of(raster::PixelFormat f, const std::vector<uint32_t>& px) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(kSide, kSide, f, img), raster::Status::Ok);
  EXPECT_EQ(img->write_pixels({0, 0, kSide, kSide}, raster::pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), kSide * 4),
            raster::Status::Ok);
  return img;
}

std::vector<uint32_t> pixels_of(raster::Image& img) {
  std::vector<uint32_t> px(kSide * kSide);
  EXPECT_EQ(img.read_pixels({0, 0, kSide, kSide}, raster::pf::k32bppARGB,
                            reinterpret_cast<uint8_t*>(px.data()), kSide * 4),
            raster::Status::Ok);
  return px;
}

uint32_t& at(std::vector<uint32_t>& px, int32_t x, int32_t y) {
  return px[static_cast<size_t>(y * kSide + x)];
}

PatternPair lone_black_to(uint32_t out) {
  PatternPair p;
  p.in.fill(kWhite);
  p.in[4] = kBlack;
  p.out.fill(out);
  return p;
}

// Each run uses its own patterns and only windows inside the zone: the 3 x 3
// corner zone clears (1, 1) but not (3, 3); the second run paints (3, 3)'s
// window red. In place (32-bit) and through bands (24-bit).
TEST(KernelParams, PatternPairsComeWithEachRunAndStayInTheZone) {
  for (raster::PixelFormat f : {raster::pf::k32bppARGB, raster::pf::k24bppRGB}) {
    std::vector<uint32_t> px(kSide * kSide, kWhite);
    at(px, 1, 1) = kBlack;
    at(px, 3, 3) = kBlack;
    auto img = image_of(f, px);

    FilterParams clear;
    clear.patterns = lone_black_to(kWhite);
    EXPECT_EQ(ApplyPixelFilter(kMatrix3x3, *img, clear, {0, 0, 3, 3}).status, raster::Status::Ok);
    at(px, 1, 1) = kWhite;
    EXPECT_EQ(pixels_of(*img), px) << f;

    FilterParams paint;
    paint.patterns = lone_black_to(kRed);
    EXPECT_EQ(ApplyPixelFilter(kMatrix3x3, *img, paint, {0, 0, kSide, kSide}).status,
              raster::Status::Ok);
    for (int32_t i = 0; i < 9; ++i) at(px, 2 + i % 3, 2 + i / 3) = kRed;
    EXPECT_EQ(pixels_of(*img), px) << f;
  }
}

}  // namespace
}  // namespace korvex::filters
