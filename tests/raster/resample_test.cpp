// Resampling: exact cases, filter positions, alpha, formats, bands, vector paths, ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <span>
#include <thread>
#include <tuple>

#include "raster/convert.h"
#include "raster/cpu.h"
#include "raster/parallel.h"
#include "raster/premultiply_simd.h"
#include "raster/resample.h"
#include "raster_test_util.h"

namespace korvex::raster {
namespace {

using enum Interpolation;
constexpr Interpolation kAllModes[] = {NearestNeighbor,     Default,           LowQuality,
                                       HighQuality,         Bilinear,          Bicubic,
                                       HighQualityBilinear, HighQualityBicubic};
constexpr auto kFilteredModes = std::span(kAllModes).subspan<1>();  // all but NearestNeighbor

template <class Colour>
void paint(Image& img, Colour colour) {
  for (int32_t y = 0; y < img.height(); ++y)
    for (int32_t x = 0; x < img.width(); ++x)
      ASSERT_EQ(img.set_pixel(x, y, colour(x, y)), Status::Ok);
}

std::unique_ptr<Image> resized(Image& src, Rect r, int32_t w, int32_t h, PixelFormat f,
                               Interpolation m) {
  auto dst = make(w, h, f);
  EXPECT_EQ(resample(src, r, *dst, m), Status::Ok);
  return dst;
}

// Deterministic pseudo-random ARGB with varied alpha.
uint32_t noise(uint32_t i) {
  i ^= i << 13;
  i ^= i >> 17;
  i ^= i << 5;
  return i * 2654435761u;
}

TEST(ResampleArguments, RejectsBadRectanglesModesAndLockedImages) {
  auto src = make(8, 6, pf::k24bppRGB);
  auto dst = make(4, 3, pf::k24bppRGB);
  for (Rect r :
       {Rect{0, 0, 0, 6}, Rect{0, 0, 8, -1}, Rect{-1, 0, 4, 4}, Rect{5, 0, 4, 4}, Rect{0, 3, 8, 4}})
    EXPECT_EQ(resample(*src, r, *dst, Bilinear), Status::InvalidParameter);
  EXPECT_EQ(resample(*src, all(*src), *dst, static_cast<Interpolation>(8)),
            Status::InvalidParameter);
  EXPECT_EQ(resample(*src, Rect{4, 3, 4, 3}, *dst, Bilinear), Status::Ok);

  LockData ld;
  ASSERT_EQ(src->lock_bits(nullptr, lock::kRead, pf::k24bppRGB, ld), Status::Ok);
  EXPECT_EQ(resample(*src, all(*src), *dst, Bilinear), Status::WrongState);
  ASSERT_EQ(src->unlock_bits(ld), Status::Ok);
}

TEST(ResampleExact, FlatColoursStayFlatInEveryMode) {
  // The translucent case is stored premultiplied (every colour <= alpha) and
  // must come back bit for bit.
  for (auto [f, v, io] : {std::tuple{pf::k24bppRGB, 0xFF3A7FC1u, pf::k32bppARGB},
                          std::tuple{pf::k32bppARGB, 0xFF3A7FC1u, pf::k32bppARGB},
                          std::tuple{pf::k32bppPARGB, 0x80402010u, pf::k32bppPARGB}}) {
    auto src = make(37, 23, f);
    const std::vector<uint32_t> flat(37 * 23, v);
    ASSERT_EQ(
        src->write_pixels(all(*src), io, reinterpret_cast<const uint8_t*>(flat.data()), 37 * 4),
        Status::Ok);
    for (auto [w, h] : {std::pair{11, 7}, std::pair{90, 51}, std::pair{3, 40}, std::pair{7, 33}})
      for (Interpolation m : kAllModes) {
        const auto out = read_all(*resized(*src, all(*src), w, h, f, m), io);
        EXPECT_EQ(out, std::vector<uint32_t>(out.size(), v))
            << static_cast<int>(m) << " " << w << "x" << h;
      }
  }
}

TEST(ResampleExact, SameSizeCopiesAndNearestDoublingDuplicates) {
  auto src = make(13, 9, pf::k32bppARGB);
  paint(*src, [](int32_t x, int32_t y) { return noise(static_cast<uint32_t>(y * 13 + x + 1)); });
  std::vector<uint32_t> want;
  for (int32_t y = 3; y < 7; ++y)
    for (int32_t x = 6; x < 11; ++x) want.push_back(noise(static_cast<uint32_t>(y * 13 + x + 1)));
  for (Interpolation m : kAllModes)
    EXPECT_EQ(read_all(*resized(*src, Rect{6, 3, 5, 4}, 5, 4, pf::k32bppARGB, m)), want)
        << static_cast<int>(m);

  for (PixelFormat f : {pf::k32bppARGB, pf::k4bppIndexed, pf::k48bppRGB}) {
    auto small = make(5, 3, f);
    const auto& pal = small->palette().entries;
    paint(*small, [&](int32_t x, int32_t y) {
      const uint32_t c = noise(static_cast<uint32_t>(y * 5 + x + 7));
      return f == pf::k4bppIndexed ? pal[c % 16] : f == pf::k48bppRGB ? c | 0xFF000000 : c;
    });
    const auto s = read_all(*small);
    const auto d = read_all(*resized(*small, all(*small), 10, 6, f, NearestNeighbor));
    for (size_t i = 0; i < d.size(); ++i) ASSERT_EQ(d[i], s[(i / 20) * 5 + (i % 10) / 2]) << i;
  }
}

TEST(ResampleExact, VectorAndPortablePathsAgreeBitForBit) {
  // Both pass orders; unpadded 64-pixel 24-bit rows catch reads past the buffer;
  // a 3 x 2 source is narrower than a group of taps.
  for (PixelFormat f : {pf::k24bppRGB, pf::k32bppARGB, pf::k32bppPARGB}) {
    for (auto [sw, sh] : {std::pair{53, 41}, std::pair{64, 40}, std::pair{3, 2}}) {
      auto src = make(sw, sh, f);
      paint(*src, [&](int32_t x, int32_t y) {
        const uint32_t c = noise(static_cast<uint32_t>(y * sw + x + 3));
        return f == pf::k24bppRGB ? c | 0xFF000000u : c;
      });
      const PixelFormat io = f == pf::k24bppRGB ? pf::k32bppARGB : f;
      for (auto [w, h] : {std::pair{17, 13}, std::pair{160, 90}, std::pair{26, 120},
                          std::pair{200, 20}, std::pair{7, 5}})
        for (Interpolation m : kFilteredModes) {
          SCOPED_TRACE(std::to_string(sw) + " to " + std::to_string(w) + "x" + std::to_string(h) +
                       " mode " + std::to_string(static_cast<int>(m)));
          const auto fast = read_all(*resized(*src, all(*src), w, h, f, m), io);
          const bool was = detail::allow_simd(false);
          const auto portable = read_all(*resized(*src, all(*src), w, h, f, m), io);
          detail::allow_simd(was);
          ASSERT_EQ(fast, portable);
        }
    }
  }
}

#if defined(__x86_64__) || defined(__i386__)
TEST(ResampleExact, VectorAlphaConversionsMatchTheScalarOnesForEveryValue) {
  if (!use_avx2()) GTEST_SKIP() << "no AVX2";
  // Every (colour, alpha) pair; colours above their alpha are clamped first.
  std::vector<uint32_t> in;
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t c = 0; c < 256; ++c) in.push_back(a << 24 | c << 16 | (255 - c) << 8 | c / 2);
  const auto n = static_cast<int32_t>(in.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
  std::vector<uint32_t> out(in.size());
  auto* out_bytes = reinterpret_cast<uint8_t*>(out.data());
  ASSERT_EQ(premultiply_row_avx2(bytes, out_bytes, n), n);
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], premultiply(in[i])) << std::hex << in[i];
  ASSERT_EQ(clamp_unpremultiply_row_avx2(bytes, out_bytes, n), n);
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t p = in[i];
    const uint32_t a = p >> 24;
    for (int s = 0; s < 24; s += 8)
      if (((p >> s) & 0xFF) > a) p = (p & ~(0xFFu << s)) | a << s;
    ASSERT_EQ(out[i], unpremultiply(p)) << std::hex << in[i];
  }
}
#endif

TEST(ResampleAntiAliasing, ShrinkingStripesByTheirPeriodGivesTheirMean) {
  // Columns 0, 0, 255 repeating, shrunk 3:1. The widened kernels average each
  // period to 85; the plain ones sample a phase of the stripes instead.
  auto src = make(90, 30, pf::k24bppRGB);
  paint(*src, [](int32_t x, int32_t) { return x % 3 == 2 ? 0xFFFFFFFFu : 0xFF000000u; });
  for (auto [m, mean_like] : {std::pair{HighQualityBilinear, true},
                              std::pair{HighQualityBicubic, true}, std::pair{Bilinear, false},
                              std::pair{Bicubic, false}}) {
    SCOPED_TRACE(static_cast<int>(m));
    const auto d = read_all(*resized(*src, all(*src), 30, 10, pf::k24bppRGB, m));
    // Away from the borders, where the folded taps no longer cover whole periods.
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 2; x < 28; ++x) {
        const int v = static_cast<int>(d[static_cast<size_t>(y * 30 + x)] & 0xFF);
        if (mean_like)
          ASSERT_NEAR(v, 85, 1) << x << "," << y;
        else
          ASSERT_GT(std::abs(v - 85), 20) << x << "," << y;
      }
  }
}

TEST(ResampleGeometry, TwoPixelSourceIsSampledAtPixelCentresWithClampedEdges) {
  auto src = make(2, 1, pf::k24bppRGB);
  ASSERT_EQ(src->set_pixel(1, 0, 0xFFFFFFFF), Status::Ok);
  for (Interpolation m : kFilteredModes)
    EXPECT_EQ(read_all(*resized(*src, all(*src), 1, 1, pf::k24bppRGB, m))[0], 0xFF808080u)
        << static_cast<int>(m);
  // The output centre 1.0 falls in pixel 1.
  EXPECT_EQ(read_all(*resized(*src, all(*src), 1, 1, pf::k24bppRGB, NearestNeighbor))[0],
            0xFFFFFFFFu);
  const auto wide = read_all(*resized(*src, all(*src), 8, 1, pf::k24bppRGB, Bilinear));
  const uint32_t expect[8] = {0, 0, 32, 96, 159, 223, 255, 255};
  for (size_t x = 0; x < 8; ++x) EXPECT_EQ(wide[x], 0xFF000000u | expect[x] * 0x010101u) << x;
}

TEST(ResampleGeometry, TapsNeverReachOutsideTheRectangle) {
  // Red and blue neighbours flank a white rectangle; no mode may pick them up.
  auto src = make(4, 3, pf::k32bppARGB);
  ASSERT_EQ(src->fill_rect(all(*src), 0xFFFF0000), Status::Ok);
  ASSERT_EQ(src->fill_rect(Rect{1, 1, 2, 1}, 0xFFFFFFFF), Status::Ok);
  ASSERT_EQ(src->set_pixel(3, 1, 0xFF0000FF), Status::Ok);
  for (Interpolation m : kAllModes)
    for (auto [w, h] : {std::pair{9, 5}, std::pair{1, 1}})
      EXPECT_EQ(read_all(*resized(*src, Rect{1, 1, 2, 1}, w, h, pf::k32bppARGB, m)),
                std::vector<uint32_t>(static_cast<size_t>(w * h), 0xFFFFFFFFu))
          << static_cast<int>(m);
}

TEST(ResampleGeometry, ShrinkingSourceOntoItselfReadsTheOriginalPixels) {
  auto img = make(4, 4, pf::k32bppARGB);
  paint(*img,
        [](int32_t x, int32_t y) { return 0xFF000000u | static_cast<uint32_t>((y * 4 + x) * 16); });
  ASSERT_EQ(resample(*img, Rect{0, 0, 2, 2}, *img, NearestNeighbor), Status::Ok);
  const auto d = read_all(*img);
  for (uint32_t i = 0; i < 16; ++i)
    EXPECT_EQ(d[i], 0xFF000000u | ((i / 8) * 4 + (i % 4) / 2) * 16) << i;
}

TEST(ResampleAlpha, TransparentNeighbourDoesNotDarkenColour) {
  auto src = make(2, 1, pf::k32bppARGB);
  ASSERT_EQ(src->set_pixel(0, 0, 0x80FF0000), Status::Ok);
  for (Interpolation m : kFilteredModes) {
    SCOPED_TRACE(static_cast<int>(m));
    EXPECT_EQ(read_all(*resized(*src, all(*src), 1, 1, pf::k32bppARGB, m))[0], 0x40FF0000u);
    const auto wide = read_all(*resized(*src, all(*src), 6, 1, pf::k32bppARGB, m));
    EXPECT_GE(wide[0] >> 24, 0x80u);  // cubic modes may overshoot
    for (uint32_t v : wide) {
      if ((v >> 24) != 0) {
        EXPECT_EQ(v & 0x00FFFFFF, 0x00FF0000u);
      }
    }
  }
}

TEST(ResampleAlpha, CubicOvershootKeepsPremultipliedPixelsValid) {
  auto src = make(16, 16, pf::k32bppARGB);
  paint(*src,
        [](int32_t x, int32_t y) { return ((x / 2 + y / 2) % 2) ? 0xFFFFFFFFu : 0x20FFFFFFu; });
  for (Interpolation m : {Bicubic, HighQualityBicubic})
    for (uint32_t p : read_all(*resized(*src, all(*src), 37, 11, pf::k32bppPARGB, m), pf::k32bppPARGB))
      for (int s = 0; s < 24; s += 8) ASSERT_LE((p >> s) & 0xFF, p >> 24);
}

TEST(ResampleFormats, BlackAndWhiteSurviveEveryStoredFormatPair) {
  // Indexed pairs differ in palette order (white is entry 1 in 1 bit, 15 in 4 bits): colours
  // are carried, not indices, by the nearest-neighbour copy as by the filters.
  for (PixelFormat sf : pf::kAll) {
    auto src = make(9, 6, sf);
    ASSERT_EQ(src->fill_rect(all(*src), 0xFF000000), Status::Ok);
    ASSERT_EQ(src->fill_rect(Rect{0, 3, 9, 3}, 0xFFFFFFFF), Status::Ok);
    for (PixelFormat df : pf::kAll)
      for (Interpolation m : {NearestNeighbor, HighQualityBicubic}) {
        SCOPED_TRACE(std::string(pixel_format_name(sf)) + " to " + pixel_format_name(df) +
                     " mode " + std::to_string(static_cast<int>(m)));
        const auto d = read_all(*resized(*src, all(*src), 5, 12, df, m));
        EXPECT_EQ(d[2], 0xFF000000u);
        EXPECT_EQ(d[59], 0xFFFFFFFFu);
      }
  }
}

TEST(ResampleBands, LargeOutputsAreContinuousAcrossTheSplit) {
  // Every output row of a vertically constant gradient must match, whichever band made it.
  auto src = make(700, 300, pf::k24bppRGB);
  paint(*src,
        [](int32_t x, int32_t) { return 0xFF000000u | static_cast<uint32_t>(x * 255 / 699); });
  for (auto [w, h, m] : {std::tuple{350, 250, HighQualityBicubic},
                         std::tuple{1400, 610, HighQualityBicubic},
                         std::tuple{1400, 610, NearestNeighbor}}) {
    SCOPED_TRACE(static_cast<int>(m));
    const auto out = read_all(*resized(*src, all(*src), w, h, pf::k24bppRGB, m), pf::k32bppARGB);
    const std::vector<uint32_t> first(out.begin(), out.begin() + w);
    for (int32_t y = 1; y < h; ++y)
      ASSERT_TRUE(std::equal(first.begin(), first.end(), out.begin() + y * w)) << y;
    EXPECT_EQ(first.front(), 0xFF000000u);
    EXPECT_EQ(first.back() & 0xFF, 255u);
  }
}

TEST(ResampleBands, ParallelRowsCoverEveryRowOnceAndPassFailuresOn) {
  for (auto [rows, work] : {std::pair{1, 1e9}, std::pair{7, 1e9}, std::pair{1000, 1e9},
                            std::pair{1000, 10.0}}) {
    std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
    parallel_rows(rows, work, [&](int32_t y0, int32_t y1) {
      for (int32_t y = y0; y < y1; ++y) seen[static_cast<size_t>(y)]++;
    });
    for (int32_t y = 0; y < rows; ++y) ASSERT_EQ(seen[static_cast<size_t>(y)], 1) << rows << " " << y;
  }
  // A failure in any band reaches the caller after every band has finished.
  if (std::thread::hardware_concurrency() < 2) return;  // a single band: nothing to split
  std::atomic<int> finished{0};
  EXPECT_THROW(parallel_rows(1000, 1e9,
                             [&](int32_t y0, int32_t) {
                               if (y0 > 0) throw std::bad_alloc();
                               ++finished;
                             }),
               std::bad_alloc);
  EXPECT_EQ(finished, 1);
}

TEST(ResampleMagick, FiltersAgreeWithImageMagickOnAGradientWithCheckers) {
  if (!have_magick()) GTEST_SKIP() << "no ImageMagick";
  auto src = make(96, 64, pf::k24bppRGB);
  paint(*src, [](int32_t x, int32_t y) {
    const auto r = static_cast<uint32_t>(x * 255 / 95), g = static_cast<uint32_t>(y * 4);
    return 0xFF000000u | r << 16 | g << 8 | (((x / 3 + y / 3) % 2) ? 230u : 20u);
  });
  // Area-averaging triangle and Catmull-Rom when shrinking, plain filters when enlarging.
  for (auto [filter, w, h, m, max_mean] :
       {std::tuple{"Triangle", 48, 32, HighQualityBilinear, 2.0},
        std::tuple{"Triangle", 29, 21, HighQualityBilinear, 2.0},
        std::tuple{"Catrom", 48, 32, HighQualityBicubic, 2.0},
        std::tuple{"Catrom", 29, 21, HighQualityBicubic, 2.0},
        std::tuple{"Catrom", 192, 128, Bicubic, 1.0},
        std::tuple{"Triangle", 150, 100, Bilinear, 1.0},
        std::tuple{"Catrom", 150, 100, HighQualityBicubic, 1.0}}) {
    SCOPED_TRACE(std::string(filter) + " " + std::to_string(w) + " mode " +
                 std::to_string(static_cast<int>(m)));
    const auto ref = magick_rgb(read_all(*src), 96, 64,
                                std::string("-filter ") + filter + " -resize " +
                                    std::to_string(w) + "x" + std::to_string(h) + "!",
                                static_cast<size_t>(w * h));
    ASSERT_FALSE(ref.empty());
    const auto d = read_all(*resized(*src, all(*src), w, h, pf::k24bppRGB, m));
    double sum = 0;  // mean absolute difference per channel
    for (size_t i = 0; i < ref.size(); ++i)
      sum += std::abs(ref[i] - ch(d[i / 3], 16 - 8 * static_cast<int>(i % 3)));
    EXPECT_LT(sum / static_cast<double>(ref.size()), max_mean);
  }
}

}  // namespace
}  // namespace korvex::raster
