// Row conversions: expected bytes worked out by hand from the storage layouts;
// exhaustive and random checks against deliberately naive formulas.
#include "raster/convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace korvex::raster {
namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

Bytes store(PixelFormat f, const Pixels& px, const Palette& pal = {}, uint8_t fill = 0) {
  Bytes row((px.size() * bits_per_pixel(f) + 7) / 8, fill);
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

TEST(ConvertFormats, SixteenTwentyFourThirtyTwoAndWideFormatsStoreAndLoadTheirLayouts) {
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

  // Wide channels are 8-bit values times 257.
  EXPECT_EQ(store(pf::k48bppRGB, {kP0}), (Bytes{0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF}));
  EXPECT_EQ(store(pf::k64bppARGB, {kP1}), (Bytes{0x20, 0x20, 0xC0, 0xC0, 0x40, 0x40, 0x80, 0x80}));
  EXPECT_EQ(store(pf::k64bppPARGB, {kP1}), (Bytes{0x10, 0x10, 0x60, 0x60, 0x20, 0x20, 0x80, 0x80}));
  EXPECT_EQ(load(pf::k64bppPARGB, {0x10, 0x10, 0x60, 0x60, 0x20, 0x20, 0x80, 0x80}, 1),
            (Pixels{0x8040BF20}));
  // 0x0080 -> 0; 0x8080 -> 128 (the 48-bit loop below covers every value).
  EXPECT_EQ(load(pf::k64bppARGB, {0x80, 0x00, 0, 0, 0, 0, 0x80, 0x80}, 1), (Pixels{0x80000000}));

  // Every 16-bit value narrows to round(v / 257).
  Bytes row(65536 * 6, 0);
  for (uint32_t v = 0; v < 65536; ++v) row[6 * v] = uint8_t(v), row[6 * v + 1] = uint8_t(v >> 8);
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

// Both directions over every alpha and channel value, against the rounded quotients;
// unpremultiplied channels clamp to 255 and alpha 0 gives 0. The loop keeps red and
// blue equal, so two spot checks with distinct channels catch a channel mix-up.
TEST(Premultiply, BothDirectionsRoundAndUnpremultiplyClamps) {
  EXPECT_EQ(premultiply(0x80FF0100), 0x80800100u);    // 255*128/255 = 128, 1*128/255 = 0.502 -> 1
  EXPECT_EQ(unpremultiply(0x80402010), 0x80804020u);  // 64*255/128 = 127.5 -> 128
  for (uint32_t a = 0; a < 256; ++a) {
    for (uint32_t c = 0; c < 256; ++c) {
      const uint32_t e = (2 * c * a + 255) / 510, f = (2 * (255 - c) * a + 255) / 510;
      ASSERT_EQ(premultiply(a << 24 | c << 16 | (255 - c) << 8 | c), a << 24 | e << 16 | f << 8 | e)
          << "c=" << c << " a=" << a;
      const uint32_t u =
          a ? a << 24 | std::min<uint32_t>(255, (c * 255 + a / 2) / a) * 0x010101u : 0;
      ASSERT_EQ(unpremultiply(a << 24 | c * 0x010101u), u) << "p=" << c << " a=" << a;
    }
  }
}

TEST(PaletteMatcher, FirstMinimumWinsAlphaIsIgnoredAndTheCacheAgreesWithBruteForce) {
  // Against a brute-force first-minimum search ignoring alpha (entry 200 repeats 100);
  // a narrow shared range makes ties, repeats and cache evictions common.
  std::mt19937 rng(1234);
  Palette pal;
  for (int i = 0; i < 256; ++i) pal.entries.push_back(rng() & 0xFF3F3F3F);
  pal.entries[200] = pal.entries[100];
  auto dist = [](uint32_t x, uint32_t y) {
    auto d = [&](int sh) { return int(x >> sh & 255) - int(y >> sh & 255); };
    return d(0) * d(0) + d(8) * d(8) + d(16) * d(16);
  };
  PaletteMatcher cached(pal);
  for (int i = 0; i < 50000; ++i) {
    const uint32_t c = rng() & 0xFF3F3F3F;
    int best = 0;
    for (int k = 1; k < 256; ++k)
      best = dist(c, pal.entries[k]) < dist(c, pal.entries[best]) ? k : best;
    ASSERT_EQ(cached.nearest(c), best) << std::hex << c;
  }
}

// Reference bit access, most significant bit first.
unsigned get_px(const Bytes& b, int x, int bpp) {
  const int bit = x * bpp;
  return (b[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
}
void put_px(Bytes& b, int x, int bpp, unsigned v) {
  const int bit = x * bpp, shift = 8 - bpp - bit % 8;
  b[bit / 8] = uint8_t((b[bit / 8] & ~(((1u << bpp) - 1) << shift)) | v << shift);
}

TEST(SubByte, StoresAndCopiesAtAnyOffsetKeepNeighbouringBits) {
  const Palette bw{0, {0xFF000000, 0xFFFFFFFF}};
  PaletteMatcher m(bw);
  const Pixels black(4, 0xFF000000);
  Bytes row{0xFF, 0xFF};
  store_argb(pf::k1bppIndexed, row.data(), 6, 4, &m, black.data());
  EXPECT_EQ(row, (Bytes{0xFC, 0x3F}));
  // Copies at every offset against a per-pixel copy (1-bit lock example: lock_test).
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
          for (int i = 0; i < n; ++i) put_px(expect, dx + i, bpp, get_px(src, sx + i, bpp));
          copy_pixels(f, src.data(), sx, dst.data(), dx, n);
          ASSERT_EQ(dst, expect) << "bpp=" << bpp << " sx=" << sx << " dx=" << dx << " n=" << n;
        }
      }
    }
  }
}

TEST(ConvertPixels, DirectLoopsAndEveryFormatPairMatchLoadThenStore) {
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

  std::mt19937 rng(7);
  Pixels px(37);
  for (auto& p : px) p = rng();
  px[0] = 0, px[1] = 0xFFFFFFFF;
  Palette pal;
  for (int i = 0; i < 256; ++i) pal.entries.push_back(rng() | 0xFF000000);
  for (PixelFormat sf : pf::kAll) {
    const Bytes src = store(sf, px, pal);  // arbitrary but valid source content
    for (PixelFormat df : pf::kAll) {
      // Padding bits of the last byte are kept: 0x5A, or zero as in src for same-format copies.
      const Bytes generic = sf == df ? src : store(df, load(sf, src, 37, pal), pal, 0x5A);
      Bytes direct(generic.size(), sf == df ? 0 : 0x5A);
      Pixels line(px.size());
      PaletteMatcher m(pal);
      convert_pixels(sf, src.data(), 0, pal, df, direct.data(), 0, &m, 37, line.data());
      EXPECT_EQ(direct, generic) << std::hex << sf << " -> " << df;
    }
  }
}

}  // namespace
}  // namespace korvex::raster
