// Point-effect kernels: plain loops, and AVX-512 VBMI versions that look up
// 64 bytes at a time with two 128-byte permutes.
#include "processing/lut_apply.h"

#include <algorithm>

#include "raster/cpu.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KORVEX_HAVE_VBMI_PATH 1
#endif

namespace korvex::filters {

namespace {

thread_local bool g_force_scalar = false;

void lut3_plain(uint32_t* px, size_t n, const Lut& red, const Lut& green, const Lut& blue) {
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    px[i] = (p & 0xFF000000u) | static_cast<uint32_t>(red[(p >> 16) & 0xFF]) << 16 |
            static_cast<uint32_t>(green[(p >> 8) & 0xFF]) << 8 | blue[p & 0xFF];
  }
}

void gray_plain(uint32_t* px, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    const uint32_t s = (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
    // s / 3 never ends in exactly one half, so round(s / 3) = (s + 1) / 3;
    // x * 43691 >> 17 is x / 3 for every x below 98304.
    const uint32_t g = ((s + 1) * 43691u) >> 17;
    px[i] = (p & 0xFF000000u) | g * 0x010101u;
  }
}

// floor(s / 3) for s <= 765 is (s * 21846) >> 16. Sums are taken in 32 bits
// over runs short enough not to overflow, then added up in 64 bits.
inline __attribute__((always_inline)) uint64_t sum_gray_body(const uint32_t* px, size_t n) {
  uint64_t total = 0;
  while (n > 0) {
    const size_t m = n < 65536 ? n : 65536;
    uint32_t part = 0;
    for (size_t i = 0; i < m; ++i) {
      const uint32_t p = px[i];
      const uint32_t s = (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
      part += (s * 21846u) >> 16;
    }
    total += part;
    px += m;
    n -= m;
  }
  return total;
}

inline __attribute__((always_inline)) void threshold4_body(uint32_t* row, size_t n,
                                                           const uint32_t limit[4]) {
  uint32_t lim[8];
  for (int k = 0; k < 8; ++k) lim[k] = limit[k & 3];
  size_t x = 0;
  for (; x + 8 <= n; x += 8) {
    for (int k = 0; k < 8; ++k) {
      const uint32_t p = row[x + k];
      const uint32_t s = (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
      row[x + k] = (p & 0xFF000000u) | (s >= lim[k] ? 0x00FFFFFFu : 0u);
    }
  }
  for (; x < n; ++x) {
    const uint32_t p = row[x];
    const uint32_t s = (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
    row[x] = (p & 0xFF000000u) | (s >= lim[x & 7] ? 0x00FFFFFFu : 0u);
  }
}

uint64_t sum_gray_plain(const uint32_t* px, size_t n) {
  return sum_gray_body(px, n);
}
void threshold4_plain(uint32_t* row, size_t n, const uint32_t limit[4]) {
  threshold4_body(row, n, limit);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVEX_HAVE_AVX2_PATH 1
__attribute__((target("avx2"))) uint64_t sum_gray_avx2(const uint32_t* px, size_t n) {
  return sum_gray_body(px, n);
}
__attribute__((target("avx2"))) void threshold4_avx2(uint32_t* row, size_t n,
                                                     const uint32_t limit[4]) {
  threshold4_body(row, n, limit);
}
#endif

#ifdef KORVEX_HAVE_VBMI_PATH
bool have_vbmi() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi");
  return yes && !g_force_scalar;
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i lookup256(
    __m512i idx, __m512i t0, __m512i t1, __m512i t2, __m512i t3) {
  // Low half of the table from t0:t1, high half from t2:t3, chosen by bit 7.
  const __m512i lo = _mm512_permutex2var_epi8(t0, idx, t1);
  const __m512i hi = _mm512_permutex2var_epi8(t2, idx, t3);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), lo, hi);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void lut3_vbmi(uint32_t* px, size_t n,
                                                                      const Lut& red,
                                                                      const Lut& green,
                                                                      const Lut& blue) {
  // One combined table per byte position would need 4 x 256 bytes of
  // registers; instead each distinct table is looked up over the whole
  // vector and the results are merged by byte position.
  const bool same = red == green && green == blue;
  const __mmask64 kB = 0x1111111111111111ull, kG = kB << 1, kR = kB << 2;
  const __m512i b0 = _mm512_loadu_si512(blue.data()), b1 = _mm512_loadu_si512(blue.data() + 64),
                b2 = _mm512_loadu_si512(blue.data() + 128),
                b3 = _mm512_loadu_si512(blue.data() + 192);
  const __m512i g0 = _mm512_loadu_si512(green.data()), g1 = _mm512_loadu_si512(green.data() + 64),
                g2 = _mm512_loadu_si512(green.data() + 128),
                g3 = _mm512_loadu_si512(green.data() + 192);
  const __m512i r0 = _mm512_loadu_si512(red.data()), r1 = _mm512_loadu_si512(red.data() + 64),
                r2 = _mm512_loadu_si512(red.data() + 128),
                r3 = _mm512_loadu_si512(red.data() + 192);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i v = _mm512_loadu_si512(px + i);
    __m512i out;
    if (same) {
      out = _mm512_mask_blend_epi8(kB | kG | kR, v, lookup256(v, b0, b1, b2, b3));
    } else {
      out = _mm512_mask_blend_epi8(kB, v, lookup256(v, b0, b1, b2, b3));
      out = _mm512_mask_blend_epi8(kG, out, lookup256(v, g0, g1, g2, g3));
      out = _mm512_mask_blend_epi8(kR, out, lookup256(v, r0, r1, r2, r3));
    }
    _mm512_storeu_si512(px + i, out);
  }
  lut3_plain(px + i, n - i, red, green, blue);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void lut_exceptions_vbmi(
    uint32_t* px, size_t n, const Lut& table, const Lut& outside,
    uint32_t (*fix)(uint32_t, const void*), const void* ctx) {
  const __mmask64 kRgb = 0x7777777777777777ull;
  const __m512i t0 = _mm512_loadu_si512(table.data()), t1 = _mm512_loadu_si512(table.data() + 64),
                t2 = _mm512_loadu_si512(table.data() + 128),
                t3 = _mm512_loadu_si512(table.data() + 192);
  const __m512i f0 = _mm512_loadu_si512(outside.data()),
                f1 = _mm512_loadu_si512(outside.data() + 64),
                f2 = _mm512_loadu_si512(outside.data() + 128),
                f3 = _mm512_loadu_si512(outside.data() + 192);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i v = _mm512_loadu_si512(px + i);
    const __m512i flags = lookup256(v, f0, f1, f2, f3);
    const __m512i out = _mm512_mask_blend_epi8(kRgb, v, lookup256(v, t0, t1, t2, t3));
    // One bit per pixel whose red, green or blue is flagged.
    const __mmask16 odd = _mm512_test_epi32_mask(flags, _mm512_set1_epi32(0x00FFFFFF));
    if (odd == 0) {
      _mm512_storeu_si512(px + i, out);
      continue;
    }
    alignas(64) uint32_t orig[16];
    _mm512_store_si512(orig, v);
    _mm512_storeu_si512(px + i, out);
    for (unsigned m = odd; m != 0; m &= m - 1) {
      const unsigned j = static_cast<unsigned>(__builtin_ctz(m));
      px[i + j] = fix(orig[j], ctx);
    }
  }
  for (; i < n; ++i) {
    const uint32_t p = px[i];
    if (outside[p & 0xFF] | outside[(p >> 8) & 0xFF] | outside[(p >> 16) & 0xFF]) {
      px[i] = fix(p, ctx);
    } else {
      px[i] = (p & 0xFF000000u) | static_cast<uint32_t>(table[(p >> 16) & 0xFF]) << 16 |
              static_cast<uint32_t>(table[(p >> 8) & 0xFF]) << 8 | table[p & 0xFF];
    }
  }
}

// GCC 12's AVX-512 shift and min/max intrinsics start from a self-initialised
// "undefined" vector, which -Wmaybe-uninitialized reports once they inline.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Contrast on sixteen pixels at a time. The signed table is split into a low
// and a high byte table, both looked up with byte permutes; each channel is
// then rebuilt as a 32-bit value in its own vector and the redistribution
// runs on the lanes that need it, with the same steps as the plain loop.
#define KORVEX_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline

KORVEX_AVX512 __mmask16 outside_byte(__m512i v) {
  return _mm512_cmpgt_epu32_mask(v, _mm512_set1_epi32(255));  // negatives compare as huge
}

// Channel c hands half of its excess (truncated toward zero) to o1 and o2 in
// the active lanes and is set to the limit it passed.
KORVEX_AVX512 void spill(__mmask16 act, __m512i& c, __m512i& o1, __m512i& o2) {
  const __m512i zero = _mm512_setzero_si512(), top = _mm512_set1_epi32(255);
  const __mmask16 neg = act & _mm512_cmplt_epi32_mask(c, zero);
  const __mmask16 pos = act & _mm512_cmpgt_epi32_mask(c, top);
  const __m512i e = _mm512_mask_sub_epi32(c, pos, c, top);
  const __m512i h = _mm512_srai_epi32(_mm512_add_epi32(e, _mm512_srli_epi32(e, 31)), 1);
  o1 = _mm512_mask_add_epi32(o1, neg | pos, o1, h);
  o2 = _mm512_mask_add_epi32(o2, neg | pos, o2, h);
  c = _mm512_mask_mov_epi32(c, neg, zero);
  c = _mm512_mask_mov_epi32(c, pos, top);
}

struct ContrastTables {
  __m512i l0, l1, l2, l3, h0, h1, h2, h3;
  __m512i first_in, last_in;  // the table is inside 0..255 exactly between these
};

KORVEX_AVX512 __m512i contrast16(__m512i v, const ContrastTables& t) {
  const __m512i zero = _mm512_setzero_si512(), top = _mm512_set1_epi32(255),
                m8 = _mm512_set1_epi32(0xFF);
  const __mmask64 kRgb = 0x7777777777777777ull;
  const __m512i vlo = lookup256(v, t.l0, t.l1, t.l2, t.l3);
  const __mmask64 odd = _mm512_mask_cmplt_epu8_mask(kRgb, v, t.first_in) |
                        _mm512_mask_cmpgt_epu8_mask(kRgb, v, t.last_in);
  if (odd == 0) return _mm512_mask_blend_epi8(kRgb, v, vlo);
  const __m512i vhi = lookup256(v, t.h0, t.h1, t.h2, t.h3);
  // Signed 16-bit value of each channel, widened into its own vector.
  __m512i b =
      _mm512_or_si512(_mm512_and_si512(vlo, m8), _mm512_srai_epi32(_mm512_slli_epi32(vhi, 24), 16));
  __m512i g =
      _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(vlo, 8), m8),
                      _mm512_slli_epi32(_mm512_srai_epi32(_mm512_slli_epi32(vhi, 16), 24), 8));
  __m512i r =
      _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(vlo, 16), m8),
                      _mm512_slli_epi32(_mm512_srai_epi32(_mm512_slli_epi32(vhi, 8), 24), 8));
  __mmask16 act = outside_byte(b) | outside_byte(g) | outside_byte(r);
  for (int guard = 0; guard < 64 && act != 0; ++guard) {
    const __mmask16 low = act & _mm512_cmple_epi32_mask(b, zero) &
                          _mm512_cmple_epi32_mask(g, zero) & _mm512_cmple_epi32_mask(r, zero);
    const __mmask16 high = act & _mm512_cmpge_epi32_mask(b, top) & _mm512_cmpge_epi32_mask(g, top) &
                           _mm512_cmpge_epi32_mask(r, top);
    b = _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(b, low, zero), high, top);
    g = _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(g, low, zero), high, top);
    r = _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(r, low, zero), high, top);
    act &= static_cast<__mmask16>(~(low | high));
    spill(act, b, r, g);  // blue first, then green, then red
    spill(act, g, r, b);
    spill(act, r, g, b);
    act &= static_cast<__mmask16>(outside_byte(b) | outside_byte(g) | outside_byte(r));
  }
  // Lanes still outside after the guard are limited, as in the plain loop.
  b = _mm512_min_epi32(_mm512_max_epi32(b, zero), top);
  g = _mm512_min_epi32(_mm512_max_epi32(g, zero), top);
  r = _mm512_min_epi32(_mm512_max_epi32(r, zero), top);
  return _mm512_or_si512(
      _mm512_or_si512(_mm512_and_si512(v, _mm512_set1_epi32(static_cast<int>(0xFF000000u))),
                      _mm512_slli_epi32(r, 16)),
      _mm512_or_si512(_mm512_slli_epi32(g, 8), b));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void contrast_vbmi(uint32_t* px, size_t n,
                                                                          const int32_t* table,
                                                                          uint8_t first_in,
                                                                          uint8_t last_in) {
  alignas(64) uint8_t lo[256], hi[256];
  for (int i = 0; i < 256; ++i) {
    lo[i] = static_cast<uint8_t>(table[i] & 0xFF);
    hi[i] = static_cast<uint8_t>((table[i] >> 8) & 0xFF);
  }
  ContrastTables t;
  t.l0 = _mm512_load_si512(lo), t.l1 = _mm512_load_si512(lo + 64);
  t.l2 = _mm512_load_si512(lo + 128), t.l3 = _mm512_load_si512(lo + 192);
  t.h0 = _mm512_load_si512(hi), t.h1 = _mm512_load_si512(hi + 64);
  t.h2 = _mm512_load_si512(hi + 128), t.h3 = _mm512_load_si512(hi + 192);
  t.first_in = _mm512_set1_epi8(static_cast<char>(first_in));
  t.last_in = _mm512_set1_epi8(static_cast<char>(last_in));
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm512_storeu_si512(px + i, contrast16(_mm512_loadu_si512(px + i), t));
  }
  if (i < n) {  // the last few pixels through a padded vector
    const __mmask16 m = static_cast<__mmask16>((1u << (n - i)) - 1u);
    const __m512i v = _mm512_maskz_loadu_epi32(m, px + i);
    _mm512_mask_storeu_epi32(px + i, m, contrast16(v, t));
  }
}
#undef KORVEX_AVX512

__attribute__((target("avx512f,avx512bw"))) void gray_avx512(uint32_t* px, size_t n) {
  const __m512i m8 = _mm512_set1_epi32(0xFF),
                alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
  const __m512i one = _mm512_set1_epi32(1), mul = _mm512_set1_epi32(43691),
                spread = _mm512_set1_epi32(0x010101);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i v = _mm512_loadu_si512(px + i);
    __m512i s =
        _mm512_add_epi32(_mm512_and_si512(v, m8), _mm512_and_si512(_mm512_srli_epi32(v, 8), m8));
    s = _mm512_add_epi32(s, _mm512_and_si512(_mm512_srli_epi32(v, 16), m8));
    const __m512i g = _mm512_srli_epi32(_mm512_mullo_epi32(_mm512_add_epi32(s, one), mul), 17);
    _mm512_storeu_si512(px + i,
                        _mm512_or_si512(_mm512_and_si512(v, alpha), _mm512_mullo_epi32(g, spread)));
  }
  gray_plain(px + i, n - i);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void ForceScalarKernelsForTesting(bool scalar) {
  g_force_scalar = scalar;
}

bool ScalarKernelsForced() {
  return g_force_scalar;
}

bool UseAvx2Kernels() {
#ifdef KORVEX_HAVE_AVX2_PATH
  return !g_force_scalar && raster::use_avx2();
#else
  return false;
#endif
}

uint64_t SumGray(const uint32_t* px, size_t n) {
#ifdef KORVEX_HAVE_AVX2_PATH
  if (UseAvx2Kernels()) return sum_gray_avx2(px, n);
#endif
  return sum_gray_plain(px, n);
}

void ThresholdRow4(uint32_t* row, size_t n, const uint32_t limit[4]) {
#ifdef KORVEX_HAVE_AVX2_PATH
  if (UseAvx2Kernels()) {
    threshold4_avx2(row, n, limit);
    return;
  }
#endif
  threshold4_plain(row, n, limit);
}

void ApplyLut3(uint32_t* px, size_t n, const Lut& red, const Lut& green, const Lut& blue) {
#ifdef KORVEX_HAVE_VBMI_PATH
  if (have_vbmi()) {
    lut3_vbmi(px, n, red, green, blue);
    return;
  }
#endif
  lut3_plain(px, n, red, green, blue);
}

void ApplyLutWithExceptions(uint32_t* px, size_t n, const Lut& table, const Lut& outside,
                            uint32_t (*fix)(uint32_t, const void*), const void* ctx) {
#ifdef KORVEX_HAVE_VBMI_PATH
  if (have_vbmi()) {
    lut_exceptions_vbmi(px, n, table, outside, fix, ctx);
    return;
  }
#endif
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    if (outside[p & 0xFF] | outside[(p >> 8) & 0xFF] | outside[(p >> 16) & 0xFF]) {
      px[i] = fix(p, ctx);
    } else {
      px[i] = (p & 0xFF000000u) | static_cast<uint32_t>(table[(p >> 16) & 0xFF]) << 16 |
              static_cast<uint32_t>(table[(p >> 8) & 0xFF]) << 8 | table[p & 0xFF];
    }
  }
}

bool ApplyContrastTable(uint32_t* px, size_t n, const int32_t table[256]) {
#ifdef KORVEX_HAVE_VBMI_PATH
  if (have_vbmi()) {
    // The table is monotone, so the bytes it maps inside 0..255 form one
    // run; a quick range test then finds the pixels to redistribute.
    int first = 256, last = -1;
    for (int i = 0; i < 256; ++i) {
      if (table[i] < -32768 || table[i] > 32767) return false;  // beyond the 16-bit split
      if (table[i] >= 0 && table[i] <= 255) {
        first = std::min(first, i);
        last = i;
      }
    }
    for (int i = first; i <= last; ++i) {
      if (table[i] < 0 || table[i] > 255) return false;  // not one run after all
    }
    if (last < 0) first = 1, last = 0;  // nothing inside: every pixel is redistributed
    contrast_vbmi(px, n, table, static_cast<uint8_t>(first), static_cast<uint8_t>(last));
    return true;
  }
#endif
  (void)px;
  (void)n;
  (void)table;
  return false;
}

void ApplyNegative(uint32_t* px, size_t n) {
  for (size_t i = 0; i < n; ++i) px[i] ^= 0x00FFFFFFu;
}

void ApplyGrayscale(uint32_t* px, size_t n) {
#ifdef KORVEX_HAVE_VBMI_PATH
  if (have_vbmi()) {
    gray_avx512(px, n);
    return;
  }
#endif
  gray_plain(px, n);
}

}  // namespace korvex::filters
