// Affine drawing: exact maps, antialiased edges, compositing, indexed canvases, ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <tuple>

#include "raster/affine.h"
#include "raster/cpu.h"
#include "raster_test_util.h"

namespace korvex::raster {
namespace {

// An image of format `f` holding the given row-major ARGB values.
std::unique_ptr<Image> image(int32_t w, int32_t h, PixelFormat f,
                             const std::vector<uint32_t>& argb) {
  auto img = make(w, h, f);
  if (argb.empty()) return img;
  EXPECT_EQ(img->write_pixels({0, 0, w, h}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(argb.data()), w * 4),
            Status::Ok);
  return img;
}

std::unique_ptr<Image> filled(int32_t w, int32_t h, PixelFormat f, uint32_t argb) {
  return image(w, h, f, std::vector<uint32_t>(static_cast<size_t>(w) * h, argb));
}

// An opaque picture where every pixel differs from its neighbours.
std::unique_ptr<Image> pattern(int32_t w, int32_t h) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  uint32_t seed = 12345;
  for (auto& p : px) p = 0xFF000000u | ((seed = seed * 1103515245u + 12345u) >> 8);
  return image(w, h, pf::k24bppRGB, px);
}

// Rotation by `deg` (clockwise on screen, y down) about (cx, cy) followed by
// a move of that point to (tx, ty).
std::array<double, 6> rotation(double deg, double cx, double cy, double tx, double ty) {
  const double r = deg * std::numbers::pi / 180.0;
  const double co = std::cos(r), si = std::sin(r);
  return {co, si, -si, co, tx - co * cx + si * cy, ty - si * cx - co * cy};
}

TEST(AffineExact, RightAngleTurnsMatchTheLosslessTurns) {
  // Built from cos and sin, which are not exactly 0 or 1 at these angles; the
  // half turn keeps the canvas and turns the picture upside down about its centre.
  auto src = pattern(8, 6);
  for (auto [deg, turn, dw, dh] : {std::tuple{90.0, RotateFlip::Rotate90FlipNone, 6, 8},
                                   std::tuple{180.0, RotateFlip::Rotate180FlipNone, 8, 6},
                                   std::tuple{270.0, RotateFlip::Rotate270FlipNone, 6, 8}}) {
    auto dst = image(dw, dh, pf::k32bppARGB, {});
    ASSERT_EQ(draw_transformed(*src, rotation(deg, 4, 3, dw / 2.0, dh / 2.0).data(), *dst),
              Status::Ok);
    std::unique_ptr<Image> turned;
    ASSERT_EQ(src->clone_area({0, 0, 8, 6}, pf::k32bppARGB, turned), Status::Ok);
    ASSERT_EQ(turned->rotate_flip(turn), Status::Ok);
    EXPECT_EQ(read_all(*dst), read_all(*turned)) << deg;
  }
}

TEST(AffineExact, VectorAndPortablePathsAgreeBitForBit) {
  // 24-bit pixels are read in place (64-pixel rows end at the buffer's end), the
  // others as premultiplied words; a translucent canvas shows the compositing.
  for (auto [f, w, h] : {std::tuple{pf::k24bppRGB, 61, 47}, std::tuple{pf::k24bppRGB, 64, 48},
                         std::tuple{pf::k32bppPARGB, 61, 47}, std::tuple{pf::k32bppARGB, 61, 47}}) {
    std::vector<uint32_t> px(static_cast<size_t>(w * h));
    uint32_t seed = 99;
    for (auto& p : px) p = (seed = seed * 1103515245u + 12345u) >> 1 | 0x40000000u;
    auto src = image(w, h, f, px);
    for (double deg : {30.0, 45.0, 200.0, 271.0}) {
      const auto m = rotation(deg, w / 2.0, h / 2.0, 50, 50);
      auto fast = filled(100, 100, pf::k32bppARGB, 0x80336699);
      auto portable = filled(100, 100, pf::k32bppARGB, 0x80336699);
      ASSERT_EQ(draw_transformed(*src, m.data(), *fast), Status::Ok);
      const bool was = detail::allow_simd(false);
      ASSERT_EQ(draw_transformed(*src, m.data(), *portable), Status::Ok);
      detail::allow_simd(was);
      EXPECT_EQ(read_all(*fast), read_all(*portable)) << pixel_format_name(f) << " " << deg;
    }
  }
}

TEST(AffineOutline, FortyFiveDegreeTurnOfARedSquare) {
  auto src = filled(20, 20, pf::k24bppRGB, 0xFFFF0000);
  auto dst = filled(80, 80, pf::k24bppRGB, 0xFFFFFFFF);
  ASSERT_EQ(draw_transformed(*src, rotation(45, 10, 10, 40, 40).data(), *dst), Status::Ok);
  const auto d = read_all(*dst);
  int edges = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 80; ++x) {
      const uint32_t p = d[y * 80 + x];
      // Signed distance from the pixel centre to the turned square's outline, negative inside.
      const double u = std::fabs(x + 0.5 - 40.0), v = std::fabs(y + 0.5 - 40.0);
      const double dist = (u + v - 10.0 * std::sqrt(2.0)) / std::sqrt(2.0);
      // Half the diagonal of a pixel: beyond it a pixel is entirely on one side.
      if (std::fabs(dist) > 0.71) {
        ASSERT_EQ(p, dist < 0 ? 0xFFFF0000u : 0xFFFFFFFFu) << x << "," << y;
      } else if (u > 1.5 && v > 1.5) {
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
  EXPECT_GT(edges, 60);  // the corners are checked as outside by the loop
}

TEST(AffineOutline, CoverageAddsUpToTheTransformedArea) {
  // On a transparent canvas the summed alpha is the drawn area.
  auto src = filled(13, 7, pf::k32bppARGB, 0xFF00FF00);
  for (double deg : {0.0, 10.0, 45.0, 77.0, 200.0}) {
    auto dst = image(40, 40, pf::k32bppARGB, {});
    ASSERT_EQ(draw_transformed(*src, rotation(deg, 6.5, 3.5, 20.3, 19.6).data(), *dst), Status::Ok);
    double sum = 0;
    for (uint32_t p : read_all(*dst)) {
      sum += ch(p, 24) / 255.0;
      if (ch(p, 24) != 0) {
        ASSERT_EQ(p & 0x00FFFFFFu, 0x0000FF00u) << deg;
      }
    }
    EXPECT_NEAR(sum, 13.0 * 7.0, 0.3) << deg;
  }
}

// Translucent sources blend: LargeTurnsCompositeEveryRowExactlyOnce.
TEST(AffineCompositing, TransparentSourceLeavesStoredBits) {
  // A translucent destination would not survive a premultiplied round trip.
  auto clear = image(3, 3, pf::k32bppARGB, {});
  auto faint = filled(5, 5, pf::k32bppARGB, 0x03C8641E);
  ASSERT_EQ(draw_transformed(*clear, rotation(30, 1.5, 1.5, 2.5, 2.5).data(), *faint), Status::Ok);
  EXPECT_EQ(read_all(*faint), std::vector<uint32_t>(25, 0x03C8641Eu));
}

TEST(AffineCompositing, LargeTurnsCompositeEveryRowExactlyOnce) {
  // Split between threads: a row drawn twice, skipped or torn at a band boundary
  // shows as a wrong value under a translucent (or opaque 24-bit) flat source.
  for (auto [f, colour, inside] : {std::tuple{pf::k32bppARGB, 0x80FF0000u, 0xFFFF7F7Fu},
                                   std::tuple{pf::k24bppRGB, 0xFF2080C0u, 0xFF2080C0u}}) {
    auto src = filled(600, 400, f, colour);
    auto dst = filled(800, 800, pf::k24bppRGB, 0xFFFFFFFF);
    ASSERT_EQ(draw_transformed(*src, rotation(30, 300, 200, 400, 400).data(), *dst), Status::Ok);
    const auto d = read_all(*dst);
    const double r = 30 * std::numbers::pi / 180.0;
    int checked = 0;
    for (int y = 0; y < 800; ++y)
      for (int x = 0; x < 800; ++x) {
        // Back into source coordinates; a pixel well inside takes the flat colour.
        const double dx = x + 0.5 - 400, dy = y + 0.5 - 400;
        const double u = std::cos(r) * dx + std::sin(r) * dy, v = -std::sin(r) * dx + std::cos(r) * dy;
        if (std::fabs(u) < 298 && std::fabs(v) < 198) {
          ASSERT_EQ(d[static_cast<size_t>(y * 800 + x)], inside) << x << "," << y;
          ++checked;
        } else if (std::fabs(u) > 302 || std::fabs(v) > 202) {
          ASSERT_EQ(d[static_cast<size_t>(y * 800 + x)], 0xFFFFFFFFu) << x << "," << y;
        }
      }
    EXPECT_GT(checked, 200000);
  }
}

TEST(AffineIndexed, FourBitCanvasKeepsNeighbouringNibbles) {
  // Palette {black, white, red}, all white: draw a 1-pixel-wide red column at odd x.
  auto dst = image(6, 3, pf::k4bppIndexed, {});
  ASSERT_EQ(dst->set_palette(Palette{0, {0xFF000000, 0xFFFFFFFF, 0xFFFF0000}}), Status::Ok);
  const std::vector<uint8_t> idx(9, 0x11);
  ASSERT_EQ(dst->write_pixels({0, 0, 6, 3}, pf::k4bppIndexed, idx.data(), 3), Status::Ok);
  const double m[6] = {1, 0, 0, 1, 3, 0};
  ASSERT_EQ(draw_transformed(*filled(1, 3, pf::k24bppRGB, 0xFFF00000), m, *dst), Status::Ok);
  const auto d = read_all(*dst);
  for (size_t i = 0; i < d.size(); ++i)
    ASSERT_EQ(d[i], i % 6 == 3 ? 0xFFFF0000u : 0xFFFFFFFFu) << i;
}

TEST(AffineRefusals, SingularOrNonFiniteMatricesAreInvalid) {
  auto src = pattern(4, 4);
  auto dst = filled(4, 4, pf::k24bppRGB, 0xFF102030);
  const double nan = std::nan("");
  const double bad[][6] = {{1, 2, 2, 4, 0, 0},         {0, 0, 0, 0, 1, 1},
                           {0, 0, 3, 5, 0, 0},         {1, 0, 0, 1, nan, 0},
                           {1e300, 0, 0, 1e300, 0, 0}, {1e-200, 0, 0, 1e-200, 0, 0}};
  for (const auto& m : bad) EXPECT_EQ(draw_transformed(*src, m, *dst), Status::InvalidParameter);
  EXPECT_EQ(draw_transformed(*src, nullptr, *dst), Status::InvalidParameter);
  EXPECT_EQ(read_all(*dst), std::vector<uint32_t>(16, 0xFF102030u));
}

TEST(AffineReference, ThirtyDegreesAgreesWithImageMagickInTheInterior) {
  if (!have_magick()) GTEST_SKIP() << "ImageMagick not installed";
  // A smooth picture: bilinear implementations differ only by rounding there.
  const int w = 64, h = 48;
  std::vector<uint32_t> px;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t r = static_cast<uint32_t>(127.5 + 127.5 * std::sin(x * 0.21 + y * 0.05));
      const uint32_t g = static_cast<uint32_t>(255 * y / (h - 1));
      const uint32_t b = static_cast<uint32_t>(127.5 + 127.5 * std::cos(x * 0.1 - y * 0.17));
      px.push_back(0xFF000000u | (r << 16) | (g << 8) | b);
    }
  const auto ref = magick_rgb(px, w, h,
                              "-virtual-pixel edge -interpolate bilinear -filter point"
                              " -distort SRT 30",
                              px.size());
  ASSERT_FALSE(ref.empty());

  // SRT 30 turns by 30 degrees clockwise about the picture's centre, same canvas.
  auto dst = image(w, h, pf::k24bppRGB, {});
  const auto m = rotation(30, w / 2.0, h / 2.0, w / 2.0, h / 2.0);
  ASSERT_EQ(draw_transformed(*image(w, h, pf::k24bppRGB, px), m.data(), *dst), Status::Ok);
  const auto d = read_all(*dst);
  // Interior: pixel centres at least two pixels inside the turned outline,
  // i.e. whose source offsets (u, v) from the centre are that far inside.
  double total = 0;
  int count = 0, worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0;
      const double u = m[0] * dx + m[1] * dy, v = m[2] * dx + m[3] * dy;
      if (std::fabs(u) > w / 2.0 - 2 || std::fabs(v) > h / 2.0 - 2) continue;
      for (int c = 0; c < 3; ++c) {
        const int diff = std::abs(ch(d[y * w + x], 16 - 8 * c) - ref[(y * w + x) * 3 + c]);
        total += diff;
        worst = std::max(worst, diff);
      }
      ++count;
    }
  ASSERT_GT(count, w * h / 3);
  EXPECT_LT(total / (3.0 * count), 0.75);
  EXPECT_LE(worst, 2);
}

}  // namespace
}  // namespace korvex::raster
