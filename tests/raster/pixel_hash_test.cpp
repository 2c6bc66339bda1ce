// The pixel hash tying kept coded data to a frame's samples: a bit flipped
// in any lane of the wide middle of a row, the words after it or the last
// partial byte changes it; bits past the width do not.
#include <gtest/gtest.h>

#include <vector>

#include "raster/image.h"

namespace korvex::raster {
namespace {

TEST(PixelHash, EverySampleBitCountsAndPaddingDoesNot) {
  std::vector<uint8_t> bits(320 * 2);  // rows of 2483 1-bit pixels: 310 bytes and 3 bits
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 37 + 11);
  Surface s;
  s.width = 2483;
  s.height = 2;
  s.format = pf::k1bppIndexed;
  s.stride = 320;
  s.scan0 = bits.data();
  const uint64_t base = hash_pixels(s);
  for (const size_t byte : {0, 8, 16, 31, 287, 300, 309, 320 + 24, 320 + 310}) {
    bits[byte] ^= 0x20;  // within the width in the last byte too (bit 2 of its 3)
    EXPECT_NE(hash_pixels(s), base) << "byte " << byte;
    bits[byte] ^= 0x20;
  }
  bits[310] ^= 0x1F;  // past the width, and the row padding
  bits[315] ^= 0xFF;
  EXPECT_EQ(hash_pixels(s), base);
}

}  // namespace
}  // namespace korvex::raster
