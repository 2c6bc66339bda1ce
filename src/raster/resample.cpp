// Separable resampling with 14-bit fixed-point weights that sum exactly to
// one per output sample (so flat areas stay exact).
//
// Pixels are filtered as rows of C bytes per pixel: C = 3 straight from a
// 24bppRGB source (opaque, no conversion at all), C = 4 premultiplied BGRA for
// every other format. Each axis has a tap table built once per call. The pass
// order follows the cost: when shrinking vertically the vertical pass runs
// first over source rows read in place (or converted into a small ring of
// rows), and its single output row is filtered horizontally; when enlarging,
// source rows are filtered horizontally into a ring of intermediate rows that
// the vertical pass combines. No full-size intermediate image is made.
//
// The inner loops exist twice: portable scalar code, and AVX2 code chosen at
// run time on processors that have it. Both compute exactly the same integer
// sums, so results never depend on the processor or on the number of threads;
// output rows are split into bands filtered by separate threads.
#include "raster/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define KX_X86 1
#include <immintrin.h>
#define KX_AVX2 __attribute__((target("avx2")))
#endif

#include "raster/convert.h"
#include "raster/cpu.h"
#include "raster/guard.h"
#include "raster/parallel.h"
#include "raster/premultiply_simd.h"

namespace korvex::raster {

namespace {

constexpr int kShift = 14;
constexpr int32_t kOne = 1 << kShift;
constexpr int32_t kRound = 1 << (kShift - 1);
// Bytes of slack after a row of 3-byte pixels: the vector loads read up to
// four bytes past the last pixel.
constexpr size_t kSlack = 16;

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

// Taps of one axis. For output i: `count[i]` consecutive source samples from
// `start[i]` (relative to the source rectangle) with weights from
// `offset[i]`. The padded form gives every output the same number of groups of
// four taps: `groups` groups from `pstart[i]`, weights `pw[i * 4 * groups ...]`
// with zeros in the unused places; pstart is pulled back from the far end so
// that no group reads past the source. It exists only when the source holds
// at least 4 * groups samples.
struct Taps {
  std::vector<int32_t> start, count, offset;
  std::vector<int16_t> weights;
  int32_t max_count = 0;
  int32_t groups = 0;
  std::vector<int32_t> pstart;
  std::vector<int16_t> pw;
  // pw laid out for the AVX2 horizontal pass: per group 16 values, the pair
  // (w0, w1) four times then (w2, w3) four times.
  std::vector<int16_t> pw_wide;
  // Weights of output i packed in pairs (low half the first tap), for the
  // vertical multiply-add; an odd count ends with a zero partner.
  std::vector<int32_t> pairs, pair_offset;
};

// Filter taps for `dst_len` outputs over `src_len` inputs. Output i is centred
// on source coordinate (i + 0.5) * scale; when `widen` and shrinking, the
// kernel is stretched by the scale factor (area-correct prefiltering). Taps
// past either end fold onto the border sample.
Taps make_taps(int32_t src_len, int32_t dst_len, Kernel k, bool widen) {
  Taps t;
  const double scale = static_cast<double>(src_len) / dst_len;
  const double fscale = (widen && scale > 1.0) ? scale : 1.0;
  const double radius = (k == Kernel::Triangle ? 1.0 : 2.0) * fscale;
  const auto n = static_cast<size_t>(dst_len);
  std::vector<double> w;
  t.start.resize(n);
  t.count.resize(n);
  t.offset.resize(n);
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
    const auto ii = static_cast<size_t>(i);
    t.start[ii] = static_cast<int32_t>(lo + static_cast<int64_t>(a));
    t.count[ii] = static_cast<int32_t>(b - a);
    t.offset[ii] = static_cast<int32_t>(base);
    t.max_count = std::max(t.max_count, static_cast<int32_t>(b - a));
  }

  t.pair_offset.resize(n);
  for (size_t i = 0; i < n; ++i) {
    t.pair_offset[i] = static_cast<int32_t>(t.pairs.size());
    const int16_t* q = &t.weights[static_cast<size_t>(t.offset[i])];
    for (int32_t j = 0; j < t.count[i]; j += 2) {
      const auto lo16 = static_cast<uint16_t>(q[j]);
      const auto hi16 = j + 1 < t.count[i] ? static_cast<uint16_t>(q[j + 1]) : uint16_t{0};
      t.pairs.push_back(static_cast<int32_t>(uint32_t{lo16} | (uint32_t{hi16} << 16)));
    }
  }

  t.groups = (t.max_count + 3) / 4;
  const int32_t span = 4 * t.groups;
  if (span <= src_len) {
    t.pstart.resize(n);
    t.pw.assign(n * static_cast<size_t>(span), 0);
    for (size_t i = 0; i < n; ++i) {
      const int32_t ps = std::min(t.start[i], src_len - span);
      t.pstart[i] = ps;
      int16_t* dst = &t.pw[i * static_cast<size_t>(span) + static_cast<size_t>(t.start[i] - ps)];
      std::copy_n(&t.weights[static_cast<size_t>(t.offset[i])], t.count[i], dst);
    }
    if (use_avx2()) {
      t.pw_wide.resize(t.pw.size() * 4);
      for (size_t g = 0; g < t.pw.size() / 4; ++g)
        for (size_t j = 0; j < 16; ++j) t.pw_wide[g * 16 + j] = t.pw[g * 4 + (j / 8) * 2 + j % 2];
    }
  }
  return t;
}

inline uint8_t clamp_u8(int32_t acc) {
  return static_cast<uint8_t>(std::clamp(acc >> kShift, 0, 255));
}

// ---- Vertical pass: out[i] = sum over taps of weight * rows[tap][i], any layout.

void vertical_scalar(const uint8_t* const* rows, const int16_t* w, int32_t taps, int32_t from,
                     int32_t n, uint8_t* out) {
  for (int32_t i = from; i < n; ++i) {
    int32_t acc = kRound;
    for (int32_t t = 0; t < taps; ++t) acc += w[t] * rows[t][i];
    out[i] = clamp_u8(acc);
  }
}

#if defined(KX_X86)
// `rows` holds an even number of entries (the last repeated for odd counts,
// with a zero weight in its pair).
KX_AVX2 void vertical_avx2(const uint8_t* const* rows, const int16_t* w, const int32_t* pairs,
                           int32_t taps, int32_t n, uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i rnd = _mm256_set1_epi32(kRound);
  int32_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256i s0 = rnd, s1 = rnd, s2 = rnd, s3 = rnd;
    for (int32_t t = 0; t < taps; t += 2) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t] + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t + 1] + i));
      const __m256i wp = _mm256_set1_epi32(pairs[t / 2]);
      const __m256i lo = _mm256_unpacklo_epi8(a, b);
      const __m256i hi = _mm256_unpackhi_epi8(a, b);
      s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), wp));
      s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), wp));
      s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), wp));
      s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), wp));
    }
    // Lane-wise packing undoes the lane-wise interleave: bytes stay in order.
    const __m256i p01 =
        _mm256_packs_epi32(_mm256_srai_epi32(s0, kShift), _mm256_srai_epi32(s1, kShift));
    const __m256i p23 =
        _mm256_packs_epi32(_mm256_srai_epi32(s2, kShift), _mm256_srai_epi32(s3, kShift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(p01, p23));
  }
  const __m128i zero4 = _mm_setzero_si128();
  const __m128i rnd4 = _mm_set1_epi32(kRound);
  for (; i + 16 <= n; i += 16) {
    __m128i s0 = rnd4, s1 = rnd4, s2 = rnd4, s3 = rnd4;
    for (int32_t t = 0; t < taps; t += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + i));
      const __m128i wp = _mm_set1_epi32(pairs[t / 2]);
      const __m128i lo = _mm_unpacklo_epi8(a, b);
      const __m128i hi = _mm_unpackhi_epi8(a, b);
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero4), wp));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero4), wp));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero4), wp));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero4), wp));
    }
    const __m128i p01 = _mm_packs_epi32(_mm_srai_epi32(s0, kShift), _mm_srai_epi32(s1, kShift));
    const __m128i p23 = _mm_packs_epi32(_mm_srai_epi32(s2, kShift), _mm_srai_epi32(s3, kShift));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(p01, p23));
  }
  vertical_scalar(rows, w, taps, i, n, out);
}
#endif

// ---- Horizontal pass over C-byte pixels (C = 3 or 4): `in` holds the source
// rectangle's row, `out` gets one C-byte pixel per output and nothing past
// them. For C = 3 the input needs kSlack readable bytes past its end.

template <int C>
void horizontal_scalar(const uint8_t* in, const Taps& tx, uint8_t* out) {
  const auto n_out = tx.count.size();
  for (size_t x = 0; x < n_out; ++x) {
    const uint8_t* p = in + static_cast<ptrdiff_t>(tx.start[x]) * C;
    const int32_t taps = tx.count[x];
    const int16_t* w = &tx.weights[static_cast<size_t>(tx.offset[x])];
    int32_t acc[C];
    for (int c = 0; c < C; ++c) acc[c] = kRound;
    for (int32_t t = 0; t < taps; ++t)
      for (int c = 0; c < C; ++c) acc[c] += w[t] * p[t * C + c];
    for (int c = 0; c < C; ++c) out[x * C + static_cast<size_t>(c)] = clamp_u8(acc[c]);
  }
}

#if defined(KX_X86)
// Four taps of one output at a time: the four pixels are loaded into both
// halves of a vector and one byte shuffle spreads them to 16-bit channels in
// tap pairs (b0 b1 g0 g1 r0 r1 a0 a1 | b2 b3 g2 g3 ...), so one multiply-add
// with the widened weights covers 4 taps x 4 channels. Two outputs are
// reduced together.
template <int C>
KX_AVX2 inline __m256i group_sums(const uint8_t* p, const int16_t* w, int32_t groups,
                                  __m256i shuf) {
  __m256i acc = _mm256_setzero_si256();
  for (int32_t g = 0; g < groups; ++g, p += 4 * C, w += 16) {
    const __m256i px = _mm256_shuffle_epi8(
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), shuf);
    acc = _mm256_add_epi32(
        acc, _mm256_madd_epi16(px, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w))));
  }
  return acc;
}

template <int C>
KX_AVX2 void horizontal_avx2(const uint8_t* in, const Taps& tx, uint8_t* out) {
  const auto n_out = static_cast<int32_t>(tx.pstart.size());
  const int32_t groups = tx.groups;
  constexpr char Z = -1;  // shuffle index that yields a zero byte
  const __m256i shuf =
      C == 4 ? _mm256_setr_epi8(0, Z, 4, Z, 1, Z, 5, Z, 2, Z, 6, Z, 3, Z, 7, Z,  //
                                8, Z, 12, Z, 9, Z, 13, Z, 10, Z, 14, Z, 11, Z, 15, Z)
             : _mm256_setr_epi8(0, Z, 3, Z, 1, Z, 4, Z, 2, Z, 5, Z, Z, Z, Z, Z,  //
                                6, Z, 9, Z, 7, Z, 10, Z, 8, Z, 11, Z, Z, Z, Z, Z);
  const __m256i rnd = _mm256_set1_epi32(kRound);
  const int16_t* w = tx.pw_wide.data();
  const int32_t* ps = tx.pstart.data();
  const ptrdiff_t wstep = 16 * static_cast<ptrdiff_t>(groups);
  auto src = [&](int32_t x) { return in + static_cast<ptrdiff_t>(ps[x]) * C; };
  // Stores write four bytes; for 3-byte pixels the last output is left to the
  // tail, which writes exactly three, so nothing past the row is touched.
  const int32_t paired_end = C == 3 ? n_out - 1 : n_out;
  int32_t x = 0;
  for (; x + 2 <= paired_end; x += 2) {
    const __m256i a = group_sums<C>(src(x), w + x * wstep, groups, shuf);
    const __m256i b = group_sums<C>(src(x + 1), w + (x + 1) * wstep, groups, shuf);
    // [a taps 0-1 | b taps 0-1] + [a taps 2-3 | b taps 2-3]
    __m256i s = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20),
                                 _mm256_permute2x128_si256(a, b, 0x31));
    s = _mm256_srai_epi32(_mm256_add_epi32(s, rnd), kShift);
    s = _mm256_packs_epi32(s, s);
    s = _mm256_packus_epi16(s, s);
    const int32_t r0 = _mm256_cvtsi256_si32(s);
    const int32_t r1 = _mm_cvtsi128_si32(_mm256_extracti128_si256(s, 1));
    std::memcpy(out + static_cast<ptrdiff_t>(x) * C, &r0, 4);
    std::memcpy(out + static_cast<ptrdiff_t>(x + 1) * C, &r1, 4);
  }
  for (; x < n_out; ++x) {
    const __m256i a = group_sums<C>(src(x), w + x * wstep, groups, shuf);
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    s = _mm_srai_epi32(_mm_add_epi32(s, _mm256_castsi256_si128(rnd)), kShift);
    s = _mm_packus_epi16(_mm_packs_epi32(s, s), s);
    const int32_t r = _mm_cvtsi128_si32(s);
    std::memcpy(out + static_cast<ptrdiff_t>(x) * C, &r, C);
  }
}
#endif

// Everything the row workers share (read-only).
struct Plan {
  const Surface* src = nullptr;
  Rect from;
  Surface* dst = nullptr;
  Taps tx, ty;
  int channels = 4;        // 3: raw 24bppRGB rows; 4: premultiplied BGRA rows
  bool direct = false;     // source rows are used in place (24bppRGB or 32bppPARGB)
  bool vertical_first = true;
  bool avx2 = false;
};

void horizontal(const Plan& p, const uint8_t* in, uint8_t* out) {
#if defined(KX_X86)
  if (p.avx2 && !p.tx.pw_wide.empty()) {
    if (p.channels == 3)
      horizontal_avx2<3>(in, p.tx, out);
    else
      horizontal_avx2<4>(in, p.tx, out);
    return;
  }
#endif
  if (p.channels == 3)
    horizontal_scalar<3>(in, p.tx, out);
  else
    horizontal_scalar<4>(in, p.tx, out);
}

void vertical(const Plan& p, const uint8_t* const* rows, size_t yi, int32_t n, uint8_t* out) {
  const int16_t* w = &p.ty.weights[static_cast<size_t>(p.ty.offset[yi])];
  const int32_t taps = p.ty.count[yi];
#if defined(KX_X86)
  if (p.avx2) {
    vertical_avx2(rows, w, &p.ty.pairs[static_cast<size_t>(p.ty.pair_offset[yi])], taps, n, out);
    return;
  }
#endif
  vertical_scalar(rows, w, taps, 0, n, out);
}

// Per-thread worker over a band of destination rows, with its own buffers.
class Worker {
 public:
  explicit Worker(const Plan& p)
      : p_(p), scratch_(static_cast<size_t>(std::max(p.from.width, p.dst->width))) {
    if (is_indexed(p.dst->format)) matcher_ = std::make_unique<PaletteMatcher>(p.dst->palette);
  }

  void run(int32_t y0, int32_t y1) {
    if (p_.vertical_first)
      run_vertical_first(y0, y1);
    else
      run_horizontal_first(y0, y1);
  }

 private:
  size_t src_row_bytes() const {
    return static_cast<size_t>(p_.from.width) * static_cast<size_t>(p_.channels);
  }
  size_t dst_row_bytes() const {
    return static_cast<size_t>(p_.dst->width) * static_cast<size_t>(p_.channels);
  }
  // 24bppRGB to 24bppRGB: finished rows go straight into the destination.
  bool straight_24() const { return p_.channels == 3 && p_.dst->format == pf::k24bppRGB; }
  const uint8_t* src_row(int32_t sy) const {
    return p_.src->row(p_.from.y + sy) + static_cast<ptrdiff_t>(p_.from.x) * p_.channels;
  }

  // Source row `sy` (relative to the rectangle) converted to premultiplied BGRA.
  void fetch(int32_t sy, uint8_t* buf) {
    const Surface& s = *p_.src;
    const uint8_t* row = s.row(p_.from.y + sy);
    int32_t done = 0;
#if defined(KX_X86)
    if (p_.avx2 && s.format == pf::k32bppARGB)
      done = premultiply_row_avx2(row + static_cast<ptrdiff_t>(p_.from.x) * 4, buf, p_.from.width);
#endif
    if (done < p_.from.width)
      convert_pixels(s.format, row, p_.from.x + done, s.palette, pf::k32bppPARGB,
                     buf + static_cast<ptrdiff_t>(done) * 4, 0, nullptr, p_.from.width - done,
                     scratch_.data());
  }

  // Writes a finished row of C-byte pixels into destination row y.
  void emit(int32_t y, uint8_t* row) {
    Surface& d = *p_.dst;
    if (p_.channels == 3) {
      if (d.format == pf::k24bppRGB) {
        std::memcpy(d.row(y), row, dst_row_bytes());
      } else {
        convert_pixels(pf::k24bppRGB, row, 0, Palette{}, d.format, d.row(y), 0, matcher_.get(),
                       d.width, scratch_.data());
      }
      return;
    }
    // Opaque sources give alpha 255 everywhere, where premultiplied and
    // straight pixels coincide: skip the unpremultiply.
    if (!has_alpha(p_.src->format) && !is_indexed(p_.src->format)) {
      convert_pixels(pf::k32bppARGB, row, 0, Palette{}, d.format, d.row(y), 0, matcher_.get(),
                     d.width, scratch_.data());
      return;
    }
    // Cubic overshoot can leave a colour above its alpha; keep the pixel valid.
    int32_t done = 0;
#if defined(KX_X86)
    if (p_.avx2 && d.format == pf::k32bppARGB)
      done = clamp_unpremultiply_row_avx2(row, d.row(y), d.width);
#endif
    for (auto i = static_cast<size_t>(done); i < static_cast<size_t>(d.width); ++i) {
      uint8_t* q = row + i * 4;
      q[0] = std::min(q[0], q[3]);
      q[1] = std::min(q[1], q[3]);
      q[2] = std::min(q[2], q[3]);
    }
    if (done < d.width)
      convert_pixels(pf::k32bppPARGB, row + static_cast<ptrdiff_t>(done) * 4, 0, Palette{},
                     d.format, d.row(y), done, matcher_.get(), d.width - done, scratch_.data());
  }

  // The taps of output row y as row pointers, padded to an even count by
  // repeating the last one (its pair weight is zero). Rows are read in place
  // when direct, otherwise through `ring`, filled by `load(sy, buffer)`.
  template <class Load>
  void gather(size_t yi, std::vector<uint8_t>& ring, size_t row_bytes,
              std::vector<int32_t>& ring_row, std::vector<const uint8_t*>& rows, bool direct,
              Load load) {
    const int32_t taps = p_.ty.count[yi];
    const auto cap = ring_row.size();
    for (int32_t t = 0; t < taps; ++t) {
      const int32_t sy = p_.ty.start[yi] + t;
      if (direct) {
        rows[static_cast<size_t>(t)] = src_row(sy);
        continue;
      }
      const size_t slot = static_cast<size_t>(sy) % cap;
      uint8_t* buf = ring.data() + slot * row_bytes;
      if (ring_row[slot] != sy) {
        load(sy, buf);
        ring_row[slot] = sy;
      }
      rows[static_cast<size_t>(t)] = buf;
    }
    if (taps % 2 != 0) rows[static_cast<size_t>(taps)] = rows[static_cast<size_t>(taps) - 1];
  }

  void run_vertical_first(int32_t y0, int32_t y1) {
    const size_t sb = src_row_bytes();
    const auto cap = static_cast<size_t>(p_.ty.max_count);
    std::vector<uint8_t> ring(p_.direct ? 0 : cap * sb);
    std::vector<int32_t> ring_row(cap, -1);
    std::vector<uint8_t> vbuf(sb + kSlack);
    std::vector<uint8_t> out(dst_row_bytes() + kSlack);
    std::vector<const uint8_t*> rows(cap + 1);
    for (int32_t y = y0; y < y1; ++y) {
      const auto yi = static_cast<size_t>(y);
      gather(yi, ring, sb, ring_row, rows, p_.direct,
             [this](int32_t sy, uint8_t* buf) { fetch(sy, buf); });
      vertical(p_, rows.data(), yi, static_cast<int32_t>(sb), vbuf.data());
      if (straight_24()) {
        horizontal(p_, vbuf.data(), p_.dst->row(y));
        continue;
      }
      horizontal(p_, vbuf.data(), out.data());
      emit(y, out.data());
    }
  }

  void run_horizontal_first(int32_t y0, int32_t y1) {
    const size_t db = dst_row_bytes();
    const size_t sb = src_row_bytes();
    const auto cap = static_cast<size_t>(p_.ty.max_count);
    const size_t ring_bytes = db;
    std::vector<uint8_t> ring(cap * ring_bytes);
    std::vector<int32_t> ring_row(cap, -1);
    std::vector<uint8_t> srcbuf(std::max(sb, static_cast<size_t>(p_.from.width) * 4) + kSlack);
    std::vector<uint8_t> out(db + kSlack);
    std::vector<const uint8_t*> rows(cap + 1);
    const bool direct_24 = p_.direct && p_.channels == 3;
    for (int32_t y = y0; y < y1; ++y) {
      const auto yi = static_cast<size_t>(y);
      gather(yi, ring, ring_bytes, ring_row, rows, false, [&](int32_t sy, uint8_t* buf) {
        const uint8_t* in;
        if (direct_24) {
          // A copy gives the vector loads their slack past the row's end.
          std::memcpy(srcbuf.data(), src_row(sy), sb);
          in = srcbuf.data();
        } else if (p_.direct) {
          in = src_row(sy);
        } else {
          fetch(sy, srcbuf.data());
          in = srcbuf.data();
        }
        horizontal(p_, in, buf);
      });
      uint8_t* target = straight_24() ? p_.dst->row(y) : out.data();
      vertical(p_, rows.data(), yi, static_cast<int32_t>(db), target);
      if (!straight_24()) emit(y, target);
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
  const int64_t v =
      ((2 * static_cast<int64_t>(i) + 1) * src_len) / (2 * static_cast<int64_t>(dst_len));
  return static_cast<int32_t>(std::min<int64_t>(v, src_len - 1));
}

template <size_t Bytes>
void gather_pixels(const uint8_t* srow, const int32_t* xs, int32_t n, uint8_t* drow) {
  for (int32_t x = 0; x < n; ++x)
    std::memcpy(drow + static_cast<ptrdiff_t>(x) * static_cast<ptrdiff_t>(Bytes),
                srow + static_cast<ptrdiff_t>(xs[x]) * static_cast<ptrdiff_t>(Bytes), Bytes);
}

// Nearest neighbour needs no blending, so it works on straight (or stored)
// pixels and reproduces the source values exactly. An output row that reads
// the same source row as the one above it is a copy of that row.
void nearest(const Surface& s, const Rect& from, Surface& d) {
  std::vector<int32_t> xs(static_cast<size_t>(d.width));
  for (int32_t x = 0; x < d.width; ++x)
    xs[static_cast<size_t>(x)] = from.x + nearest_index(x, from.width, d.width);
  const bool same = same_storage(s, d);
  const int32_t bytes = bits_per_pixel(s.format) / 8;
  const size_t row_bytes =
      (static_cast<size_t>(d.width) * static_cast<size_t>(bits_per_pixel(d.format)) + 7) / 8;
  parallel_rows(d.height, static_cast<double>(d.width) * d.height / 4, [&](int32_t y0, int32_t y1) {
    std::vector<uint32_t> line(static_cast<size_t>(s.width)), out(static_cast<size_t>(d.width));
    std::unique_ptr<PaletteMatcher> matcher;
    if (is_indexed(d.format)) matcher = std::make_unique<PaletteMatcher>(d.palette);
    int32_t last_sy = -1;
    for (int32_t y = y0; y < y1; ++y) {
      const int32_t sy = from.y + nearest_index(y, from.height, d.height);
      uint8_t* drow = d.row(y);
      if (sy == last_sy) {
        // Whole bytes: sub-byte rows are laid out from bit 0 of the row, so
        // copying the previous row's bytes reproduces it exactly.
        std::memcpy(drow, d.row(y - 1), row_bytes);
        continue;
      }
      last_sy = sy;
      const uint8_t* srow = s.row(sy);
      if (same && bytes > 0) {
        switch (bytes) {
          case 1: gather_pixels<1>(srow, xs.data(), d.width, drow); break;
          case 2: gather_pixels<2>(srow, xs.data(), d.width, drow); break;
          case 3: gather_pixels<3>(srow, xs.data(), d.width, drow); break;
          case 4: gather_pixels<4>(srow, xs.data(), d.width, drow); break;
          case 6: gather_pixels<6>(srow, xs.data(), d.width, drow); break;
          default: gather_pixels<8>(srow, xs.data(), d.width, drow); break;
        }
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
  });
}

void filtered(const Surface& s, const Rect& from, Surface& d, Kernel k, bool widen) {
  Plan p;
  p.src = &s;
  p.from = from;
  p.dst = &d;
  p.tx = make_taps(from.width, d.width, k, widen);
  p.ty = make_taps(from.height, d.height, k, widen);
  p.channels = s.format == pf::k24bppRGB ? 3 : 4;
  p.direct = s.format == pf::k24bppRGB || s.format == pf::k32bppPARGB;
  p.avx2 = use_avx2();
  // Cost model in byte-taps: a horizontal tap costs about twice a vertical
  // one (the vertical pass runs over whole rows at once).
  const double c = p.channels;
  const double avg_tx = static_cast<double>(p.tx.weights.size()) / d.width;
  const double avg_ty = static_cast<double>(p.ty.weights.size()) / d.height;
  const double v_first = c * static_cast<double>(d.height) * from.width * avg_ty +
                         2.0 * c * static_cast<double>(d.height) * d.width * avg_tx;
  const double h_first = 2.0 * c * static_cast<double>(from.height) * d.width * avg_tx +
                         c * static_cast<double>(d.height) * d.width * avg_ty;
  p.vertical_first = v_first <= h_first;
  parallel_rows(d.height, std::min(v_first, h_first) / 4,
                [&p](int32_t y0, int32_t y1) { Worker(p).run(y0, y1); });
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
  return guarded([&] {
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
    return Status::Ok;
  });
}

}  // namespace korvex::raster
