// The pixel-filter dispatcher: zone checks, the palette-only path of Negative
// and Brightness on indexed images, the work buffer, and the write-back in the
// image's own pixel format.
#include "processing/filter_engine.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "processing/filter_testing.h"
#include "processing/lut_apply.h"
#include "raster/convert.h"
#include "raster/parallel.h"
#include "raster/rounding.h"
#include "raster/version.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace korvex::filters {

namespace {

// xoshiro256+ : fast, with good enough uniform doubles from its top 53 bits.
struct Random {
  uint64_t s[4] = {0, 0, 0, 0};
  bool seeded = false;

  static uint64_t splitmix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  void seed(uint64_t v) {
    for (uint64_t& w : s) w = splitmix(v);
    seeded = true;
  }
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  double next() {
    if (!seeded) {
      seed(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    }
    const uint64_t result = s[0] + s[3];
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return static_cast<double>(result >> 11) * 0x1.0p-53;
  }
};

thread_local Random g_random;
thread_local int32_t g_band_rows_for_testing = 0;

struct FreeBuffer {
  void operator()(uint32_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint32_t, FreeBuffer>;

bool zone_inside(const raster::Image& img, const raster::Rect& z) {
  if (z.x < 0 || z.y < 0) return false;
  if (static_cast<int64_t>(z.x) + z.width > img.width()) return false;
  if (static_cast<int64_t>(z.y) + z.height > img.height()) return false;
  return true;
}

// Parameters outside the meaningful ranges (a division by zero or a sign
// flip) are refused before anything is touched.
bool params_valid(int32_t effect, const FilterParams& p) {
  switch (effect) {
    case kGamma:
      return p.param > 0.0;
    case kHWaves:
    case kVWaves:
      return p.waves.period != 0;
    case kSoften:
      return p.param <= 100.0;
    case kPixelize:
      return p.param >= 1.0;
    default:
      return true;
  }
}

bool known_effect(int32_t effect) {
  return IsPointEffect(effect) || IsNeighbourhoodEffect(effect) || effect == kMatrix3x3 ||
         effect == kIsGrayscaleTest || effect == kIsBlankTest;
}

uint8_t red_of(uint32_t argb) {
  return static_cast<uint8_t>(argb >> 16);
}
int32_t luma_sum(uint32_t argb) {
  return static_cast<int32_t>((argb & 0xFF) + ((argb >> 8) & 0xFF) + ((argb >> 16) & 0xFF));
}

bool palette_is_gray(const raster::Palette& pal) {
  // An image whose palette cannot be read (none here) counts as colour.
  if (pal.entries.empty()) return false;
  for (uint32_t e : pal.entries) {
    if ((e & 0xFF) != ((e >> 8) & 0xFF) || (e & 0xFF) != ((e >> 16) & 0xFF)) return false;
  }
  return true;
}

// 24bppRGB rows to and from work pixels, for the banded path: B, G, R with
// alpha 255 on the way in, alpha dropped on the way out, as the raster
// layer's own conversions do, four pixels per byte shuffle.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVEX_HAVE_SHUFFLE_ROWS 1
__attribute__((target("ssse3"))) void rgb24_to_work_ssse3(const uint8_t* s, uint32_t* d, size_t n) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  size_t x = 0;
  for (; x + 6 <= n; x += 4) {  // a 16-byte load reads 4 pixels and a third
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x),
                     _mm_or_si128(_mm_shuffle_epi8(v, spread), alpha));
  }
  for (; x < n; ++x) {
    d[x] = 0xFF000000u | static_cast<uint32_t>(s[3 * x + 2]) << 16 |
           static_cast<uint32_t>(s[3 * x + 1]) << 8 | s[3 * x];
  }
}
__attribute__((target("ssse3"))) void work_to_rgb24_ssse3(const uint32_t* s, uint8_t* d, size_t n) {
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  size_t x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i v =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x)), pack);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 3 * x), v);
    const uint32_t tail = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
    std::memcpy(d + 3 * x + 8, &tail, 4);
  }
  for (; x < n; ++x) {
    d[3 * x] = static_cast<uint8_t>(s[x]);
    d[3 * x + 1] = static_cast<uint8_t>(s[x] >> 8);
    d[3 * x + 2] = static_cast<uint8_t>(s[x] >> 16);
  }
}
bool have_ssse3() {
  static const bool yes = __builtin_cpu_supports("ssse3");
  return yes && !ScalarKernelsForced();
}
#endif

void rgb24_to_work(const uint8_t* s, uint32_t* d, size_t n) {
#ifdef KORVEX_HAVE_SHUFFLE_ROWS
  if (have_ssse3()) {
    rgb24_to_work_ssse3(s, d, n);
    return;
  }
#endif
  for (size_t x = 0; x < n; ++x) {
    d[x] = 0xFF000000u | static_cast<uint32_t>(s[3 * x + 2]) << 16 |
           static_cast<uint32_t>(s[3 * x + 1]) << 8 | s[3 * x];
  }
}

void work_to_rgb24(const uint32_t* s, uint8_t* d, size_t n) {
#ifdef KORVEX_HAVE_SHUFFLE_ROWS
  if (have_ssse3()) {
    work_to_rgb24_ssse3(s, d, n);
    return;
  }
#endif
  for (size_t x = 0; x < n; ++x) {
    d[3 * x] = static_cast<uint8_t>(s[x]);
    d[3 * x + 1] = static_cast<uint8_t>(s[x] >> 8);
    d[3 * x + 2] = static_cast<uint8_t>(s[x] >> 16);
  }
}

// The palette path: Negative and Brightness change only the colour table.
raster::Status apply_to_palette(int32_t effect, raster::Image& img, const FilterParams& p) {
  uint8_t t[256];
  if (effect == kNegative) {
    for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(255 - i);
  } else {
    const float f = static_cast<float>((static_cast<int32_t>(p.param) + 100.0) / 100.0);
    for (int i = 0; i < 256; ++i) {
      const int32_t v = RoundHalfEven(static_cast<double>(f) * i);
      t[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
  raster::Palette pal = img.palette();
  for (uint32_t& e : pal.entries) {
    e = (e & 0xFF000000u) | static_cast<uint32_t>(t[(e >> 16) & 0xFF]) << 16 |
        static_cast<uint32_t>(t[(e >> 8) & 0xFF]) << 8 | t[e & 0xFF];
  }
  return img.set_palette(pal);
}

// Runs the effect routine; false when its parameters give no result.
bool run_effect(int32_t effect, const Pixels& z, const FilterParams& p, FilterResult& r) {
  if (effect == kIsGrayscaleTest) {
    r.answer = IsGrayscaleZone(z);
  } else if (effect == kIsBlankTest) {
    r.answer = IsBlankZone(z, p.blank_confidence);
  } else if (effect == kMatrix3x3) {
    RunPatternMatch(z, p.patterns);
  } else if (IsPointEffect(effect)) {
    return RunPointEffect(effect, z, p);
  } else {
    return RunNeighbourhoodEffect(effect, z, p);
  }
  return true;
}

// Writes work pixels back into the image in its own pixel format, a whole
// zone or one band of it at a time. What depends only on the palette (the
// white index of 1-bit images, the gray table, the colour matcher) is set up
// once per effect.
class WriteBack {
 public:
  explicit WriteBack(raster::Image& img) : img_(img), format_(img.format()) {
    const raster::Palette& pal = img.palette();
    if (format_ == raster::pf::k24bppRGB) {
      mode_ = Mode::kRgb24;
    } else if (format_ == raster::pf::k1bppIndexed) {
      // White where the red byte is 255, black elsewhere, as indices of the
      // palette's own white and black entries (a min-is-white palette keeps
      // its meaning).
      mode_ = Mode::kOneBit;
      if (pal.entries.size() >= 2 && luma_sum(pal.entries[0]) > luma_sum(pal.entries[1]))
        white_ = 0;
    } else if (format_ == raster::pf::k8bppIndexed) {
      if (palette_is_gray(pal)) {
        // Index of the entry nearest to the red value: the red value itself
        // on the 0..255 ramp, the closest gray level on any other gray table.
        mode_ = Mode::kGray8;
        for (int v = 0; v < 256; ++v) {
          int best = 0, best_d = 1 << 30;
          for (size_t i = 0; i < pal.entries.size(); ++i) {
            const int d = std::abs(static_cast<int>(pal.entries[i] & 0xFF) - v);
            if (d < best_d) {
              best_d = d;
              best = static_cast<int>(i);
              if (d == 0) break;
            }
          }
          gray_lut_[v] = static_cast<uint8_t>(best);
        }
      } else if (raster::is_old_version()) {
        // Older raster layers do not map colours into a palette themselves:
        // nearest entry by squared RGB distance, the first minimum winning.
        mode_ = Mode::kMatch8;
        matcher_.emplace(pal);
      }
    }
  }

  raster::Status write(const raster::Rect& rect, const Pixels& z) {
    const size_t w = static_cast<size_t>(z.w), n = w * static_cast<size_t>(z.h);
    switch (mode_) {
      case Mode::kOneBit: {
        const size_t stride = (w + 7) / 8;
        scratch_.assign(stride * static_cast<size_t>(z.h), 0);
        for (int32_t y = 0; y < z.h; ++y) {
          const uint32_t* row = z.row(y);
          uint8_t* out = scratch_.data() + stride * static_cast<size_t>(y);
          for (size_t x = 0; x < w; ++x) {
            const uint8_t bit = red_of(row[x]) == 255 ? white_ : static_cast<uint8_t>(1 - white_);
            if (bit) out[x >> 3] = static_cast<uint8_t>(out[x >> 3] | (0x80 >> (x & 7)));
          }
        }
        return img_.write_pixels(rect, format_, scratch_.data(), static_cast<int32_t>(stride));
      }
      case Mode::kGray8:
      case Mode::kMatch8: {
        scratch_.resize(n);
        if (mode_ == Mode::kGray8) {
          for (size_t i = 0; i < n; ++i) scratch_[i] = gray_lut_[red_of(z.px[i])];
        } else {
          for (size_t i = 0; i < n; ++i) scratch_[i] = matcher_->nearest(z.px[i]);
        }
        return img_.write_pixels(rect, format_, scratch_.data(), z.w);
      }
      case Mode::kRgb24: {
        // Straight into the image's rows: the same bytes a 32bppARGB write
        // would leave, without the lock's row-by-row conversion.
        raster::Surface& sf = img_.surface();
        for (int32_t y = 0; y < z.h; ++y) {
          work_to_rgb24(z.row(y), sf.row(rect.y + y) + static_cast<ptrdiff_t>(rect.x) * 3, w);
        }
        return raster::Status::Ok;
      }
      case Mode::kArgb:
        break;
    }
    return img_.write_pixels(rect, raster::pf::k32bppARGB, reinterpret_cast<uint8_t*>(z.px),
                             z.w * 4);
  }

 private:
  enum class Mode { kArgb, kRgb24, kOneBit, kGray8, kMatch8 };
  raster::Image& img_;
  raster::PixelFormat format_;
  Mode mode_ = Mode::kArgb;
  uint8_t white_ = 1;
  uint8_t gray_lut_[256] = {};
  std::optional<raster::PaletteMatcher> matcher_;
  std::vector<uint8_t> scratch_;
};

// How an effect runs band by band: the rows of context it reads above and
// below a band, whether the rows above must hold their source values (copy
// effects) or their new ones (in-place effects), and the multiple of rows a
// band must hold (4 keeps the ordered dither's phase and ScanLine's pairs;
// Pixelize needs whole blocks). Neighbourhood effects give their own reach;
// those whose reach is not bounded by a few rows (Diffuse, waves) take the
// whole zone at once.
struct BandPlan {
  bool banded = true;
  int32_t above = 0, below = 0;
  bool carry_source = false;
  int32_t align = 4;
};

BandPlan band_plan(int32_t effect, const FilterParams& p) {
  BandPlan b;
  if (effect == kMatrix3x3) {
    b.above = b.below = 1;
  } else if (IsNeighbourhoodEffect(effect)) {
    const RowReach r = NeighbourhoodReach(effect, p);
    b.banded = r.bounded;
    b.above = r.above;
    b.below = r.below;
    b.carry_source = r.reads_source;
    if (r.align > 1) b.align = r.align;
  }
  return b;  // point effects and the two tests: rows on their own
}

// Rows per band: about 384 K pixels (1.5 MB of work pixels, which stays in
// the second-level cache), 16 to 256 rows, a multiple of the plan's alignment.
int32_t band_rows(int32_t width, const BandPlan& plan) {
  int64_t rows = g_band_rows_for_testing > 0
                     ? g_band_rows_for_testing
                     : std::clamp<int64_t>((393216 + width - 1) / width, 16, 256);
  rows = std::max<int64_t>(rows, plan.above);
  const int64_t align = std::max(plan.align, 1);
  rows = (rows + align - 1) / align * align;
  return static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
}

// The band buffer: kept from one effect to the next on this thread while it
// is small, so repeated effects do not pay for fresh memory each time.
constexpr size_t kKeptBufferPixels = size_t{4} << 20;
thread_local Buffer g_band_buffer;
thread_local size_t g_band_capacity = 0;

uint32_t* band_buffer(size_t pixels) {
  if (pixels > g_band_capacity || !g_band_buffer) {
    g_band_buffer.reset(static_cast<uint32_t*>(std::malloc(pixels * 4)));
    g_band_capacity = g_band_buffer ? pixels : 0;
  }
  return g_band_buffer.get();
}

void release_band_buffer() {
  if (g_band_capacity > kKeptBufferPixels) {
    g_band_buffer.reset();
    g_band_capacity = 0;
  }
}

// Point effects whose pixels do not depend on the order of the visit (not
// AddNoise, whose random numbers follow raster order, nor the error-diffusion
// dither) can run as bands of rows on several threads; the figures of
// Contrast and Stretch are gathered the same way and merged first.
bool runs_on_threads(int32_t effect) {
  return IsPointEffect(effect) && effect != kAddNoise && effect != kDiffusionDitherBW;
}

bool run_point_on_threads(int32_t effect, const Pixels& z, const FilterParams& p) {
  const bool scalar = ScalarKernelsForced();
  const double work = 4.0 * static_cast<double>(z.w) * static_cast<double>(z.h);
  BandContext whole;
  whole.zone_h = z.h;
  std::mutex merge;
  if (NeedsZoneStats(effect)) {
    raster::parallel_rows(z.h, work, [&](int32_t y0, int32_t y1) {
      ForceScalarKernelsForTesting(scalar);
      BandContext part;
      GatherZoneStats(effect, Pixels{z.row(y0), z.w, y1 - y0}, part);
      const std::lock_guard<std::mutex> lock(merge);
      whole.gray_sum += part.gray_sum;
      whole.pixels += part.pixels;
      for (int c = 0; c < 3; ++c) {
        whole.lo[c] = std::min(whole.lo[c], part.lo[c]);
        whole.hi[c] = std::max(whole.hi[c], part.hi[c]);
      }
    });
  }
  bool ok = true;
  raster::parallel_rows(z.h, work, [&](int32_t y0, int32_t y1) {
    ForceScalarKernelsForTesting(scalar);
    BandContext band = whole;
    band.top = y0;
    if (!RunPointEffect(effect, Pixels{z.row(y0), z.w, y1 - y0}, p, &band)) {
      const std::lock_guard<std::mutex> lock(merge);
      ok = false;
    }
  });
  return ok;
}

// The 3 x 3 match-and-replace in bands. Visiting row y may rewrite rows
// y - 1 .. y + 1, so a row is final only once the row below it has been
// visited: each window's last two rows, as they stand, start the next window
// (they are not read again from the image, whose format may not hold the
// values the patterns wrote), and rows are written back one band behind.
raster::Status run_pattern_in_bands(
    raster::Image& img, const raster::Rect& zone, const PatternPair& patterns, const BandPlan& plan,
    const std::function<raster::Status(int32_t, int32_t, uint32_t*)>& read) {
  const int32_t W = zone.width, H = zone.height;
  const int32_t rows = band_rows(W, plan);
  const size_t w = static_cast<size_t>(W);
  const int64_t cap = std::min<int64_t>(H, static_cast<int64_t>(rows) + 2);
  const uint64_t pixels = static_cast<uint64_t>(W) * static_cast<uint64_t>(cap);
  if (pixels > raster::pixel_memory_limit() / 4 || pixels > SIZE_MAX / 4)
    return raster::Status::OutOfMemory;
  uint32_t* buf = band_buffer(static_cast<size_t>(pixels));
  if (buf == nullptr) return raster::Status::OutOfMemory;
  WriteBack out(img);
  int32_t start = 0, carried = 0, written = 0;
  for (;;) {
    const int32_t end =
        static_cast<int32_t>(std::min<int64_t>(H, static_cast<int64_t>(start) + cap));
    if (raster::Status st = read(start + carried, end, buf + static_cast<size_t>(carried) * w);
        st != raster::Status::Ok) {
      return st;
    }
    RunPatternMatch(Pixels{buf, W, end - start}, patterns);  // visits rows start + 1 .. end - 2
    const int32_t final_end = end == H ? H : end - 2;
    if (final_end > written) {
      const Pixels done{buf + static_cast<size_t>(written - start) * w, W, final_end - written};
      if (raster::Status st = out.write({zone.x, zone.y + written, W, final_end - written}, done);
          st != raster::Status::Ok) {
        return st;
      }
      written = final_end;
    }
    if (end == H) return raster::Status::Ok;
    std::memmove(buf, buf + static_cast<size_t>(end - 2 - start) * w, 2 * w * 4);
    carried = 2;
    start = end - 2;
  }
}

// Runs the effect over the zone band by band through the small buffer.
FilterResult run_in_bands(int32_t effect, raster::Image& img, const FilterParams& p,
                          const raster::Rect& zone, const BandPlan& plan) {
  FilterResult r;
  const int32_t W = zone.width, H = zone.height;
  const int32_t rows = band_rows(W, plan);
  const int64_t window_rows =
      std::min<int64_t>(H, static_cast<int64_t>(rows) + plan.above + plan.below);
  const uint64_t pixels = static_cast<uint64_t>(W) * static_cast<uint64_t>(window_rows);
  const uint64_t carry_pixels = plan.carry_source ? static_cast<uint64_t>(W) * plan.above : 0;
  if (pixels + carry_pixels > raster::pixel_memory_limit() / 4 ||
      pixels + carry_pixels > SIZE_MAX / 4) {
    r.status = raster::Status::OutOfMemory;
    return r;
  }
  uint32_t* buf = band_buffer(static_cast<size_t>(pixels + carry_pixels));
  if (buf == nullptr) {
    r.status = raster::Status::OutOfMemory;
    return r;
  }
  uint32_t* carry = buf + pixels;
  const size_t w = static_cast<size_t>(W);
  const bool rgb24 = img.format() == raster::pf::k24bppRGB;
  auto read = [&](int32_t y0, int32_t y1, uint32_t* to) {
    if (rgb24) {
      const raster::Surface& sf = img.surface();
      for (int32_t y = y0; y < y1; ++y) {
        rgb24_to_work(sf.row(zone.y + y) + static_cast<ptrdiff_t>(zone.x) * 3,
                      to + static_cast<size_t>(y - y0) * w, w);
      }
      return raster::Status::Ok;
    }
    return img.read_pixels({zone.x, zone.y + y0, W, y1 - y0}, raster::pf::k32bppARGB,
                           reinterpret_cast<uint8_t*>(to), W * 4);
  };

  if (effect == kMatrix3x3) {
    r.status = run_pattern_in_bands(img, zone, p.patterns, plan, read);
    return r;
  }
  BandContext ctx;
  ctx.zone_h = H;
  if (effect == kIsGrayscaleTest || effect == kIsBlankTest) {
    uint64_t ink = 0;
    r.answer = 1;
    for (int32_t y0 = 0; y0 < H; y0 += rows) {
      const int32_t y1 = std::min<int32_t>(H, y0 + rows);
      if ((r.status = read(y0, y1, buf)) != raster::Status::Ok) return r;
      const Pixels band{buf, W, y1 - y0};
      if (effect == kIsBlankTest) {
        ink += CountInkPixels(band, p.blank_confidence);
      } else if (IsGrayscaleZone(band) == 0) {
        r.answer = 0;  // the first colour pixel ends the scan
        break;
      }
    }
    if (effect == kIsBlankTest) r.answer = IsBlankAnswer(W, H, p.blank_confidence, ink);
    return r;
  }
  if (NeedsZoneStats(effect)) {
    for (int32_t y0 = 0; y0 < H; y0 += rows) {
      const int32_t y1 = std::min<int32_t>(H, y0 + rows);
      if ((r.status = read(y0, y1, buf)) != raster::Status::Ok) return r;
      GatherZoneStats(effect, Pixels{buf, W, y1 - y0}, ctx);
    }
  }

  WriteBack out(img);
  const bool point = IsPointEffect(effect);
  for (int32_t y0 = 0; y0 < H;) {
    const int32_t y1 = std::min<int32_t>(H, y0 + rows);
    // Rows above the band: already in place at the top of the buffer, left
    // there by the previous band.
    const int32_t ctx_rows = std::min(plan.above, y0);
    const int32_t end = std::min<int32_t>(H, y1 + plan.below);
    uint32_t* band_px = buf + static_cast<size_t>(ctx_rows) * w;
    if ((r.status = read(y0, end, band_px)) != raster::Status::Ok) return r;
    const bool more = y1 < H;
    if (plan.carry_source && more && plan.above > 0) {
      // Copy effects see source values above the next band: keep them now.
      std::memcpy(carry, band_px + static_cast<size_t>(y1 - y0 - plan.above) * w,
                  static_cast<size_t>(plan.above) * w * 4);
    }
    const Pixels window{buf, W, ctx_rows + end - y0};
    ctx.top = y0 - ctx_rows;
    const bool ok = point ? RunPointEffect(effect, window, p, &ctx)
                          : RunNeighbourhoodRows(effect, {window, ctx.top, H}, p);
    if (!ok) {
      r.status = raster::Status::InvalidParameter;
      return r;
    }
    if ((r.status = out.write({zone.x, zone.y + y0, W, y1 - y0}, Pixels{band_px, W, y1 - y0})) !=
        raster::Status::Ok) {
      return r;
    }
    if (more && plan.above > 0) {
      const size_t keep = static_cast<size_t>(plan.above) * w;
      if (plan.carry_source) {
        std::memcpy(buf, carry, keep * 4);
      } else {
        // In-place effects see the new values above the next band.
        std::memmove(buf, band_px + static_cast<size_t>(y1 - y0) * w - keep, keep * 4);
      }
    }
    y0 = y1;
  }
  return r;
}

}  // namespace

void SeedRandomForTesting(uint64_t seed) {
  g_random.seed(seed);
}

bool RunsOnStreamedRows(int32_t effect, const FilterParams& p) {
  const bool rows = runs_on_threads(effect) ||
                    (IsNeighbourhoodEffect(effect) && NeighbourhoodReach(effect, p).bounded);
  return rows && params_valid(effect, p);
}
void Rgb24RowToWork(const uint8_t* src, uint32_t* dst, size_t n) {
  rgb24_to_work(src, dst, n);
}
void WorkRowToRgb24(const uint32_t* src, uint8_t* dst, size_t n) {
  work_to_rgb24(src, dst, n);
}

void SetBandRowsForTesting(int32_t rows) {
  g_band_rows_for_testing = rows;
}

double NextUniform() {
  return g_random.next();
}

FilterResult ApplyPixelFilter(int32_t effect, raster::Image& img, const FilterParams& p,
                              const raster::Rect& zone) {
  FilterResult r;
  if (zone.width < 1 || zone.height < 1) return r;
  if (!zone_inside(img, zone) || !params_valid(effect, p)) {
    r.status = raster::Status::InvalidParameter;
    return r;
  }
  if (!known_effect(effect)) return r;  // numbers without a routine do nothing
  if (img.locked()) {
    r.status = raster::Status::WrongState;
    return r;
  }
  const raster::PixelFormat f = img.format();
  if (raster::is_indexed(f) && (effect == kNegative || effect == kBrightness)) {
    r.status = apply_to_palette(effect, img, p);
    return r;
  }

  // A 32bppARGB image whose zone spans whole rows is worked on in place.
  raster::Surface& s = img.surface();
  if (f == raster::pf::k32bppARGB && zone.x == 0 && zone.width == img.width() &&
      static_cast<int64_t>(s.stride) == static_cast<int64_t>(zone.width) * 4 &&
      reinterpret_cast<uintptr_t>(s.scan0) % alignof(uint32_t) == 0) {
    const Pixels z{reinterpret_cast<uint32_t*>(s.row(zone.y)), zone.width, zone.height};
    const bool ok =
        runs_on_threads(effect) ? run_point_on_threads(effect, z, p) : run_effect(effect, z, p, r);
    if (!ok) r.status = raster::Status::InvalidParameter;
    return r;
  }

  const BandPlan plan = band_plan(effect, p);
  if (plan.banded) {
    r = run_in_bands(effect, img, p, zone, plan);
    release_band_buffer();
    return r;
  }

  // The whole zone at once.
  const uint64_t count = static_cast<uint64_t>(zone.width) * static_cast<uint64_t>(zone.height);
  if (count > raster::pixel_memory_limit() / 4 || count > SIZE_MAX / 4) {
    r.status = raster::Status::OutOfMemory;
    return r;
  }
  Buffer work(static_cast<uint32_t*>(std::malloc(static_cast<size_t>(count) * 4)));
  if (!work) {
    r.status = raster::Status::OutOfMemory;
    return r;
  }
  r.status = img.read_pixels(zone, raster::pf::k32bppARGB, reinterpret_cast<uint8_t*>(work.get()),
                             zone.width * 4);
  if (r.status != raster::Status::Ok) return r;
  const Pixels z{work.get(), zone.width, zone.height};
  if (!run_effect(effect, z, p, r)) {
    r.status = raster::Status::InvalidParameter;
    return r;
  }
  WriteBack out(img);
  r.status = out.write(zone, z);
  return r;
}

}  // namespace korvex::filters
