// Page signatures, running means and relevance. The classification of
// realistic scans is the README's command-line run (tests/cli/test_cli.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "raster/handles.h"
#include "raster/rounding.h"
#include "recognition/rad.h"

namespace korvex::recognition {
namespace {

namespace pf = raster::pf;
constexpr uint32_t kBlack = 0xFF000000u;

std::unique_ptr<raster::Image> image(int32_t w, int32_t h, raster::PixelFormat f) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, f, img), raster::Status::Ok);
  return img;
}

Signature signature(raster::Image& img) {
  Signature sig;
  std::vector<uint32_t> buffer;
  EXPECT_EQ(ComputeSignature(img, sig, buffer), raster::Status::Ok);
  return sig;
}

// The rule as written, one pixel at a time through get_pixel (1-based).
Signature reference(const raster::Image& img) {
  static const int kWeight[3][3] = {{256, 128, 64}, {32, 16, 8}, {4, 2, 1}};
  Signature s;
  const int32_t w = img.width(), h = img.height(), top = RoundHalfEven(h / 3.0);
  s.area = int64_t{w} * h;
  for (int32_t y = 2; y <= h - 1; y += 3) {
    for (int32_t x = 2; x <= w - 1; x += 3) {
      int p = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          uint32_t v = 0;
          img.get_pixel(x + dx - 1, y + dy - 1, v);
          const bool counts = dx == 0 && dy == 0 ? v == 0 : v == kBlack;
          if (counts) p += kWeight[dy + 1][dx + 1];
          if (counts && y < top) ++s.top_black;
        }
      }
      ++s.bins[p];
    }
  }
  return s;
}

TEST(Signature, WrittenFactsAndGridLimits) {
  auto white = image(3, 3, pf::k24bppRGB);
  white->fill_rect({0, 0, 3, 3}, 0xFFFFFFFFu);
  Signature s = signature(*white);
  EXPECT_EQ(std::accumulate(s.bins.begin(), s.bins.end(), int64_t{0}), s.bins[0]);
  EXPECT_EQ(std::tuple(s.bins[0], s.top_black), std::tuple(1, 1));
  s = signature(*image(3, 3, pf::k32bppARGB));  // 0x00000000: only the centre counts
  EXPECT_EQ(s.bins[16], 1);
  // Opaque black pages: every grid point is 495 (all weights but the
  // centre's 16) and adds 8 to the top black while its row is below
  // round(h / 3). Columns and rows 2, 5, ... up to one before the last.
  struct Case {
    int32_t w, h;
    raster::PixelFormat f;
    int64_t points, top_black;
  };
  for (const Case c : {Case{9, 9, pf::k1bppIndexed, 9, 25}, Case{9, 9, pf::k32bppARGB, 9, 25},
                       Case{1, 1, pf::k24bppRGB, 0, 1}, Case{2, 9, pf::k24bppRGB, 0, 1},
                       Case{5, 5, pf::k24bppRGB, 1, 1}, Case{6, 6, pf::k24bppRGB, 4, 1},
                       Case{3, 8, pf::k24bppRGB, 2, 9}, Case{3, 15, pf::k24bppRGB, 5, 9},
                       Case{3, 17, pf::k24bppRGB, 5, 17}, Case{7, 20, pf::k24bppRGB, 12, 33}}) {
    auto black = image(c.w, c.h, c.f);
    black->fill_rect({0, 0, c.w, c.h}, kBlack);
    s = signature(*black);
    EXPECT_EQ(std::tuple(s.bins[495], s.top_black, s.area),
              std::tuple(c.points, c.top_black, int64_t{c.w} * c.h))
        << c.w << "x" << c.h << " " << c.f;
  }
}

TEST(Signature, EveryPixelFormatMatchesTheWrittenRule) {
  std::mt19937 rng(7);
  const uint32_t colours[] = {kBlack, 0x00000000u, 0xFFFFFFFFu, 0x80000000u, 0xFF000001u};
  struct Case {
    raster::PixelFormat f;
    std::vector<uint32_t> palette;  // empty: the format's own
  };
  for (const Case& c : {Case{pf::k1bppIndexed, {}}, Case{pf::k1bppIndexed, {0xFFFFFFFFu, kBlack}},
                        Case{pf::k1bppIndexed, {0x00000000u, kBlack}}, Case{pf::k8bppIndexed, {}},
                        Case{pf::k16bppRGB555, {}}, Case{pf::k24bppRGB, {}},
                        Case{pf::k32bppARGB, {}}, Case{pf::k32bppPARGB, {}}}) {
    // Dense noise on odd sizes (3-pixel windows straddle bytes), then a wide
    // page of paper with sparse marks (long runs of one colour).
    for (const auto& [w, h, ink_one_in] : {std::tuple(61, 47, 1u), std::tuple(203, 29, 40u)}) {
      auto img = image(w, h, c.f);
      if (!c.palette.empty()) {
        raster::Palette p;
        p.entries = c.palette;
        ASSERT_EQ(img->set_palette(p), raster::Status::Ok);
      }
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x)
          img->set_pixel(x, y, rng() % ink_one_in == 0 ? colours[rng() % 5] : colours[2]);
      }
      const Signature want = reference(*img), got = signature(*img);
      EXPECT_EQ(got.bins, want.bins) << c.f << " " << w;
      EXPECT_EQ(got.top_black, want.top_black) << c.f << " " << w;
    }
  }
}

TEST(Learning, RunningMeansRoundHalfEvenIn64Bits) {
  Family f;
  // Bin 3 learns 1, 2, 3 (1.5 -> 2, 2.33 -> 2), then 3 over one image (2.5 -> 2).
  for (int64_t v : {1, 2, 3}) {
    Signature sig;
    sig.bins[3] = v;
    ASSERT_EQ(LearnInto(f, sig), raster::Status::Ok);
    EXPECT_EQ(f.histogram[3], v == 1 ? 1 : 2);
  }
  f.images = 1;
  Signature sig;
  sig.bins[3] = 3;
  ASSERT_EQ(LearnInto(f, sig), raster::Status::Ok);
  EXPECT_EQ(f.histogram[3], 2);
  // (n - 1) x old overflows 32 bits long before the mean does.
  f.images = f.area = 2'000'000'000;
  sig.area = 1'000'000'000;
  ASSERT_EQ(LearnInto(f, sig), raster::Status::Ok);
  EXPECT_EQ(std::tuple(f.area, f.images),
            std::tuple(2'000'000'000, 2'000'000'001));  // x.50000000025
  f.images = 2147483647;
  EXPECT_EQ(LearnInto(f, sig), raster::Status::ValueOverflow);
  EXPECT_EQ(f.images, 2147483647);
}

TEST(Learning, TheSameImageTwiceKeepsEveryValueAndFamilyIdsAreChecked) {
  auto page = image(40, 31, pf::k24bppRGB);
  page->fill_rect({0, 0, 40, 31}, 0xFFFFFFFFu);
  page->fill_rect({3, 2, 30, 6}, kBlack);
  page->fill_rect({5, 14, 4, 12}, kBlack);
  cRAD rad;
  rad.NewFamily("letters");
  ASSERT_EQ(rad.Learn(*page, 1), raster::Status::Ok);
  Family once = *rad.family(1);
  ASSERT_EQ(rad.Learn(*page, 1), raster::Status::Ok);
  once.images = 2;
  EXPECT_EQ(*rad.family(1), once);
  for (int32_t bad : {0, 2, -1}) EXPECT_EQ(rad.Learn(*page, bad), raster::Status::InvalidParameter);
}

TEST(Relevance, WrittenWeightsAndAFamilyWithNothingLearnedScoresZero) {
  // Distance: |95 - 100| / 10 rounds to 0, then 5 + 2 in other bins, of at
  // most 900 / 9 = 100: patterns 93; sizes 450 / 900 and top blacks 5 / 10: 50.
  Family f;
  f.images = 1, f.area = 900, f.top_black = 10, f.histogram[0] = 95, f.histogram[5] = 5;
  Signature sig;
  sig.area = 450, sig.top_black = 5, sig.bins[0] = 100, sig.bins[7] = 2;
  EXPECT_EQ(Distance(f, sig), 7);
  EXPECT_DOUBLE_EQ(Relevance(f, sig), 0.65 * 93 + 0.15 * 50 + 0.2 * 50);
  sig.bins[7] = 200;  // beyond the area's ninth: no pattern score
  EXPECT_DOUBLE_EQ(Relevance(f, sig), 0.15 * 50 + 0.2 * 50);

  auto white = image(3, 3, pf::k24bppRGB);
  white->fill_rect({0, 0, 3, 3}, 0xFFFFFFFFu);
  cRAD rad;
  raster::Status st;
  auto classify = [&](raster::Image* img) {
    const int32_t id = rad.Classify(img, st);
    return std::tuple(id, rad.last_relevance(), st);
  };
  EXPECT_EQ(classify(white.get()), std::tuple(0, 0.0, raster::Status::Ok));  // no family
  rad.NewFamily("empty");  // its area of 0 would divide by zero; yet some family wins
  EXPECT_EQ(classify(white.get()), std::tuple(1, 0.0, raster::Status::Ok));
  ASSERT_EQ(rad.Learn(*white, 1), raster::Status::Ok);
  EXPECT_EQ(classify(white.get()), std::tuple(1, 100.0, raster::Status::Ok));
  EXPECT_EQ(classify(nullptr), std::tuple(0, 0.0, raster::Status::InvalidParameter));
}

}  // namespace
}  // namespace korvex::recognition
