// Resampling: argument checks, exact cases, filter positions and edge
// clamping, alpha handling, indexed and other stored formats, the two-band
// split of large outputs, and agreement with ImageMagick's filters.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "raster/image.h"
#include "raster/resample.h"

namespace korvex::raster {
namespace {

using enum Interpolation;
constexpr Interpolation kAllModes[] = {Default,  LowQuality,      HighQuality,         Bilinear,
                                       Bicubic, NearestNeighbor, HighQualityBilinear, HighQualityBicubic};
constexpr Interpolation kFilteredModes[] = {Default, LowQuality, HighQuality, Bilinear,
                                            Bicubic, HighQualityBilinear, HighQualityBicubic};

std::unique_ptr<Image> make(int32_t w, int32_t h, PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), Status::Ok);
  return img;
}

uint32_t px(const Image& img, int32_t x, int32_t y) {
  uint32_t v = 0;
  EXPECT_EQ(img.get_pixel(x, y, v), Status::Ok);
  return v;
}

Rect all(const Image& img) { return Rect{0, 0, img.width(), img.height()}; }

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
  EXPECT_EQ(resample(*src, Rect{0, 0, 0, 6}, *dst, Bilinear), Status::InvalidParameter);
  EXPECT_EQ(resample(*src, Rect{0, 0, 8, -1}, *dst, Bilinear), Status::InvalidParameter);
  EXPECT_EQ(resample(*src, Rect{-1, 0, 4, 4}, *dst, Bilinear), Status::InvalidParameter);
  EXPECT_EQ(resample(*src, Rect{5, 0, 4, 4}, *dst, Bilinear), Status::InvalidParameter);
  EXPECT_EQ(resample(*src, Rect{0, 3, 8, 4}, *dst, Bilinear), Status::InvalidParameter);
  EXPECT_EQ(resample(*src, all(*src), *dst, static_cast<Interpolation>(8)),
            Status::InvalidParameter);
  EXPECT_EQ(resample(*src, Rect{4, 3, 4, 3}, *dst, Bilinear), Status::Ok);

  LockData ld;
  ASSERT_EQ(src->lock_bits(nullptr, lock::kRead, pf::k24bppRGB, ld), Status::Ok);
  EXPECT_EQ(resample(*src, all(*src), *dst, Bilinear), Status::WrongState);
  ASSERT_EQ(src->unlock_bits(ld), Status::Ok);
}

TEST(ResampleExact, FlatOpaqueColourStaysFlatInEveryMode) {
  for (PixelFormat f : {pf::k24bppRGB, pf::k32bppARGB}) {
    auto src = make(37, 23, f);
    ASSERT_EQ(src->fill_rect(all(*src), 0xFF3A7FC1), Status::Ok);
    for (auto [w, h] : {std::pair{11, 7}, std::pair{90, 51}, std::pair{3, 40}}) {
      for (Interpolation m : kAllModes) {
        auto dst = make(w, h, f);
        ASSERT_EQ(resample(*src, all(*src), *dst, m), Status::Ok);
        for (int32_t y = 0; y < h; ++y)
          for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(px(*dst, x, y), 0xFF3A7FC1u) << static_cast<int>(m) << " " << w << "x" << h;
      }
    }
  }
}

TEST(ResampleExact, FlatTranslucentPremultipliedStaysFlat) {
  auto src = make(20, 20, pf::k32bppPARGB);
  const uint32_t v = 0x80402010;  // premultiplied: every colour <= alpha
  std::vector<uint32_t> buf(400, v);
  ASSERT_EQ(src->write_pixels(all(*src), pf::k32bppPARGB,
                              reinterpret_cast<const uint8_t*>(buf.data()), 80),
            Status::Ok);
  for (Interpolation m : kAllModes) {
    auto dst = make(7, 33, pf::k32bppPARGB);
    ASSERT_EQ(resample(*src, all(*src), *dst, m), Status::Ok);
    std::vector<uint32_t> out(7 * 33);
    ASSERT_EQ(dst->read_pixels(all(*dst), pf::k32bppPARGB,
                               reinterpret_cast<uint8_t*>(out.data()), 28),
              Status::Ok);
    for (uint32_t o : out) ASSERT_EQ(o, v) << static_cast<int>(m);
  }
}

TEST(ResampleExact, SameSizeCopiesTranslucentPixelsExactly) {
  auto src = make(13, 9, pf::k32bppARGB);
  for (int32_t y = 0; y < 9; ++y)
    for (int32_t x = 0; x < 13; ++x)
      ASSERT_EQ(src->set_pixel(x, y, noise(static_cast<uint32_t>(y * 13 + x + 1))), Status::Ok);
  for (Interpolation m : kAllModes) {
    auto dst = make(5, 4, pf::k32bppARGB);
    ASSERT_EQ(resample(*src, Rect{6, 3, 5, 4}, *dst, m), Status::Ok);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 5; ++x)
        ASSERT_EQ(px(*dst, x, y), px(*src, x + 6, y + 3)) << static_cast<int>(m);
  }
}

TEST(ResampleExact, NearestDoublingDuplicatesPixels) {
  for (PixelFormat f : {pf::k32bppARGB, pf::k4bppIndexed, pf::k48bppRGB}) {
    auto src = make(5, 3, f);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        uint32_t c = noise(static_cast<uint32_t>(y * 5 + x + 7));
        if (f == pf::k4bppIndexed) c = src->palette().entries[static_cast<size_t>(c % 16)];
        if (f == pf::k48bppRGB) c |= 0xFF000000;
        ASSERT_EQ(src->set_pixel(x, y, c), Status::Ok);
      }
    auto dst = make(10, 6, f);
    ASSERT_EQ(resample(*src, all(*src), *dst, NearestNeighbor), Status::Ok);
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 10; ++x) ASSERT_EQ(px(*dst, x, y), px(*src, x / 2, y / 2));
  }
}

TEST(ResampleExact, BlackWhitePairAveragesToMidGray) {
  auto src = make(2, 1, pf::k24bppRGB);
  ASSERT_EQ(src->set_pixel(1, 0, 0xFFFFFFFF), Status::Ok);
  for (Interpolation m : kFilteredModes) {
    auto dst = make(1, 1, pf::k24bppRGB);
    ASSERT_EQ(resample(*src, all(*src), *dst, m), Status::Ok);
    EXPECT_EQ(px(*dst, 0, 0), 0xFF808080u) << static_cast<int>(m);
  }
  auto dst = make(1, 1, pf::k24bppRGB);
  ASSERT_EQ(resample(*src, all(*src), *dst, NearestNeighbor), Status::Ok);
  EXPECT_EQ(px(*dst, 0, 0), 0xFFFFFFFFu);  // centre 1.0 falls in pixel 1
}

TEST(ResampleGeometry, BilinearEnlargementUsesPixelCentresAndClampsEdges) {
  auto src = make(2, 1, pf::k24bppRGB);
  ASSERT_EQ(src->set_pixel(1, 0, 0xFFFFFFFF), Status::Ok);
  auto dst = make(8, 1, pf::k24bppRGB);
  ASSERT_EQ(resample(*src, all(*src), *dst, Bilinear), Status::Ok);
  const uint32_t expect[8] = {0, 0, 32, 96, 159, 223, 255, 255};
  for (int32_t x = 0; x < 8; ++x)
    EXPECT_EQ(px(*dst, x, 0) & 0xFF, expect[x]) << x;
}

TEST(ResampleGeometry, TapsNeverReachOutsideTheRectangle) {
  // Red and blue neighbours flank a white rectangle; no mode may pick them up.
  auto src = make(4, 3, pf::k32bppARGB);
  ASSERT_EQ(src->fill_rect(all(*src), 0xFFFF0000), Status::Ok);
  ASSERT_EQ(src->fill_rect(Rect{1, 1, 2, 1}, 0xFFFFFFFF), Status::Ok);
  ASSERT_EQ(src->set_pixel(3, 1, 0xFF0000FF), Status::Ok);
  for (Interpolation m : kAllModes) {
    for (auto [w, h] : {std::pair{9, 5}, std::pair{1, 1}}) {
      auto dst = make(w, h, pf::k32bppARGB);
      ASSERT_EQ(resample(*src, Rect{1, 1, 2, 1}, *dst, m), Status::Ok);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(px(*dst, x, y), 0xFFFFFFFFu);
    }
  }
}

TEST(ResampleGeometry, ShrinkingSourceOntoItselfReadsTheOriginalPixels) {
  auto img = make(4, 4, pf::k32bppARGB);
  for (int32_t i = 0; i < 16; ++i)
    ASSERT_EQ(img->set_pixel(i % 4, i / 4, 0xFF000000u | static_cast<uint32_t>(i * 16)), Status::Ok);
  ASSERT_EQ(resample(*img, Rect{0, 0, 2, 2}, *img, NearestNeighbor), Status::Ok);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(px(*img, x, y), 0xFF000000u | static_cast<uint32_t>(((y / 2) * 4 + x / 2) * 16));
}

TEST(ResampleAlpha, TransparentNeighbourDoesNotDarkenColour) {
  auto src = make(2, 1, pf::k32bppARGB);
  ASSERT_EQ(src->set_pixel(0, 0, 0x80FF0000), Status::Ok);
  ASSERT_EQ(src->set_pixel(1, 0, 0x00000000), Status::Ok);
  for (Interpolation m : kFilteredModes) {
    auto dst = make(1, 1, pf::k32bppARGB);
    ASSERT_EQ(resample(*src, all(*src), *dst, m), Status::Ok);
    EXPECT_EQ(px(*dst, 0, 0), 0x40FF0000u) << static_cast<int>(m);
    auto wide = make(6, 1, pf::k32bppARGB);
    ASSERT_EQ(resample(*src, all(*src), *wide, m), Status::Ok);
    EXPECT_GE(px(*wide, 0, 0) >> 24, 0x80u);  // cubic modes may overshoot
    for (int32_t x = 0; x < 6; ++x) {
      const uint32_t v = px(*wide, x, 0);
      if ((v >> 24) != 0) {
        EXPECT_EQ(v & 0x00FFFFFF, 0x00FF0000u) << static_cast<int>(m) << " x " << x;
      }
    }
  }
}

TEST(ResampleAlpha, CubicOvershootKeepsPremultipliedPixelsValid) {
  auto src = make(16, 16, pf::k32bppARGB);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x)
      ASSERT_EQ(src->set_pixel(x, y, ((x / 2 + y / 2) % 2) ? 0xFFFFFFFF : 0x20FFFFFF), Status::Ok);
  for (Interpolation m : {Bicubic, HighQualityBicubic}) {
    auto dst = make(37, 11, pf::k32bppPARGB);
    ASSERT_EQ(resample(*src, all(*src), *dst, m), Status::Ok);
    std::vector<uint8_t> out(37 * 11 * 4);
    ASSERT_EQ(dst->read_pixels(all(*dst), pf::k32bppPARGB, out.data(), 37 * 4), Status::Ok);
    for (size_t i = 0; i < out.size(); i += 4)
      for (size_t c = 0; c < 3; ++c) ASSERT_LE(out[i + c], out[i + 3]);
  }
}

TEST(ResampleFormats, IndexedSourcesAndDestinationsUseColoursNotIndices) {
  // Left half black, right half red, drawn in a 4bpp image whose palette
  // order differs from an 8bpp destination's.
  auto src = make(8, 4, pf::k4bppIndexed);
  ASSERT_EQ(src->fill_rect(Rect{4, 0, 4, 4}, 0xFFFF0000), Status::Ok);
  for (Interpolation m : kAllModes) {
    auto dst = make(4, 2, pf::k8bppIndexed);
    ASSERT_EQ(resample(*src, all(*src), *dst, m), Status::Ok);
    for (int32_t y = 0; y < 2; ++y) {
      EXPECT_EQ(px(*dst, 0, y), 0xFF000000u) << static_cast<int>(m);
      EXPECT_EQ(px(*dst, 3, y), 0xFFFF0000u) << static_cast<int>(m);
    }
    auto mono = make(16, 3, pf::k1bppIndexed);
    ASSERT_EQ(resample(*src, all(*src), *mono, m), Status::Ok);
    EXPECT_EQ(px(*mono, 0, 1), 0xFF000000u);
  }
}

TEST(ResampleFormats, BlackAndWhiteSurviveEveryStoredFormatPair) {
  for (PixelFormat sf : pf::kAll) {
    auto src = make(9, 6, sf);
    ASSERT_EQ(src->fill_rect(all(*src), 0xFF000000), Status::Ok);
    ASSERT_EQ(src->fill_rect(Rect{0, 3, 9, 3}, 0xFFFFFFFF), Status::Ok);
    for (PixelFormat df : pf::kAll) {
      auto dst = make(5, 12, df);
      ASSERT_EQ(resample(*src, all(*src), *dst, HighQualityBicubic), Status::Ok);
      EXPECT_EQ(px(*dst, 2, 0), 0xFF000000u) << pixel_format_name(sf) << pixel_format_name(df);
      EXPECT_EQ(px(*dst, 4, 11), 0xFFFFFFFFu) << pixel_format_name(sf) << pixel_format_name(df);
    }
  }
}

TEST(ResampleBands, LargeOutputsAreContinuousAcrossTheSplit) {
  // Columns carry a gradient and rows repeat it: every output row must be
  // identical, whichever band (thread) produced it.
  auto src = make(700, 300, pf::k24bppRGB);
  for (int32_t x = 0; x < 700; ++x)
    ASSERT_EQ(src->fill_rect(Rect{x, 0, 1, 300}, 0xFF000000u | static_cast<uint32_t>(x * 255 / 699)),
              Status::Ok);
  for (auto [w, h] : {std::pair{350, 250}, std::pair{1400, 610}}) {
    auto dst = make(w, h, pf::k24bppRGB);
    ASSERT_EQ(resample(*src, all(*src), *dst, HighQualityBicubic), Status::Ok);
    std::vector<uint8_t> out(static_cast<size_t>(w) * 3 * static_cast<size_t>(h));
    ASSERT_EQ(dst->read_pixels(all(*dst), pf::k24bppRGB, out.data(), w * 3), Status::Ok);
    const size_t row = static_cast<size_t>(w) * 3;
    for (int32_t y = 1; y < h; ++y)
      ASSERT_EQ(0, std::memcmp(out.data(), out.data() + row * static_cast<size_t>(y), row)) << y;
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[row - 3], 255);
  }
}

// Cross-check against ImageMagick on a gradient with a checker pattern.
class ResampleMagick : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ImageMagick";
    dir_ = testing::TempDir() + "resample_" + std::to_string(::getpid());
    std::system(("mkdir -p " + dir_).c_str());
    src_ = make(96, 64, pf::k24bppRGB);
    std::ofstream f(dir_ + "/in.ppm", std::ios::binary);
    f << "P6\n96 64\n255\n";
    for (int32_t y = 0; y < 64; ++y)
      for (int32_t x = 0; x < 96; ++x) {
        const auto r = static_cast<uint8_t>(x * 255 / 95);
        const auto g = static_cast<uint8_t>(y * 4);
        const auto b = static_cast<uint8_t>(((x / 3 + y / 3) % 2) ? 230 : 20);
        f.put(static_cast<char>(r)).put(static_cast<char>(g)).put(static_cast<char>(b));
        ASSERT_EQ(src_->set_pixel(x, y, 0xFF000000u | (uint32_t{r} << 16) | (uint32_t{g} << 8) | b),
                  Status::Ok);
      }
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
  }

  // Mean absolute difference per channel between ImageMagick's resize and ours.
  double compare(const char* filter, int32_t w, int32_t h, Interpolation m) {
    const std::string out = dir_ + "/out.ppm";
    const std::string cmd = "convert " + dir_ + "/in.ppm -filter " + filter + " -resize " +
                            std::to_string(w) + "x" + std::to_string(h) + "! " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream f(out, std::ios::binary);
    std::string magic;
    int32_t fw = 0, fh = 0, maxv = 0;
    f >> magic >> fw >> fh >> maxv;
    f.get();
    EXPECT_EQ(fw, w);
    EXPECT_EQ(fh, h);
    auto dst = make(w, h, pf::k24bppRGB);
    EXPECT_EQ(resample(*src_, all(*src_), *dst, m), Status::Ok);
    double sum = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t v = px(*dst, x, y);
        for (int s = 16; s >= 0; s -= 8) sum += std::abs(f.get() - static_cast<int>((v >> s) & 0xFF));
      }
    return sum / (3.0 * w * h);
  }

  std::string dir_;
  std::unique_ptr<Image> src_;
};

TEST_F(ResampleMagick, AreaTriangleMatchesHighQualityBilinear) {
  EXPECT_LT(compare("Triangle", 48, 32, HighQualityBilinear), 2.0);
  EXPECT_LT(compare("Triangle", 29, 21, HighQualityBilinear), 2.0);
}

TEST_F(ResampleMagick, CatmullRomMatchesHighQualityBicubic) {
  EXPECT_LT(compare("Catrom", 48, 32, HighQualityBicubic), 2.0);
  EXPECT_LT(compare("Catrom", 29, 21, HighQualityBicubic), 2.0);
}

TEST_F(ResampleMagick, EnlargementMatchesPlainFilters) {
  EXPECT_LT(compare("Catrom", 192, 128, Bicubic), 1.0);
  EXPECT_LT(compare("Triangle", 150, 100, Bilinear), 1.0);
  EXPECT_LT(compare("Catrom", 150, 100, HighQualityBicubic), 1.0);
}

}  // namespace
}  // namespace korvex::raster
