#include "processing/color_reduction.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "processing/octree.h"
#include "raster/convert.h"
#include "raster/cpu.h"
#include "raster/parallel.h"
#include "raster/rounding.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KORVEX_HAVE_AVX2_PATH 1
#endif

namespace korvex::reduce {

namespace {

using raster::Status;
namespace pf = raster::pf;

// Rows of an image as B, G, R(, A) bytes, `step` bytes a pixel. Stored
// 24bppRGB, 32bppRGB and 32bppARGB rows are used in place (their bytes are
// what a 24- or 32-bit read would give); other formats are converted one row
// at a time into 32bppARGB.
class ColourRows {
 public:
  explicit ColourRows(const raster::Image& img) : img_(img) {
    const raster::PixelFormat f = img.format();
    if (f == pf::k24bppRGB) {
      step_ = 3;
    } else if (f == pf::k32bppRGB || f == pf::k32bppARGB) {
      step_ = 4;
      alpha_ = f == pf::k32bppARGB;
    } else {
      direct_ = false;
      step_ = 4;
      alpha_ = true;
      row_.resize(static_cast<size_t>(img.width()) * 4);
      scratch_.resize(static_cast<size_t>(img.width()));
    }
  }
  int step() const { return step_; }
  // True when the fourth byte holds the pixel's alpha (else it is opaque).
  bool alpha() const { return alpha_; }
  const uint8_t* row(int32_t y) {
    const raster::Surface& s = img_.surface();
    if (direct_) return s.row(y);
    raster::convert_pixels(s.format, s.row(y), 0, s.palette, pf::k32bppARGB, row_.data(), 0,
                           nullptr, s.width, scratch_.data());
    return row_.data();
  }

 private:
  const raster::Image& img_;
  bool direct_ = true;
  int step_ = 3;
  bool alpha_ = false;
  std::vector<uint8_t> row_;
  std::vector<uint32_t> scratch_;
};

// A new indexed bitmap the size of `src` with `palette`.
Status new_indexed(const raster::Image& src, raster::PixelFormat f, const raster::Palette* palette,
                   std::unique_ptr<raster::Image>& out) {
  std::unique_ptr<raster::Image> img;
  if (Status st = raster::Image::create(src.width(), src.height(), f, img); st != Status::Ok) {
    return st;
  }
  if (palette != nullptr) {
    if (Status st = img->set_palette(*palette); st != Status::Ok) return st;
  }
  out = std::move(img);
  return Status::Ok;
}

// Runs map(src_row, step, alpha, dst_row, width) over every row, in bands on
// the available processors; each band reads through its own ColourRows.
template <class Map>
void map_rows(const raster::Image& src, raster::Image& dst, double cost, Map&& map) {
  const int32_t w = src.width();
  raster::parallel_rows(src.height(), cost * w * src.height(), [&](int32_t y0, int32_t y1) {
    ColourRows rows(src);
    // The pixel step is a constant of the inner loops.
    for (int32_t y = y0; y < y1; ++y) {
      if (rows.step() == 3) {
        map(rows.row(y), std::integral_constant<int, 3>{}, false, dst.surface().row(y), w);
      } else {
        map(rows.row(y), std::integral_constant<int, 4>{}, rows.alpha(), dst.surface().row(y), w);
      }
    }
  });
}

// The AVX2 row kernels below run where the processor has AVX2 and BMI2
// (pext); they give the same bytes as the plain loops, on whole groups of
// 16 pixels, and leave the rest of the row to them.
bool use_vector_rows() {
#ifdef KORVEX_HAVE_AVX2_PATH
  static const bool bmi2 = __builtin_cpu_supports("bmi2") != 0;
  return bmi2 && raster::use_avx2();
#else
  return false;
#endif
}

#ifdef KORVEX_HAVE_AVX2_PATH
// One bit a byte: set where the byte is at least 126.
__attribute__((target("avx2"))) inline uint64_t at_least_126(const uint8_t* p) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i ok = _mm256_cmpeq_epi8(_mm256_max_epu8(v, _mm256_set1_epi8(125 + 1)), v);
  return static_cast<uint32_t>(_mm256_movemask_epi8(ok));
}
__attribute__((target("avx2"))) inline uint64_t at_least_126_16(const uint8_t* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i ok = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(125 + 1)), v);
  return static_cast<uint32_t>(_mm_movemask_epi8(ok));
}

// 1-bit threshold of 16 pixels at a time: a pixel is white when the bits of
// its three colour bytes are all set; pext gathers one bit a pixel, and a
// table reverses each byte to put the left pixel in the high bit.
template <int Step>
__attribute__((target("avx2,bmi2"))) int32_t threshold_row_avx2(const uint8_t* s, uint8_t* d,
                                                                int32_t n, const uint8_t* reverse) {
  constexpr uint64_t kFirstByte = Step == 3 ? 0x0000249249249249ull : 0x1111111111111111ull;
  int32_t x = 0;
  for (; x + 16 <= n; x += 16, s += 16 * Step) {
    // 48 or 64 bytes.
    const uint64_t m =
        at_least_126(s) | (Step == 3 ? at_least_126_16(s + 32) : at_least_126(s + 32)) << 32;
    const auto bits = static_cast<uint32_t>(_pext_u64(m & (m >> 1) & (m >> 2), kFirstByte));
    d[x >> 3] = reverse[bits & 0xFF];
    d[(x >> 3) + 1] = reverse[bits >> 8];
  }
  return x;
}

// Mean gray of 16 24-bit pixels at a time: the first, second and third bytes
// of the pixels are gathered by byte shuffles, summed in 16 bits, and
// round((B + G + R) / 3) = floor((sum + 1) / 3) = ((sum + 1) * 43691) >> 17
// for sums below 2^17.
__attribute__((target("avx2"))) int32_t mean_gray_row24_avx2(const uint8_t* s, uint8_t* d,
                                                             int32_t n) {
  alignas(16) static const std::array<std::array<std::array<int8_t, 16>, 3>, 3> kGather = [] {
    std::array<std::array<std::array<int8_t, 16>, 3>, 3> g{};
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 16; ++j) {
          const int at = 3 * j + c - 16 * k;
          g[c][k][j] = static_cast<int8_t>(at >= 0 && at < 16 ? at : -128);
        }
      }
    }
    return g;
  }();
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1),
                third = _mm_set1_epi16(static_cast<int16_t>(43691));
  int32_t x = 0;
  for (; x + 16 <= n; x += 16, s += 48) {
    const __m128i r[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32))};
    __m128i lo = one, hi = one;
    for (int c = 0; c < 3; ++c) {
      __m128i ch = zero;
      for (int k = 0; k < 3; ++k) {
        const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(kGather[c][k].data()));
        ch = _mm_or_si128(ch, _mm_shuffle_epi8(r[k], mask));
      }
      lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(ch, zero));
      hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(ch, zero));
    }
    lo = _mm_srli_epi16(_mm_mulhi_epu16(lo, third), 1);
    hi = _mm_srli_epi16(_mm_mulhi_epu16(hi, third), 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(lo, hi));
  }
  return x;
}
#endif

constexpr std::array<uint32_t, 16> kFixed16 = {
    0xFF000000, 0xFF000080, 0xFF008000, 0xFF008080, 0xFF800000, 0xFF800080, 0xFF808000, 0xFF808080,
    0xFFC0C0C0, 0xFF0000FF, 0xFF00FF00, 0xFF00FFFF, 0xFFFF0000, 0xFFFF00FF, 0xFFFFFF00, 0xFFFFFFFF};

}  // namespace

raster::Palette GrayPalette() {
  raster::Palette p;
  p.entries.resize(256);
  for (uint32_t i = 0; i < 256; ++i) p.entries[i] = 0xFF000000u | i << 16 | i << 8 | i;
  return p;
}

raster::Palette CubePalette() {
  raster::Palette p;
  p.flags = raster::Palette::kHalftone;
  for (uint32_t r = 0; r < 6; ++r) {
    for (uint32_t g = 0; g < 6; ++g) {
      for (uint32_t b = 0; b < 6; ++b) {
        p.entries.push_back(0xFF000000u | (51 * r) << 16 | (51 * g) << 8 | 51 * b);
      }
    }
  }
  return p;
}

raster::Palette Fixed16Palette() {
  raster::Palette p;
  p.flags = raster::Palette::kHalftone;
  p.entries.assign(kFixed16.begin(), kFixed16.end());
  return p;
}

Status Quantize8(const raster::Image& src, int32_t colors, std::unique_ptr<raster::Image>& out) {
  colors = std::clamp(colors, 8, 256);
  const int32_t w = src.width(), h = src.height();
  OcTree tree;
  {
    ColourRows rows(src);
    const int step = rows.step();
    for (int32_t y = h - 1; y >= 0; --y) {
      const uint8_t* row = rows.row(y);
      tree.AddRow(row, step, w, colors);
    }
  }
  tree.BuildPalette();
  raster::Palette palette;
  palette.flags = raster::Palette::kHasAlpha;
  for (const OcTree::Colour& c : tree.palette()) {
    palette.entries.push_back(0xFF000000u | uint32_t{c.red} << 16 | uint32_t{c.green} << 8 |
                              c.blue);
  }
  std::unique_ptr<raster::Image> img;
  if (Status st = new_indexed(src, pf::k8bppIndexed, &palette, img); st != Status::Ok) return st;

  // Most pixels resolve within five levels through one table look-up.
  std::vector<uint16_t> table;
  std::vector<int32_t> deep;
  tree.PrefixTable(table, deep);
  map_rows(src, *img, 8, [&](const uint8_t* s, auto step, bool, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += step) {
      const uint32_t key = (uint32_t{s[2]} >> 3) << 10 | (uint32_t{s[1]} >> 3) << 5 | (s[0] >> 3u);
      const uint16_t v = table[key];
      d[x] = v < 256 ? static_cast<uint8_t>(v)
                     : tree.IndexFrom(deep[static_cast<size_t>(v - 256)], s[0], s[1], s[2]);
    }
  });
  out = std::move(img);
  return Status::Ok;
}

Status Gray8(const raster::Image& src, GrayRule rule, std::unique_ptr<raster::Image>& out) {
  const raster::Palette palette = GrayPalette();
  std::unique_ptr<raster::Image> img;
  if (Status st = new_indexed(src, pf::k8bppIndexed, &palette, img); st != Status::Ok) return st;
  if (rule == GrayRule::Mean) {
    // (R + G + B) / 3 never ends in exactly one half, so a table of sums does.
    std::array<uint8_t, 766> third{};
    for (size_t s = 0; s < third.size(); ++s) {
      third[s] = static_cast<uint8_t>(raster::round_half_even(static_cast<double>(s) / 3.0));
    }
    const bool vector = use_vector_rows();
    map_rows(src, *img, 1, [&](const uint8_t* s, auto step, bool, uint8_t* d, int32_t n) {
      int32_t x = 0;
#ifdef KORVEX_HAVE_AVX2_PATH
      if (step == 3 && vector) x = mean_gray_row24_avx2(s, d, n);
#endif
      for (s += x * step; x < n; ++x, s += step) d[x] = third[s[0] + s[1] + s[2]];
    });
  } else {
    std::array<double, 256> red{}, green{}, blue{};
    for (int v = 0; v < 256; ++v) {
      red[static_cast<size_t>(v)] = raster::round_half_even(0.3 * v);
      green[static_cast<size_t>(v)] = 0.59 * v;
      blue[static_cast<size_t>(v)] = 0.11 * v;
    }
    map_rows(src, *img, 4, [&](const uint8_t* s, auto step, bool, uint8_t* d, int32_t n) {
      for (int32_t x = 0; x < n; ++x, s += step) {
        const double v = raster::round_half_even(red[s[2]] + green[s[1]] + blue[s[0]]);
        d[x] = static_cast<uint8_t>(std::min(v, 255.0));
      }
    });
  }
  out = std::move(img);
  return Status::Ok;
}

Status Cube8(const raster::Image& src, std::unique_ptr<raster::Image>& out) {
  const raster::Palette palette = CubePalette();
  std::unique_ptr<raster::Image> img;
  if (Status st = new_indexed(src, pf::k8bppIndexed, &palette, img); st != Status::Ok) return st;
  // Q[v] pre-multiplied by the weight of each channel's place in the cube.
  std::array<uint8_t, 256> qr{}, qg{}, qb{};
  for (int v = 0; v < 256; ++v) {
    const auto q = static_cast<uint8_t>(raster::round_half_even(v / 51.0));
    qr[static_cast<size_t>(v)] = static_cast<uint8_t>(36 * q);
    qg[static_cast<size_t>(v)] = static_cast<uint8_t>(6 * q);
    qb[static_cast<size_t>(v)] = q;
  }
  map_rows(src, *img, 1, [&](const uint8_t* s, auto step, bool, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += step) {
      d[x] = static_cast<uint8_t>(qr[s[2]] + qg[s[1]] + qb[s[0]]);
    }
  });
  out = std::move(img);
  return Status::Ok;
}

Status Nearest4(const raster::Image& src, const raster::Palette& palette,
                std::unique_ptr<raster::Image>& out) {
  if (palette.entries.empty() || palette.entries.size() > 16) return Status::InvalidParameter;
  std::unique_ptr<raster::Image> img;
  if (Status st = new_indexed(src, pf::k4bppIndexed, &palette, img); st != Status::Ok) return st;
  std::array<uint32_t, 256> square{};
  for (uint32_t i = 0; i < 256; ++i) square[i] = i * i;
  const size_t entries = palette.entries.size();
  auto nearest = [&](uint8_t b, uint8_t g, uint8_t r) {
    uint32_t best = UINT32_MAX;
    uint8_t index = 0;
    for (size_t i = 0; i < entries; ++i) {
      const uint32_t e = palette.entries[i];
      const auto er = static_cast<int>((e >> 16) & 0xFF), eg = static_cast<int>((e >> 8) & 0xFF),
                 eb = static_cast<int>(e & 0xFF);
      const uint32_t d = square[static_cast<size_t>(std::abs(r - er))] +
                         square[static_cast<size_t>(std::abs(g - eg))] +
                         square[static_cast<size_t>(std::abs(b - eb))];
      if (d < best) {
        best = d;
        index = static_cast<uint8_t>(i);
      }
    }
    return index;
  };
  map_rows(src, *img, 16, [&](const uint8_t* s, auto step, bool, uint8_t* d, int32_t n) {
    uint32_t last = UINT32_MAX;  // a run of one colour reuses its index
    uint8_t index = 0;
    for (int32_t x = 0; x < n; ++x, s += step) {
      const uint32_t key = uint32_t{s[2]} << 16 | uint32_t{s[1]} << 8 | s[0];
      if (key != last) {
        index = nearest(s[0], s[1], s[2]);
        last = key;
      }
      // The left pixel of each pair goes in the high nibble.
      if ((x & 1) == 0) {
        d[x >> 1] = static_cast<uint8_t>(index << 4);
      } else {
        d[x >> 1] = static_cast<uint8_t>(d[x >> 1] | index);
      }
    }
  });
  out = std::move(img);
  return Status::Ok;
}

Status Bits1(const raster::Image& src, WhiteRule rule, std::unique_ptr<raster::Image>& out) {
  std::unique_ptr<raster::Image> img;
  if (Status st = new_indexed(src, pf::k1bppIndexed, nullptr, img); st != Status::Ok) return st;
  auto threshold = [](const uint8_t* p, bool) -> uint32_t {
    return (p[0] >= kWhiteThreshold) & (p[1] >= kWhiteThreshold) & (p[2] >= kWhiteThreshold);
  };
  auto opaque_white = [](const uint8_t* p, bool alpha) -> uint32_t {
    return p[0] == 255 && p[1] == 255 && p[2] == 255 && (!alpha || p[3] == 255) ? 1u : 0u;
  };
  std::array<uint8_t, 256> reverse{};
  for (uint32_t i = 0; i < 256; ++i) {
    for (int b = 0; b < 8; ++b) reverse[i] |= static_cast<uint8_t>(((i >> b) & 1) << (7 - b));
  }
  const bool vector = rule == WhiteRule::Threshold && use_vector_rows();
  // Eight pixels a byte, most significant bit first.
  auto pack = [&](auto white) {
    return [&, white](const uint8_t* s, auto step, bool alpha, uint8_t* d, int32_t n) {
      const int32_t whole = n & ~7;
      int32_t x = 0;
#ifdef KORVEX_HAVE_AVX2_PATH
      if (vector) x = threshold_row_avx2<decltype(step)::value>(s, d, n, reverse.data());
#endif
      for (s += x * step; x < whole; x += 8, s += 8 * step) {
        uint32_t byte = 0;
        for (int i = 0; i < 8; ++i) byte = byte << 1 | white(s + i * step, alpha);
        d[x >> 3] = static_cast<uint8_t>(byte);
      }
      if (whole < n) {
        uint32_t byte = 0;
        for (int32_t t = whole; t < n; ++t, s += step) byte |= white(s, alpha) << (7 - (t - whole));
        d[whole >> 3] = static_cast<uint8_t>(byte);
      }
    };
  };
  if (rule == WhiteRule::Threshold) {
    map_rows(src, *img, 1, pack(threshold));
  } else {
    map_rows(src, *img, 1, pack(opaque_white));
  }
  out = std::move(img);
  return Status::Ok;
}

}  // namespace korvex::reduce
