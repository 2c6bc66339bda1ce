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

#include "processing/filter_engine.h"
#include "processing/lut_apply.h"
#include "raster/rounding.h"

namespace korvex::filters {

namespace {

inline int32_t clamp255(int32_t v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}
inline int32_t chan(uint32_t p, int c) {
  return static_cast<int32_t>((p >> (8 * c)) & 0xFF);
}

// Three channels side by side in 16-bit lanes of a 64-bit word, so sums of up
// to 256 channel values are formed with one addition.
inline uint64_t spread(uint32_t p) {
  return (p & 0xFF) | (static_cast<uint64_t>(p & 0xFF00) << 8) |
         (static_cast<uint64_t>(p & 0xFF0000) << 16);
}
inline int32_t lane(uint64_t v, int c) {
  return static_cast<int32_t>((v >> (16 * c)) & 0xFFFF);
}

// ---- row kernels ------------------------------------------------------------
//
// The hot loops below work on the bytes of a row (B, G, R, A of each pixel in
// turn, so the neighbour of byte i on the left is byte i - 4) with 16-bit
// sums, in plain loops the compiler turns into vector code. Each is built
// twice, for AVX2 and for the baseline instruction set, and the processor
// picks one at run time; both compute the same integers.

#define KX_ROW_BODY inline __attribute__((always_inline))
#define KX_DISPATCH(name, params, args)                     \
  void name##_plain params {                                \
    name##_body args;                                       \
  }                                                         \
  __attribute__((target("avx2"))) void name##_avx2 params { \
    name##_body args;                                       \
  }                                                         \
  void name params {                                        \
    if (UseAvx2Kernels()) {                                 \
      name##_avx2 args;                                     \
    } else {                                                \
      name##_plain args;                                    \
    }                                                       \
  }

// The eight neighbours of each inner pixel minus the left one, per byte:
// UL + U + UR + DL + D + DR + R, bytes 4 .. 4w - 5.
KX_ROW_BODY void neighbours7_body(const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w,
                                  uint16_t* out) {
  for (size_t i = 4; i + 4 < 4 * w; ++i) {
    out[i] =
        static_cast<uint16_t>(u[i - 4] + u[i] + u[i + 4] + d[i - 4] + d[i] + d[i + 4] + c[i + 4]);
  }
}
KX_DISPATCH(neighbours7,
            (const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w, uint16_t* out),
            (u, c, d, w, out))

// Sharpen's part of the numerator that does not depend on the left
// neighbour, offset by -lo so it indexes the quotient table:
// a x p - wt x (the seven other neighbours) - lo.
KX_ROW_BODY void sharpen_base_body(const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w,
                                   int32_t a, int32_t wt, int32_t lo, int16_t* out) {
  for (size_t i = 4; i + 4 < 4 * w; ++i) {
    const int32_t rest = u[i - 4] + u[i] + u[i + 4] + d[i - 4] + d[i] + d[i + 4] + c[i + 4];
    out[i] = static_cast<int16_t>(a * c[i] - wt * rest - lo);
  }
}
KX_DISPATCH(sharpen_base,
            (const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w, int32_t a, int32_t wt,
             int32_t lo, int16_t* out),
            (u, c, d, w, a, wt, lo, out))

// Packed 16-bit lanes back into pixels, keeping each pixel's alpha: pixels
// 1 .. w - 2.
KX_ROW_BODY void pack_lanes_body(const uint64_t* lanes, size_t w, uint32_t* row) {
  for (size_t x = 1; x + 1 < w; ++x) {
    const uint64_t l = lanes[x];
    row[x] = (row[x] & 0xFF000000u) | static_cast<uint32_t>(l & 0xFF) |
             static_cast<uint32_t>((l >> 8) & 0xFF00) | static_cast<uint32_t>((l >> 16) & 0xFF0000);
  }
}
KX_DISPATCH(pack_lanes, (const uint64_t* lanes, size_t w, uint32_t* row), (lanes, w, row))

// EmbossMore and EngraveMore: clamp(left column - right column + k) on bytes
// 4 .. 4w - 5 of out; `k` holds one value per byte of a row (the alpha bytes
// are put back afterwards).
KX_ROW_BODY void emboss_more_row_body(const uint8_t* u, const uint8_t* c, const uint8_t* d,
                                      size_t w, const int16_t* k, bool engrave, uint8_t* out) {
  const int32_t sign = engrave ? -1 : 1;
  for (size_t i = 4; i + 4 < 4 * w; ++i) {
    const int32_t left = u[i - 4] + c[i - 4] + d[i - 4];
    const int32_t right = u[i + 4] + c[i + 4] + d[i + 4];
    const int32_t v = sign * (left - right) + k[i];
    out[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
}
KX_DISPATCH(emboss_more_row,
            (const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w, const int16_t* k,
             bool engrave, uint8_t* out),
            (u, c, d, w, k, engrave, out))

// Contour: clamp(9p - (the 3 x 3 block) + k), same layout as above.
KX_ROW_BODY void contour_row_body(const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w,
                                  const int16_t* k, uint8_t* out) {
  for (size_t i = 4; i + 4 < 4 * w; ++i) {
    const int32_t box =
        u[i - 4] + u[i] + u[i + 4] + c[i - 4] + c[i] + c[i + 4] + d[i - 4] + d[i] + d[i + 4];
    const int32_t v = 9 * c[i] - box + k[i];
    out[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
}
KX_DISPATCH(contour_row,
            (const uint8_t* u, const uint8_t* c, const uint8_t* d, size_t w, const int16_t* k,
             uint8_t* out),
            (u, c, d, w, k, out))

// Puts back the alpha of pixels 1 .. w - 2 from the unchanged row.
KX_ROW_BODY void keep_alpha_body(const uint32_t* from, size_t w, uint32_t* row) {
  for (size_t x = 1; x + 1 < w; ++x) row[x] = (row[x] & 0x00FFFFFFu) | (from[x] & 0xFF000000u);
}
KX_DISPATCH(keep_alpha, (const uint32_t* from, size_t w, uint32_t* row), (from, w, row))

inline const uint8_t* bytes(const uint32_t* p) {
  return reinterpret_cast<const uint8_t*>(p);
}
inline uint8_t* bytes(uint32_t* p) {
  return reinterpret_cast<uint8_t*>(p);
}

// One value per byte of a row from an RGB colour (red in bits 0-7): B, G, R
// and 0 for alpha.
std::vector<int16_t> colour_lanes(int32_t rgb, size_t w) {
  const int16_t k[4] = {static_cast<int16_t>((rgb >> 16) & 0xFF),
                        static_cast<int16_t>((rgb >> 8) & 0xFF), static_cast<int16_t>(rgb & 0xFF),
                        0};
  std::vector<int16_t> lanes(4 * w);
  for (size_t i = 0; i < lanes.size(); ++i) lanes[i] = k[i & 3];
  return lanes;
}

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
// formed for the whole row first, in vector code; the serial part along the
// row is then one subtraction and one lookup per channel in a table of the
// clamped quotients, the three channels running side by side. Needs 0 < d
// and |a| <= 64, so the row part fits 16 bits.
void sharpen_rows(const Pixels& z, int32_t a, int32_t wt, int32_t d) {
  if (z.w < 3 || z.h < 3) return;
  const int32_t lo = std::min(0, 255 * a) - wt * 2040, hi = std::max(0, 255 * a);
  std::vector<uint8_t> quotient(static_cast<size_t>(hi - lo + 1));
  for (int32_t v = lo; v <= hi; ++v)
    quotient[static_cast<size_t>(v - lo)] = static_cast<uint8_t>(clamp255(v / d));
  const uint8_t* q = quotient.data();
  const size_t w = static_cast<size_t>(z.w);
  std::vector<int16_t> base(4 * w);
  const int16_t* bs = base.data();
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    uint32_t* c = z.row(y);
    sharpen_base(bytes(z.row(y - 1)), bytes(c), bytes(z.row(y + 1)), w, a, wt, lo, base.data());
    int32_t lb = chan(c[0], 0), lg = chan(c[0], 1), lr = chan(c[0], 2);
    for (size_t x = 1; x + 1 < w; ++x) {
      lb = q[bs[4 * x] - wt * lb];
      lg = q[bs[4 * x + 1] - wt * lg];
      lr = q[bs[4 * x + 2] - wt * lr];
      c[x] = (c[x] & 0xFF000000u) | static_cast<uint32_t>(lr) << 16 |
             static_cast<uint32_t>(lg) << 8 | static_cast<uint32_t>(lb);
    }
  }
}

// Blur: the mean of the eight neighbours. The seven neighbours other than
// the left one are summed per byte in vector code; along the row, the four
// 16-bit sums of a pixel travel in one 64-bit word, and as each result is
// below 256 the division by 8 is one shift of the word and a mask.
void blur(const Pixels& z) {
  if (z.w < 3 || z.h < 3) return;
  const size_t w = static_cast<size_t>(z.w);
  constexpr uint64_t kMask = 0x00FF00FF00FF00FFull;
  std::vector<uint16_t> rest(4 * w);
  std::vector<uint64_t> lanes(w);
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    uint32_t* c = z.row(y);
    neighbours7(bytes(z.row(y - 1)), bytes(c), bytes(z.row(y + 1)), w, rest.data());
    uint64_t left = spread(c[0]);
    for (size_t x = 1; x + 1 < w; ++x) {
      uint64_t r;
      std::memcpy(&r, rest.data() + 4 * x, 8);
      left = ((r + left) >> 3) & kMask;
      lanes[x] = left;
    }
    pack_lanes(lanes.data(), w, c);
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
  const size_t w = static_cast<size_t>(z.w);
  const std::vector<int16_t> k = colour_lanes(rgb, w);
  source_rows(z, [&](const uint32_t* u, const uint32_t* c, const uint32_t* d, uint32_t* out) {
    emboss_more_row(bytes(u), bytes(c), bytes(d), w, k.data(), engrave, bytes(out));
    keep_alpha(c, w, out);
  });
}

void contour(const Pixels& z, int32_t rgb) {
  const size_t w = static_cast<size_t>(z.w);
  const std::vector<int16_t> k = colour_lanes(rgb, w);
  source_rows(z, [&](const uint32_t* u, const uint32_t* c, const uint32_t* d, uint32_t* out) {
    contour_row(bytes(u), bytes(c), bytes(d), w, k.data(), bytes(out));
    keep_alpha(c, w, out);
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
// computed once per channel and shared by the four pixels that use it. The
// work is done on 16-bit planes, one per channel, so the loops vectorise.

// Mean and deviation of the blocks whose top rows are p0 (rows p0, p1, p2),
// for corners 0 .. wb - 1.
KX_ROW_BODY void aqua_blocks_body(const uint16_t* p0, const uint16_t* p1, const uint16_t* p2,
                                  size_t wb, uint16_t* vsum, uint16_t* mean, uint16_t* dev) {
  // Everything fits 16 bits (a block sums to at most 2295), so the loops run
  // on sixteen lanes per AVX2 register.
  for (size_t x = 0; x < wb + 2; ++x) vsum[x] = static_cast<uint16_t>(p0[x] + p1[x] + p2[x]);
  for (size_t a = 0; a < wb; ++a) {
    // s / 9 for s <= 2295 is (s * 7282) >> 16.
    const uint32_t sum = static_cast<uint16_t>(vsum[a] + vsum[a + 1] + vsum[a + 2]);
    mean[a] = static_cast<uint16_t>((sum * 7282u) >> 16);
  }
  for (size_t a = 0; a < wb; ++a) {
    const uint16_t m = mean[a];
    uint16_t d = 0;
    for (size_t i = 0; i < 3; ++i) {
      const uint16_t v0 = p0[a + i], v1 = p1[a + i], v2 = p2[a + i];
      d = static_cast<uint16_t>(d + (v0 > m ? v0 - m : m - v0) + (v1 > m ? v1 - m : m - v1) +
                                (v2 > m ? v2 - m : m - v2));
    }
    dev[a] = d;
  }
}
KX_DISPATCH(aqua_blocks,
            (const uint16_t* p0, const uint16_t* p1, const uint16_t* p2, size_t wb, uint16_t* vsum,
             uint16_t* mean, uint16_t* dev),
            (p0, p1, p2, wb, vsum, mean, dev))

// For pixels x = 2 .. w - 3: the mean of the calmest of the windows with
// corners (x - 2, top), (x, top), (x - 2, bottom), (x, bottom), earlier
// windows winning ties.
KX_ROW_BODY void aqua_choose_body(const uint16_t* mt, const uint16_t* dt, const uint16_t* mb,
                                  const uint16_t* db, size_t w, uint16_t* out) {
  for (size_t x = 2; x + 2 < w; ++x) {
    // Selections instead of branches, so the loop vectorises; a later window
    // replaces the best so far only when strictly calmer.
    const uint16_t d0 = dt[x - 2], d1 = dt[x], d2 = db[x - 2], d3 = db[x];
    const uint16_t m0 = mt[x - 2], m1 = mt[x], m2 = mb[x - 2], m3 = mb[x];
    const uint16_t s1 = static_cast<uint16_t>(-(d1 < d0));  // all ones when taken
    const uint16_t b1 = static_cast<uint16_t>((d1 & s1) | (d0 & ~s1));
    const uint16_t v1 = static_cast<uint16_t>((m1 & s1) | (m0 & ~s1));
    const uint16_t s2 = static_cast<uint16_t>(-(d2 < b1));
    const uint16_t b2 = static_cast<uint16_t>((d2 & s2) | (b1 & ~s2));
    const uint16_t v2 = static_cast<uint16_t>((m2 & s2) | (v1 & ~s2));
    const uint16_t s3 = static_cast<uint16_t>(-(d3 < b2));
    out[x] = static_cast<uint16_t>((m3 & s3) | (v2 & ~s3));
  }
}
KX_DISPATCH(aqua_choose,
            (const uint16_t* mt, const uint16_t* dt, const uint16_t* mb, const uint16_t* db,
             size_t w, uint16_t* out),
            (mt, dt, mb, db, w, out))

KX_ROW_BODY void aqua_store_body(const uint16_t* b, const uint16_t* g, const uint16_t* r, size_t w,
                                 uint32_t* row) {
  for (size_t x = 2; x + 2 < w; ++x) {
    row[x] = (row[x] & 0xFF000000u) | static_cast<uint32_t>(r[x]) << 16 |
             static_cast<uint32_t>(g[x]) << 8 | static_cast<uint32_t>(b[x]);
  }
}
KX_DISPATCH(aqua_store,
            (const uint16_t* b, const uint16_t* g, const uint16_t* r, size_t w, uint32_t* row),
            (b, g, r, w, row))

KX_ROW_BODY void split_planes_body(const uint32_t* row, size_t w, uint16_t* b, uint16_t* g,
                                   uint16_t* r) {
  for (size_t x = 0; x < w; ++x) {
    const uint32_t p = row[x];
    b[x] = static_cast<uint16_t>(p & 0xFF);
    g[x] = static_cast<uint16_t>((p >> 8) & 0xFF);
    r[x] = static_cast<uint16_t>((p >> 16) & 0xFF);
  }
}
KX_DISPATCH(split_planes, (const uint32_t* row, size_t w, uint16_t* b, uint16_t* g, uint16_t* r),
            (row, w, b, g, r))

void aqua(const Pixels& z) {
  if (z.w < 5 || z.h < 5) return;
  const size_t w = static_cast<size_t>(z.w), wb = w - 2;  // block corners per row
  // Planes of the original rows: 5 rows x 3 channels, ring-indexed by row.
  std::vector<uint16_t> plane(5 * 3 * w);
  auto plane_row = [&](int32_t y, int ch) {
    return plane.data() + (static_cast<size_t>(y % 5) * 3 + static_cast<size_t>(ch)) * w;
  };
  // Block means and deviations: 3 block rows x 3 channels.
  std::vector<uint16_t> mean(3 * 3 * wb), dev(3 * 3 * wb), vsum(w), chosen(3 * w);
  auto block_row = [&](std::vector<uint16_t>& v, int32_t b, int ch) {
    return v.data() + (static_cast<size_t>(b % 3) * 3 + static_cast<size_t>(ch)) * wb;
  };
  auto load = [&](int32_t y) {
    split_planes(z.row(y), w, plane_row(y, 0), plane_row(y, 1), plane_row(y, 2));
  };
  load(0);
  load(1);
  for (int32_t b = 0; b + 2 < z.h; ++b) {
    // Row b + 2 is still original: rows are written only up to b - 1 so far.
    load(b + 2);
    for (int ch = 0; ch < 3; ++ch) {
      aqua_blocks(plane_row(b, ch), plane_row(b + 1, ch), plane_row(b + 2, ch), wb, vsum.data(),
                  block_row(mean, b, ch), block_row(dev, b, ch));
    }
    // Pixel row y = b uses the blocks with corners in rows y - 2 and y.
    const int32_t y = b;
    if (y < 2 || y + 2 >= z.h) continue;
    for (int ch = 0; ch < 3; ++ch) {
      aqua_choose(block_row(mean, y - 2, ch), block_row(dev, y - 2, ch), block_row(mean, y, ch),
                  block_row(dev, y, ch), w, chosen.data() + static_cast<size_t>(ch) * w);
    }
    aqua_store(chosen.data(), chosen.data() + w, chosen.data() + 2 * w, w, z.row(y));
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

// Runs the effect's kernel over `z`. Each bounded kernel treats the first
// and last rows of what it is given as the zone's edge rows and leaves as
// many of them as its reach, so a window holding the reach above and below
// its rows gives those rows exactly as the whole zone does.
bool run_kernel(int32_t effect, const Pixels& z, const FilterParams& p) {
  const int32_t ip = static_cast<int32_t>(p.param);
  switch (effect) {
    case kSharpen: {
      const int32_t a = ip + 24, d = ip + 8;
      if (d == 0) return false;
      if (d > 0 && a >= -64 && a <= 64) {
        sharpen_rows(z, a, 2, d);
      } else {
        inplace_kernel(z, false,
                       [a, d](int32_t sum, int32_t c) { return clamp255((c * a - 2 * sum) / d); });
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
        inplace_kernel(z, false,
                       [a, d](int32_t sum, int32_t c) { return clamp255((c * a - sum) / d); });
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
      if (p.waves.period == 0) return false;
      waves(z, p.waves.amplitude, p.waves.period, effect == kVWaves);
      break;
    default:
      return false;
  }
  return true;
}

}  // namespace

bool IsNeighbourhoodEffect(int32_t effect) {
  return NeighbourhoodReach(effect, FilterParams{}).bounded || effect == kDiffuse ||
         effect == kHWaves || effect == kVWaves;
}

RowReach NeighbourhoodReach(int32_t effect, const FilterParams& p) {
  RowReach r;
  r.bounded = true;
  switch (effect) {
    case kSharpen:
    case kBlur:
    case kSmooth:
    case kEdgeEnhance:
    case kSoften:
      r.above = r.below = 1;
      break;
    case kEmboss:
    case kEngrave:
      r.below = 1;  // p and its lower-right neighbour
      break;
    case kEmbossMore:
    case kEngraveMore:
    case kContour:
    case kRelief:
    case kDilate:
    case kErode:
    case kConnectedContour:
      r.above = r.below = 1;
      r.reads_source = true;
      break;
    case kAqua:
      r.above = r.below = 2;
      r.reads_source = true;
      break;
    case kPixelize:
      r.align = static_cast<int32_t>(std::clamp(p.param, 1.0, 1.0e9));
      break;
    default:
      r.bounded = false;  // Diffuse, waves, and effects of other kinds
      break;
  }
  return r;
}

bool RunNeighbourhoodRows(int32_t effect, const RowWindow& w, const FilterParams& p) {
  const RowReach r = NeighbourhoodReach(effect, p);
  if (!r.bounded || w.top < 0 || w.px.h < 0 ||
      static_cast<int64_t>(w.top) + w.px.h > static_cast<int64_t>(w.zone_h)) {
    return false;
  }
  const bool at_bottom = w.top + w.px.h == w.zone_h;
  if (w.top % r.align != 0 || (!at_bottom && w.px.h % r.align != 0)) return false;
  return run_kernel(effect, w.px, p);
}

bool RunNeighbourhoodEffect(int32_t effect, const Pixels& z, const FilterParams& p) {
  if (NeighbourhoodReach(effect, p).bounded) return RunNeighbourhoodRows(effect, {z, 0, z.h}, p);
  return run_kernel(effect, z, p);
}

}  // namespace korvex::filters
