// Vector conversions between 32bppARGB and 32bppPARGB rows, for the hot paths
// that filter straight-alpha images (resampling, affine drawing). Both give
// exactly the results of premultiply() and unpremultiply() in raster/convert.h.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace korvex::raster {

#if defined(__x86_64__) || defined(__i386__)
// Premultiplies the first n / 8 * 8 of n pixels from `in` into `out` (which may
// be `in`) and returns that count; the caller converts the rest. Each colour
// becomes round(c * a / 255), computed as t = c * a + 128, (t + (t >> 8)) >> 8,
// which also leaves opaque pixels unchanged and turns transparent ones into 0.
// AVX2 only: call it where use_avx2() holds.
__attribute__((target("avx2"))) inline int32_t premultiply_row_avx2(const uint8_t* in,
                                                                    uint8_t* out, int32_t n) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i half = _mm256_set1_epi16(128);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * i));
    // Pixels 0, 1 | 4, 5 and 2, 3 | 6, 7 as 16-bit B, G, R, A.
    const __m256i lo = _mm256_unpacklo_epi8(v, zero);
    const __m256i hi = _mm256_unpackhi_epi8(v, zero);
    const __m256i alo = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(lo, 0xFF), 0xFF);
    const __m256i ahi = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(hi, 0xFF), 0xFF);
    // c * a + 128 <= 65153 fits an unsigned 16-bit word.
    const __m256i tlo = _mm256_add_epi16(_mm256_mullo_epi16(lo, alo), half);
    const __m256i thi = _mm256_add_epi16(_mm256_mullo_epi16(hi, ahi), half);
    __m256i rlo = _mm256_srli_epi16(_mm256_add_epi16(tlo, _mm256_srli_epi16(tlo, 8)), 8);
    __m256i rhi = _mm256_srli_epi16(_mm256_add_epi16(thi, _mm256_srli_epi16(thi, 8)), 8);
    // Alpha itself stays as it was.
    rlo = _mm256_blend_epi16(rlo, lo, 0x88);
    rhi = _mm256_blend_epi16(rhi, hi, 0x88);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), _mm256_packus_epi16(rlo, rhi));
  }
  return i;
}

// Two pixels' channels (8 bytes of p8, their alphas spread in a8) as eight
// 32-bit values, unpremultiplied; part of clamp_unpremultiply_row_avx2.
__attribute__((target("avx2"))) inline __m256i unpremultiply_two_avx2(__m128i p8, __m128i a8) {
  const __m256i p = _mm256_cvtepu8_epi32(p8);
  const __m256i a = _mm256_cvtepu8_epi32(a8);
  const __m256i x =
      _mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(p, 8), p), _mm256_srli_epi32(a, 1));
  __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(x), _mm256_cvtepi32_ps(a)));
  q = _mm256_min_epi32(q, _mm256_set1_epi32(255));
  q = _mm256_andnot_si256(_mm256_cmpeq_epi32(a, _mm256_setzero_si256()), q);
  return _mm256_blend_epi32(q, a, 0x88);  // alpha itself is kept
}

// Keeps every colour at or below its alpha, then unpremultiplies, for the
// first n / 8 * 8 of n 32bppPARGB pixels from `in` into 32bppARGB `out`;
// returns that count. Bit-identical to min(c, a) followed by unpremultiply():
// each colour becomes min(255, floor((c * 255 + a / 2) / a)), alpha 0 gives 0.
// The quotient is taken in single precision: the dividend is below 2^16 and
// the divisor at most 255, so a quotient that is not a whole number lies at
// least 1 / 255 from one, far beyond the rounding of the division, and
// truncation gives the exact floor. AVX2 only.
__attribute__((target("avx2"))) inline int32_t clamp_unpremultiply_row_avx2(const uint8_t* in,
                                                                            uint8_t* out,
                                                                            int32_t n) {
  const __m256i spread_alpha = _mm256_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15,
                                                15, 3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15,
                                                15, 15);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * i));
    const __m256i a = _mm256_shuffle_epi8(v, spread_alpha);
    v = _mm256_min_epu8(v, a);
    const __m128i v0 = _mm256_castsi256_si128(v), v1 = _mm256_extracti128_si256(v, 1);
    const __m128i a0 = _mm256_castsi256_si128(a), a1 = _mm256_extracti128_si256(a, 1);
    const __m256i r0 = unpremultiply_two_avx2(v0, a0);  // pixels 0, 1
    const __m256i r1 = unpremultiply_two_avx2(_mm_srli_si128(v0, 8), _mm_srli_si128(a0, 8));
    const __m256i r2 = unpremultiply_two_avx2(v1, a1);  // 4, 5
    const __m256i r3 = unpremultiply_two_avx2(_mm_srli_si128(v1, 8), _mm_srli_si128(a1, 8));
    // Lane-wise packing leaves pixels 0 2 4 6 | 1 3 5 7; the permute restores the order.
    const __m256i packed =
        _mm256_packus_epi16(_mm256_packs_epi32(r0, r1), _mm256_packs_epi32(r2, r3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i),
                        _mm256_permutevar8x32_epi32(packed, order));
  }
  return i;
}
#endif

}  // namespace korvex::raster
