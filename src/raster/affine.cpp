// Affine drawing. The source is read in place when it is 24bppRGB or
// 32bppPARGB, otherwise brought to 32bppPARGB once; the destination is walked
// row by row. For each destination row the band [Y, Y + 1] is clipped
// against the transformed source rectangle (a parallelogram): the clipped
// polygon's horizontal extent bounds the pixels touched at all, and the
// intersections of the band's two boundary lines with the parallelogram bound
// the pixels covered completely. Completely covered pixels take one bilinear
// sample, walking the source in 16.16 fixed point with constant steps (eight
// at a time with AVX2); the few pixels along the outline additionally get the
// exact area of their square inside the parallelogram as coverage. Only the
// touched span of each destination row is read, composited and written back,
// so the cost follows the covered area rather than the canvas. Groups of rows
// go to separate threads; every row is computed from the source and its own
// pixels only, so the result never depends on the split.
#include "raster/affine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "raster/convert.h"
#include "raster/cpu.h"
#include "raster/guard.h"
#include "raster/parallel.h"
#include "raster/premultiply_simd.h"

namespace korvex::raster {
namespace {

struct Pt {
  double x;
  double y;
};

// Sutherland-Hodgman step: keeps the part of a convex polygon on one side of
// an axis-parallel line (x = bound or y = bound). `out` must hold n + 1 points.
int clip_polygon(const Pt* in, int n, Pt* out, bool along_x, double bound, bool keep_greater) {
  auto coord = [along_x](const Pt& p) { return along_x ? p.x : p.y; };
  auto inside = [&](const Pt& p) { return keep_greater ? coord(p) >= bound : coord(p) <= bound; };
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const Pt& p = in[i];
    const Pt& q = in[(i + 1) % n];
    const bool pin = inside(p);
    const bool qin = inside(q);
    if (pin) out[m++] = p;
    if (pin != qin) {
      const double t = (bound - coord(p)) / (coord(q) - coord(p));
      Pt r{p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
      // Land exactly on the clipping line, whatever the rounding of t.
      (along_x ? r.x : r.y) = bound;
      out[m++] = r;
    }
  }
  return m;
}

double polygon_area(const Pt* p, int n) {
  double twice = 0.0;
  for (int i = 0; i < n; ++i) {
    const Pt& a = p[i];
    const Pt& b = p[(i + 1) % n];
    twice += a.x * b.y - b.x * a.y;
  }
  return std::fabs(twice) * 0.5;
}

// Where the horizontal line at height y crosses a convex polygon: false when it
// misses. Edges lying on the line contribute both end points.
bool line_span(const Pt* p, int n, double y, double& lo, double& hi) {
  lo = std::numeric_limits<double>::infinity();
  hi = -lo;
  for (int i = 0; i < n; ++i) {
    const Pt& a = p[i];
    const Pt& b = p[(i + 1) % n];
    if (y < std::min(a.y, b.y) || y > std::max(a.y, b.y)) continue;
    if (a.y == b.y) {
      lo = std::min({lo, a.x, b.x});
      hi = std::max({hi, a.x, b.x});
    } else {
      const double x = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
  }
  return lo <= hi;
}

// Linear blend of two premultiplied pixels, weight w (0..256) on b, two
// channels per 32-bit lane and rounded; w = 0 and w = 256 return a and b exactly.
inline uint32_t lerp_px(uint32_t a, uint32_t b, uint32_t w) {
  const uint32_t iw = 256 - w;
  const uint32_t rb = ((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w + 0x00800080u) >> 8;
  const uint32_t ag = (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w + 0x00800080u);
  return (rb & 0x00FF00FFu) | (ag & 0xFF00FF00u);
}

// Each channel of a premultiplied pixel times k / 255, rounded exactly.
inline uint32_t scale_px(uint32_t p, uint32_t k) {
  uint32_t rb = (p & 0x00FF00FFu) * k + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((p >> 8) & 0x00FF00FFu) * k + 0x00800080u;
  ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
  return rb | ag;
}

// Premultiplied source-over.
inline uint32_t over_px(uint32_t s, uint32_t d) {
  const uint32_t sa = s >> 24;
  if (sa == 255) return s;
  return s + scale_px(d, 255 - sa);
}

#if defined(__x86_64__) || defined(__i386__)
#define KX_AVX2 __attribute__((target("avx2")))

// lerp_px on 16-bit channels: (a (256 - w) + b w + 128) >> 8, exact in
// unsigned 16-bit arithmetic since the sum stays below 65536.
KX_AVX2 inline __m256i lerp16(__m256i a, __m256i b, __m256i w, __m256i iw) {
  const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, iw), _mm256_mullo_epi16(b, w));
  return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

// Eight bilinear samples at a time of n positions in 16.16 fixed point,
// starting at (fx, fy) and stepping (sfx, sfy), every one with all four
// neighbours inside. The same integers as the scalar loop: positions are
// fx + i * sfx exactly, weights ((f & 0xFFFF) + 128) >> 8, and three lerps.
// 3-byte pixels are fetched as two overlapping 4-byte words, never reading
// past the right-hand neighbour. Writes n / 8 * 8 samples to out; returns that count.
template <int Bpp>
KX_AVX2 int32_t bilinear_span_avx2(const uint8_t* base, int32_t stride, int32_t fx, int32_t fy,
                                   int32_t sfx, int32_t sfy, int32_t n, uint32_t* out) {
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i vx = _mm256_add_epi32(_mm256_set1_epi32(fx),
                                _mm256_mullo_epi32(lanes, _mm256_set1_epi32(sfx)));
  __m256i vy = _mm256_add_epi32(_mm256_set1_epi32(fy),
                                _mm256_mullo_epi32(lanes, _mm256_set1_epi32(sfy)));
  const __m256i step_x = _mm256_set1_epi32(static_cast<int32_t>(8u * static_cast<uint32_t>(sfx)));
  const __m256i step_y = _mm256_set1_epi32(static_cast<int32_t>(8u * static_cast<uint32_t>(sfy)));
  const __m256i vstride = _mm256_set1_epi32(stride);
  const __m256i frac = _mm256_set1_epi32(0xFFFF);
  const __m256i r128 = _mm256_set1_epi32(128);
  const __m256i opaque = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m256i w256 = _mm256_set1_epi16(256);
  const __m256i zero = _mm256_setzero_si256();
  const auto* b0 = reinterpret_cast<const int*>(base);
  const auto* b1 = reinterpret_cast<const int*>(base + stride);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i x0 = _mm256_srai_epi32(vx, 16);
    const __m256i y0 = _mm256_srai_epi32(vy, 16);
    __m256i wx = _mm256_srli_epi32(_mm256_add_epi32(_mm256_and_si256(vx, frac), r128), 8);
    __m256i wy = _mm256_srli_epi32(_mm256_add_epi32(_mm256_and_si256(vy, frac), r128), 8);
    wx = _mm256_or_si256(wx, _mm256_slli_epi32(wx, 16));
    wy = _mm256_or_si256(wy, _mm256_slli_epi32(wy, 16));
    __m256i off = _mm256_mullo_epi32(y0, vstride);
    __m256i p00, p01, p10, p11;
    if constexpr (Bpp == 3) {
      off = _mm256_add_epi32(off, _mm256_add_epi32(x0, _mm256_add_epi32(x0, x0)));
      const __m256i off2 = _mm256_add_epi32(off, _mm256_set1_epi32(2));
      p00 = _mm256_or_si256(_mm256_i32gather_epi32(b0, off, 1), opaque);
      p01 = _mm256_or_si256(_mm256_srli_epi32(_mm256_i32gather_epi32(b0, off2, 1), 8), opaque);
      p10 = _mm256_or_si256(_mm256_i32gather_epi32(b1, off, 1), opaque);
      p11 = _mm256_or_si256(_mm256_srli_epi32(_mm256_i32gather_epi32(b1, off2, 1), 8), opaque);
    } else {
      off = _mm256_add_epi32(off, _mm256_slli_epi32(x0, 2));
      const __m256i off4 = _mm256_add_epi32(off, _mm256_set1_epi32(4));
      p00 = _mm256_i32gather_epi32(b0, off, 1);
      p01 = _mm256_i32gather_epi32(b0, off4, 1);
      p10 = _mm256_i32gather_epi32(b1, off, 1);
      p11 = _mm256_i32gather_epi32(b1, off4, 1);
    }
    // Pixels 0, 1 | 4, 5 in the low halves, 2, 3 | 6, 7 in the high ones;
    // each pixel's weight repeated over its four channels in the same order.
    const __m256i wxl = _mm256_unpacklo_epi32(wx, wx), wxh = _mm256_unpackhi_epi32(wx, wx);
    const __m256i wyl = _mm256_unpacklo_epi32(wy, wy), wyh = _mm256_unpackhi_epi32(wy, wy);
    const __m256i ixl = _mm256_sub_epi16(w256, wxl), ixh = _mm256_sub_epi16(w256, wxh);
    const __m256i iyl = _mm256_sub_epi16(w256, wyl), iyh = _mm256_sub_epi16(w256, wyh);
    const __m256i top_l = lerp16(_mm256_unpacklo_epi8(p00, zero), _mm256_unpacklo_epi8(p01, zero), wxl, ixl);
    const __m256i top_h = lerp16(_mm256_unpackhi_epi8(p00, zero), _mm256_unpackhi_epi8(p01, zero), wxh, ixh);
    const __m256i bot_l = lerp16(_mm256_unpacklo_epi8(p10, zero), _mm256_unpacklo_epi8(p11, zero), wxl, ixl);
    const __m256i bot_h = lerp16(_mm256_unpackhi_epi8(p10, zero), _mm256_unpackhi_epi8(p11, zero), wxh, ixh);
    const __m256i res = _mm256_packus_epi16(lerp16(top_l, bot_l, wyl, iyl), lerp16(top_h, bot_h, wyh, iyh));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), res);
    vx = _mm256_add_epi32(vx, step_x);
    vy = _mm256_add_epi32(vy, step_y);
  }
  return i;
}
#endif

// The source pixels, addressed by rows: 32bppPARGB (4 bytes a pixel), or a
// 24bppRGB image read in place (3 bytes a pixel, always opaque).
struct Source {
  const uint8_t* base = nullptr;
  std::ptrdiff_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bpp = 4;
  bool opaque = false;  // every pixel has alpha 255

  static uint32_t load(const uint8_t* p, int32_t bpp) {
    if (bpp == 3)
      return 0xFF000000u | uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }

  uint32_t at(int32_t x, int32_t y) const {
    return load(base + y * stride + bpp * static_cast<std::ptrdiff_t>(x), bpp);
  }

  // Bilinear sample at continuous pixel-index position (sx, sy), where
  // integers are pixel centres; positions past the edges take the edge pixels.
  uint32_t sample(double sx, double sy) const {
    const double mx = width - 1;
    const double my = height - 1;
    sx = sx >= 0.0 ? (sx <= mx ? sx : mx) : 0.0;  // also sends NaN to 0
    sy = sy >= 0.0 ? (sy <= my ? sy : my) : 0.0;
    const auto x0 = static_cast<int32_t>(sx);
    const auto y0 = static_cast<int32_t>(sy);
    const auto wx = static_cast<uint32_t>((sx - x0) * 256.0 + 0.5);
    const auto wy = static_cast<uint32_t>((sy - y0) * 256.0 + 0.5);
    const int32_t x1 = x0 + (x0 < width - 1 ? 1 : 0);
    const int32_t y1 = wy != 0 && y0 < height - 1 ? y0 + 1 : y0;
    const uint32_t top = lerp_px(at(x0, y0), at(x1, y0), wx);
    if (wy == 0) return top;
    return lerp_px(top, lerp_px(at(x0, y1), at(x1, y1), wx), wy);
  }

  // True when both positions (and so the segment between them) lie where all
  // four bilinear neighbours exist.
  bool span_inside(double sx0, double sy0, double sx1, double sy1) const {
    const double mx = width - 1 - 1e-6, my = height - 1 - 1e-6;
    return std::min(sx0, sx1) >= 0.0 && std::max(sx0, sx1) < mx && std::min(sy0, sy1) >= 0.0 &&
           std::max(sy0, sy1) < my;
  }

  // Samples n positions stepping (dx, dy) from (sx, sy), all inside, in 16.16
  // fixed point, compositing each over `line` and marking it. Steps that are
  // whole numbers (right-angle turns, unit scale) stay exact. The source
  // coordinates advance by constant increments: no multiply per pixel.
  template <int Bpp>
  void sample_span(double sx, double sy, double dx, double dy, int32_t n, uint32_t* line,
                   uint8_t* mark, bool avx2) const {
    int64_t fx = std::llround(sx * 65536.0), fy = std::llround(sy * 65536.0);
    const int64_t sfx = std::llround(dx * 65536.0), sfy = std::llround(dy * 65536.0);
    int32_t i = 0;
#if defined(KX_AVX2)
    // Positions inside the source fit 32-bit 16.16 words when the source is
    // under 32768 pixels a side, and byte offsets fit when it holds < 2 GiB.
    if (avx2 && width < 32768 && height < 32768 &&
        std::abs(stride) * static_cast<int64_t>(height) < (int64_t{1} << 31)) {
      const auto fx32 = static_cast<int32_t>(fx), fy32 = static_cast<int32_t>(fy);
      const auto sx32 = static_cast<int32_t>(sfx), sy32 = static_cast<int32_t>(sfy);
      const auto st = static_cast<int32_t>(stride);
      if constexpr (Bpp == 3) {
        // Opaque: every sample replaces what the canvas held.
        i = bilinear_span_avx2<3>(base, st, fx32, fy32, sx32, sy32, n, line);
        std::fill_n(mark, i, uint8_t{1});
      } else {
        uint32_t buf[64];
        while (n - i >= 8) {
          const int32_t chunk = std::min(n - i, 64);
          const int32_t done = bilinear_span_avx2<4>(
              base, st, fx32 + static_cast<int32_t>(static_cast<uint32_t>(i) * static_cast<uint32_t>(sx32)),
              fy32 + static_cast<int32_t>(static_cast<uint32_t>(i) * static_cast<uint32_t>(sy32)),
              sx32, sy32, chunk, buf);
          for (int32_t k = 0; k < done; ++k) {
            const uint32_t s = buf[k];
            const uint32_t sa = s >> 24;
            if (sa == 0) continue;
            line[i + k] = sa == 255 ? s : s + scale_px(line[i + k], 255 - sa);
            mark[i + k] = 1;
          }
          i += done;
        }
      }
      fx += sfx * i;
      fy += sfy * i;
    }
#else
    (void)avx2;
#endif
    for (; i < n; ++i, fx += sfx, fy += sfy) {
      const auto x0 = static_cast<std::ptrdiff_t>(fx >> 16);
      const auto y0 = static_cast<std::ptrdiff_t>(fy >> 16);
      const auto wx = static_cast<uint32_t>(((fx & 0xFFFF) + 128) >> 8);
      const auto wy = static_cast<uint32_t>(((fy & 0xFFFF) + 128) >> 8);
      const uint8_t* r0 = base + y0 * stride + Bpp * x0;
      uint32_t p00, p01, p10, p11;
      if constexpr (Bpp == 3) {
        // Two overlapping 4-byte loads cover the 6 bytes of a pixel pair
        // without reading past the second pixel.
        uint32_t a, b;
        std::memcpy(&a, r0, 4);
        std::memcpy(&b, r0 + 2, 4);
        p00 = a | 0xFF000000u;
        p01 = (b >> 8) | 0xFF000000u;
        std::memcpy(&a, r0 + stride, 4);
        std::memcpy(&b, r0 + stride + 2, 4);
        p10 = a | 0xFF000000u;
        p11 = (b >> 8) | 0xFF000000u;
        line[i] = lerp_px(lerp_px(p00, p01, wx), lerp_px(p10, p11, wx), wy);
        mark[i] = 1;
      } else {
        std::memcpy(&p00, r0, 4);
        std::memcpy(&p01, r0 + 4, 4);
        std::memcpy(&p10, r0 + stride, 4);
        std::memcpy(&p11, r0 + stride + 4, 4);
        const uint32_t s = lerp_px(lerp_px(p00, p01, wx), lerp_px(p10, p11, wx), wy);
        const uint32_t sa = s >> 24;
        if (sa == 0) continue;
        line[i] = sa == 255 ? s : s + scale_px(line[i], 255 - sa);
        mark[i] = 1;
      }
    }
  }
};

// floor / ceil of a double clamped into [lo, hi] before conversion.
int32_t clamp_floor(double v, int32_t lo, int32_t hi) {
  if (!(v > lo)) return lo;
  if (v >= hi) return hi;
  return static_cast<int32_t>(std::floor(v));
}
int32_t clamp_ceil(double v, int32_t lo, int32_t hi) {
  if (!(v > lo)) return lo;
  if (v >= hi) return hi;
  return static_cast<int32_t>(std::ceil(v));
}

// What one destination row needs: the touched span [xs, xe), the completely
// covered part [in_lo, in_hi) and the parallelogram clipped to the row's band.
struct RowPlan {
  int32_t xs = 0;
  int32_t xe = 0;
  int32_t in_lo = 0;
  int32_t in_hi = 0;
  int n = 0;
  Pt band[9];
  double bu = 0.0;
  double bv = 0.0;
};

void plan_row(const Pt* quad, int32_t y, int32_t width, RowPlan& plan) {
  plan.xs = plan.xe = plan.in_lo = plan.in_hi = 0;
  const double y0 = y, y1 = y + 1.0;
  Pt upper[9];
  plan.n = clip_polygon(quad, 4, upper, false, y0, true);
  plan.n = clip_polygon(upper, plan.n, plan.band, false, y1, false);
  if (plan.n < 3) return;
  double xmin = plan.band[0].x, xmax = plan.band[0].x;
  for (int i = 1; i < plan.n; ++i) {
    xmin = std::min(xmin, plan.band[i].x);
    xmax = std::max(xmax, plan.band[i].x);
  }
  const int32_t xs = clamp_floor(xmin, 0, width);
  const int32_t xe = clamp_ceil(xmax, 0, width);
  if (xs >= xe) return;
  plan.xs = xs;
  plan.xe = xe;
  plan.in_lo = plan.in_hi = xe;
  // Completely covered pixels: all four corners inside the parallelogram.
  double lo0, hi0, lo1, hi1;
  if (line_span(quad, 4, y0, lo0, hi0) && line_span(quad, 4, y1, lo1, hi1)) {
    const int32_t lo = clamp_ceil(std::max(lo0, lo1), xs, xe);
    const int32_t hi = clamp_floor(std::min(hi0, hi1), xs, xe);
    if (lo < hi) {
      plan.in_lo = lo;
      plan.in_hi = hi;
    }
  }
}

// A pixel along the outline: the area of its square inside the parallelogram
// scales the bilinear sample before compositing. `line` and `mark` start at
// pixel plan.xs.
void edge_pixel(const Source& source, const RowPlan& plan, double ia, double ib, int32_t x,
                uint32_t* line, uint8_t* mark) {
  Pt cell_a[10], cell[11];
  int k = clip_polygon(plan.band, plan.n, cell_a, true, x, true);
  k = clip_polygon(cell_a, k, cell, true, x + 1.0, false);
  if (k < 3) return;
  const double cov = polygon_area(cell, k);
  const auto k255 = static_cast<uint32_t>(std::min(cov, 1.0) * 255.0 + 0.5);
  if (k255 == 0) return;
  uint32_t s = source.sample(plan.bu + ia * x, plan.bv + ib * x);
  if (k255 < 255) s = scale_px(s, k255);
  if ((s >> 24) == 0) return;
  const auto i = static_cast<std::size_t>(x - plan.xs);
  line[i] = over_px(s, line[i]);
  mark[i] = 1;
}

// Destination rows are drawn in bands of kBand rows, and a band's completely
// covered pixels in columns of kTile.
constexpr int32_t kBand = 32;
constexpr int32_t kTile = 64;

// Makes the first access to every memory page under pixels [x0, x1) of row y
// a write. A freshly allocated canvas is mapped lazily: read first, a page
// maps the shared zero page and the write that follows must copy it and
// flush the other threads' address translations, which costs far more than
// the pixels themselves. An atomic OR of zero writes without changing a bit;
// the bytes touched belong to this row's span, which no other thread writes.
void first_touch_for_write(const Surface& ds, int32_t y, int32_t x0, int32_t x1) {
  constexpr std::uintptr_t kPage = 4096;
  const int32_t bits = bits_per_pixel(ds.format);
  uint8_t* row = ds.row(y);
  uint8_t* p = row + static_cast<std::ptrdiff_t>(x0) * bits / 8;
  uint8_t* end = row + (static_cast<std::ptrdiff_t>(x1) * bits + 7) / 8;
  while (p < end) {
    std::atomic_ref<uint8_t>(*p).fetch_or(0, std::memory_order_relaxed);
    p += kPage - (reinterpret_cast<std::uintptr_t>(p) & (kPage - 1));
  }
}

// Draws destination rows [y_begin, y_end) (inside the parallelogram's rows).
// Rows are handled in bands; inside a band the completely covered pixels are
// visited in column tiles, so that the source pixels a tile reads stay in
// cache even when the map walks the source diagonally.
void draw_rows(const Source& source, const Pt* quad, double ia, double ib, double ic, double id,
               double ie, double jf, Surface& ds, int32_t y_begin, int32_t y_end) {
  const bool avx2 = use_avx2();
  std::unique_ptr<PaletteMatcher> matcher;
  if (is_indexed(ds.format)) matcher = std::make_unique<PaletteMatcher>(ds.palette);
  const auto dw = static_cast<std::size_t>(ds.width);
  std::vector<uint32_t> lines(dw * kBand);
  std::vector<uint8_t> touched(dw * kBand);
  std::vector<uint32_t> scratch(dw);
  std::vector<RowPlan> plans(kBand);
  static const Palette kNoPalette;

  for (int32_t band_y = y_begin; band_y < y_end; band_y += kBand) {
    const int32_t rows = std::min(kBand, y_end - band_y);
    int32_t tiles_begin = ds.width, tiles_end = 0;
    for (int32_t r = 0; r < rows; ++r) {
      RowPlan& plan = plans[static_cast<std::size_t>(r)];
      plan_row(quad, band_y + r, ds.width, plan);
      if (plan.xs >= plan.xe) continue;
      const int32_t y = band_y + r;
      uint32_t* line = lines.data() + dw * static_cast<std::size_t>(r);
      uint8_t* mark = touched.data() + dw * static_cast<std::size_t>(r);
      first_touch_for_write(ds, y, plan.xs, plan.xe);
      // The canvas pixels under the span, as premultiplied words. An opaque
      // source replaces the completely covered pixels whatever they held, so
      // only the outline's pixels are read then.
      auto load_canvas = [&](int32_t x0, int32_t x1) {
        auto* out = reinterpret_cast<uint8_t*>(line + (x0 - plan.xs));
#if defined(KX_AVX2)
        if (avx2 && ds.format == pf::k32bppARGB && x0 < x1) {
          const int32_t done = premultiply_row_avx2(ds.row(y) + 4 * static_cast<std::ptrdiff_t>(x0),
                                                    out, x1 - x0);
          x0 += done;
          out += 4 * static_cast<std::ptrdiff_t>(done);
        }
#endif
        if (x0 < x1)
          convert_pixels(ds.format, ds.row(y), x0, ds.palette, pf::k32bppPARGB, out, 0, nullptr,
                         x1 - x0, scratch.data());
      };
      if (source.opaque && plan.in_lo < plan.in_hi) {
        load_canvas(plan.xs, plan.in_lo);
        load_canvas(plan.in_hi, plan.xe);
      } else {
        load_canvas(plan.xs, plan.xe);
      }
      std::fill_n(mark, plan.xe - plan.xs, uint8_t{0});
      // Source position of the centre of pixel x on this row, minus the
      // half pixel that turns source coordinates into pixel-centre indices.
      const double yc = y + 0.5;
      plan.bu = ic * yc + ie + ia * 0.5 - 0.5;
      plan.bv = id * yc + jf + ib * 0.5 - 0.5;
      for (int32_t x = plan.xs; x < plan.in_lo; ++x) edge_pixel(source, plan, ia, ib, x, line, mark);
      for (int32_t x = std::max(plan.in_hi, plan.xs); x < plan.xe; ++x)
        edge_pixel(source, plan, ia, ib, x, line, mark);
      if (plan.in_lo < plan.in_hi) {
        tiles_begin = std::min(tiles_begin, plan.in_lo);
        tiles_end = std::max(tiles_end, plan.in_hi);
      }
    }

    for (int32_t tx = tiles_begin; tx < tiles_end; tx += kTile) {
      const int32_t tx_end = std::min(tx + kTile, tiles_end);
      for (int32_t r = 0; r < rows; ++r) {
        const RowPlan& plan = plans[static_cast<std::size_t>(r)];
        const int32_t x0 = std::max(tx, plan.in_lo), x1 = std::min(tx_end, plan.in_hi);
        if (x0 >= x1) continue;
        uint32_t* line = lines.data() + dw * static_cast<std::size_t>(r) + (x0 - plan.xs);
        uint8_t* mark = touched.data() + dw * static_cast<std::size_t>(r) + (x0 - plan.xs);
        const double sx0 = plan.bu + ia * x0, sy0 = plan.bv + ib * x0;
        if (source.span_inside(sx0, sy0, plan.bu + ia * (x1 - 1), plan.bv + ib * (x1 - 1))) {
          if (source.bpp == 3)
            source.sample_span<3>(sx0, sy0, ia, ib, x1 - x0, line, mark, avx2);
          else
            source.sample_span<4>(sx0, sy0, ia, ib, x1 - x0, line, mark, avx2);
          continue;
        }
        for (int32_t x = x0; x < x1; ++x) {
          const uint32_t s = source.sample(plan.bu + ia * x, plan.bv + ib * x);
          if ((s >> 24) == 0) continue;
          const auto i = static_cast<std::size_t>(x - x0);
          line[i] = over_px(s, line[i]);
          mark[i] = 1;
        }
      }
    }

    // Write back only the runs that changed, so the pixels left alone keep
    // their stored bits (no round trip through premultiplied or a palette).
    for (int32_t r = 0; r < rows; ++r) {
      const RowPlan& plan = plans[static_cast<std::size_t>(r)];
      const int32_t span = plan.xe - plan.xs;
      const uint32_t* line = lines.data() + dw * static_cast<std::size_t>(r);
      const uint8_t* mark = touched.data() + dw * static_cast<std::size_t>(r);
      uint8_t* drow = ds.row(band_y + r);
      for (int32_t i = 0; i < span;) {
        if (!mark[i]) {
          ++i;
          continue;
        }
        int32_t j = i + 1;
        while (j < span && mark[j]) ++j;
        int32_t done = 0;
#if defined(KX_AVX2)
        // Composited pixels are valid premultiplied ones, so the clamp to
        // alpha in the vector conversion changes nothing.
        if (avx2 && ds.format == pf::k32bppARGB)
          done = clamp_unpremultiply_row_avx2(reinterpret_cast<const uint8_t*>(line + i),
                                              drow + 4 * static_cast<std::ptrdiff_t>(plan.xs + i),
                                              j - i);
#endif
        if (i + done < j)
          convert_pixels(pf::k32bppPARGB, reinterpret_cast<const uint8_t*>(line + i + done), 0,
                         kNoPalette, ds.format, drow, plan.xs + i + done, matcher.get(),
                         j - i - done, scratch.data());
        i = j;
      }
    }
  }
}

}  // namespace

Status draw_transformed(Image& src, const double m[6], Image& dst) {
  if (m == nullptr) return Status::InvalidParameter;
  for (int i = 0; i < 6; ++i) {
    if (!std::isfinite(m[i])) return Status::InvalidParameter;
  }
  const double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5];
  const double det = a * d - b * c;
  if (det == 0.0 || !std::isfinite(det)) return Status::InvalidParameter;
  // Inverse map: destination (X, Y) -> source (ia X + ic Y + ie, ib X + id Y + jf).
  const double ia = d / det, ic = -c / det, ib = -b / det, id = a / det;
  const double ie = (c * f - d * e) / det;
  const double jf = (b * e - a * f) / det;
  for (double v : {ia, ib, ic, id, ie, jf}) {
    if (!std::isfinite(v)) return Status::InvalidParameter;
  }
  if (src.locked() || dst.locked()) return Status::WrongState;

  const Surface& ss = src.surface();
  Surface& ds = dst.surface();
  if (ss.width <= 0 || ss.height <= 0 || ds.width <= 0 || ds.height <= 0) return Status::Ok;

  // Outline of the source rectangle in destination space.
  const auto fwd = [&](double x, double y) { return Pt{a * x + c * y + e, b * x + d * y + f}; };
  const double sw = ss.width, sh = ss.height;
  const Pt quad[4] = {fwd(0, 0), fwd(sw, 0), fwd(sw, sh), fwd(0, sh)};
  double ymin = quad[0].y, ymax = quad[0].y;
  for (const Pt& p : quad) {
    ymin = std::min(ymin, p.y);
    ymax = std::max(ymax, p.y);
  }
  const int32_t row_begin = clamp_floor(ymin, 0, ds.height);
  const int32_t row_end = clamp_ceil(ymax, 0, ds.height);
  if (row_begin >= row_end) return Status::Ok;

  return guarded([&] {
    // Source pixels as 32bppPARGB (used in place when already stored so and
    // not also the destination), or 24bppRGB read in place.
    [[maybe_unused]] const bool avx2 = use_avx2();
    Source source;
    source.width = ss.width;
    source.height = ss.height;
    std::unique_ptr<uint32_t[]> converted;
    if (&src != &dst && (ss.format == pf::k32bppPARGB || ss.format == pf::k24bppRGB)) {
      source.base = ss.scan0;
      source.stride = ss.stride;
      source.bpp = ss.format == pf::k24bppRGB ? 3 : 4;
      source.opaque = ss.format == pf::k24bppRGB;
    } else {
      source.opaque = !has_alpha(ss.format) && !is_indexed(ss.format);
      const auto w = static_cast<std::size_t>(ss.width);
      const auto h = static_cast<std::size_t>(ss.height);
      if (w > std::numeric_limits<std::size_t>::max() / 4 / h) return Status::OutOfMemory;
      // Every pixel is written below, so the buffer is left uninitialised.
      converted = std::make_unique_for_overwrite<uint32_t[]>(w * h);
      parallel_rows(ss.height, static_cast<double>(w) * static_cast<double>(h),
                    [&](int32_t y0, int32_t y1) {
                      std::vector<uint32_t> scratch(w);
                      for (int32_t y = y0; y < y1; ++y) {
                        auto* out = reinterpret_cast<uint8_t*>(converted.get() + w * y);
                        int32_t done = 0;
#if defined(KX_AVX2)
                        if (avx2 && ss.format == pf::k32bppARGB)
                          done = premultiply_row_avx2(ss.row(y), out, ss.width);
#endif
                        if (done < ss.width)
                          convert_pixels(ss.format, ss.row(y), done, ss.palette, pf::k32bppPARGB,
                                         out + static_cast<std::ptrdiff_t>(done) * 4, 0, nullptr,
                                         ss.width - done, scratch.data());
                      }
                    });
      source.base = reinterpret_cast<const uint8_t*>(converted.get());
      source.stride = static_cast<std::ptrdiff_t>(w * 4);
    }

    // Destination rows go in bands of whole row groups to the threads; every
    // row is computed from the source and its own stored pixels only.
    const int32_t groups = (row_end - row_begin + kBand - 1) / kBand;
    const double area = std::fabs(det) * sw * sh;
    parallel_rows(groups, 8.0 * area, [&](int32_t g0, int32_t g1) {
      const int32_t y_begin = row_begin + g0 * kBand;
      const int32_t y_end = std::min(row_end, row_begin + g1 * kBand);
      draw_rows(source, quad, ia, ib, ic, id, ie, jf, ds, y_begin, y_end);
    }, 1);
    return Status::Ok;
  });
}

}  // namespace korvex::raster
