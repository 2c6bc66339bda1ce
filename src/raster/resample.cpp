// Separable resampling: per-column and per-row tap tables with 14-bit
// fixed-point weights that sum exactly to one (so flat areas stay exact),
// applied in two passes over 8-bit premultiplied rows. The pass order is
// chosen by estimated cost: vertical first when shrinking (the vertical pass
// is a contiguous multiply-add over whole rows), horizontal first when
// enlarging (fewer rows to filter horizontally). Rows are read, filtered and
// written one at a time with buffers reused across the image.
#include "raster/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/convert.h"

namespace korvex::raster {
namespace {

constexpr int kShift = 14;
constexpr int32_t kOne = 1 << kShift;
constexpr int32_t kRound = 1 << (kShift - 1);

enum class Kernel { Triangle, Cubic };

double kernel_value(Kernel k, double x) {
  x = std::fabs(x);
  if (k == Kernel::Triangle) return x < 1.0 ? 1.0 - x : 0.0;
  // Cubic convolution with a = -0.5.
  constexpr double a = -0.5;
  if (x < 1.0) return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
  if (x < 2.0) return ((a * x - 5.0 * a) * x + 8.0 * a) * x - 4.0 * a;
  return 0.0;
}

// Taps of one axis: for output i, `count[i]` consecutive source samples from
// `start[i]` (relative to the source rectangle), weights in `weights` from
// `offset[i]`, and the same weights packed in pairs (low half the first tap)
// for the SIMD multiply-add, from `pair_offset[i]`.
struct Taps {
  std::vector<int32_t> start, count, offset, pair_offset;
  std::vector<int16_t> weights;
  std::vector<int32_t> pairs;
  int32_t max_count = 0;
};

void pack_pairs(Taps& t) {
  t.pair_offset.resize(t.count.size());
  for (size_t i = 0; i < t.count.size(); ++i) {
    t.pair_offset[i] = static_cast<int32_t>(t.pairs.size());
    const int16_t* w = &t.weights[static_cast<size_t>(t.offset[i])];
    for (int32_t k = 0; k < t.count[i]; k += 2) {
      const uint16_t lo = static_cast<uint16_t>(w[k]);
      const uint16_t hi = k + 1 < t.count[i] ? static_cast<uint16_t>(w[k + 1]) : uint16_t{0};
      t.pairs.push_back(static_cast<int32_t>(static_cast<uint32_t>(lo) | (uint32_t{hi} << 16)));
    }
  }
}

// Filter taps for `dst_len` outputs over `src_len` inputs. Output i is centred
// on source coordinate (i + 0.5) * scale; when `widen` and shrinking, the
// kernel is stretched by the scale factor. Taps past either end fold onto the
// border sample.
Taps make_taps(int32_t src_len, int32_t dst_len, Kernel k, bool widen) {
  Taps t;
  const double scale = static_cast<double>(src_len) / dst_len;
  const double fscale = (widen && scale > 1.0) ? scale : 1.0;
  const double radius = (k == Kernel::Triangle ? 1.0 : 2.0) * fscale;
  std::vector<double> w;
  t.start.resize(static_cast<size_t>(dst_len));
  t.count.resize(static_cast<size_t>(dst_len));
  t.offset.resize(static_cast<size_t>(dst_len));
  for (int32_t i = 0; i < dst_len; ++i) {
    const double centre = (i + 0.5) * scale;
    const auto jlo = static_cast<int64_t>(std::floor(centre - radius - 0.5));
    const auto jhi = static_cast<int64_t>(std::ceil(centre + radius - 0.5));
    const int64_t lo = std::max<int64_t>(jlo, 0);
    const int64_t hi = std::min<int64_t>(jhi, src_len - 1);
    w.assign(static_cast<size_t>(hi - lo + 1), 0.0);
    double sum = 0.0;
    for (int64_t j = jlo; j <= jhi; ++j) {
      const double v = kernel_value(k, (static_cast<double>(j) + 0.5 - centre) / fscale);
      const int64_t idx = std::clamp<int64_t>(j, lo, hi);
      w[static_cast<size_t>(idx - lo)] += v;
      sum += v;
    }
    // Trim zero taps at both ends.
    size_t a = 0, b = w.size();
    while (a + 1 < b && w[a] == 0.0) ++a;
    while (b > a + 1 && w[b - 1] == 0.0) --b;
    // Quantise; the rounding residue goes to the largest tap so the weights
    // sum to exactly kOne.
    const size_t base = t.weights.size();
    int32_t qsum = 0;
    size_t big = a;
    for (size_t j = a; j < b; ++j) {
      const auto q = static_cast<int32_t>(std::lround(w[j] / sum * kOne));
      t.weights.push_back(static_cast<int16_t>(q));
      qsum += q;
      if (std::fabs(w[j]) > std::fabs(w[big])) big = j;
    }
    t.weights[base + (big - a)] = static_cast<int16_t>(t.weights[base + (big - a)] + (kOne - qsum));
    t.start[static_cast<size_t>(i)] = static_cast<int32_t>(lo + static_cast<int64_t>(a));
    t.count[static_cast<size_t>(i)] = static_cast<int32_t>(b - a);
    t.offset[static_cast<size_t>(i)] = static_cast<int32_t>(base);
    t.max_count = std::max(t.max_count, static_cast<int32_t>(b - a));
  }
  pack_pairs(t);
  return t;
}

inline uint8_t clamp_u8(int32_t acc) {
  return static_cast<uint8_t>(std::clamp(acc >> kShift, 0, 255));
}

// out[i] = sum over taps of weight * rows[tap][i], for n bytes (any channel layout).
void vertical_pass(const uint8_t* const* rows, const int16_t* w, const int32_t* pairs,
                   int32_t taps, int32_t n, uint8_t* out) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    __m128i s0 = _mm_set1_epi32(kRound), s1 = s0, s2 = s0, s3 = s0;
    for (int32_t t = 0; t < taps; t += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i));
      const __m128i b = t + 1 < taps
                            ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + i))
                            : zero;
      const __m128i wp = _mm_set1_epi32(pairs[t / 2]);
      const __m128i lo = _mm_unpacklo_epi8(a, b);
      const __m128i hi = _mm_unpackhi_epi8(a, b);
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), wp));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), wp));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), wp));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), wp));
    }
    s0 = _mm_srai_epi32(s0, kShift);
    s1 = _mm_srai_epi32(s1, kShift);
    s2 = _mm_srai_epi32(s2, kShift);
    s3 = _mm_srai_epi32(s3, kShift);
    const __m128i r = _mm_packus_epi16(_mm_packs_epi32(s0, s1), _mm_packs_epi32(s2, s3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), r);
  }
#else
  (void)pairs;
#endif
  for (; i < n; ++i) {
    int32_t acc = kRound;
    for (int32_t t = 0; t < taps; ++t) acc += w[t] * rows[t][i];
    out[i] = clamp_u8(acc);
  }
}

// Horizontal pass over 4-byte pixels: in has the source rectangle's width,
// out has tx.count.size() pixels.
void horizontal_pass(const uint8_t* in, const Taps& tx, uint8_t* out) {
  const auto n_out = static_cast<int32_t>(tx.count.size());
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int32_t x = 0; x < n_out; ++x) {
    const uint8_t* p = in + static_cast<ptrdiff_t>(tx.start[static_cast<size_t>(x)]) * 4;
    const int32_t taps = tx.count[static_cast<size_t>(x)];
    const int32_t* wp = &tx.pairs[static_cast<size_t>(tx.pair_offset[static_cast<size_t>(x)])];
    __m128i acc = _mm_set1_epi32(kRound);
    int32_t t = 0;
    for (; t + 1 < taps; t += 2, p += 8) {
      __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
      v = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 4));  // b0 b1 g0 g1 r0 r1 a0 a1
      v = _mm_unpacklo_epi8(v, zero);
      acc = _mm_add_epi32(acc, _mm_madd_epi16(v, _mm_set1_epi32(*wp++)));
    }
    if (t < taps) {
      int32_t s;
      std::memcpy(&s, p, 4);
      __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(s), zero);
      v = _mm_unpacklo_epi16(v, zero);  // b 0 g 0 r 0 a 0
      acc = _mm_add_epi32(acc, _mm_madd_epi16(v, _mm_set1_epi32(*wp)));
    }
    acc = _mm_srai_epi32(acc, kShift);
    acc = _mm_packus_epi16(_mm_packs_epi32(acc, acc), acc);
    const int32_t r = _mm_cvtsi128_si32(acc);
    std::memcpy(out + static_cast<ptrdiff_t>(x) * 4, &r, 4);
  }
#else
  for (int32_t x = 0; x < n_out; ++x) {
    const uint8_t* p = in + static_cast<ptrdiff_t>(tx.start[static_cast<size_t>(x)]) * 4;
    const int32_t taps = tx.count[static_cast<size_t>(x)];
    const int16_t* w = &tx.weights[static_cast<size_t>(tx.offset[static_cast<size_t>(x)])];
    for (int c = 0; c < 4; ++c) {
      int32_t acc = kRound;
      for (int32_t t = 0; t < taps; ++t) acc += w[t] * p[t * 4 + c];
      out[static_cast<ptrdiff_t>(x) * 4 + c] = clamp_u8(acc);
    }
  }
#endif
}

// Everything the row workers share (read-only).
struct Plan {
  const Surface* src = nullptr;
  Rect from;
  Surface* dst = nullptr;
  Taps tx, ty;
  bool vertical_first = true;
};

// Per-thread worker over a band of destination rows.
class Worker {
 public:
  explicit Worker(const Plan& p) : p_(p), scratch_(static_cast<size_t>(std::max(p.from.width, p.dst->width))) {
    if (is_indexed(p.dst->format)) matcher_ = std::make_unique<PaletteMatcher>(p.dst->palette);
  }

  void run(int32_t y0, int32_t y1) {
    if (p_.vertical_first)
      run_vertical_first(y0, y1);
    else
      run_horizontal_first(y0, y1);
  }

 private:
  // Source row `sy` (relative to the rectangle) as premultiplied 4-byte pixels.
  const uint8_t* fetch(int32_t sy, uint8_t* buf) {
    const Surface& s = *p_.src;
    const uint8_t* row = s.row(p_.from.y + sy);
    if (s.format == pf::k32bppPARGB) return row + static_cast<ptrdiff_t>(p_.from.x) * 4;
    convert_pixels(s.format, row, p_.from.x, s.palette, pf::k32bppPARGB, buf, 0, nullptr,
                   p_.from.width, scratch_.data());
    return buf;
  }

  void emit(int32_t y, uint8_t* row) {
    // Opaque sources give alpha 255 everywhere, where premultiplied and
    // straight pixels coincide: skip the unpremultiply.
    if (!has_alpha(p_.src->format) && !is_indexed(p_.src->format)) {
      convert_pixels(pf::k32bppARGB, row, 0, Palette{}, p_.dst->format, p_.dst->row(y), 0,
                     matcher_.get(), p_.dst->width, scratch_.data());
      return;
    }
    // Cubic overshoot can leave a colour above its alpha; keep the pixel valid.
    const auto n = static_cast<size_t>(p_.dst->width);
    for (size_t i = 0; i < n; ++i) {
      uint8_t* q = row + i * 4;
      q[0] = std::min(q[0], q[3]);
      q[1] = std::min(q[1], q[3]);
      q[2] = std::min(q[2], q[3]);
    }
    convert_pixels(pf::k32bppPARGB, row, 0, Palette{}, p_.dst->format, p_.dst->row(y), 0,
                   matcher_.get(), p_.dst->width, scratch_.data());
  }

  void run_vertical_first(int32_t y0, int32_t y1) {
    const Surface& s = *p_.src;
    const int32_t w = p_.from.width;
    const bool raw24 = s.format == pf::k24bppRGB;
    const bool direct = raw24 || s.format == pf::k32bppPARGB;
    const int32_t bpp = raw24 ? 3 : 4;
    const auto cap = static_cast<size_t>(p_.ty.max_count);
    std::vector<uint8_t> ring(direct ? 0 : cap * static_cast<size_t>(w) * 4);
    std::vector<int32_t> ring_row(cap, -1);
    std::vector<uint8_t> vbuf(static_cast<size_t>(w) * static_cast<size_t>(bpp));
    std::vector<uint8_t> expanded(raw24 ? static_cast<size_t>(w) * 4 : 0);
    std::vector<uint8_t> out(static_cast<size_t>(p_.dst->width) * 4);
    std::vector<const uint8_t*> rows(cap);
    for (int32_t y = y0; y < y1; ++y) {
      const auto yi = static_cast<size_t>(y);
      const int32_t taps = p_.ty.count[yi];
      for (int32_t t = 0; t < taps; ++t) {
        const int32_t sy = p_.ty.start[yi] + t;
        if (direct) {
          rows[static_cast<size_t>(t)] =
              s.row(p_.from.y + sy) + static_cast<ptrdiff_t>(p_.from.x) * bpp;
          continue;
        }
        const size_t slot = static_cast<size_t>(sy) % cap;
        uint8_t* buf = ring.data() + slot * static_cast<size_t>(w) * 4;
        if (ring_row[slot] != sy) {
          fetch(sy, buf);
          ring_row[slot] = sy;
        }
        rows[static_cast<size_t>(t)] = buf;
      }
      vertical_pass(rows.data(), &p_.ty.weights[static_cast<size_t>(p_.ty.offset[yi])],
                    &p_.ty.pairs[static_cast<size_t>(p_.ty.pair_offset[yi])], taps, w * bpp,
                    vbuf.data());
      const uint8_t* hin = vbuf.data();
      if (raw24) {
        for (size_t i = 0; i < static_cast<size_t>(w); ++i) {
          expanded[i * 4] = vbuf[i * 3];
          expanded[i * 4 + 1] = vbuf[i * 3 + 1];
          expanded[i * 4 + 2] = vbuf[i * 3 + 2];
          expanded[i * 4 + 3] = 255;
        }
        hin = expanded.data();
      }
      horizontal_pass(hin, p_.tx, out.data());
      emit(y, out.data());
    }
  }

  void run_horizontal_first(int32_t y0, int32_t y1) {
    const size_t dw4 = static_cast<size_t>(p_.dst->width) * 4;
    const auto cap = static_cast<size_t>(p_.ty.max_count);
    std::vector<uint8_t> ring(cap * dw4);
    std::vector<int32_t> ring_row(cap, -1);
    std::vector<uint8_t> srcbuf(static_cast<size_t>(p_.from.width) * 4);
    std::vector<uint8_t> out(dw4);
    std::vector<const uint8_t*> rows(cap);
    for (int32_t y = y0; y < y1; ++y) {
      const auto yi = static_cast<size_t>(y);
      const int32_t taps = p_.ty.count[yi];
      for (int32_t t = 0; t < taps; ++t) {
        const int32_t sy = p_.ty.start[yi] + t;
        const size_t slot = static_cast<size_t>(sy) % cap;
        uint8_t* buf = ring.data() + slot * dw4;
        if (ring_row[slot] != sy) {
          horizontal_pass(fetch(sy, srcbuf.data()), p_.tx, buf);
          ring_row[slot] = sy;
        }
        rows[static_cast<size_t>(t)] = buf;
      }
      vertical_pass(rows.data(), &p_.ty.weights[static_cast<size_t>(p_.ty.offset[yi])],
                    &p_.ty.pairs[static_cast<size_t>(p_.ty.pair_offset[yi])], taps,
                    static_cast<int32_t>(dw4), out.data());
      emit(y, out.data());
    }
  }

  const Plan& p_;
  std::vector<uint32_t> scratch_;
  std::unique_ptr<PaletteMatcher> matcher_;
};

bool same_storage(const Surface& s, const Surface& d) {
  return s.format == d.format && (!is_indexed(s.format) || s.palette == d.palette);
}

// Same size: a straight per-row conversion (a plain copy for matching formats).
void copy_rows(const Surface& s, const Rect& from, Surface& d) {
  std::vector<uint32_t> line(static_cast<size_t>(from.width));
  std::unique_ptr<PaletteMatcher> matcher;
  if (is_indexed(d.format)) matcher = std::make_unique<PaletteMatcher>(d.palette);
  const bool same = same_storage(s, d);
  for (int32_t y = 0; y < from.height; ++y) {
    const uint8_t* srow = s.row(from.y + y);
    if (same) {
      copy_pixels(s.format, srow, from.x, d.row(y), 0, from.width);
    } else {
      load_argb(s.format, srow, from.x, from.width, s.palette, line.data());
      store_argb(d.format, d.row(y), 0, from.width, matcher.get(), line.data());
    }
  }
}

// Index of the source sample whose centre is nearest to output i's centre:
// floor((i + 0.5) * src / dst), in exact integer arithmetic.
int32_t nearest_index(int32_t i, int32_t src_len, int32_t dst_len) {
  const int64_t v = ((2 * static_cast<int64_t>(i) + 1) * src_len) / (2 * static_cast<int64_t>(dst_len));
  return static_cast<int32_t>(std::min<int64_t>(v, src_len - 1));
}

// Nearest neighbour needs no blending, so it works on straight (or stored)
// pixels and reproduces the source values exactly.
void nearest(const Surface& s, const Rect& from, Surface& d) {
  std::vector<int32_t> xs(static_cast<size_t>(d.width));
  for (int32_t x = 0; x < d.width; ++x)
    xs[static_cast<size_t>(x)] = from.x + nearest_index(x, from.width, d.width);
  const bool same = same_storage(s, d);
  const int32_t bytes = bits_per_pixel(s.format) / 8;
  std::vector<uint32_t> line(static_cast<size_t>(s.width)), out(static_cast<size_t>(d.width));
  std::unique_ptr<PaletteMatcher> matcher;
  if (is_indexed(d.format)) matcher = std::make_unique<PaletteMatcher>(d.palette);
  for (int32_t y = 0; y < d.height; ++y) {
    const uint8_t* srow = s.row(from.y + nearest_index(y, from.height, d.height));
    uint8_t* drow = d.row(y);
    if (same && bytes > 0) {
      for (int32_t x = 0; x < d.width; ++x)
        std::memcpy(drow + static_cast<ptrdiff_t>(x) * bytes,
                    srow + static_cast<ptrdiff_t>(xs[static_cast<size_t>(x)]) * bytes,
                    static_cast<size_t>(bytes));
    } else if (same) {
      for (int32_t x = 0; x < d.width; ++x)
        copy_pixels(s.format, srow, xs[static_cast<size_t>(x)], drow, x, 1);
    } else {
      load_argb(s.format, srow, 0, s.width, s.palette, line.data());
      for (int32_t x = 0; x < d.width; ++x)
        out[static_cast<size_t>(x)] = line[static_cast<size_t>(xs[static_cast<size_t>(x)])];
      store_argb(d.format, drow, 0, d.width, matcher.get(), out.data());
    }
  }
}

void filtered(const Surface& s, const Rect& from, Surface& d, Kernel k, bool widen) {
  Plan p;
  p.src = &s;
  p.from = from;
  p.dst = &d;
  p.tx = make_taps(from.width, d.width, k, widen);
  p.ty = make_taps(from.height, d.height, k, widen);
  // Cost model: a horizontal pixel-tap costs about four vertical ones.
  const double avg_tx = static_cast<double>(p.tx.weights.size()) / d.width;
  const double avg_ty = static_cast<double>(p.ty.weights.size()) / d.height;
  const double v_first = static_cast<double>(d.height) * from.width * avg_ty +
                         4.0 * static_cast<double>(d.height) * d.width * avg_tx;
  const double h_first = 4.0 * static_cast<double>(from.height) * d.width * avg_tx +
                         static_cast<double>(d.height) * d.width * avg_ty;
  p.vertical_first = v_first <= h_first;

  // Two bands on two threads for large outputs; each band has its own buffers.
  const bool split = static_cast<int64_t>(d.width) * d.height >= (int64_t{1} << 16) &&
                     d.height >= 2 && std::thread::hardware_concurrency() >= 2;
  if (!split) {
    Worker(p).run(0, d.height);
    return;
  }
  const int32_t mid = d.height / 2;
  std::exception_ptr failure;
  std::thread helper([&] {
    try {
      Worker(p).run(mid, d.height);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  std::exception_ptr own;
  try {
    Worker(p).run(0, mid);
  } catch (...) {
    own = std::current_exception();
  }
  helper.join();
  if (own) std::rethrow_exception(own);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

Status resample(Image& src, const Rect& from, Image& dst, Interpolation mode) {
  if (src.locked() || dst.locked()) return Status::WrongState;
  if (from.width <= 0 || from.height <= 0 || from.x < 0 || from.y < 0 ||
      from.x > src.width() - from.width || from.y > src.height() - from.height)
    return Status::InvalidParameter;
  if (static_cast<int32_t>(mode) < 0 || static_cast<int32_t>(mode) > 7)
    return Status::InvalidParameter;
  if (&src == &dst) {
    // Reading and writing the same pixels: resample from a copy of the rectangle.
    std::unique_ptr<Image> copy;
    const Status st = src.clone_area(from, src.format(), copy);
    if (st != Status::Ok) return st;
    return resample(*copy, Rect{0, 0, from.width, from.height}, dst, mode);
  }
  const Surface& s = src.surface();
  Surface& d = dst.surface();
  try {
    if (from.width == d.width && from.height == d.height) {
      copy_rows(s, from, d);
      return Status::Ok;
    }
    switch (mode) {
      case Interpolation::NearestNeighbor:
        nearest(s, from, d);
        break;
      case Interpolation::Bicubic:
        filtered(s, from, d, Kernel::Cubic, false);
        break;
      case Interpolation::HighQuality:
      case Interpolation::HighQualityBicubic:
        filtered(s, from, d, Kernel::Cubic, true);
        break;
      case Interpolation::HighQualityBilinear:
        filtered(s, from, d, Kernel::Triangle, true);
        break;
      case Interpolation::Default:
      case Interpolation::LowQuality:
      case Interpolation::Bilinear:
        filtered(s, from, d, Kernel::Triangle, false);
        break;
    }
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  } catch (const std::system_error&) {
    return Status::GenericError;
  }
  return Status::Ok;
}

}  // namespace korvex::raster
