// Row conversion tests. Expected bytes are worked out by hand from the storage
// layouts; the exhaustive and random checks compare against independent,
// deliberately naive formulas.
#include "raster/convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace korvex::raster {
namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

Bytes store(PixelFormat f, const Pixels& px, const Palette& pal = {}) {
  Bytes row((px.size() * bits_per_pixel(f) + 7) / 8, 0);
  PaletteMatcher m(pal);
  store_argb(f, row.data(), 0, static_cast<int32_t>(px.size()), &m, px.data());
  return row;
}

Pixels load(PixelFormat f, const Bytes& row, int32_t n, const Palette& pal = {}) {
  Pixels out(n);
  load_argb(f, row.data(), 0, n, pal, out.data());
  return out;
}

// (A, R, G, B): opaque orange, half-transparent green-ish, fully transparent.
constexpr uint32_t kP0 = 0xFFFF8000, kP1 = 0x8040C020, kP2 = 0x00123456;

TEST(ConvertFormats, SixteenBit) {
  // 555 of (255,128,0): 31<<10 | 16<<5 = 0x7E00; G reads back as 16<<3 | 16>>2 = 132.
  EXPECT_EQ(store(pf::k16bppRGB555, {kP0, kP1}), (Bytes{0x00, 0x7E, 0x04, 0x23}));
  EXPECT_EQ(load(pf::k16bppRGB555, {0x00, 0x7E, 0x04, 0x23, 0xFF, 0xFF}, 3),
            (Pixels{0xFFFF8400, 0xFF42C621, 0xFFFFFFFF}));  // bit 15 ignored
  EXPECT_EQ(store(pf::k16bppRGB565, {kP0, kP1}), (Bytes{0x00, 0xFC, 0x04, 0x46}));
  EXPECT_EQ(load(pf::k16bppRGB565, {0x00, 0xFC, 0x04, 0x46}, 2), (Pixels{0xFFFF8200, 0xFF42C321}));
  // 1555: alpha 128 sets bit 15, alpha 127 and 0 do not.
  EXPECT_EQ(store(pf::k16bppARGB1555, {kP0, kP1, 0x7F000000, kP2}),
            (Bytes{0x00, 0xFE, 0x04, 0xA3, 0x00, 0x00, 0xCA, 0x08}));
  EXPECT_EQ(load(pf::k16bppARGB1555, {0x04, 0xA3, 0xCA, 0x08}, 2),
            (Pixels{0xFF42C621, 0x00103152}));
  // Gray: luma(255,128,0) = 151881/1000 = 151 = 0x97 in both bytes; read uses the high byte.
  // luma(0,255,0) = 149.685 rounds up to 150 = 0x96.
  EXPECT_EQ(store(pf::k16bppGrayScale, {kP0, kP1, 0xFFFFFFFF, 0xFF00FF00}),
            (Bytes{0x97, 0x97, 0x87, 0x87, 0xFF, 0xFF, 0x96, 0x96}));
  EXPECT_EQ(load(pf::k16bppGrayScale, {0x97, 0x97, 0xFF, 0x7F}, 2),
            (Pixels{0xFF979797, 0xFF7F7F7F}));
}

TEST(ConvertFormats, TwentyFourAndThirtyTwoBit) {
  EXPECT_EQ(store(pf::k24bppRGB, {kP0, kP1}), (Bytes{0x00, 0x80, 0xFF, 0x20, 0xC0, 0x40}));
  EXPECT_EQ(load(pf::k24bppRGB, {0x00, 0x80, 0xFF, 0x20, 0xC0, 0x40}, 2),
            (Pixels{0xFFFF8000, 0xFF40C020}));
  EXPECT_EQ(store(pf::k32bppRGB, {kP1}), (Bytes{0x20, 0xC0, 0x40, 0xFF}));
  EXPECT_EQ(load(pf::k32bppRGB, {0x20, 0xC0, 0x40, 0x00}, 1), (Pixels{0xFF40C020}));
  EXPECT_EQ(store(pf::k32bppARGB, {kP1}), (Bytes{0x20, 0xC0, 0x40, 0x80}));
  EXPECT_EQ(load(pf::k32bppARGB, {0x20, 0xC0, 0x40, 0x00}, 1), (Pixels{0x0040C020}));
  // Premultiplied by 128/255: 64 -> 32, 192 -> 96.38 -> 96, 32 -> 16.06 -> 16.
  EXPECT_EQ(store(pf::k32bppPARGB, {kP1, kP2}), (Bytes{0x10, 0x60, 0x20, 0x80, 0, 0, 0, 0}));
  // 96 * 255 / 128 = 191.25: the round trip loses one step of green.
  EXPECT_EQ(load(pf::k32bppPARGB, {0x10, 0x60, 0x20, 0x80, 0x10, 0x20, 0x30, 0x00}, 2),
            (Pixels{0x8040BF20, 0x00000000}));
}

TEST(ConvertFormats, WideChannelsAreTimes257) {
  EXPECT_EQ(store(pf::k48bppRGB, {kP0}), (Bytes{0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF}));
  EXPECT_EQ(store(pf::k64bppARGB, {kP1}), (Bytes{0x20, 0x20, 0xC0, 0xC0, 0x40, 0x40, 0x80, 0x80}));
  EXPECT_EQ(store(pf::k64bppPARGB, {kP1}), (Bytes{0x10, 0x10, 0x60, 0x60, 0x20, 0x20, 0x80, 0x80}));
  EXPECT_EQ(load(pf::k64bppPARGB, {0x10, 0x10, 0x60, 0x60, 0x20, 0x20, 0x80, 0x80}, 1),
            (Pixels{0x8040BF20}));
  // 0x0081 = 129 -> 1, 0x7FFF = 32767 -> 127.5 - 0.002 -> 127, 0xFFFF -> 255, 0x0080 -> 0.
  EXPECT_EQ(load(pf::k48bppRGB, {0x81, 0x00, 0xFF, 0x7F, 0xFF, 0xFF}, 1), (Pixels{0xFFFF7F01}));
  EXPECT_EQ(load(pf::k64bppARGB, {0x80, 0x00, 0, 0, 0, 0, 0x80, 0x80}, 1), (Pixels{0x80000000}));

  // Every 16-bit value narrows to round(v / 257).
  Bytes row(65536 * 6, 0);
  for (uint32_t v = 0; v < 65536; ++v) {
    row[6 * v] = uint8_t(v);
    row[6 * v + 1] = uint8_t(v >> 8);
  }
  const Pixels out = load(pf::k48bppRGB, row, 65536);
  for (uint32_t v = 0; v < 65536; ++v) ASSERT_EQ(out[v], 0xFF000000u | (2 * v + 257) / 514) << v;
}

TEST(ConvertFormats, Indexed) {
  const Palette bw{0, {0xFF000000, 0xFFFFFFFF}};
  // (128,128,128) is nearer white (3 * 127^2 < 3 * 128^2), (127,127,127) nearer black.
  EXPECT_EQ(store(pf::k1bppIndexed, {0xFFFFFFFF, 0xFF000000, 0xFF808080, 0xFF7F7F7F}, bw),
            (Bytes{0xA0}));
  EXPECT_EQ(load(pf::k1bppIndexed, {0xA0}, 4, bw),
            (Pixels{0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000}));

  Palette grays;
  for (uint32_t i = 0; i < 16; ++i) grays.entries.push_back(0xFF000000 | (i * 17) * 0x010101u);
  Bytes row{0xAB, 0xCD};
  PaletteMatcher m(grays);
  const Pixels in{0xFF333333, 0xFFEEEEEE};
  store_argb(pf::k4bppIndexed, row.data(), 1, 2, &m, in.data());
  EXPECT_EQ(row, (Bytes{0xA3, 0xED}));
  EXPECT_EQ(load(pf::k4bppIndexed, row, 4, grays),
            (Pixels{0xFFAAAAAA, 0xFF333333, 0xFFEEEEEE, 0xFFDDDDDD}));

  // Palette alpha is returned as is; indices past the palette read as 0.
  const Palette three{Palette::kHasAlpha, {0x80FF0000, 0xFF00FF00, 0xFF0000FF}};
  EXPECT_EQ(load(pf::k8bppIndexed, {0, 2, 3, 255}, 4, three),
            (Pixels{0x80FF0000, 0xFF0000FF, 0, 0}));
  EXPECT_EQ(store(pf::k8bppIndexed, {0xFFFF0000, 0x0000F000, 0xFF1010F0}, three), (Bytes{0, 1, 2}));
  EXPECT_EQ(store(pf::k8bppIndexed, {0xFF123456}, Palette{}), (Bytes{0}));
}

TEST(Premultiply, ExactRounding) {
  EXPECT_EQ(premultiply(0x80FF0100), 0x80800100u);  // 255*128/255 = 128, 1*128/255 = 0.502 -> 1
  EXPECT_EQ(premultiply(0x7F000100), 0x7F000000u);  // 1*127/255 = 0.498 -> 0
  EXPECT_EQ(premultiply(0x00FF6464), 0x00000000u);
  EXPECT_EQ(premultiply(0xFF123456), 0xFF123456u);
  for (uint32_t a = 0; a < 256; ++a) {
    for (uint32_t c = 0; c < 256; ++c) {
      const uint32_t e = (2 * c * a + 255) / 510, f = (2 * (255 - c) * a + 255) / 510;
      ASSERT_EQ(premultiply(a << 24 | c << 16 | (255 - c) << 8 | c), a << 24 | e << 16 | f << 8 | e)
          << "c=" << c << " a=" << a;
    }
  }
}

TEST(Premultiply, UnpremultiplyRoundsAndClamps) {
  EXPECT_EQ(unpremultiply(0x80402010), 0x80804020u);  // 64*255/128 = 127.5 -> 128
  EXPECT_EQ(unpremultiply(0x10FF0000), 0x10FF0000u);  // 255*255/16 clamps to 255
  EXPECT_EQ(unpremultiply(0x00FFFFFF), 0x00000000u);
  for (uint32_t a = 1; a < 256; ++a) {
    for (uint32_t p = 0; p < 256; ++p) {
      const uint32_t c = std::min<uint32_t>(255, (p * 255 + a / 2) / a);
      ASSERT_EQ(unpremultiply(a << 24 | p << 16 | p << 8 | p), a << 24 | c * 0x010101u)
          << "p=" << p << " a=" << a;
    }
  }
}

TEST(PaletteMatcher, FirstMinimumWinsAndAlphaIgnored) {
  // Blues 10, 0, 2, transparent red, red 254, blue 0 again, blue 1.
  const Palette pal{
      0, {0xFF00000A, 0xFF000000, 0xFF000002, 0x00FF0000, 0xFFFE0000, 0xFF000000, 0xFF000001}};
  PaletteMatcher m(pal);
  EXPECT_EQ(m.nearest(0xFF000006), 0);  // distance 16 to entries 0 and 2
  EXPECT_EQ(m.nearest(0x00000000), 1);  // exact at 1 and 5
  EXPECT_EQ(m.nearest(0xFF000001), 6);  // exact match after entries at distance 1
  EXPECT_EQ(m.nearest(0xFFFF0000), 3);  // transparent red still matches red
  EXPECT_EQ(m.nearest(0xFF000006), 0);  // cached answer is the same
}

TEST(PaletteMatcher, CacheAgreesWithBruteForce) {
  std::mt19937 rng(1234);
  Palette pal;
  // Palette and colours share a narrow range, so neighbouring colours often
  // have different answers, colours repeat and cache slots are evicted.
  for (int i = 0; i < 256; ++i) pal.entries.push_back(rng() & 0xFF3F3F3F);
  pal.entries[200] = pal.entries[100];
  auto dist = [](uint32_t x, uint32_t y) {
    int d = 0;
    for (int sh : {0, 8, 16})
      d += (int(x >> sh & 255) - int(y >> sh & 255)) * (int(x >> sh & 255) - int(y >> sh & 255));
    return d;
  };
  PaletteMatcher m(pal);
  for (int i = 0; i < 50000; ++i) {
    const uint32_t c = rng() & 0xFF3F3F3F;
    int best = 0;
    for (int k = 1; k < 256; ++k)
      best = dist(c, pal.entries[k]) < dist(c, pal.entries[best]) ? k : best;
    ASSERT_EQ(m.nearest(c), best) << std::hex << c;
  }
}

// Reference bit access, most significant bit first.
unsigned get_px(const Bytes& b, int x, int bpp) {
  const int bit = x * bpp;
  return (b[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
}

TEST(SubByte, StoreAndCopyKeepNeighbouringBits) {
  const Palette bw{0, {0xFF000000, 0xFFFFFFFF}};
  PaletteMatcher m(bw);
  const Pixels black(4, 0xFF000000);
  Bytes row{0xFF, 0xFF};
  store_argb(pf::k1bppIndexed, row.data(), 6, 4, &m, black.data());
  EXPECT_EQ(row, (Bytes{0xFC, 0x3F}));

  // Bits 3..8 of 10110011 01011100 are 100110; written at bit 5 of all-ones.
  const Bytes src{0xB3, 0x5C};
  row = {0xFF, 0xFF};
  copy_pixels(pf::k1bppIndexed, src.data(), 3, row.data(), 5, 6);
  EXPECT_EQ(row, (Bytes{0xFC, 0xDF}));
  const Bytes nib{0x12, 0x34, 0x56};
  row = {0xAB, 0xCD, 0xEF};
  copy_pixels(pf::k4bppIndexed, nib.data(), 1, row.data(), 2, 3);
  EXPECT_EQ(row, (Bytes{0xAB, 0x23, 0x4F}));
}

TEST(SubByte, CopyAtAnyOffsetsMatchesPerPixelCopy) {
  std::mt19937 rng(99);
  for (int bpp : {1, 4}) {
    const PixelFormat f = bpp == 1 ? pf::k1bppIndexed : pf::k4bppIndexed;
    for (int sx = 0; sx < 17; ++sx) {
      for (int dx = 0; dx < 17; ++dx) {
        for (int n = 1; n < 40; ++n) {
          // Exactly sized buffers, so the sanitizer sees any access past the run.
          Bytes src((static_cast<size_t>(sx + n) * bpp + 7) / 8),
              dst((static_cast<size_t>(dx + n) * bpp + 7) / 8);
          for (auto& b : src) b = uint8_t(rng());
          for (auto& b : dst) b = uint8_t(rng());
          Bytes expect = dst;
          for (int i = 0; i < n; ++i) {
            const int bit = (dx + i) * bpp, shift = 8 - bpp - bit % 8;
            const unsigned mask = ((1u << bpp) - 1) << shift;
            expect[bit / 8] =
                uint8_t((expect[bit / 8] & ~mask) | get_px(src, sx + i, bpp) << shift);
          }
          copy_pixels(f, src.data(), sx, dst.data(), dx, n);
          ASSERT_EQ(dst, expect) << "bpp=" << bpp << " sx=" << sx << " dx=" << dx << " n=" << n;
        }
      }
    }
  }
}

TEST(ConvertPixels, DirectLoops) {
  // Five pixels from x0 = 1: one unrolled group of four plus a tail pixel.
  const Bytes rgb{9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  Bytes argb(24, 0xEE);
  std::vector<uint32_t> scratch(8);
  convert_pixels(pf::k24bppRGB, rgb.data(), 1, {}, pf::k32bppARGB, argb.data(), 1, nullptr, 5,
                 scratch.data());
  EXPECT_EQ(argb, (Bytes{0xEE, 0xEE, 0xEE, 0xEE, 1,  2,  3,  0xFF, 4,  5,  6,  0xFF,
                         7,    8,    9,    0xFF, 10, 11, 12, 0xFF, 13, 14, 15, 0xFF}));
  Bytes back(18, 9);  // and back again, leaving the first pixel alone
  convert_pixels(pf::k32bppARGB, argb.data(), 1, {}, pf::k24bppRGB, back.data(), 1, nullptr, 5,
                 scratch.data());
  EXPECT_EQ(back, rgb);
}

TEST(ConvertPixels, EveryPairMatchesLoadThenStore) {
  std::mt19937 rng(7);
  Pixels px(37);
  for (auto& p : px) p = rng();
  px[0] = 0, px[1] = 0xFFFFFFFF;
  Palette pal;
  for (int i = 0; i < 256; ++i) pal.entries.push_back(rng() | 0xFF000000);
  for (PixelFormat sf : pf::kAll) {
    const Bytes src = store(sf, px, pal);  // arbitrary but valid source content
    for (PixelFormat df : pf::kAll) {
      const size_t size = (px.size() * bits_per_pixel(df) + 7) / 8;
      // Same-format copies keep the padding bits of the last byte: zero, as in src.
      Bytes direct(size, sf == df ? 0 : 0x5A), generic(size, 0x5A);
      Pixels scratch(px.size());
      PaletteMatcher m1(pal), m2(pal);
      convert_pixels(sf, src.data(), 0, pal, df, direct.data(), 0, &m1, 37, scratch.data());
      if (sf == df) {
        EXPECT_EQ(direct, src);
        continue;
      }
      load_argb(sf, src.data(), 0, 37, pal, scratch.data());
      store_argb(df, generic.data(), 0, 37, &m2, scratch.data());
      EXPECT_EQ(direct, generic) << std::hex << sf << " -> " << df;
    }
  }
}

}  // namespace
}  // namespace korvex::raster
