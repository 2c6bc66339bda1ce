// The arithmetic of the resampler: filter taps with 14-bit fixed-point
// weights that sum exactly to one per output sample (so flat areas stay
// exact), and the two separable passes over rows of C-byte pixels (C = 3 for
// 24bppRGB, 4 for premultiplied BGRA).
//
// The inner loops exist twice: portable scalar code, and AVX2 code chosen at
// run time on processors that have it. Both compute exactly the same integer
// sums, so results never depend on the processor.
#include "raster/resample_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define KX_X86 1
#include <immintrin.h>
#define KX_AVX2 __attribute__((target("avx2")))
#endif

#include "raster/cpu.h"

namespace korvex::raster::resampling {

namespace {

constexpr int kShift = 14;
constexpr int32_t kOne = 1 << kShift;
constexpr int32_t kRound = 1 << (kShift - 1);

double kernel_value(Kernel k, double x) {
  x = std::fabs(x);
  if (k == Kernel::Triangle) return x < 1.0 ? 1.0 - x : 0.0;
  // Cubic convolution with a = -0.5.
  constexpr double a = -0.5;
  if (x < 1.0) return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
  if (x < 2.0) return ((a * x - 5.0 * a) * x + 8.0 * a) * x - 4.0 * a;
  return 0.0;
}

}  // namespace

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

namespace {

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

}  // namespace

void horizontal_pass(const Taps& tx, int channels, bool avx2, const uint8_t* in, uint8_t* out) {
#if defined(KX_X86)
  if (avx2 && !tx.pw_wide.empty()) {
    if (channels == 3)
      horizontal_avx2<3>(in, tx, out);
    else
      horizontal_avx2<4>(in, tx, out);
    return;
  }
#else
  (void)avx2;
#endif
  if (channels == 3)
    horizontal_scalar<3>(in, tx, out);
  else
    horizontal_scalar<4>(in, tx, out);
}

void vertical_pass(const Taps& ty, size_t yi, bool avx2, const uint8_t* const* rows, int32_t n,
                   uint8_t* out) {
  const int16_t* w = &ty.weights[static_cast<size_t>(ty.offset[yi])];
  const int32_t taps = ty.count[yi];
#if defined(KX_X86)
  if (avx2) {
    vertical_avx2(rows, w, &ty.pairs[static_cast<size_t>(ty.pair_offset[yi])], taps, n, out);
    return;
  }
#else
  (void)avx2;
#endif
  vertical_scalar(rows, w, taps, 0, n, out);
}

}  // namespace korvex::raster::resampling
