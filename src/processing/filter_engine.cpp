// The pixel-filter dispatcher: zone checks, the palette-only path of Negative
// and Brightness on indexed images, the work buffer, and the write-back in the
// image's own pixel format.
#include "processing/filter_engine.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/state.h"
#include "processing/filter_testing.h"
#include "raster/convert.h"
#include "raster/version.h"

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
thread_local Pattern3x3 g_match_in{};
thread_local Pattern3x3 g_match_out{};

struct FreeBuffer {
  void operator()(uint32_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint32_t, FreeBuffer>;

bool zone_inside(const raster::Image& img, const FilterZoneFields& z) {
  if (z.left < 0 || z.top < 0) return false;
  if (static_cast<int64_t>(z.left) + z.width > img.width()) return false;
  if (static_cast<int64_t>(z.top) + z.height > img.height()) return false;
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
      return p.extra2 != 0;
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

uint8_t red_of(uint32_t argb) { return static_cast<uint8_t>(argb >> 16); }
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
    r.answer = IsBlankZone(z, p.extra1);
  } else if (effect == kMatrix3x3) {
    RunPatternMatch(z);
  } else if (IsPointEffect(effect)) {
    return RunPointEffect(effect, z, p);
  } else {
    return RunNeighbourhoodEffect(effect, z, p);
  }
  return true;
}

// Writes the work buffer back into the zone in the image's pixel format.
raster::Status write_back(raster::Image& img, const raster::Rect& rect, const Pixels& z) {
  const raster::PixelFormat f = img.format();
  const raster::Palette& pal = img.palette();
  const size_t w = static_cast<size_t>(z.w);
  if (f == raster::pf::k1bppIndexed) {
    // White where the red byte is 255, black elsewhere, as indices of the
    // palette's own white and black entries (a min-is-white palette keeps
    // its meaning).
    uint8_t white = 1;
    if (pal.entries.size() >= 2 && luma_sum(pal.entries[0]) > luma_sum(pal.entries[1])) white = 0;
    const size_t stride = (w + 7) / 8;
    std::vector<uint8_t> bits(stride * static_cast<size_t>(z.h), 0);
    for (int32_t y = 0; y < z.h; ++y) {
      const uint32_t* row = z.row(y);
      uint8_t* out = bits.data() + stride * static_cast<size_t>(y);
      for (size_t x = 0; x < w; ++x) {
        const uint8_t bit = red_of(row[x]) == 255 ? white : static_cast<uint8_t>(1 - white);
        if (bit) out[x >> 3] = static_cast<uint8_t>(out[x >> 3] | (0x80 >> (x & 7)));
      }
    }
    return img.write_pixels(rect, f, bits.data(), static_cast<int32_t>(stride));
  }
  if (f == raster::pf::k8bppIndexed) {
    const bool gray = palette_is_gray(pal);
    if (gray || raster::is_old_version()) {
      std::vector<uint8_t> idx(w * static_cast<size_t>(z.h));
      if (gray) {
        // Index of the entry nearest to the red value: the red value itself on
        // the 0..255 ramp, the closest gray level on any other gray table.
        uint8_t lut[256];
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
          lut[v] = static_cast<uint8_t>(best);
        }
        for (size_t i = 0; i < idx.size(); ++i) idx[i] = lut[red_of(z.px[i])];
      } else {
        // Older raster layers do not map colours into a palette themselves:
        // nearest entry by squared RGB distance, the first minimum winning.
        raster::PaletteMatcher m(pal);
        for (size_t i = 0; i < idx.size(); ++i) idx[i] = m.nearest(z.px[i]);
      }
      return img.write_pixels(rect, f, idx.data(), z.w);
    }
  }
  return img.write_pixels(rect, raster::pf::k32bppARGB, reinterpret_cast<uint8_t*>(z.px),
                          z.w * 4);
}

}  // namespace

void SeedRandomForTesting(uint64_t seed) {
  g_random.seed(seed);
}

double NextUniform() {
  return g_random.next();
}

void SetMatchPatterns(const Pattern3x3& in, const Pattern3x3& out) {
  g_match_in = in;
  g_match_out = out;
}

const Pattern3x3& MatchIn() {
  return g_match_in;
}
const Pattern3x3& MatchOut() {
  return g_match_out;
}

FilterResult ApplyPixelFilter(int32_t effect, raster::Image& img, const FilterParams& p,
                              const FilterZoneFields& zone) {
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
  if (f == raster::pf::k32bppARGB && zone.left == 0 && zone.width == img.width() &&
      static_cast<int64_t>(s.stride) == static_cast<int64_t>(zone.width) * 4 &&
      reinterpret_cast<uintptr_t>(s.scan0) % alignof(uint32_t) == 0) {
    const Pixels z{reinterpret_cast<uint32_t*>(s.row(zone.top)), zone.width, zone.height};
    if (!run_effect(effect, z, p, r)) r.status = raster::Status::InvalidParameter;
    return r;
  }

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
  const raster::Rect rect{zone.left, zone.top, zone.width, zone.height};
  r.status = img.read_pixels(rect, raster::pf::k32bppARGB, reinterpret_cast<uint8_t*>(work.get()),
                             zone.width * 4);
  if (r.status != raster::Status::Ok) return r;
  const Pixels z{work.get(), zone.width, zone.height};
  if (!run_effect(effect, z, p, r)) {
    r.status = raster::Status::InvalidParameter;
    return r;
  }
  if (effect == kIsGrayscaleTest || effect == kIsBlankTest) return r;
  r.status = write_back(img, rect, z);
  return r;
}

}  // namespace korvex::filters
