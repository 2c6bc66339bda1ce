// The kernels on their own, without an engine: typed parameters per effect
// family and a raster rectangle for the zone.
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

// The colour pair and the channel offsets reach the pixels of the zone only.
TEST(KernelParams, ColourFamiliesChangeOnlyTheZone) {
  const raster::Rect zone{1, 2, 3, 2};
  auto inside = [&](int32_t x, int32_t y) {
    return x >= zone.x && x < zone.x + zone.width && y >= zone.y && y < zone.y + zone.height;
  };
  struct Case {
    int32_t effect;
    FilterParams params;
    uint32_t expected;  // from a white pixel
  };
  FilterParams swap;
  swap.colors = {kWhite, kRed};
  FilterParams offsets;
  offsets.offsets = {-16, 0, -255};
  const Case cases[] = {{kSwapColor, swap, kRed}, {kAdjustRGB, offsets, 0xFFEFFF00u}};
  for (const Case& c : cases) {
    auto img = image_of(raster::pf::k32bppARGB, std::vector<uint32_t>(kSide * kSide, kWhite));
    EXPECT_EQ(ApplyPixelFilter(c.effect, *img, c.params, zone).status, raster::Status::Ok);
    std::vector<uint32_t> px = pixels_of(*img);
    for (int32_t y = 0; y < kSide; ++y) {
      for (int32_t x = 0; x < kSide; ++x) {
        EXPECT_EQ(at(px, x, y), inside(x, y) ? c.expected : kWhite)
            << "effect " << c.effect << " at " << x << "," << y;
      }
    }
  }
}

// Zones outside the image and waves without a period are refused untouched.
TEST(KernelParams, RefusedCallsLeaveTheImageAlone) {
  FilterParams flat;
  flat.waves = {3, 0};
  struct Case {
    int32_t effect;
    FilterParams params;
    raster::Rect zone;
  } const cases[] = {
      {kNegative, {}, {-1, 0, 2, 2}},        {kNegative, {}, {3, 0, 3, 5}},
      {kNegative, {}, {0, 4, 5, 2}},         {kHWaves, flat, {0, 0, kSide, kSide}},
      {kVWaves, flat, {0, 0, kSide, kSide}},
  };
  std::vector<uint32_t> px(kSide * kSide, kWhite);
  at(px, 2, 2) = kBlack;
  for (const Case& c : cases) {
    auto img = image_of(raster::pf::k32bppARGB, px);
    EXPECT_EQ(ApplyPixelFilter(c.effect, *img, c.params, c.zone).status,
              raster::Status::InvalidParameter)
        << c.effect;
    EXPECT_EQ(pixels_of(*img), px) << c.effect;
  }
}

}  // namespace
}  // namespace korvex::filters
