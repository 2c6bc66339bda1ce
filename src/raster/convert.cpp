// Row conversions between the stored pixel formats and 32bppARGB.
//
// Each public entry point switches on the pixel format once and then runs a
// plain loop over the row. Multi-byte values are read and written with
// memcpy or byte arithmetic: rows of 24-bit pixels, or rows started at an odd
// pixel, are not aligned for wider loads.
#include "raster/convert.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>

namespace korvex::raster {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the row kernels assume a little-endian host");

inline uint32_t load_u32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store_u32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, sizeof v);
}
inline uint32_t load_u16(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8);
}
inline void store_u16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline uint32_t pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
inline uint32_t ch_a(uint32_t argb) {
  return argb >> 24;
}
inline uint32_t ch_r(uint32_t argb) {
  return (argb >> 16) & 0xFF;
}
inline uint32_t ch_g(uint32_t argb) {
  return (argb >> 8) & 0xFF;
}
inline uint32_t ch_b(uint32_t argb) {
  return argb & 0xFF;
}

// Byte offset of pixel x in a row of `bytes`-sized pixels, without int overflow.
inline std::size_t offset(int32_t x, std::size_t bytes) {
  return static_cast<std::size_t>(x) * bytes;
}

// round(v / 257) for a 16-bit channel. 257 is odd, so there are no ties, and
// multiples of 257 map back exactly; 65535 gives 255.
inline uint32_t narrow16(uint32_t v) {
  return (v + 128) / 257;
}

// 5- and 6-bit fields widened by bit replication, so full scale maps to 255.
inline uint32_t expand5(uint32_t v) {
  return (v << 3) | (v >> 2);
}
inline uint32_t expand6(uint32_t v) {
  return (v << 2) | (v >> 4);
}

// round(c * a / 255), exact for all 8-bit c and a.
inline uint32_t mul_div255(uint32_t c, uint32_t a) {
  const uint32_t t = c * a + 128;
  return (t + (t >> 8)) >> 8;
}

inline uint32_t premultiply_px(uint32_t argb) {
  const uint32_t a = ch_a(argb);
  if (a == 255) return argb;
  if (a == 0) return 0;
  return pack(a, mul_div255(ch_r(argb), a), mul_div255(ch_g(argb), a), mul_div255(ch_b(argb), a));
}

// kReciprocal[a] = ceil(2^24 / a). For x < 2^16, (x * kReciprocal[a]) >> 24
// equals x / a: the rounding-up error is x * e / 2^24 with e < a <= 255, which
// stays below 1 / a, so it never carries the quotient over an integer.
constexpr std::array<uint32_t, 256> make_reciprocals() {
  std::array<uint32_t, 256> t{};
  for (uint32_t a = 1; a < 256; ++a) t[a] = ((1u << 24) + a - 1) / a;
  return t;
}
constexpr std::array<uint32_t, 256> kReciprocal = make_reciprocals();

// min(255, (p * 255 + a / 2) / a); the dividend is at most 65152.
inline uint32_t div_alpha(uint32_t p, uint32_t a) {
  const uint64_t x = p * 255 + a / 2;
  const uint32_t q = static_cast<uint32_t>((x * kReciprocal[a]) >> 24);
  return q > 255 ? 255 : q;
}

inline uint32_t unpremultiply_px(uint32_t pargb) {
  const uint32_t a = ch_a(pargb);
  if (a == 255) return pargb;
  if (a == 0) return 0;
  return pack(a, div_alpha(ch_r(pargb), a), div_alpha(ch_g(pargb), a), div_alpha(ch_b(pargb), a));
}

// ---- Row kernels over 24/32-bit pixels. `s` and `d` point at the first pixel.

// B,G,R -> B,G,R,FF. Four pixels (three 32-bit words) per step.
void rgb24_to_argb(const uint8_t* s, uint8_t* d, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4, s += 12, d += 16) {
    const uint32_t w0 = load_u32(s), w1 = load_u32(s + 4), w2 = load_u32(s + 8);
    store_u32(d, w0 | 0xFF000000u);
    store_u32(d + 4, (w0 >> 24) | (w1 << 8) | 0xFF000000u);
    store_u32(d + 8, (w1 >> 16) | (w2 << 16) | 0xFF000000u);
    store_u32(d + 12, (w2 >> 8) | 0xFF000000u);
  }
  for (; i < n; ++i, s += 3, d += 4) store_u32(d, pack(0xFF, s[2], s[1], s[0]));
}

// B,G,R,A -> B,G,R. Four pixels in, three 32-bit words out per step.
void argb_to_rgb24(const uint8_t* s, uint8_t* d, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4, s += 16, d += 12) {
    const uint32_t p0 = load_u32(s), p1 = load_u32(s + 4), p2 = load_u32(s + 8),
                   p3 = load_u32(s + 12);
    store_u32(d, (p0 & 0xFFFFFFu) | (p1 << 24));
    store_u32(d + 4, ((p1 >> 8) & 0xFFFFu) | (p2 << 16));
    store_u32(d + 8, ((p2 >> 16) & 0xFFu) | (p3 << 8));
  }
  for (; i < n; ++i, s += 4, d += 3) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
  }
}

// Copies 32-bit pixels forcing alpha to 255.
void copy_opaque(const uint8_t* s, uint8_t* d, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) store_u32(d + 4 * i, load_u32(s + 4 * i) | 0xFF000000u);
}

void premultiply_row(const uint8_t* s, uint8_t* d, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) store_u32(d + 4 * i, premultiply_px(load_u32(s + 4 * i)));
}

void unpremultiply_row(const uint8_t* s, uint8_t* d, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) store_u32(d + 4 * i, unpremultiply_px(load_u32(s + 4 * i)));
}

// Premultiplied -> opaque 32-bit: the colour is recovered, then alpha dropped.
void unpremultiply_opaque(const uint8_t* s, uint8_t* d, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    store_u32(d + 4 * i, unpremultiply_px(load_u32(s + 4 * i)) | 0xFF000000u);
  }
}

void unpremultiply_to_rgb24(const uint8_t* s, uint8_t* d, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i, s += 4, d += 3) {
    const uint32_t c = unpremultiply_px(load_u32(s));
    d[0] = static_cast<uint8_t>(ch_b(c));
    d[1] = static_cast<uint8_t>(ch_g(c));
    d[2] = static_cast<uint8_t>(ch_r(c));
  }
}

// ---- Indexed formats: Bits = 1, 4 or 8; pixels packed most significant first.

template <unsigned Bits>
void load_indexed(const uint8_t* row, int32_t x0, std::size_t n, const Palette& palette,
                  uint32_t* out) {
  constexpr unsigned kPerByte = 8 / Bits;
  constexpr unsigned kMask = (1u << Bits) - 1;
  const uint32_t* entries = palette.entries.data();
  const std::size_t size = palette.entries.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t x = static_cast<std::size_t>(x0) + i;
    const unsigned shift = 8 - Bits - static_cast<unsigned>(x % kPerByte) * Bits;
    const unsigned index = (row[x / kPerByte] >> shift) & kMask;
    out[i] = index < size ? entries[index] : 0;
  }
}

template <unsigned Bits>
void store_indexed(uint8_t* row, int32_t x0, std::size_t n, PaletteMatcher* matcher,
                   const uint32_t* in) {
  constexpr unsigned kPerByte = 8 / Bits;
  constexpr unsigned kMask = (1u << Bits) - 1;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t x = static_cast<std::size_t>(x0) + i;
    const unsigned index = (matcher != nullptr ? matcher->nearest(in[i]) : 0u) & kMask;
    if constexpr (Bits == 8) {
      row[x] = static_cast<uint8_t>(index);
    } else {
      const unsigned shift = 8 - Bits - static_cast<unsigned>(x % kPerByte) * Bits;
      uint8_t& byte = row[x / kPerByte];
      byte = static_cast<uint8_t>((byte & ~(kMask << shift)) | (index << shift));
    }
  }
}

// ---- Bit-level copy for sub-byte formats (bit 0 = most significant bit).

// Bits lo..hi-1 of a byte, counted from the most significant bit.
inline unsigned bit_mask(unsigned lo, unsigned hi) {
  return (0xFFu >> lo) & (0xFF00u >> hi) & 0xFFu;
}

inline void merge_byte(uint8_t& d, unsigned mask, unsigned v) {
  d = static_cast<uint8_t>((d & ~mask) | (v & mask));
}

void copy_bits(const uint8_t* src, int64_t sbit, uint8_t* dst, int64_t dbit, int64_t nbits) {
  const int64_t dend = dbit + nbits;
  const int64_t first = dbit >> 3;
  const int64_t last = (dend - 1) >> 3;
  const unsigned head = static_cast<unsigned>(dbit & 7);              // bits of dst[first] kept
  const unsigned tail = static_cast<unsigned>(((dend - 1) & 7) + 1);  // bits of dst[last] written

  if (((sbit ^ dbit) & 7) == 0) {
    // Same phase within the byte: masked head and tail, whole bytes between.
    const int64_t delta = (sbit >> 3) - first;
    if (first == last) {
      merge_byte(dst[first], bit_mask(head, tail), src[first + delta]);
      return;
    }
    int64_t j = first;
    if (head != 0) {
      merge_byte(dst[j], bit_mask(head, 8), src[j + delta]);
      ++j;
    }
    const int64_t whole_end = tail == 8 ? last + 1 : last;
    if (whole_end > j) {
      std::memmove(dst + j, src + j + delta, static_cast<std::size_t>(whole_end - j));
    }
    if (tail != 8) merge_byte(dst[last], bit_mask(0, tail), src[last + delta]);
    return;
  }

  // Different phase: destination byte j takes the 8 source bits starting at
  // p = sbit + 8 j - dbit, which straddle source bytes p >> 3 and (p >> 3) + 1.
  // r = p & 7 is the same, non-zero, for every j.
  const unsigned r = static_cast<unsigned>((sbit - dbit) & 7);
  const int64_t sfirst = sbit >> 3;
  const int64_t slast = (sbit + nbits - 1) >> 3;
  // The edge bytes may line up with source bytes outside the run; those are
  // not read (they are masked away anyway).
  auto fetch_edge = [&](int64_t j) -> unsigned {
    const int64_t q = (sbit + 8 * j - dbit) >> 3;
    const unsigned hi = (q >= sfirst && q <= slast) ? src[q] : 0u;
    const unsigned lo = (q + 1 >= sfirst && q + 1 <= slast) ? src[q + 1] : 0u;
    return (((hi << 8) | lo) >> (8 - r)) & 0xFFu;
  };
  if (first == last) {
    merge_byte(dst[first], bit_mask(head, tail), fetch_edge(first));
    return;
  }
  merge_byte(dst[first], bit_mask(head, 8), fetch_edge(first));
  // Whole bytes in between: all 8 source bits lie inside the run, and since
  // r != 0 both straddled source bytes do too.
  int64_t q = (sbit + 8 * (first + 1) - dbit) >> 3;
  for (int64_t j = first + 1; j < last; ++j, ++q) {
    dst[j] = static_cast<uint8_t>((src[q] << r) | (src[q + 1] >> (8 - r)));
  }
  merge_byte(dst[last], bit_mask(0, tail), fetch_edge(last));
}

bool is_direct_format(PixelFormat f) {
  return f == pf::k24bppRGB || f == pf::k32bppRGB || f == pf::k32bppARGB || f == pf::k32bppPARGB;
}

// Conversion between two different formats of the direct set. Every case
// gives the same bytes as loading to 32bppARGB and storing.
void convert_direct(PixelFormat src_f, const uint8_t* s, PixelFormat dst_f, uint8_t* d,
                    std::size_t n) {
  const bool to24 = dst_f == pf::k24bppRGB;
  switch (src_f) {
    case pf::k24bppRGB:
      rgb24_to_argb(s, d, n);  // opaque, so premultiplied or not is the same
      return;
    case pf::k32bppRGB:
      if (to24) {
        argb_to_rgb24(s, d, n);
      } else {
        copy_opaque(s, d, n);
      }
      return;
    case pf::k32bppARGB:
      if (to24) {
        argb_to_rgb24(s, d, n);
      } else if (dst_f == pf::k32bppRGB) {
        copy_opaque(s, d, n);
      } else {
        premultiply_row(s, d, n);
      }
      return;
    case pf::k32bppPARGB:
      if (to24) {
        unpremultiply_to_rgb24(s, d, n);
      } else if (dst_f == pf::k32bppRGB) {
        unpremultiply_opaque(s, d, n);
      } else {
        unpremultiply_row(s, d, n);
      }
      return;
    default:
      return;
  }
}

}  // namespace

uint32_t premultiply(uint32_t argb) {
  return premultiply_px(argb);
}

uint32_t unpremultiply(uint32_t pargb) {
  return unpremultiply_px(pargb);
}

PaletteMatcher::PaletteMatcher(const Palette& palette) : palette_(palette) {
  std::fill(std::begin(valid_), std::end(valid_), false);
}

uint8_t PaletteMatcher::nearest(uint32_t argb) {
  const std::size_t size = std::min<std::size_t>(palette_.entries.size(), 256);
  if (size == 0) return 0;
  const uint32_t rgb = argb & 0xFFFFFFu;
  // Fibonacci hashing: the top 12 bits of the product spread neighbouring
  // colours (gradients) over the whole cache.
  const uint32_t slot = (rgb * 0x9E3779B1u) >> 20;
  static_assert(kCacheSize == 1 << 12);
  if (valid_[slot] && keys_[slot] == rgb) return values_[slot];

  const int r = static_cast<int>(ch_r(rgb)), g = static_cast<int>(ch_g(rgb)),
            b = static_cast<int>(ch_b(rgb));
  const uint32_t* entries = palette_.entries.data();
  std::size_t best = 0;
  int best_distance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < size; ++i) {
    const uint32_t e = entries[i];
    const int dr = r - static_cast<int>(ch_r(e));
    const int dg = g - static_cast<int>(ch_g(e));
    const int db = b - static_cast<int>(ch_b(e));
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {  // strict: the first of equal entries wins
      best_distance = distance;
      best = i;
      if (distance == 0) break;
    }
  }
  keys_[slot] = rgb;
  values_[slot] = static_cast<uint8_t>(best);
  valid_[slot] = true;
  return static_cast<uint8_t>(best);
}

void load_argb(PixelFormat f, const uint8_t* row, int32_t x0, int32_t n, const Palette& palette,
               uint32_t* out) {
  if (n <= 0) return;
  const auto count = static_cast<std::size_t>(n);
  auto* out_bytes = reinterpret_cast<uint8_t*>(out);
  switch (f) {
    case pf::k1bppIndexed:
      load_indexed<1>(row, x0, count, palette, out);
      return;
    case pf::k4bppIndexed:
      load_indexed<4>(row, x0, count, palette, out);
      return;
    case pf::k8bppIndexed:
      load_indexed<8>(row, x0, count, palette, out);
      return;
    case pf::k16bppGrayScale: {
      // The high byte of the little-endian value is gray >> 8.
      const uint8_t* s = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) out[i] = 0xFF000000u | s[2 * i + 1] * 0x010101u;
      return;
    }
    case pf::k16bppRGB555: {
      const uint8_t* s = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t v = load_u16(s + 2 * i);
        out[i] = pack(0xFF, expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31));
      }
      return;
    }
    case pf::k16bppRGB565: {
      const uint8_t* s = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t v = load_u16(s + 2 * i);
        out[i] = pack(0xFF, expand5(v >> 11), expand6((v >> 5) & 63), expand5(v & 31));
      }
      return;
    }
    case pf::k16bppARGB1555: {
      const uint8_t* s = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t v = load_u16(s + 2 * i);
        out[i] = pack((v & 0x8000) ? 0xFF : 0, expand5((v >> 10) & 31), expand5((v >> 5) & 31),
                      expand5(v & 31));
      }
      return;
    }
    case pf::k24bppRGB:
      rgb24_to_argb(row + offset(x0, 3), out_bytes, count);
      return;
    case pf::k32bppRGB:
      copy_opaque(row + offset(x0, 4), out_bytes, count);
      return;
    case pf::k32bppARGB:
      std::memcpy(out, row + offset(x0, 4), count * 4);
      return;
    case pf::k32bppPARGB:
      unpremultiply_row(row + offset(x0, 4), out_bytes, count);
      return;
    case pf::k48bppRGB: {
      const uint8_t* s = row + offset(x0, 6);
      for (std::size_t i = 0; i < count; ++i, s += 6) {
        out[i] =
            pack(0xFF, narrow16(load_u16(s + 4)), narrow16(load_u16(s + 2)), narrow16(load_u16(s)));
      }
      return;
    }
    case pf::k64bppARGB:
    case pf::k64bppPARGB: {
      const uint8_t* s = row + offset(x0, 8);
      for (std::size_t i = 0; i < count; ++i, s += 8) {
        out[i] = pack(narrow16(load_u16(s + 6)), narrow16(load_u16(s + 4)),
                      narrow16(load_u16(s + 2)), narrow16(load_u16(s)));
      }
      if (f == pf::k64bppPARGB) {
        for (std::size_t i = 0; i < count; ++i) out[i] = unpremultiply_px(out[i]);
      }
      return;
    }
    default:
      std::fill(out, out + count, 0u);
      return;
  }
}

void store_argb(PixelFormat f, uint8_t* row, int32_t x0, int32_t n, PaletteMatcher* matcher,
                const uint32_t* in) {
  if (n <= 0) return;
  const auto count = static_cast<std::size_t>(n);
  const auto* in_bytes = reinterpret_cast<const uint8_t*>(in);
  switch (f) {
    case pf::k1bppIndexed:
      store_indexed<1>(row, x0, count, matcher, in);
      return;
    case pf::k4bppIndexed:
      store_indexed<4>(row, x0, count, matcher, in);
      return;
    case pf::k8bppIndexed:
      store_indexed<8>(row, x0, count, matcher, in);
      return;
    case pf::k16bppGrayScale: {
      // luma * 257 has luma in both bytes.
      uint8_t* d = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t c = in[i];
        const auto luma =
            static_cast<uint8_t>((299 * ch_r(c) + 587 * ch_g(c) + 114 * ch_b(c) + 500) / 1000);
        d[2 * i] = luma;
        d[2 * i + 1] = luma;
      }
      return;
    }
    case pf::k16bppRGB555: {
      uint8_t* d = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t c = in[i];
        store_u16(d + 2 * i, ((ch_r(c) >> 3) << 10) | ((ch_g(c) >> 3) << 5) | (ch_b(c) >> 3));
      }
      return;
    }
    case pf::k16bppRGB565: {
      uint8_t* d = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t c = in[i];
        store_u16(d + 2 * i, ((ch_r(c) >> 3) << 11) | ((ch_g(c) >> 2) << 5) | (ch_b(c) >> 3));
      }
      return;
    }
    case pf::k16bppARGB1555: {
      uint8_t* d = row + offset(x0, 2);
      for (std::size_t i = 0; i < count; ++i) {
        const uint32_t c = in[i];
        store_u16(d + 2 * i, (ch_a(c) >= 128 ? 0x8000u : 0u) | ((ch_r(c) >> 3) << 10) |
                                 ((ch_g(c) >> 3) << 5) | (ch_b(c) >> 3));
      }
      return;
    }
    case pf::k24bppRGB:
      argb_to_rgb24(in_bytes, row + offset(x0, 3), count);
      return;
    case pf::k32bppRGB:
      copy_opaque(in_bytes, row + offset(x0, 4), count);
      return;
    case pf::k32bppARGB:
      std::memcpy(row + offset(x0, 4), in, count * 4);
      return;
    case pf::k32bppPARGB:
      premultiply_row(in_bytes, row + offset(x0, 4), count);
      return;
    case pf::k48bppRGB: {
      // c * 257 has c in both bytes.
      uint8_t* d = row + offset(x0, 6);
      for (std::size_t i = 0; i < count; ++i, d += 6) {
        const uint32_t c = in[i];
        d[0] = d[1] = static_cast<uint8_t>(ch_b(c));
        d[2] = d[3] = static_cast<uint8_t>(ch_g(c));
        d[4] = d[5] = static_cast<uint8_t>(ch_r(c));
      }
      return;
    }
    case pf::k64bppARGB:
    case pf::k64bppPARGB: {
      const bool premultiplied = f == pf::k64bppPARGB;
      uint8_t* d = row + offset(x0, 8);
      for (std::size_t i = 0; i < count; ++i, d += 8) {
        const uint32_t c = premultiplied ? premultiply_px(in[i]) : in[i];
        d[0] = d[1] = static_cast<uint8_t>(ch_b(c));
        d[2] = d[3] = static_cast<uint8_t>(ch_g(c));
        d[4] = d[5] = static_cast<uint8_t>(ch_r(c));
        d[6] = d[7] = static_cast<uint8_t>(ch_a(c));
      }
      return;
    }
    default:
      return;
  }
}

void copy_pixels(PixelFormat f, const uint8_t* src, int32_t src_x0, uint8_t* dst, int32_t dst_x0,
                 int32_t n) {
  if (n <= 0) return;
  const int bpp = bits_per_pixel(f);
  if (bpp == 0) return;
  if (bpp % 8 == 0) {
    const auto bytes = static_cast<std::size_t>(bpp / 8);
    std::memmove(dst + offset(dst_x0, bytes), src + offset(src_x0, bytes),
                 static_cast<std::size_t>(n) * bytes);
    return;
  }
  copy_bits(src, static_cast<int64_t>(src_x0) * bpp, dst, static_cast<int64_t>(dst_x0) * bpp,
            static_cast<int64_t>(n) * bpp);
}

void convert_pixels(PixelFormat src_f, const uint8_t* src, int32_t src_x0,
                    const Palette& src_palette, PixelFormat dst_f, uint8_t* dst, int32_t dst_x0,
                    PaletteMatcher* dst_matcher, int32_t n, uint32_t* scratch) {
  if (n <= 0) return;
  if (src_f == dst_f) {
    copy_pixels(src_f, src, src_x0, dst, dst_x0, n);
    return;
  }
  if (is_direct_format(src_f) && is_direct_format(dst_f)) {
    const auto src_bytes = static_cast<std::size_t>(bits_per_pixel(src_f) / 8);
    const auto dst_bytes = static_cast<std::size_t>(bits_per_pixel(dst_f) / 8);
    convert_direct(src_f, src + offset(src_x0, src_bytes), dst_f, dst + offset(dst_x0, dst_bytes),
                   static_cast<std::size_t>(n));
    return;
  }
  load_argb(src_f, src, src_x0, n, src_palette, scratch);
  store_argb(dst_f, dst, dst_x0, n, dst_matcher, scratch);
}

}  // namespace korvex::raster
