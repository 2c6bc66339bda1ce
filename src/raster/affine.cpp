// Affine drawing. The source is brought to 32bppPARGB once; the destination is
// walked row by row. For each destination row the band [Y, Y + 1] is clipped
// against the transformed source rectangle (a parallelogram): the clipped
// polygon's horizontal extent bounds the pixels touched at all, and the
// intersections of the band's two boundary lines with the parallelogram bound
// the pixels covered completely. Completely covered pixels take one bilinear
// sample; the few pixels along the outline additionally get the exact area of
// their square inside the parallelogram as coverage. Only the touched span of
// each destination row is read, composited and written back, so the cost
// follows the covered area rather than the canvas.
#include "raster/affine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "raster/convert.h"

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

// The source in 32bppPARGB, addressed by rows.
struct Source {
  const uint8_t* base = nullptr;
  std::ptrdiff_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;

  uint32_t at(int32_t x, int32_t y) const {
    uint32_t v;
    std::memcpy(&v, base + y * stride + 4 * static_cast<std::ptrdiff_t>(x), 4);
    return v;
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
    const uint8_t* r0 = base + y0 * stride;
    const uint8_t* r1 = wy != 0 && y0 < height - 1 ? r0 + stride : r0;
    uint32_t p00, p01, p10, p11;
    std::memcpy(&p00, r0 + 4 * static_cast<std::ptrdiff_t>(x0), 4);
    std::memcpy(&p01, r0 + 4 * static_cast<std::ptrdiff_t>(x1), 4);
    std::memcpy(&p10, r1 + 4 * static_cast<std::ptrdiff_t>(x0), 4);
    std::memcpy(&p11, r1 + 4 * static_cast<std::ptrdiff_t>(x1), 4);
    const uint32_t top = lerp_px(p00, p01, wx);
    if (wy == 0) return top;
    return lerp_px(top, lerp_px(p10, p11, wx), wy);
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
  // whole numbers (right-angle turns, unit scale) stay exact.
  void sample_span(double sx, double sy, double dx, double dy, int32_t n, uint32_t* line,
                   uint8_t* mark) const {
    int64_t fx = std::llround(sx * 65536.0), fy = std::llround(sy * 65536.0);
    const int64_t sfx = std::llround(dx * 65536.0), sfy = std::llround(dy * 65536.0);
    for (int32_t i = 0; i < n; ++i, fx += sfx, fy += sfy) {
      const auto x0 = static_cast<std::ptrdiff_t>(fx >> 16);
      const auto y0 = static_cast<std::ptrdiff_t>(fy >> 16);
      const auto wx = static_cast<uint32_t>(((fx & 0xFFFF) + 128) >> 8);
      const auto wy = static_cast<uint32_t>(((fy & 0xFFFF) + 128) >> 8);
      const uint8_t* r0 = base + y0 * stride + 4 * x0;
      uint32_t p00, p01, p10, p11;
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

  try {
    // Source pixels as 32bppPARGB (used in place when already stored so and
    // not also the destination).
    Source source;
    source.width = ss.width;
    source.height = ss.height;
    std::unique_ptr<uint32_t[]> converted;
    if (ss.format == pf::k32bppPARGB && &src != &dst) {
      source.base = ss.scan0;
      source.stride = ss.stride;
    } else {
      const auto w = static_cast<std::size_t>(ss.width);
      // Every pixel is written below, so the buffer is left uninitialised.
      converted =
          std::make_unique_for_overwrite<uint32_t[]>(w * static_cast<std::size_t>(ss.height));
      std::vector<uint32_t> scratch(w);
      for (int32_t y = 0; y < ss.height; ++y) {
        convert_pixels(ss.format, ss.row(y), 0, ss.palette, pf::k32bppPARGB,
                       reinterpret_cast<uint8_t*>(converted.get() + w * y), 0, nullptr, ss.width,
                       scratch.data());
      }
      source.base = reinterpret_cast<const uint8_t*>(converted.get());
      source.stride = static_cast<std::ptrdiff_t>(w * 4);
    }

    std::unique_ptr<PaletteMatcher> matcher;
    if (is_indexed(ds.format)) matcher = std::make_unique<PaletteMatcher>(ds.palette);
    const auto dw = static_cast<std::size_t>(ds.width);
    // Rows are handled in bands; inside a band the completely covered pixels
    // are visited in column tiles, so that the source pixels a tile reads stay
    // in cache even when the map walks the source diagonally.
    constexpr int32_t kBand = 32;
    constexpr int32_t kTile = 64;
    std::vector<uint32_t> lines(dw * kBand);
    std::vector<uint8_t> touched(dw * kBand);
    std::vector<uint32_t> scratch(dw);
    std::vector<RowPlan> plans(kBand);
    static const Palette kNoPalette;

    for (int32_t band_y = row_begin; band_y < row_end; band_y += kBand) {
      const int32_t rows = std::min(kBand, row_end - band_y);
      int32_t tiles_begin = ds.width, tiles_end = 0;
      for (int32_t r = 0; r < rows; ++r) {
        RowPlan& plan = plans[static_cast<std::size_t>(r)];
        plan_row(quad, band_y + r, ds.width, plan);
        if (plan.xs >= plan.xe) continue;
        const int32_t y = band_y + r;
        uint32_t* line = lines.data() + dw * r;
        uint8_t* mark = touched.data() + dw * r;
        convert_pixels(ds.format, ds.row(y), plan.xs, ds.palette, pf::k32bppPARGB,
                       reinterpret_cast<uint8_t*>(line), 0, nullptr, plan.xe - plan.xs,
                       scratch.data());
        std::fill_n(mark, plan.xe - plan.xs, uint8_t{0});
        // Source position of the centre of pixel x on this row, minus the
        // half pixel that turns source coordinates into pixel-centre indices.
        const double yc = y + 0.5;
        plan.bu = ic * yc + ie + ia * 0.5 - 0.5;
        plan.bv = id * yc + jf + ib * 0.5 - 0.5;
        for (int32_t x = plan.xs; x < plan.in_lo; ++x)
          edge_pixel(source, plan, ia, ib, x, line, mark);
        for (int32_t x = std::max(plan.in_hi, plan.xs); x < plan.xe; ++x) {
          edge_pixel(source, plan, ia, ib, x, line, mark);
        }
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
          uint32_t* line = lines.data() + dw * r;
          uint8_t* mark = touched.data() + dw * r;
          if (source.span_inside(plan.bu + ia * x0, plan.bv + ib * x0, plan.bu + ia * (x1 - 1),
                                 plan.bv + ib * (x1 - 1))) {
            source.sample_span(plan.bu + ia * x0, plan.bv + ib * x0, ia, ib, x1 - x0,
                               line + (x0 - plan.xs), mark + (x0 - plan.xs));
            continue;
          }
          for (int32_t x = x0; x < x1; ++x) {
            const uint32_t s = source.sample(plan.bu + ia * x, plan.bv + ib * x);
            if ((s >> 24) == 0) continue;
            const auto i = static_cast<std::size_t>(x - plan.xs);
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
        const uint32_t* line = lines.data() + dw * r;
        const uint8_t* mark = touched.data() + dw * r;
        uint8_t* drow = ds.row(band_y + r);
        for (int32_t i = 0; i < span;) {
          if (!mark[i]) {
            ++i;
            continue;
          }
          int32_t j = i + 1;
          while (j < span && mark[j]) ++j;
          convert_pixels(pf::k32bppPARGB, reinterpret_cast<const uint8_t*>(line + i), 0, kNoPalette,
                         ds.format, drow, plan.xs + i, matcher.get(), j - i, scratch.data());
          i = j;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
  return Status::Ok;
}

}  // namespace korvex::raster
