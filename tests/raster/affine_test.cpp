// Affine drawing: exact mappings (translations and right-angle turns), the
// antialiased outline of a 45-degree turn, compositing over what the
// destination holds, indexed destinations, refusals, and a cross-check of a
// 30-degree turn against ImageMagick.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "raster/affine.h"
#include "raster/image.h"

namespace korvex::raster {
namespace {

std::unique_ptr<Image> make(int32_t w, int32_t h, PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), Status::Ok);
  return img;
}

std::unique_ptr<Image> filled(int32_t w, int32_t h, PixelFormat f, uint32_t argb) {
  auto img = make(w, h, f);
  std::vector<uint32_t> px(static_cast<size_t>(w) * h, argb);
  EXPECT_EQ(img->write_pixels({0, 0, w, h}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), w * 4),
            Status::Ok);
  return img;
}

std::vector<uint32_t> pixels(Image& img) {
  std::vector<uint32_t> px(static_cast<size_t>(img.width()) * img.height());
  EXPECT_EQ(img.read_pixels({0, 0, img.width(), img.height()}, pf::k32bppARGB,
                            reinterpret_cast<uint8_t*>(px.data()), img.width() * 4),
            Status::Ok);
  return px;
}

// An opaque picture where every pixel differs from its neighbours.
std::unique_ptr<Image> pattern(int32_t w, int32_t h, PixelFormat f = pf::k24bppRGB) {
  auto img = make(w, h, f);
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  uint32_t seed = 12345;
  for (auto& p : px) {
    seed = seed * 1103515245u + 12345u;
    p = 0xFF000000u | (seed >> 8);
  }
  EXPECT_EQ(img->write_pixels({0, 0, w, h}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), w * 4),
            Status::Ok);
  return img;
}

uint8_t ch(uint32_t p, int shift) {
  return static_cast<uint8_t>(p >> shift);
}

// Rotation by `deg` (clockwise on screen, y down) about (cx, cy) followed by
// a move of that point to (tx, ty).
std::array<double, 6> rotation(double deg, double cx, double cy, double tx, double ty) {
  const double r = deg * std::numbers::pi / 180.0;
  const double co = std::cos(r), si = std::sin(r);
  return {co, si, -si, co, tx - co * cx + si * cy, ty - si * cx - co * cy};
}

// ---- Exact mappings -------------------------------------------------------

TEST(AffineExact, IntegerTranslationCopiesAndLeavesTheRestAlone) {
  auto src = pattern(7, 5);
  auto dst = filled(12, 10, pf::k32bppARGB, 0x80336699);
  const double m[6] = {1, 0, 0, 1, 3, 2};
  ASSERT_EQ(draw_transformed(*src, m, *dst), Status::Ok);
  const auto s = pixels(*src);
  const auto d = pixels(*dst);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 3 && x < 10 && y >= 2 && y < 7;
      const uint32_t want = inside ? s[(y - 2) * 7 + (x - 3)] : 0x80336699u;
      ASSERT_EQ(d[y * 12 + x], want) << x << "," << y;
    }
  }
}

TEST(AffineExact, RightAngleTurnsMatchTheLosslessTurns) {
  // Built from cos and sin, which are not exactly 0 or 1 at these angles; the
  // half turn keeps the canvas and turns the picture upside down about its centre.
  auto src = pattern(8, 6);
  for (double deg : {90.0, 180.0, 270.0}) {
    SCOPED_TRACE(deg);
    const bool quarter = deg != 180.0;
    const int dw = quarter ? 6 : 8, dh = quarter ? 8 : 6;
    auto dst = make(dw, dh, pf::k32bppARGB);
    const auto m = rotation(deg, 4, 3, dw / 2.0, dh / 2.0);
    ASSERT_EQ(draw_transformed(*src, m.data(), *dst), Status::Ok);
    std::unique_ptr<Image> turned;
    ASSERT_EQ(src->clone_area({0, 0, 8, 6}, pf::k32bppARGB, turned), Status::Ok);
    ASSERT_EQ(turned->rotate_flip(deg == 90.0    ? RotateFlip::Rotate90FlipNone
                                  : deg == 180.0 ? RotateFlip::Rotate180FlipNone
                                                 : RotateFlip::Rotate270FlipNone),
              Status::Ok);
    EXPECT_EQ(pixels(*dst), pixels(*turned));
  }
}

// ---- The antialiased outline ----------------------------------------------

// Signed distance from (px, py) to the outline of the 20 x 20 square turned
// 45 degrees about the canvas centre (40, 40): negative inside.
double diamond_distance(double px, double py) {
  const double u = std::fabs(px - 40.0), v = std::fabs(py - 40.0);
  return (u + v - 10.0 * std::sqrt(2.0)) / std::sqrt(2.0);
}

TEST(AffineOutline, FortyFiveDegreeTurnOfARedSquare) {
  auto src = filled(20, 20, pf::k24bppRGB, 0xFFFF0000);
  auto dst = filled(80, 80, pf::k24bppRGB, 0xFFFFFFFF);
  const auto m = rotation(45, 10, 10, 40, 40);
  ASSERT_EQ(draw_transformed(*src, m.data(), *dst), Status::Ok);
  const auto d = pixels(*dst);
  int edges = 0;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 80; ++x) {
      const uint32_t p = d[y * 80 + x];
      const double dist = diamond_distance(x + 0.5, y + 0.5);
      // Half the diagonal of a pixel: beyond it a pixel is entirely on one side.
      if (dist < -0.71) {
        ASSERT_EQ(p, 0xFFFF0000u) << x << "," << y;
      } else if (dist > 0.71) {
        ASSERT_EQ(p, 0xFFFFFFFFu) << x << "," << y;
      } else if (std::fabs(x + 0.5 - 40.0) > 1.5 && std::fabs(y + 0.5 - 40.0) > 1.5) {
        // Away from the diamond's corners the outline cuts a right isosceles
        // triangle of height (half diagonal - |dist|) off the pixel square.
        const double h = std::sqrt(0.5) - std::fabs(dist);
        const double cov = dist < 0 ? 1.0 - h * h : h * h;
        ASSERT_EQ(ch(p, 16), 255) << x << "," << y;
        ASSERT_EQ(ch(p, 8), ch(p, 0));
        EXPECT_NEAR(ch(p, 8), 255.0 * (1.0 - cov), 1.5) << x << "," << y;
        EXPECT_GT(ch(p, 8), 0);
        EXPECT_LT(ch(p, 8), 255);
        ++edges;
      }
    }
  }
  EXPECT_GT(edges, 60);
  EXPECT_EQ(d[0], 0xFFFFFFFFu);
  EXPECT_EQ(d[80 * 80 - 1], 0xFFFFFFFFu);
}

TEST(AffineOutline, CoverageAddsUpToTheTransformedArea) {
  // On a transparent canvas the summed alpha is the drawn area.
  auto src = filled(13, 7, pf::k32bppARGB, 0xFF00FF00);
  for (double deg : {0.0, 10.0, 45.0, 77.0, 200.0}) {
    SCOPED_TRACE(deg);
    auto dst = make(40, 40, pf::k32bppARGB);
    const auto m = rotation(deg, 6.5, 3.5, 20.3, 19.6);
    ASSERT_EQ(draw_transformed(*src, m.data(), *dst), Status::Ok);
    double sum = 0;
    for (uint32_t p : pixels(*dst)) {
      sum += ch(p, 24) / 255.0;
      if (ch(p, 24) != 0) {
        ASSERT_EQ(p & 0x00FFFFFFu, 0x0000FF00u);
      }
    }
    EXPECT_NEAR(sum, 13.0 * 7.0, 0.3);
  }
}

// ---- Compositing ----------------------------------------------------------

TEST(AffineCompositing, TranslucentSourceBlendsOverTheDestination) {
  auto src = filled(2, 2, pf::k32bppARGB, 0x80FF0000);
  auto dst = filled(4, 4, pf::k24bppRGB, 0xFFFFFFFF);
  const double m[6] = {1, 0, 0, 1, 1, 1};
  ASSERT_EQ(draw_transformed(*src, m, *dst), Status::Ok);
  const auto d = pixels(*dst);
  EXPECT_EQ(d[1 * 4 + 1], 0xFFFF7F7Fu);
  EXPECT_EQ(d[2 * 4 + 2], 0xFFFF7F7Fu);
  EXPECT_EQ(d[0], 0xFFFFFFFFu);
  EXPECT_EQ(d[3 * 4 + 3], 0xFFFFFFFFu);
}

TEST(AffineCompositing, TransparentSourceLeavesStoredBitsAlone) {
  // A translucent destination would not survive a premultiplied round trip.
  auto src = make(3, 3, pf::k32bppARGB);
  auto dst = filled(5, 5, pf::k32bppARGB, 0x03C8641E);
  const auto before = pixels(*dst);
  const auto m = rotation(30, 1.5, 1.5, 2.5, 2.5);
  ASSERT_EQ(draw_transformed(*src, m.data(), *dst), Status::Ok);
  EXPECT_EQ(pixels(*dst), before);
}

// ---- Indexed destinations ---------------------------------------------------

TEST(AffineIndexed, EightBitCanvasReceivesNearestPaletteEntries) {
  auto src = filled(10, 10, pf::k24bppRGB, 0xFFFE0101);  // nearly pure red
  auto dst = filled(30, 30, pf::k8bppIndexed, 0xFFFFFFFF);
  const auto m = rotation(45, 5, 5, 15, 15);
  ASSERT_EQ(draw_transformed(*src, m.data(), *dst), Status::Ok);
  const auto d = pixels(*dst);
  EXPECT_EQ(d[15 * 30 + 15], 0xFFFF0000u);
  EXPECT_EQ(d[0], 0xFFFFFFFFu);
  EXPECT_EQ(d[29 * 30 + 29], 0xFFFFFFFFu);
  for (uint32_t p : d) {
    const auto& pal = dst->palette().entries;
    ASSERT_NE(std::find(pal.begin(), pal.end(), p), pal.end());
  }
}

TEST(AffineIndexed, FourBitCanvasKeepsNeighbouringNibbles) {
  // Palette {black, white, red}: draw a 1-pixel-wide red column at odd x.
  auto dst = make(6, 3, pf::k4bppIndexed);
  ASSERT_EQ(dst->set_palette(Palette{0, {0xFF000000, 0xFFFFFFFF, 0xFFFF0000}}), Status::Ok);
  std::vector<uint8_t> idx = {0x11, 0x11, 0x11};
  for (int y = 0; y < 3; ++y) {
    ASSERT_EQ(dst->write_pixels({0, y, 6, 1}, pf::k4bppIndexed, idx.data(), 4), Status::Ok);
  }
  auto src = filled(1, 3, pf::k24bppRGB, 0xFFF00000);
  const double m[6] = {1, 0, 0, 1, 3, 0};
  ASSERT_EQ(draw_transformed(*src, m, *dst), Status::Ok);
  const auto d = pixels(*dst);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 6; ++x) {
      ASSERT_EQ(d[y * 6 + x], x == 3 ? 0xFFFF0000u : 0xFFFFFFFFu) << x << "," << y;
    }
  }
}

// ---- Refusals ---------------------------------------------------------------

TEST(AffineRefusals, SingularOrNonFiniteMatricesAreInvalid) {
  auto src = pattern(4, 4);
  auto dst = filled(4, 4, pf::k24bppRGB, 0xFF102030);
  const auto before = pixels(*dst);
  const double nan = std::nan("");
  const double bad[][6] = {{1, 2, 2, 4, 0, 0},         {0, 0, 0, 0, 1, 1},
                           {0, 0, 3, 5, 0, 0},         {1, 0, 0, 1, nan, 0},
                           {1e300, 0, 0, 1e300, 0, 0}, {1e-200, 0, 0, 1e-200, 0, 0}};
  for (const auto& m : bad) {
    EXPECT_EQ(draw_transformed(*src, m, *dst), Status::InvalidParameter);
  }
  EXPECT_EQ(draw_transformed(*src, nullptr, *dst), Status::InvalidParameter);
  EXPECT_EQ(pixels(*dst), before);
}

// ---- Cross-check against ImageMagick ------------------------------------------

TEST(AffineReference, ThirtyDegreesAgreesWithImageMagickInTheInterior) {
  const char* magick = "/usr/bin/convert";
  if (access(magick, X_OK) != 0) GTEST_SKIP() << "ImageMagick not installed";
  // A smooth picture: bilinear implementations differ only by rounding there.
  const int w = 64, h = 48;
  auto src = make(w, h, pf::k24bppRGB);
  std::vector<uint32_t> px(w * h);
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t r = static_cast<uint32_t>(127.5 + 127.5 * std::sin(x * 0.21 + y * 0.05));
      const uint32_t g = static_cast<uint32_t>(255 * y / (h - 1));
      const uint32_t b = static_cast<uint32_t>(127.5 + 127.5 * std::cos(x * 0.1 - y * 0.17));
      px[y * w + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
      ppm += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
    }
  }
  ASSERT_EQ(src->write_pixels({0, 0, w, h}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), w * 4),
            Status::Ok);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("korvex-affine-" + std::to_string(getpid()) + ".ppm"))
                               .string();
  { std::ofstream(path, std::ios::binary) << ppm; }
  const std::string command = std::string(magick) + " " + path +
                              " -virtual-pixel edge -interpolate bilinear -filter point"
                              " -distort SRT 30 -depth 8 rgb:-";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<uint8_t> ref(static_cast<size_t>(w) * h * 3);
  const size_t got = fread(ref.data(), 1, ref.size(), pipe);
  pclose(pipe);
  std::filesystem::remove(path);
  ASSERT_EQ(got, ref.size());

  // SRT 30 turns by 30 degrees clockwise about the picture's centre, same canvas.
  auto dst = make(w, h, pf::k24bppRGB);
  const auto m = rotation(30, w / 2.0, h / 2.0, w / 2.0, h / 2.0);
  ASSERT_EQ(draw_transformed(*src, m.data(), *dst), Status::Ok);
  const auto d = pixels(*dst);
  // Interior: pixel centres at least two pixels inside the turned outline.
  const double r = 30 * std::numbers::pi / 180;
  double total = 0;
  int count = 0, worst = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0;
      const double u = std::cos(r) * dx + std::sin(r) * dy;  // source offsets from the centre
      const double v = -std::sin(r) * dx + std::cos(r) * dy;
      if (std::fabs(u) > w / 2.0 - 2 || std::fabs(v) > h / 2.0 - 2) continue;
      const uint32_t p = d[y * w + x];
      const uint8_t* q = &ref[(static_cast<size_t>(y) * w + x) * 3];
      for (int c = 0; c < 3; ++c) {
        const int diff = std::abs(static_cast<int>(ch(p, 16 - 8 * c)) - q[c]);
        total += diff;
        worst = std::max(worst, diff);
      }
      ++count;
    }
  }
  ASSERT_GT(count, w * h / 3);
  EXPECT_LT(total / (3.0 * count), 0.75);
  EXPECT_LE(worst, 2);
}

}  // namespace
}  // namespace korvex::raster
