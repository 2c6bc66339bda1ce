// The effects against a literal model of their pixel rules: in place, by bands of a few rows
// (so neighbours, error rows, dither phases and blocks cross band edges) and in a zone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "filter_helpers.h"
#include "processing/filter_testing.h"
#include "processing/lut_apply.h"
#include "raster/rounding.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using test::get;
using test::native;
using test::put;

using Grid = std::vector<uint32_t>;  // W x H ARGB, row-major

int ch(uint32_t p, int c) {
  return static_cast<int>((p >> (8 * c)) & 0xFF);
}
uint32_t with(uint32_t p, int c, int v) {
  return (p & ~(0xFFu << (8 * c))) | static_cast<uint32_t>(v) << (8 * c);
}
int clamp(int v) {
  return std::min(255, std::max(0, v));
}
int64_t mean_gray(const Grid& g) {
  int64_t sum = 0;
  for (uint32_t p : g) sum += (ch(p, 0) + ch(p, 1) + ch(p, 2)) / 3;
  return sum / static_cast<int64_t>(g.size());
}

void model_contrast(Grid& g, int pct) {
  const int mean = static_cast<int>(mean_gray(g));
  const float f = static_cast<float>((pct + 100.0) / 100.0);
  for (uint32_t& p : g) {
    int v[3];  // b, g, r
    for (int c = 0; c < 3; ++c)
      v[c] = RoundHalfEven((ch(p, c) - mean) * static_cast<double>(f) + mean);
    for (int guard = 0; guard < 64; ++guard) {
      const auto [lo, hi] = std::minmax({v[0], v[1], v[2]});
      if (lo >= 0 && hi <= 255) break;
      if (hi <= 0 || lo >= 255) {  // all out on the same side
        v[0] = v[1] = v[2] = hi <= 0 ? 0 : 255;
        break;
      }
      for (int c = 0; c < 3; ++c) {  // blue, green, red hand half the excess to each other
        if (v[c] >= 0 && v[c] <= 255) continue;
        const int e = v[c] < 0 ? v[c] : v[c] - 255;
        v[(c + 1) % 3] += e / 2;
        v[(c + 2) % 3] += e / 2;
        v[c] = v[c] < 0 ? 0 : 255;
      }
    }
    for (int c = 0; c < 3; ++c) p = with(p, c, clamp(v[c]));
  }
}

// Every channel c in `mask` (1 blue, 2 green, 4 red) becomes round(c x f), limited to 0..255.
void model_scale(Grid& g, int mask, double f) {
  for (uint32_t& p : g)
    for (int c = 0; c < 3; ++c)
      if (mask >> c & 1) p = with(p, c, clamp(RoundHalfEven(ch(p, c) * f)));
}

// The pixel's alpha with gray level v.
uint32_t gray_of(uint32_t p, int v) {
  return (p & 0xFF000000u) | static_cast<uint32_t>(v) * 0x010101u;
}

void model_grayscale(Grid& g) {
  for (uint32_t& p : g) p = gray_of(p, RoundHalfEven((ch(p, 0) + ch(p, 1) + ch(p, 2)) / 3.0));
}

void model_stretch(Grid& g) {
  int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (uint32_t p : g)
    for (int c = 0; c < 3; ++c)
      lo[c] = std::min(lo[c], ch(p, c)), hi[c] = std::max(hi[c], ch(p, c));
  for (uint32_t& p : g)
    for (int c = 0; c < 3; ++c)
      if (hi[c] != lo[c])
        p = with(p, c, clamp(RoundHalfEven((ch(p, c) - lo[c]) * 255.0 / (hi[c] - lo[c]))));
}

void model_ordered(Grid& g, int w, int h) {
  static const int m[16] = {1, 13, 4, 16, 9, 5, 12, 8, 3, 15, 2, 14, 11, 7, 10, 6};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t& p = g[static_cast<size_t>(y * w + x)];
      const int level = (ch(p, 0) + ch(p, 1) + ch(p, 2)) / 3 / 16 + 1;
      p = gray_of(p, level < m[x % 4 + 4 * (y % 4)] ? 0 : 255);
    }
}

void model_diffusion(Grid& g, int w, int h) {
  const int mean = static_cast<int>(mean_gray(g));
  // Error shares in 32nds: right 8 and 4, then 2 4 8 4 2 on the next row.
  static const int share[7][3] = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4},
                                  {0, 1, 8}, {1, 1, 4}, {2, 1, 2}};
  std::vector<int> cur(static_cast<size_t>(w) + 1, 0), next(static_cast<size_t>(w) + 1, 0);
  for (int y = 1; y <= h; ++y) {
    for (int x = 1; x <= w; ++x) {
      uint32_t& p = g[static_cast<size_t>((y - 1) * w + x - 1)];
      const int v = clamp((ch(p, 0) + ch(p, 1) + ch(p, 2)) / 3 + 10 * cur[static_cast<size_t>(x)]);
      const int out = v < mean ? 0 : 255;
      p = gray_of(p, out);
      for (const auto& [dx, dy, wt] : share)
        if (x + dx >= 1 && x + dx <= w && y + dy <= h)
          (dy ? next : cur)[static_cast<size_t>(x + dx)] += (v - out) * wt / 32;
    }
    cur = next;
    std::fill(next.begin(), next.end(), 0);
  }
}

void model_scanline(Grid& g, int w, int h) {
  for (int y = 0; y + 1 < h; y += 2)
    for (int x = 0; x < w; ++x) {
      uint32_t& up = g[static_cast<size_t>(y * w + x)];
      uint32_t& down = g[static_cast<size_t>((y + 1) * w + x)];
      for (int c = 0; c < 3; ++c) {
        const int u = ch(up, c);
        up = with(up, c, u * 1.2 <= 255 ? RoundHalfEven(u * 1.2) : 255);
        down = with(down, c, RoundHalfEven(ch(down, c) * 0.8));
      }
    }
}

// Inner 3 x 3 effects. `in_place` reads g while writing it; otherwise the
// neighbours come from the unchanged source.
using Rule3 = std::function<int(const int n[9])>;  // n: UL U UR L p R DL D DR
void model_3x3(Grid& g, int w, int h, bool in_place, const Rule3& rule) {
  const Grid src = g;
  const Grid& from = in_place ? g : src;
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      uint32_t out = g[static_cast<size_t>(y * w + x)];
      for (int c = 0; c < 3; ++c) {
        int n[9];
        for (int i = 0; i < 9; ++i)
          n[i] = ch(from[static_cast<size_t>((y - 1 + i / 3) * w + x - 1 + i % 3)], c);
        out = with(out, c, rule(n));
      }
      g[static_cast<size_t>(y * w + x)] = out;
    }
}
int sum8(const int n[9]) {
  return n[0] + n[1] + n[2] + n[3] + n[5] + n[6] + n[7] + n[8];
}

// The colour k_rgb (red in the low byte) as the B, G, R levels of a pixel.
std::array<int, 3> bgr(int k_rgb) {
  return {(k_rgb >> 16) & 0xFF, (k_rgb >> 8) & 0xFF, k_rgb & 0xFF};
}

void model_emboss(Grid& g, int w, int h, int k_rgb, bool engrave) {
  const auto k = bgr(k_rgb);
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      uint32_t& p = g[static_cast<size_t>(y * w + x)];
      const uint32_t dr = g[static_cast<size_t>((y + 1) * w + x + 1)];
      for (int c = 0; c < 3; ++c) {
        const int d = engrave ? ch(dr, c) - ch(p, c) : ch(p, c) - ch(dr, c);
        p = with(p, c, std::min(255, std::abs(d + k[c])));
      }
    }
}

void model_emboss_more(Grid& g, int w, int h, int k_rgb, bool engrave) {
  const auto k = bgr(k_rgb);
  const Grid before = g;
  for (int c = 0; c < 3; ++c) {
    Grid one = before;
    const int kc = k[c], sign = engrave ? -1 : 1;
    model_3x3(one, w, h, false, [kc, sign](const int n[9]) {
      return clamp(sign * (n[0] + n[3] + n[6] - n[2] - n[5] - n[8]) + kc);
    });
    for (size_t i = 0; i < g.size(); ++i) g[i] = with(g[i], c, ch(one[i], c));
  }
}

void model_aqua(Grid& g, int w, int h) {
  const Grid src = g;
  for (int y = 2; y + 2 < h; ++y)
    for (int x = 2; x + 2 < w; ++x) {
      uint32_t out = g[static_cast<size_t>(y * w + x)];
      for (int c = 0; c < 3; ++c) {
        const int corner[4][2] = {{x - 2, y - 2}, {x, y - 2}, {x - 2, y}, {x, y}};
        int best = 99999, val = 0;
        for (const auto& cr : corner) {
          int n[9], sum = 0, dev = 0;
          for (int j = 0; j < 9; ++j)
            sum += n[j] = ch(src[static_cast<size_t>((cr[1] + j / 3) * w + cr[0] + j % 3)], c);
          const int mean = sum / 9;
          for (int v : n) dev += std::abs(v - mean);
          if (dev < best) best = dev, val = mean;
        }
        out = with(out, c, val);
      }
      g[static_cast<size_t>(y * w + x)] = out;
    }
}

void model_pixelize(Grid& g, int w, int h, int n) {
  const Grid src = g;
  for (int r0 = 0; r0 < h; r0 += n)
    for (int c0 = 0; c0 < w; c0 += n) {
      const int bw = std::min(w, c0 + n) - c0, bh = std::min(h, r0 + n) - r0;
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int i = 0; i < bw * bh; ++i)
          sum += ch(src[static_cast<size_t>((r0 + i / bw) * w + c0 + i % bw)], c);
        for (int i = 0; i < bw * bh; ++i) {
          uint32_t& p = g[static_cast<size_t>((r0 + i / bw) * w + c0 + i % bw)];
          p = with(p, c, sum / (bw * bh));
        }
      }
    }
}

struct ModelCase {
  std::string name;
  std::function<S(cKorvex&)> run;
  std::function<void(Grid&, int, int)> model;
};

std::vector<ModelCase> cases() {
  const int k = 0 | 120 << 8 | 120 << 16;  // RGB(0, 120, 120)
  auto inner = [](bool in_place, Rule3 rule) {
    return [in_place, rule](Grid& g, int w, int h) { model_3x3(g, w, h, in_place, rule); };
  };
  std::vector<ModelCase> all = {
      {"Stretch", &cKorvex::SetStretchEffect, [](Grid& g, int, int) { model_stretch(g); }},
      {"OrderedDither", [](cKorvex& e) { return e.SetBlackNWhiteEffect(2); }, model_ordered},
      {"DiffusionDither", [](cKorvex& e) { return e.SetBlackNWhiteEffect(3); }, model_diffusion},
      {"ScanLine", &cKorvex::SetScanLineEffect, model_scanline},
      {"Sharpen", &cKorvex::SetSharpenEffect,
       inner(true, [](const int n[9]) { return clamp((26 * n[4] - 2 * sum8(n)) / 10); })},
      {"SharpenMore", &cKorvex::SetSharpenMoreEffect,
       inner(true, [](const int n[9]) { return clamp((24 * n[4] - 2 * sum8(n)) / 8); })},
      {"EdgeEnhance", &cKorvex::SetEdgeEnhanceEffect,
       inner(true, [](const int n[9]) { return clamp((10 * n[4] - sum8(n)) / 2); })},
      {"Blur", &cKorvex::SetBlurEffect, inner(true, [](const int n[9]) { return sum8(n) / 8; })},
      {"Smooth", &cKorvex::SetSmoothEffect,
       inner(true, [](const int n[9]) { return (n[3] + n[5] + n[1] + n[7] + n[4]) / 5; })},
      {"Emboss", &cKorvex::SetEmbossEffect,
       [k](Grid& g, int w, int h) { model_emboss(g, w, h, k, false); }},
      {"EngraveColor", [](cKorvex& e) { return e.SetEngraveColorEffect(200 | 9 << 8 | 70 << 16); },
       [](Grid& g, int w, int h) { model_emboss(g, w, h, 200 | 9 << 8 | 70 << 16, true); }},
      {"EmbossMore", &cKorvex::SetEmbossMoreEffect,
       [k](Grid& g, int w, int h) { model_emboss_more(g, w, h, k, false); }},
      {"Contour", &cKorvex::SetContourEffect,
       inner(false, [](const int n[9]) { return clamp(8 * n[4] - sum8(n) + 255); })},
      {"Relief", &cKorvex::SetReliefEffect, inner(false, [](const int n[9]) {
         return clamp((2 * n[0] + n[1] + n[3] + n[4] - n[5] - n[7] - 2 * n[8]) / 2 + 50);
       })},
      {"Dilate", &cKorvex::SetDilateEffect,
       inner(false, [](const int n[9]) { return *std::max_element(n, n + 9); })},
      {"Erode", &cKorvex::SetErodeEffect,
       inner(false, [](const int n[9]) { return *std::min_element(n, n + 9); })},
      {"ConnectedContour", &cKorvex::SetConnectedContourEffect,
       inner(false, [](const int n[9]) { return n[4] - *std::min_element(n, n + 9); })},
      {"Aqua", &cKorvex::SetAQUAEffect, model_aqua},
      {"Pixelize", &cKorvex::SetPixelizeEffect,
       [](Grid& g, int w, int h) { model_pixelize(g, w, h, 3); }},
  };
  for (int pct : {37, -50})
    all.push_back({"Brightness" + std::to_string(pct),
                   [pct](cKorvex& e) { return e.SetBrightnessEffect(pct); },
                   [pct](Grid& g, int, int) {
                     model_scale(g, 7, static_cast<float>((pct + 100.0) / 100.0));
                   }});
  all.push_back({"Grayscale", &cKorvex::SetGrayscaleEffect,
                 [](Grid& g, int, int) { model_grayscale(g); }});
  all.push_back({"ScaleGreen", [](cKorvex& e) { return e.SetScaleGreenEffect(1.7f); },
                 [](Grid& g, int, int) { model_scale(g, 2, static_cast<double>(1.7f)); }});
  for (int pct : {0, 20, 150, -30, -60})
    all.push_back({"Contrast" + std::to_string(pct),
                   [pct](cKorvex& e) { return e.SetContrastEffect(pct); },
                   [pct](Grid& g, int, int) { model_contrast(g, pct); }});
  for (int pct : {0, 30, 50, 100})  // (U + D + L + R + (101 - pct) p) / (105 - pct)
    all.push_back({"Soften" + std::to_string(pct),
                   [pct](cKorvex& e) { return e.SetSoftenEffect(pct); },
                   inner(true, [pct](const int n[9]) {
                     return (n[1] + n[7] + n[3] + n[5] + n[4] * (101 - pct)) / (105 - pct);
                   })});
  for (int c : {0, 30 | 200 << 8, 3 | 4 << 8 | 5 << 16}) {
    all.push_back({"EmbossMoreColor" + std::to_string(c),
                   [c](cKorvex& e) { return e.SetEmbossMoreColorEffect(c); },
                   [c](Grid& g, int w, int h) { model_emboss_more(g, w, h, c, false); }});
    all.push_back({"EngraveMoreColor" + std::to_string(c),
                   [c](cKorvex& e) { return e.SetEngraveMoreColorEffect(c); },
                   [c](Grid& g, int w, int h) { model_emboss_more(g, w, h, c, true); }});
  }
  return all;
}

// A picture with smooth areas, saturated patches (so Contrast overflows and
// redistributes) and noise; alpha varies too.
Grid picture(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Grid g(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int noise = static_cast<int>(rng() % 40) - 20;
      int b = clamp(x * 255 / std::max(1, w - 1) + noise);
      int gr = clamp((x + y) * 7 % 256 + noise);
      int r = clamp(y * 255 / std::max(1, h - 1) - noise);
      if ((x / 5 + y / 3) % 4 == 0)
        b = 250 + static_cast<int>(rng() % 6), r = static_cast<int>(rng() % 6);
      if (rng() % 9 == 0) gr = static_cast<int>(rng() % 256);
      g[static_cast<size_t>(y * w + x)] = (rng() & 0xFF000000u) | static_cast<uint32_t>(r) << 16 |
                                          static_cast<uint32_t>(gr) << 8 | static_cast<uint32_t>(b);
    }
  return g;
}

struct Layout {
  const char* name;
  int16_t depth;
  int w, h;
  int zx, zy, zw, zh;  // zone, 0-based; zw = 0 for the whole picture
  int band_rows;       // 0 = the engine's own choice
};

class ReferenceModel : public ::testing::TestWithParam<Layout> {
 protected:
  void TearDown() override {
    filters::SetBandRowsForTesting(0);
    filters::ForceScalarKernelsForTesting(false);
  }
};

void check_all(const Layout& l) {
  for (const ModelCase& c : cases()) {
    SCOPED_TRACE(c.name);
    const Grid all = picture(l.w, l.h, 99u + static_cast<uint32_t>(l.w));
    cKorvex k;
    put(k, l.w, l.h, all, l.depth);
    const Grid before = get(k);  // as stored: alpha 255 in 24-bit pictures
    const int zw = l.zw ? l.zw : l.w, zh = l.zw ? l.zh : l.h;
    if (l.zw) k.FiltersToZone(l.zy + 1, l.zx + 1, zw, zh);
    const auto at = [&](int i) {
      return static_cast<size_t>((l.zy + i / zw) * l.w + l.zx + i % zw);
    };
    Grid zone(static_cast<size_t>(zw) * static_cast<size_t>(zh)), expected = before;
    for (int i = 0; i < zw * zh; ++i) zone[static_cast<size_t>(i)] = before[at(i)];
    c.model(zone, zw, zh);
    for (int i = 0; i < zw * zh; ++i)
      expected[at(i)] = zone[static_cast<size_t>(i)] | (l.depth == 24 ? 0xFF000000u : 0u);
    ASSERT_EQ(c.run(k), S::Ok);
    const Grid got = get(k);
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_EQ(got[i], expected[i])
          << "pixel " << i % static_cast<size_t>(l.w) << "," << i / static_cast<size_t>(l.w);
  }
}

TEST_P(ReferenceModel, VectorAndPlainPaths) {
  filters::SetBandRowsForTesting(GetParam().band_rows);
  for (bool scalar : {false, true}) {
    SCOPED_TRACE(scalar ? "plain" : "vector");
    filters::ForceScalarKernelsForTesting(scalar);
    check_all(GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReferenceModel,
                         ::testing::Values(
                             // Bands of 4 and 5 rows are rounded up to whole dither
                             // phases and Pixelize blocks; Zone24OneBand has one band.
                             Layout{"Direct32", 32, 41, 23, 0, 0, 0, 0, 0},
                             Layout{"Bands24x4", 24, 37, 29, 0, 0, 0, 0, 4},
                             Layout{"Bands24x5", 24, 19, 31, 0, 0, 0, 0, 5},
                             Layout{"Bands24Default", 24, 33, 300, 0, 0, 0, 0, 0},
                             Layout{"Zone32", 32, 40, 36, 3, 5, 29, 27, 4},
                             Layout{"Zone24OneBand", 24, 30, 20, 2, 1, 25, 17, 64}),
                         [](const ::testing::TestParamInfo<Layout>& i) {
                           return std::string(i.param.name);
                         });

// Over 8.4 million pixels of gray 255 overflow a 32-bit signed sum of the zone.
TEST(ReferenceModelLarge, ContrastMeanAboveEightMillionPixels) {
  const int w = 3000, h = 3000;  // 9 million pixels
  for (int16_t depth : {int16_t{32}, int16_t{24}}) {
    SCOPED_TRACE(depth);
    cKorvex k;
    ASSERT_EQ(k.CreateImage(w, h, depth), S::Ok);
    // All white but the first two rows, gray 60 and gray 200: the mean is
    // floor((8994000 x 255 + 3000 x 60 + 3000 x 200) / 9000000) = 254.
    ASSERT_EQ(native(k).fill_rect({0, 0, w, h}, 0xFFFFFFFFu), raster::Status::Ok);
    ASSERT_EQ(native(k).fill_rect({0, 0, w, 1}, 0xFF3C3C3Cu), raster::Status::Ok);
    ASSERT_EQ(native(k).fill_rect({0, 1, w, 1}, 0xFFC8C8C8u), raster::Status::Ok);
    ASSERT_EQ(k.SetContrastEffect(100), S::Ok);  // f = 2: L[i] = 2i - 254
    // 2 x 60 - 254 < 0 on all three channels: black; 2 x 200 - 254 = 146;
    // 2 x 255 - 254 = 256: white.
    const std::array<uint32_t, 3> probes[] = {
        {5, 0, 0xFF000000u}, {2999, 1, 0xFF929292u}, {7, 1234, 0xFFFFFFFFu}, {0, 2999, 0xFFFFFFFFu}};
    for (const auto& [x, y, want] : probes) {
      uint32_t p = 0;
      ASSERT_EQ(native(k).get_pixel(static_cast<int32_t>(x), static_cast<int32_t>(y), p),
                raster::Status::Ok);
      EXPECT_EQ(p, want) << x << "," << y;
    }
  }
}

// The match-and-replace filter writes the rows above and below the one it
// visits, and later windows see what earlier ones wrote: IN is a white
// block, OUT puts black in its top-left and bottom-right corners, so
// replacements chain along and across rows (and across band edges).
void model_pattern(Grid& g, int w, int h, const uint32_t in[9], const uint32_t out[9]) {
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const auto at = [&](int i) -> uint32_t& {
        return g[static_cast<size_t>((y - 1 + i / 3) * w + x - 1 + i % 3)];
      };
      bool match = true;
      for (int i = 0; i < 9; ++i) match = match && (at(i) & 0xFFFFFFu) == (in[i] & 0xFFFFFFu);
      if (!match) continue;
      for (int i = 0; i < 9; ++i) at(i) = (at(i) & 0xFF000000u) | (out[i] & 0xFFFFFFu);
    }
}

TEST(ReferenceModelPatterns, BandsMatchTheWholeZone) {
  const uint32_t white = 0xFFFFFFFFu, black = 0xFF000000u;
  const uint32_t in[9] = {white, white, white, white, white, white, white, white, white};
  const uint32_t out[9] = {black, white, white, white, white, white, white, white, black};
  const int w = 23, h = 41;
  std::mt19937 rng(5);
  Grid pic(static_cast<size_t>(w * h));
  for (uint32_t& p : pic) p = rng() % 20 == 0 ? black : white;
  for (int16_t depth : {int16_t{32}, int16_t{24}, int16_t{1}}) {
    for (int rows : {0, 4, 5}) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << " rows " << rows);
      filters::SetBandRowsForTesting(rows);
      cKorvex k;
      put(k, w, h, pic, depth);
      Grid want = get(k);
      model_pattern(want, w, h, in, out);
      const auto create = [&k](const uint32_t* m) {
        const auto a = [m](int i) { return static_cast<int32_t>(m[i]); };
        return k.MatrixCreate3x3x(a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7), a(8));
      };
      ASSERT_EQ(k.MatrixFilter3x3x(create(in), create(out)), S::Ok);
      EXPECT_EQ(get(k), want);
      filters::SetBandRowsForTesting(0);
    }
  }
}

}  // namespace
}  // namespace korvex
