// Page signatures, running means, relevance and the classification of
// synthetic document families.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "documents.h"
#include "korvex/korvex.h"
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

TEST(Signature, WrittenFacts) {
  auto white = image(3, 3, pf::k24bppRGB);
  white->fill_rect({0, 0, 3, 3}, 0xFFFFFFFFu);
  Signature s = signature(*white);
  EXPECT_EQ(s.bins[0], 1);
  EXPECT_EQ(std::accumulate(s.bins.begin(), s.bins.end(), int64_t{0}), 1);
  EXPECT_EQ(s.top_black, 1);
  // All black and opaque: 9 grid points of pattern 495 (every weight but the
  // centre's); the top row of points (y = 2 < round(9 / 3)) adds 3 x 8.
  for (raster::PixelFormat f : {pf::k1bppIndexed, pf::k24bppRGB, pf::k32bppARGB}) {
    auto black = image(9, 9, f);
    black->fill_rect({0, 0, 9, 9}, kBlack);
    s = signature(*black);
    EXPECT_EQ(s.bins[495], 9) << f;
    EXPECT_EQ(s.top_black, 25) << f;
  }
  // A new ARGB bitmap is 0x00000000 everywhere: only the centres count.
  s = signature(*image(3, 3, pf::k32bppARGB));
  EXPECT_EQ(s.bins[16], 1);
}

TEST(Signature, GridPointsAndTopThirdFollowTheSize) {
  struct Case {
    int32_t w, h;
    int64_t points, top_black;
  };
  // Black pages: each point gives 8 black cells; rows below round(h / 3) count.
  for (const Case c :
       {Case{1, 1, 0, 1}, Case{2, 9, 0, 1}, Case{3, 3, 1, 1}, Case{5, 5, 1, 1}, Case{6, 6, 4, 1},
        Case{3, 8, 2, 9}, Case{3, 15, 5, 9}, Case{3, 17, 5, 17}, Case{7, 20, 12, 33}}) {
    auto img = image(c.w, c.h, pf::k24bppRGB);  // zeroed: opaque black
    const Signature s = signature(*img);
    EXPECT_EQ(s.bins[495], c.points) << c.w << "x" << c.h;
    EXPECT_EQ(s.top_black, c.top_black) << c.w << "x" << c.h;
    EXPECT_EQ(s.area, int64_t{c.w} * c.h);
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
    auto img = image(61, 47, c.f);  // odd sizes: 3-pixel windows straddle bytes
    if (!c.palette.empty()) {
      raster::Palette p;
      p.entries = c.palette;
      ASSERT_EQ(img->set_palette(p), raster::Status::Ok);
    }
    for (int32_t y = 0; y < 47; ++y) {
      for (int32_t x = 0; x < 61; ++x) img->set_pixel(x, y, colours[rng() % 5]);
    }
    const Signature want = reference(*img), got = signature(*img);
    EXPECT_EQ(got.bins, want.bins) << c.f;
    EXPECT_EQ(got.top_black, want.top_black) << c.f;
  }
}

TEST(Learning, RunningMeansRoundHalfEvenIn64Bits) {
  Signature one, two, three;
  one.bins[3] = 1;
  two.bins[3] = 2;
  three.bins[3] = 3;
  Family f;
  ASSERT_EQ(LearnInto(f, one), raster::Status::Ok);
  ASSERT_EQ(LearnInto(f, two), raster::Status::Ok);  // 1.5 -> 2
  EXPECT_EQ(f.histogram[3], 2);
  ASSERT_EQ(LearnInto(f, three), raster::Status::Ok);  // (2 x 2 + 3) / 3 = 2.33 -> 2
  EXPECT_EQ(f.histogram[3], 2);
  f.images = 1;
  ASSERT_EQ(LearnInto(f, three), raster::Status::Ok);  // 2.5 -> 2
  EXPECT_EQ(f.histogram[3], 2);
  // (n - 1) x old overflows 32 bits long before the mean does.
  f.images = 2'000'000'000;
  f.area = 2'000'000'000;
  one.area = 1'000'000'000;
  ASSERT_EQ(LearnInto(f, one), raster::Status::Ok);
  EXPECT_EQ(f.area, 2'000'000'000);  // 1999999999.50000000025 -> up
  EXPECT_EQ(f.images, 2'000'000'001);
  f.images = 2147483647;
  EXPECT_EQ(LearnInto(f, one), raster::Status::ValueOverflow);
  EXPECT_EQ(f.images, 2147483647);
}

TEST(Learning, TheSameImageTwiceKeepsEveryValue) {
  cKorvex k;
  ASSERT_EQ(testdoc::make_document(k, testdoc::Kind::Letter, 11), cKorvexStatus::Ok);
  cRAD rad;
  rad.NewFamily("letters");
  raster::Image* page = raster::find_image(k.GetNativeImage());
  ASSERT_EQ(rad.Learn(*page, 1), raster::Status::Ok);
  const Family once = *rad.family(1);
  ASSERT_EQ(rad.Learn(*page, 1), raster::Status::Ok);
  Family twice = *rad.family(1);
  EXPECT_EQ(twice.images, 2);
  twice.images = 1;
  EXPECT_EQ(twice, once);
  EXPECT_EQ(rad.Learn(*page, 2), raster::Status::InvalidParameter);
}

TEST(Relevance, AFamilyWithNothingLearnedScoresZero) {
  auto white = image(3, 3, pf::k24bppRGB);
  white->fill_rect({0, 0, 3, 3}, 0xFFFFFFFFu);
  cRAD rad;
  raster::Status st;
  EXPECT_EQ(rad.Classify(white.get(), st), 0);  // no family
  EXPECT_EQ(st, raster::Status::Ok);
  rad.NewFamily("empty");
  EXPECT_EQ(rad.Classify(white.get(), st), 1);  // some family always wins
  EXPECT_EQ(rad.last_relevance(), 0.0);
  ASSERT_EQ(rad.Learn(*white, 1), raster::Status::Ok);
  EXPECT_EQ(rad.Classify(white.get(), st), 1);
  EXPECT_EQ(rad.last_relevance(), 100.0);
  EXPECT_EQ(rad.Classify(nullptr, st), 0);
  EXPECT_EQ(st, raster::Status::InvalidParameter);
  EXPECT_EQ(rad.last_relevance(), 0.0);
}

TEST(Relevance, SyntheticFamiliesAreToldApartWithClearWinners) {
  using testdoc::Kind;
  const Kind kinds[] = {Kind::Form, Kind::Letter, Kind::Table};
  cRAD rad;
  cKorvex k;
  for (Kind kind : kinds) {
    const int32_t id = rad.NewFamily(kind == Kind::Form     ? "forms"
                                     : kind == Kind::Letter ? "letters"
                                                            : "tables");
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      ASSERT_EQ(testdoc::make_document(k, kind, seed * 31 + static_cast<uint32_t>(id)),
                cKorvexStatus::Ok);
      ASSERT_EQ(rad.Learn(*raster::find_image(k.GetNativeImage()), id), raster::Status::Ok);
      k.CloseNativeImage();
    }
  }
  // New scans of each kind, 24-bit and 1-bit, with seeds never learned.
  for (int32_t want = 1; want <= 3; ++want) {
    for (bool one_bit : {false, true}) {
      ASSERT_EQ(
          testdoc::make_document(k, kinds[want - 1], 1000u + static_cast<uint32_t>(want), one_bit),
          cKorvexStatus::Ok);
      raster::Image* page = raster::find_image(k.GetNativeImage());
      raster::Status st;
      EXPECT_EQ(rad.Classify(page, st), want) << want << " " << one_bit;
      const double best = rad.last_relevance();
      EXPECT_GE(best, 90.0);
      EXPECT_LE(best, 100.0);
      for (int32_t other = 1; other <= 3; ++other) {
        if (other == want) continue;
        const double r = Relevance(*rad.family(other), rad.last_signature());
        EXPECT_GE(r, 0.0);
        EXPECT_GT(best - r, 15.0) << want << " against " << other;
      }
      k.CloseNativeImage();
    }
  }
}

}  // namespace
}  // namespace korvex::recognition
