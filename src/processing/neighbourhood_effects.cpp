// Neighbourhood effects: each output pixel is computed from the pixels around
// it, channel by channel (alpha is never changed).
//
// In-place effects read the zone while writing it, in raster order, so the
// pixels above and to the left of p already hold their new values. Effects
// that read the unchanged source only keep copies of the few rows they need
// (three for 3 x 3 kernels, five for Aqua) instead of a copy of the zone.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/state.h"
#include "processing/filter_engine.h"

namespace korvex::filters {

namespace {

inline int32_t clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
inline int32_t chan(uint32_t p, int c) { return static_cast<int32_t>((p >> (8 * c)) & 0xFF); }

// Three channels side by side in 16-bit lanes of a 64-bit word, so sums of up
// to 256 channel values are formed with one addition.
inline uint64_t spread(uint32_t p) {
  return (p & 0xFF) | (static_cast<uint64_t>(p & 0xFF00) << 8) |
         (static_cast<uint64_t>(p & 0xFF0000) << 16);
}
inline int32_t lane(uint64_t v, int c) { return static_cast<int32_t>((v >> (16 * c)) & 0xFFFF); }

// ---- in-place 3 x 3 effects --------------------------------------------------

// Runs f(neighbour_sum, centre) -> 0..255 on every channel of the inner
// pixels, in place. With `cross` the sum is of U, D, L and R; otherwise of
// all eight neighbours. The left neighbour is taken as just written.
template <class F>
void inplace_kernel(const Pixels& z, bool cross, F f) {
  if (z.w < 3 || z.h < 3) return;
  const int32_t w = z.w;
  std::vector<uint64_t> above(static_cast<size_t>(w)), below(static_cast<size_t>(w));
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    const uint32_t* u = z.row(y - 1);
    uint32_t* c = z.row(y);
    const uint32_t* d = z.row(y + 1);
    for (int32_t x = 1; x + 1 < w; ++x) {
      if (cross) {
        above[static_cast<size_t>(x)] = spread(u[x]);
        below[static_cast<size_t>(x)] = spread(d[x]);
      } else {
        above[static_cast<size_t>(x)] = spread(u[x - 1]) + spread(u[x]) + spread(u[x + 1]);
        below[static_cast<size_t>(x)] = spread(d[x - 1]) + spread(d[x]) + spread(d[x + 1]);
      }
    }
    uint64_t left = spread(c[0]);
    for (int32_t x = 1; x + 1 < w; ++x) {
      const uint32_t p = c[x];
      const uint64_t sum =
          above[static_cast<size_t>(x)] + below[static_cast<size_t>(x)] + spread(c[x + 1]) + left;
      const uint32_t nb = static_cast<uint32_t>(f(lane(sum, 0), chan(p, 0)));
      const uint32_t ng = static_cast<uint32_t>(f(lane(sum, 1), chan(p, 1)));
      const uint32_t nr = static_cast<uint32_t>(f(lane(sum, 2), chan(p, 2)));
      c[x] = (p & 0xFF000000u) | nr << 16 | ng << 8 | nb;
      left = nb | static_cast<uint64_t>(ng) << 16 | static_cast<uint64_t>(nr) << 32;
    }
  }
}

// Sharpen and EdgeEnhance: clamp((p x a - wt x sum8) / d). The part of the
// numerator that does not depend on the just-written left neighbour is
// formed for the whole row first; the serial part along the row is then one
// subtraction and one lookup per channel in a table of the clamped quotients.
void sharpen_rows(const Pixels& z, int32_t a, int32_t wt, int32_t d) {
  if (z.w < 3 || z.h < 3) return;
  const int32_t lo = std::min(0, 255 * a) - wt * 2040, hi = std::max(0, 255 * a);
  std::vector<uint8_t> quotient(static_cast<size_t>(hi - lo + 1));
  for (int32_t v = lo; v <= hi; ++v) quotient[static_cast<size_t>(v - lo)] = static_cast<uint8_t>(clamp255(v / d));
  const uint8_t* q = quotient.data();
  const int32_t w = z.w;
  const size_t ws = static_cast<size_t>(w);
  std::vector<int32_t> base(3 * ws);
  std::vector<uint64_t> col(ws);  // above + below, per column
  int32_t* bb = base.data();
  int32_t* bg = bb + ws;
  int32_t* br = bg + ws;
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    const uint32_t* u = z.row(y - 1);
    uint32_t* c = z.row(y);
    const uint32_t* dn = z.row(y + 1);
    for (size_t x = 0; x < ws; ++x) col[x] = spread(u[x]) + spread(dn[x]);
    for (int32_t x = 1; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(x);
      const uint64_t rest = col[i - 1] + col[i] + col[i + 1] + spread(c[x + 1]);
      const uint32_t p = c[x];
      bb[x] = chan(p, 0) * a - wt * lane(rest, 0) - lo;
      bg[x] = chan(p, 1) * a - wt * lane(rest, 1) - lo;
      br[x] = chan(p, 2) * a - wt * lane(rest, 2) - lo;
    }
    int32_t lb = chan(c[0], 0), lg = chan(c[0], 1), lr = chan(c[0], 2);
    for (int32_t x = 1; x + 1 < w; ++x) {
      lb = q[bb[x] - wt * lb];
      lg = q[bg[x] - wt * lg];
      lr = q[br[x] - wt * lr];
      c[x] = (c[x] & 0xFF000000u) | static_cast<uint32_t>(lr) << 16 |
             static_cast<uint32_t>(lg) << 8 | static_cast<uint32_t>(lb);
    }
  }
}

// Blur: the mean of the eight neighbours. Each lane's result is below 256,
// so the division by 8 is one shift of the packed sum and a mask.
void blur(const Pixels& z) {
  if (z.w < 3 || z.h < 3) return;
  const int32_t w = z.w;
  constexpr uint64_t kMask = 0x000000FF00FF00FFull;
  std::vector<uint64_t> rest(static_cast<size_t>(w)), col(static_cast<size_t>(w));
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    const uint32_t* u = z.row(y - 1);
    uint32_t* c = z.row(y);
    const uint32_t* d = z.row(y + 1);
    for (size_t x = 0; x < static_cast<size_t>(w); ++x) col[x] = spread(u[x]) + spread(d[x]);
    for (int32_t x = 1; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(x);
      rest[i] = col[i - 1] + col[i] + col[i + 1] + spread(c[x + 1]);
    }
    uint64_t left = spread(c[0]);
    for (int32_t x = 1; x + 1 < w; ++x) {
      left = ((rest[static_cast<size_t>(x)] + left) >> 3) & kMask;
      c[x] = (c[x] & 0xFF000000u) | static_cast<uint32_t>(left & 0xFF) |
             static_cast<uint32_t>((left >> 8) & 0xFF00) |
             static_cast<uint32_t>((left >> 16) & 0xFF0000);
    }
  }
}

// Emboss and Engrave read p and its lower-right neighbour, which is not yet
// visited, so writing in place needs no care. Every pixel but the last row
// and column is visited.
void emboss(const Pixels& z, int32_t rgb, bool engrave) {
  const int32_t k[3] = {(rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF};  // B, G, R
  for (int32_t y = 0; y + 1 < z.h; ++y) {
    uint32_t* c = z.row(y);
    const uint32_t* d = z.row(y + 1);
    for (int32_t x = 0; x + 1 < z.w; ++x) {
      const uint32_t p = c[x], dr = d[x + 1];
      uint32_t out = p & 0xFF000000u;
      for (int ch = 0; ch < 3; ++ch) {
        const int32_t diff = engrave ? chan(dr, ch) - chan(p, ch) : chan(p, ch) - chan(dr, ch);
        out |= static_cast<uint32_t>(std::min(255, std::abs(diff + k[ch]))) << (8 * ch);
      }
      c[x] = out;
    }
  }
}

// ---- 3 x 3 effects reading the unchanged source ----------------------------

// Calls row_fn(up, centre, down, out) for every inner row with copies of the
// original rows above and at the centre (the row below is not yet written).
template <class RowFn>
void source_rows(const Pixels& z, RowFn row_fn) {
  if (z.w < 3 || z.h < 3) return;
  const size_t w = static_cast<size_t>(z.w);
  std::vector<uint32_t> prev(z.row(0), z.row(0) + w), cur(w);
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    std::memcpy(cur.data(), z.row(y), w * 4);
    row_fn(prev.data(), cur.data(), z.row(y + 1), z.row(y));
    prev.swap(cur);
  }
}

void emboss_more(const Pixels& z, int32_t rgb, bool engrave) {
  const int32_t k[3] = {(rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF};
  const int32_t w = z.w;
  std::vector<uint64_t> col(static_cast<size_t>(w));
  source_rows(z, [&](const uint32_t* u, const uint32_t* c, const uint32_t* d, uint32_t* out) {
    for (int32_t x = 0; x < w; ++x) col[static_cast<size_t>(x)] = spread(u[x]) + spread(c[x]) + spread(d[x]);
    for (int32_t x = 1; x + 1 < w; ++x) {
      const uint64_t left = col[static_cast<size_t>(x - 1)], right = col[static_cast<size_t>(x + 1)];
      uint32_t o = c[x] & 0xFF000000u;
      for (int ch = 0; ch < 3; ++ch) {
        const int32_t diff = engrave ? lane(right, ch) - lane(left, ch) : lane(left, ch) - lane(right, ch);
        o |= static_cast<uint32_t>(clamp255(diff + k[ch])) << (8 * ch);
      }
      out[x] = o;
    }
  });
}

void contour(const Pixels& z, int32_t rgb) {
  const int32_t k[3] = {(rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF};
  const int32_t w = z.w;
  std::vector<uint64_t> col(static_cast<size_t>(w));
  source_rows(z, [&](const uint32_t* u, const uint32_t* c, const uint32_t* d, uint32_t* out) {
    for (int32_t x = 0; x < w; ++x) col[static_cast<size_t>(x)] = spread(u[x]) + spread(c[x]) + spread(d[x]);
    for (int32_t x = 1; x + 1 < w; ++x) {
      const uint64_t box = col[static_cast<size_t>(x - 1)] + col[static_cast<size_t>(x)] +
                           col[static_cast<size_t>(x + 1)];
      uint32_t o = c[x] & 0xFF000000u;
      for (int ch = 0; ch < 3; ++ch) {
        const int32_t p = chan(c[x], ch);
        o |= static_cast<uint32_t>(clamp255(9 * p - lane(box, ch) + k[ch])) << (8 * ch);
      }
      out[x] = o;
    }
  });
}

void relief(const Pixels& z) {
  const int32_t w = z.w;
  source_rows(z, [&](const uint32_t* u, const uint32_t* c, const uint32_t* d, uint32_t* out) {
    for (int32_t x = 1; x + 1 < w; ++x) {
      uint32_t o = c[x] & 0xFF000000u;
      for (int ch = 0; ch < 3; ++ch) {
        const int32_t v = 2 * chan(u[x - 1], ch) + chan(u[x], ch) + chan(c[x - 1], ch) +
                          chan(c[x], ch) - chan(c[x + 1], ch) - chan(d[x], ch) -
                          2 * chan(d[x + 1], ch);
        o |= static_cast<uint32_t>(clamp255(v / 2 + 50)) << (8 * ch);
      }
      out[x] = o;
    }
  });
}

// Dilate (maximum), Erode (minimum) and ConnectedContour (p minus the minimum)
// over the 3 x 3 block; bytes compare independently, so the extremes are
// taken on all channels at once, byte by byte.
inline uint32_t bytes_max(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int s = 0; s < 24; s += 8) r |= std::max((a >> s) & 0xFF, (b >> s) & 0xFF) << s;
  return r;
}
inline uint32_t bytes_min(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int s = 0; s < 24; s += 8) r |= std::min((a >> s) & 0xFF, (b >> s) & 0xFF) << s;
  return r;
}

void morphology(const Pixels& z, int32_t effect) {
  const int32_t w = z.w;
  std::vector<uint32_t> col(static_cast<size_t>(w));
  const bool take_max = effect == kDilate;
  source_rows(z, [&](const uint32_t* u, const uint32_t* c, const uint32_t* d, uint32_t* out) {
    for (int32_t x = 0; x < w; ++x) {
      col[static_cast<size_t>(x)] = take_max ? bytes_max(bytes_max(u[x], c[x]), d[x])
                                             : bytes_min(bytes_min(u[x], c[x]), d[x]);
    }
    for (int32_t x = 1; x + 1 < w; ++x) {
      const uint32_t a = col[static_cast<size_t>(x - 1)], b = col[static_cast<size_t>(x)],
                     e = col[static_cast<size_t>(x + 1)];
      const uint32_t m = take_max ? bytes_max(bytes_max(a, b), e) : bytes_min(bytes_min(a, b), e);
      const uint32_t alpha = c[x] & 0xFF000000u;
      if (effect == kConnectedContour) {
        // Every byte of p is at least the block's minimum: no borrow between bytes.
        out[x] = alpha | ((c[x] & 0x00FFFFFFu) - m);
      } else {
        out[x] = alpha | m;
      }
    }
  });
}

// ---- Aqua -------------------------------------------------------------------

// Aqua: of the four 3 x 3 windows having p as a corner, the one whose values
// deviate least from their mean gives p its mean. Every window is a 3 x 3
// block with some top-left corner (a, b); each block's mean and deviation is
// computed once per channel and shared by the four pixels that use it.
void aqua(const Pixels& z) {
  if (z.w < 5 || z.h < 5) return;
  const int32_t w = z.w, wb = w - 2;  // block corners per row
  const size_t ws = static_cast<size_t>(w), wbs = static_cast<size_t>(wb);
  // Planes of the original rows: 5 rows x 3 channels, ring-indexed by row.
  std::vector<int16_t> plane(5 * 3 * ws);
  auto plane_row = [&](int32_t y, int ch) { return plane.data() + (static_cast<size_t>(y % 5) * 3 + static_cast<size_t>(ch)) * ws; };
  // Block means and deviations: 3 block rows x 3 channels.
  std::vector<int16_t> mean(3 * 3 * wbs), dev(3 * 3 * wbs);
  auto block_row = [&](std::vector<int16_t>& v, int32_t b, int ch) { return v.data() + (static_cast<size_t>(b % 3) * 3 + static_cast<size_t>(ch)) * wbs; };
  auto load = [&](int32_t y) {
    const uint32_t* src = z.row(y);
    for (int ch = 0; ch < 3; ++ch) {
      int16_t* dst = plane_row(y, ch);
      for (int32_t x = 0; x < w; ++x) dst[x] = static_cast<int16_t>(chan(src[x], ch));
    }
  };
  load(0);
  load(1);
  std::vector<int16_t> vsum(ws);
  for (int32_t b = 0; b + 2 < z.h; ++b) {
    // Row b + 2 is still original: rows are written only up to b - 1 so far.
    load(b + 2);
    for (int ch = 0; ch < 3; ++ch) {
      const int16_t* p0 = plane_row(b, ch);
      const int16_t* p1 = plane_row(b + 1, ch);
      const int16_t* p2 = plane_row(b + 2, ch);
      int16_t* m = block_row(mean, b, ch);
      int16_t* dv = block_row(dev, b, ch);
      for (int32_t x = 0; x < w; ++x) vsum[static_cast<size_t>(x)] = static_cast<int16_t>(p0[x] + p1[x] + p2[x]);
      for (int32_t a = 0; a < wb; ++a) {
        const int32_t s = vsum[static_cast<size_t>(a)] + vsum[static_cast<size_t>(a) + 1] + vsum[static_cast<size_t>(a) + 2];
        m[a] = static_cast<int16_t>(s / 9);
      }
      for (int32_t a = 0; a < wb; ++a) {
        const int32_t mm = m[a];
        int32_t d = 0;
        for (int i = 0; i < 3; ++i) {
          d += std::abs(p0[a + i] - mm) + std::abs(p1[a + i] - mm) + std::abs(p2[a + i] - mm);
        }
        dv[a] = static_cast<int16_t>(d);
      }
    }
    // Pixel row y = b uses the blocks with corners in rows y - 2 and y.
    const int32_t y = b;
    if (y < 2 || y + 2 >= z.h) continue;
    uint32_t* out = z.row(y);
    uint32_t res[3];
    for (int32_t x = 2; x + 2 < w; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        const int16_t* mt = block_row(mean, y - 2, ch);
        const int16_t* dt = block_row(dev, y - 2, ch);
        const int16_t* mb = block_row(mean, y, ch);
        const int16_t* db = block_row(dev, y, ch);
        // Windows in order: top-left, top-right, bottom-left, bottom-right;
        // strict comparisons keep the earlier of equal deviations.
        int32_t best = dt[x - 2], val = mt[x - 2];
        if (dt[x] < best) best = dt[x], val = mt[x];
        if (db[x - 2] < best) best = db[x - 2], val = mb[x - 2];
        if (db[x] < best) val = mb[x];
        res[ch] = static_cast<uint32_t>(val);
      }
      out[x] = (out[x] & 0xFF000000u) | res[2] << 16 | res[1] << 8 | res[0];
    }
  }
}

// ---- Pixelize, Diffuse, waves -------------------------------------------------

// Blocks of n x n anchored at the zone's top-left corner; partial blocks at
// the right and bottom edges average only their pixels inside the zone. A
// band of n rows is read whole before any of it is written.
void pixelize(const Pixels& z, int32_t n) {
  for (int32_t r0 = 0; r0 < z.h; r0 += n) {
    const int32_t r1 = std::min(z.h, r0 + n);
    for (int32_t c0 = 0; c0 < z.w; c0 += n) {
      const int32_t c1 = std::min(z.w, c0 + n);
      uint64_t sum[3] = {0, 0, 0};
      for (int32_t y = r0; y < r1; ++y) {
        const uint32_t* row = z.row(y);
        for (int32_t x = c0; x < c1; ++x) {
          for (int ch = 0; ch < 3; ++ch) sum[ch] += static_cast<uint32_t>(chan(row[x], ch));
        }
      }
      const uint64_t count = static_cast<uint64_t>(r1 - r0) * static_cast<uint64_t>(c1 - c0);
      const uint32_t rgb = static_cast<uint32_t>(sum[2] / count) << 16 |
                           static_cast<uint32_t>(sum[1] / count) << 8 |
                           static_cast<uint32_t>(sum[0] / count);
      for (int32_t y = r0; y < r1; ++y) {
        uint32_t* row = z.row(y);
        for (int32_t x = c0; x < c1; ++x) row[x] = (row[x] & 0xFF000000u) | rgb;
      }
    }
  }
}

void diffuse(const Pixels& z, int32_t n) {
  const int32_t half = RoundHalfEven(n / 2.0);
  for (int32_t y = 0; y < z.h; ++y) {
    uint32_t* row = z.row(y);
    for (int32_t x = 0; x < z.w; ++x) {
      const double u1 = NextUniform(), u2 = NextUniform();
      int32_t dx = RoundHalfEven(u1 * n - half), dy = RoundHalfEven(u2 * n - half);
      if (x + dx < 0 || x + dx >= z.w) dx = 0;
      if (y + dy < 0 || y + dy >= z.h) dy = 0;
      const uint32_t from = z.row(y + dy)[x + dx];
      row[x] = (row[x] & 0xFF000000u) | (from & 0x00FFFFFFu);
    }
  }
}

// Waves move pixels of the unchanged source by a sine offset; positions in
// the row-major zone that no pixel lands on keep their values.
void waves(const Pixels& z, int32_t amplitude, int32_t period, bool vertical) {
  const size_t n = static_cast<size_t>(z.w) * static_cast<size_t>(z.h);
  std::vector<uint32_t> src(z.px, z.px + n);
  const int64_t w = z.w, total = static_cast<int64_t>(n);
  const int32_t steps = vertical ? z.h : z.w;
  std::vector<int64_t> off(static_cast<size_t>(steps));
  for (int32_t i = 0; i < steps; ++i) {
    off[static_cast<size_t>(i)] =
        RoundHalfEven(amplitude * std::sin(static_cast<double>(i + 1) / period));
  }
  for (int64_t y = 0; y < z.h; ++y) {
    for (int64_t x = 0; x < w; ++x) {
      // 0-based destination position in the zone buffer.
      const int64_t dest = vertical ? y * w + x - off[static_cast<size_t>(y)]
                                    : (y - off[static_cast<size_t>(x)]) * w + x;
      if (dest < 0 || dest >= total) continue;
      uint32_t& d = z.px[dest];
      d = (d & 0xFF000000u) | (src[static_cast<size_t>(y * w + x)] & 0x00FFFFFFu);
    }
  }
}

}  // namespace

bool IsNeighbourhoodEffect(int32_t effect) {
  switch (effect) {
    case kSharpen:
    case kBlur:
    case kDiffuse:
    case kSmooth:
    case kEdgeEnhance:
    case kContour:
    case kEmboss:
    case kEmbossMore:
    case kEngrave:
    case kEngraveMore:
    case kRelief:
    case kPixelize:
    case kAqua:
    case kDilate:
    case kErode:
    case kConnectedContour:
    case kSoften:
    case kHWaves:
    case kVWaves:
      return true;
    default:
      return false;
  }
}

bool RunNeighbourhoodEffect(int32_t effect, const Pixels& z, const FilterParams& p) {
  const int32_t ip = static_cast<int32_t>(p.param);
  switch (effect) {
    case kSharpen: {
      const int32_t a = ip + 24, d = ip + 8;
      if (d == 0) return false;
      if (d > 0 && a >= -64 && a <= 64) {
        sharpen_rows(z, a, 2, d);
      } else {
        inplace_kernel(z, false, [a, d](int32_t sum, int32_t c) { return clamp255((c * a - 2 * sum) / d); });
      }
      break;
    }
    case kBlur:
      blur(z);
      break;
    case kSmooth:
      inplace_kernel(z, true, [](int32_t sum, int32_t c) { return (sum + c) / 5; });
      break;
    case kEdgeEnhance: {
      const int32_t a = ip + 9, d = ip + 1;
      if (d == 0) return false;
      if (d > 0 && a >= -64 && a <= 64) {
        sharpen_rows(z, a, 1, d);
      } else {
        inplace_kernel(z, false, [a, d](int32_t sum, int32_t c) { return clamp255((c * a - sum) / d); });
      }
      break;
    }
    case kSoften: {
      if (ip > 100) return false;
      const int64_t a = 101 - static_cast<int64_t>(ip), d = 105 - static_cast<int64_t>(ip);
      inplace_kernel(z, true, [a, d](int32_t sum, int32_t c) {
        return static_cast<int32_t>((sum + c * a) / d);
      });
      break;
    }
    case kEmboss:
      emboss(z, ip, false);
      break;
    case kEngrave:
      emboss(z, ip, true);
      break;
    case kEmbossMore:
      emboss_more(z, ip, false);
      break;
    case kEngraveMore:
      emboss_more(z, ip, true);
      break;
    case kContour:
      contour(z, ip);
      break;
    case kRelief:
      relief(z);
      break;
    case kDilate:
    case kErode:
    case kConnectedContour:
      morphology(z, effect);
      break;
    case kAqua:
      aqua(z);
      break;
    case kPixelize:
      if (ip < 1) return false;
      pixelize(z, ip);
      break;
    case kDiffuse:
      diffuse(z, ip);
      break;
    case kHWaves:
    case kVWaves:
      if (p.extra2 == 0) return false;
      waves(z, p.extra1, p.extra2, effect == kVWaves);
      break;
    default:
      return false;
  }
  return true;
}

}  // namespace korvex::filters
