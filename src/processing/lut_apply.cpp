// Point-effect kernels: plain loops, and AVX-512 VBMI versions that look up
// 64 bytes at a time with two 128-byte permutes.
#include "processing/lut_apply.h"

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
                b2 = _mm512_loadu_si512(blue.data() + 128), b3 = _mm512_loadu_si512(blue.data() + 192);
  const __m512i g0 = _mm512_loadu_si512(green.data()), g1 = _mm512_loadu_si512(green.data() + 64),
                g2 = _mm512_loadu_si512(green.data() + 128),
                g3 = _mm512_loadu_si512(green.data() + 192);
  const __m512i r0 = _mm512_loadu_si512(red.data()), r1 = _mm512_loadu_si512(red.data() + 64),
                r2 = _mm512_loadu_si512(red.data() + 128), r3 = _mm512_loadu_si512(red.data() + 192);
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

__attribute__((target("avx512f,avx512bw"))) void gray_avx512(uint32_t* px, size_t n) {
  const __m512i m8 = _mm512_set1_epi32(0xFF), alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
  const __m512i one = _mm512_set1_epi32(1), mul = _mm512_set1_epi32(43691),
                spread = _mm512_set1_epi32(0x010101);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i v = _mm512_loadu_si512(px + i);
    __m512i s = _mm512_add_epi32(_mm512_and_si512(v, m8),
                                 _mm512_and_si512(_mm512_srli_epi32(v, 8), m8));
    s = _mm512_add_epi32(s, _mm512_and_si512(_mm512_srli_epi32(v, 16), m8));
    const __m512i g = _mm512_srli_epi32(_mm512_mullo_epi32(_mm512_add_epi32(s, one), mul), 17);
    _mm512_storeu_si512(px + i, _mm512_or_si512(_mm512_and_si512(v, alpha),
                                                _mm512_mullo_epi32(g, spread)));
  }
  gray_plain(px + i, n - i);
}
#endif

}  // namespace

void ForceScalarKernelsForTesting(bool scalar) {
  g_force_scalar = scalar;
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
