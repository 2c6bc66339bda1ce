// Colour reduction kernels: the octree worked by hand, fixed converters at their boundaries.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "processing/color_reduction.h"
#include "processing/octree.h"
#include "raster/cpu.h"

namespace korvex::reduce {
namespace {

using raster::Status;
namespace pf = raster::pf;
struct Rgb {
  uint8_t r, g, b;
};

// A 24bppRGB image from rows of colours.
std::unique_ptr<raster::Image> image(const std::vector<std::vector<Rgb>>& rows) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(static_cast<int32_t>(rows[0].size()),
                                  static_cast<int32_t>(rows.size()), pf::k24bppRGB, img),
            Status::Ok);
  for (size_t y = 0; y < rows.size(); ++y) {
    uint8_t* d = img->surface().row(static_cast<int32_t>(y));
    for (const Rgb& c : rows[y]) *d++ = c.b, *d++ = c.g, *d++ = c.r;
  }
  return img;
}

uint32_t argb(Rgb c) {
  return 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
}
uint32_t argb(OcTree::Colour c) {
  return argb(Rgb{c.red, c.green, c.blue});
}
uint8_t index_at(const raster::Image& img, int32_t x, int32_t y) {
  return img.surface().row(y)[x];
}

TEST(Octree, LaterPixelsFoldFirstAndLeavesAverageWithIntegerDivision) {
  // A1/A2 and B1/B2 differ only in the last blue bit, so each pair shares a
  // level-7 node; the solos S have level-7 nodes of their own. Nine leaves
  // for eight colours: the node entered last folds. Read from the bottom row
  // up and right to left, that is A's node (entered at A2); read top-down
  // or left to right it would be B's or a solo's.
  const Rgb A1{0, 0, 254}, A2{0, 0, 255}, B1{255, 0, 254}, B2{255, 0, 255};
  const Rgb S1{32, 0, 0}, S2{64, 0, 0}, S3{96, 0, 0}, S4{128, 0, 0}, S5{160, 0, 0};
  auto src = image({{A1, A2, S1, S2, S3}, {S4, S5, B1, B2, S1}});
  std::unique_ptr<raster::Image> out;
  ASSERT_EQ(Quantize8(*src, 8, out), Status::Ok);
  ASSERT_EQ(out->format(), pf::k8bppIndexed);
  const raster::Palette& p = out->palette();
  EXPECT_EQ(p.flags, raster::Palette::kHasAlpha);
  // Depth first, children by 4 R + 2 G + B of each level's bit: the solos
  // below 128 (blue bit 0) come before A (blue bit 1), then red >= 128.
  const Rgb A{0, 0, 254};  // (254 + 255) / 2, rounded down
  EXPECT_EQ(p.entries, (std::vector<uint32_t>{argb(S1), argb(S2), argb(S3), argb(A), argb(S4),
                                              argb(S5), argb(B1), argb(B2)}));
  const std::array<uint8_t, 10> want = {3, 3, 0, 1, 2, 4, 5, 6, 7, 0};
  for (int32_t i = 0; i < 10; ++i) EXPECT_EQ(index_at(*out, i % 5, i / 5), want[i]) << i;
}

TEST(Octree, FewColoursAreKeptExactlyAndTooFewColoursMeanEight) {
  const Rgb c[5] = {{1, 2, 3}, {250, 9, 9}, {9, 250, 9}, {9, 9, 250}, {128, 128, 128}};
  auto five = image({{c[0], c[1], c[2]}, {c[3], c[4], c[0]}});
  std::unique_ptr<raster::Image> out;
  ASSERT_EQ(Quantize8(*five, 8, out), Status::Ok);
  ASSERT_EQ(out->palette().entries.size(), 5u);
  for (int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(out->palette().entries[index_at(*out, i % 3, i / 3)], argb(c[i % 5])) << i;
  }
  auto one = image({{c[4], c[4]}});
  ASSERT_EQ(Quantize8(*one, 256, out), Status::Ok);
  EXPECT_EQ(out->palette().entries, std::vector<uint32_t>{argb(c[4])});

  // 64 colours asked for 4 and for 8 give the same picture.
  std::vector<std::vector<Rgb>> rows(8, std::vector<Rgb>(8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) rows[y][x] = {uint8_t(x * 36), uint8_t(y * 36), uint8_t(x * y)};
  auto many = image(rows);
  std::unique_ptr<raster::Image> four, eight;
  ASSERT_EQ(Quantize8(*many, 4, four), Status::Ok);
  ASSERT_EQ(Quantize8(*many, 8, eight), Status::Ok);
  EXPECT_LE(eight->palette().entries.size(), 8u);
  EXPECT_EQ(four->palette(), eight->palette());
  EXPECT_EQ(std::memcmp(four->surface().scan0, eight->surface().scan0, 8 * 8), 0);
}

TEST(Octree, SumsOfVeryLargePicturesDoNotOverflow) {
  // 3000 x 3000: 8 550 000 white pixels sum to 2.18e9 per channel, past a
  // signed 32-bit sum; the rest is one dark colour.
  constexpr int32_t kSide = 3000, kWhiteRows = 2850;
  std::unique_ptr<raster::Image> src;
  ASSERT_EQ(raster::Image::create(kSide, kSide, pf::k24bppRGB, src), Status::Ok);
  for (int32_t y = 0; y < kWhiteRows; ++y) std::memset(src->surface().row(y), 255, kSide * 3);
  for (int32_t y = kWhiteRows; y < kSide; ++y) std::memset(src->surface().row(y), 7, kSide * 3);
  std::unique_ptr<raster::Image> out;
  ASSERT_EQ(Quantize8(*src, 256, out), Status::Ok);
  EXPECT_EQ(out->palette().entries, (std::vector<uint32_t>{0xFF070707u, 0xFFFFFFFFu}));
  EXPECT_EQ(index_at(*out, 0, 0), 1);
  EXPECT_EQ(index_at(*out, kSide - 1, kSide - 1), 0);
}

TEST(Octree, ShortcutsAndTheMappingTableGiveThePlainWalksResult) {
  // Smooth ramps with noise and runs: leaves at many depths, many folds.
  constexpr int32_t kW = 160, kH = 90;
  std::vector<std::vector<Rgb>> rows(kH, std::vector<Rgb>(kW));
  uint32_t seed = 12345;
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int n = static_cast<int>((seed >> 16) & 15);
      rows[y][x] = x % 7 == 0 && x > 0 ? rows[y][x - 1]
                                       : Rgb{uint8_t(x + n), uint8_t(y * 2 + n), uint8_t(x ^ y)};
    }
  }
  auto src = image(rows);
  for (int32_t colors : {8, 37, 256}) {
    SCOPED_TRACE(colors);
    OcTree plain(false);
    for (int32_t y = kH - 1; y >= 0; --y)
      for (int32_t x = kW - 1; x >= 0; --x)
        plain.AddPixel(rows[y][x].b, rows[y][x].g, rows[y][x].r, colors);
    plain.BuildPalette();
    std::unique_ptr<raster::Image> out;
    ASSERT_EQ(Quantize8(*src, colors, out), Status::Ok);
    ASSERT_EQ(out->palette().entries.size(), plain.palette().size());
    for (size_t i = 0; i < plain.palette().size(); ++i)
      EXPECT_EQ(out->palette().entries[i], argb(plain.palette()[i]));
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x)
        ASSERT_EQ(index_at(*out, x, y),
                  plain.PaletteIndex(rows[y][x].b, rows[y][x].g, rows[y][x].r))
            << x << ", " << y;
  }
}

TEST(Octree, NodesComeInStepsOf1024AndReleasedOnesAreReused) {
  OcTree tree;
  EXPECT_EQ(tree.capacity(), 1024u);
  // 4096 colours folded down to 8 leaves again and again: the records in
  // use stay few, so the array never grows past its first steps.
  for (int i = 0; i < 4096; ++i) {
    tree.AddPixel(uint8_t(i), uint8_t(i >> 4), uint8_t(i * 7), 8);
    ASSERT_LE(tree.leaf_count(), 8);
  }
  EXPECT_EQ(tree.capacity() % 1024, 0u);
  EXPECT_LE(tree.capacity(), 2048u);
}

TEST(FixedConverters, IndexRulesAtTheirBoundaries) {
  auto src = image({{{25, 26, 255}, {126, 126, 126}, {125, 255, 255}, {255, 255, 255}},
                    {{1, 2, 2}, {1, 1, 2}, {5, 0, 0}, {64, 0, 0}}});
  std::unique_ptr<raster::Image> out;
  ASSERT_EQ(Cube8(*src, out), Status::Ok);
  EXPECT_EQ(out->palette(), CubePalette());
  EXPECT_EQ(out->palette().entries[215], 0xFFFFFFFFu);
  EXPECT_EQ(index_at(*out, 0, 0), 11);  // Q = 0, 1, 5
  EXPECT_EQ(index_at(*out, 1, 1), 0);   // 1, 1, 2 all below 25.5

  ASSERT_EQ(Gray8(*src, GrayRule::Mean, out), Status::Ok);
  EXPECT_EQ(out->palette().entries[200], 0xFFC8C8C8u);
  EXPECT_EQ(index_at(*out, 0, 1), 2);  // 5 / 3
  EXPECT_EQ(index_at(*out, 1, 1), 1);  // 4 / 3
  ASSERT_EQ(Gray8(*src, GrayRule::Weighted, out), Status::Ok);
  EXPECT_EQ(index_at(*out, 2, 1), 2);    // 0.3 x 5 = 1.5 -> 2
  EXPECT_EQ(index_at(*out, 3, 0), 254);  // 76 + 150.45 + 28.05 = 254.5 -> 254
  EXPECT_EQ(index_at(*out, 3, 1), 19);   // 19.2

  ASSERT_EQ(Bits1(*src, WhiteRule::Threshold, out), Status::Ok);
  EXPECT_EQ(out->surface().row(0)[0], 0b0101'0000);  // (126,126,126) and white
  EXPECT_EQ(out->surface().row(1)[0], 0);
  ASSERT_EQ(Bits1(*src, WhiteRule::OpaqueWhite, out), Status::Ok);
  EXPECT_EQ(out->surface().row(0)[0], 0b0001'0000);

  ASSERT_EQ(Nearest4(*src, Fixed16Palette(), out), Status::Ok);
  EXPECT_EQ(out->palette().entries[9], 0xFF0000FFu);
  EXPECT_EQ(out->surface().row(0)[1], 0x8F);  // (126,126,126) -> 192 gray, white -> 15
  // (64, 0, 0) lies as near black as dark red: the first entry wins.
  EXPECT_EQ(out->surface().row(1)[1] & 0x0F, 0);
}

TEST(FixedConverters, VectorRowsGiveThePlainLoopsBytes) {
  // Widths around the 16-pixel groups; bytes near the threshold and the
  // division boundaries, in 24- and 32-bit rows.
  for (raster::PixelFormat f : {pf::k24bppRGB, pf::k32bppRGB}) {
    for (int32_t w : {15, 16, 17, 37, 64}) {
      SCOPED_TRACE(w);
      std::unique_ptr<raster::Image> src, fast, plain;
      ASSERT_EQ(raster::Image::create(w, 3, f, src), Status::Ok);
      uint32_t seed = static_cast<uint32_t>(w);
      for (int32_t y = 0; y < 3; ++y) {
        uint8_t* row = src->surface().row(y);
        for (int32_t i = 0; i < src->surface().stride; ++i) {
          seed = seed * 1103515245u + 12345u;
          row[i] = static_cast<uint8_t>(y == 0 ? 124 + (seed >> 16) % 4 : seed >> 16);
        }
      }
      for (int rule = 0; rule < 2; ++rule) {
        auto run = [&](std::unique_ptr<raster::Image>& out) {
          return rule == 0 ? Bits1(*src, WhiteRule::Threshold, out)
                           : Gray8(*src, GrayRule::Mean, out);
        };
        ASSERT_EQ(run(fast), Status::Ok);
        const bool before = raster::detail::allow_simd(false);
        ASSERT_EQ(run(plain), Status::Ok);
        raster::detail::allow_simd(before);
        const size_t bytes = static_cast<size_t>(plain->surface().stride) * 3;
        EXPECT_EQ(std::memcmp(fast->surface().scan0, plain->surface().scan0, bytes), 0) << rule;
      }
    }
  }
}

TEST(FixedConverters, ReadOtherFormatsThroughTheirColours) {
  // A 1-bit picture (black, white) and a 32-bit one with alpha.
  std::unique_ptr<raster::Image> bits, argb32, out;
  ASSERT_EQ(raster::Image::create(9, 1, pf::k1bppIndexed, bits), Status::Ok);
  bits->surface().row(0)[0] = 0b1000'0001;
  bits->surface().row(0)[1] = 0b1000'0000;
  ASSERT_EQ(Bits1(*bits, WhiteRule::Threshold, out), Status::Ok);
  EXPECT_EQ(out->surface().row(0)[0], 0b1000'0001);
  EXPECT_EQ(out->surface().row(0)[1], 0b1000'0000);
  ASSERT_EQ(raster::Image::create(2, 1, pf::k32bppARGB, argb32), Status::Ok);
  const uint32_t px[2] = {0xFEFFFFFF, 0xFFFFFFFF};
  std::memcpy(argb32->surface().row(0), px, 8);
  ASSERT_EQ(Bits1(*argb32, WhiteRule::OpaqueWhite, out), Status::Ok);
  EXPECT_EQ(out->surface().row(0)[0], 0b0100'0000);
  EXPECT_EQ(Nearest4(*argb32, raster::Palette{}, out), Status::InvalidParameter);
}

}  // namespace
}  // namespace korvex::reduce
