// The pixel hash that ties a frame's kept coded data to its samples: any
// sample bit changed anywhere in a row (in the wide middle that is hashed
// several words at a time, the words after it, the last partial byte)
// changes it, and bits past the width (row padding) do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "raster/image.h"

namespace korvex::raster {
namespace {

TEST(PixelHash, EverySampleBitCountsAndPaddingDoesNot) {
  // 1-bit rows of 2483 pixels: 310 whole bytes and 3 bits of a last one.
  constexpr int32_t kWidth = 2483, kHeight = 3, kStride = 320;
  std::vector<uint8_t> bits(static_cast<size_t>(kStride) * kHeight);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 37 + 11);
  Surface s;
  s.width = kWidth;
  s.height = kHeight;
  s.format = pf::k1bppIndexed;
  s.stride = kStride;
  s.scan0 = bits.data();
  const uint64_t base = hash_pixels(s);
  EXPECT_EQ(hash_pixels(s), base);
  // Byte, bit: each lane of the first words, the last word of the wide
  // part, the words after it, and the last pixel of the row.
  const struct {
    size_t byte;
    int bit;
  } samples[] = {{0, 7}, {8, 0}, {16, 3}, {24, 5}, {31, 1}, {287, 6}, {300, 2}, {309, 0},
                 {310, 5}};
  for (int32_t y = 0; y < kHeight; ++y) {
    for (const auto& [byte, bit] : samples) {
      uint8_t& b = bits[static_cast<size_t>(y) * kStride + byte];
      b ^= static_cast<uint8_t>(1u << bit);
      EXPECT_NE(hash_pixels(s), base) << "row " << y << " byte " << byte << " bit " << bit;
      b ^= static_cast<uint8_t>(1u << bit);
    }
  }
  // Past the width: the rest of the last byte and the row padding.
  bits[310] ^= 0x1F;
  bits[315] ^= 0xFF;
  EXPECT_EQ(hash_pixels(s), base);
  // Rows swapped are different pixels.
  std::swap_ranges(bits.begin(), bits.begin() + kStride, bits.begin() + kStride);
  EXPECT_NE(hash_pixels(s), base);
}

}  // namespace
}  // namespace korvex::raster
