// Point effects: every output pixel depends on the same input pixel only
// (plus, for Contrast, Stretch and error-diffusion dithering, on statistics
// of the whole zone). Channel maps are 256-entry tables and sums of R + G + B
// index 766-entry tables, so the inner loops do no floating-point work.
#include <cmath>
#include <cstring>
#include <vector>

#include "processing/filter_engine.h"
#include "processing/lut_apply.h"
#include "raster/rounding.h"

namespace korvex::filters {

namespace {

inline uint32_t ch_b(uint32_t p) {
  return p & 0xFF;
}
inline uint32_t ch_g(uint32_t p) {
  return (p >> 8) & 0xFF;
}
inline uint32_t ch_r(uint32_t p) {
  return (p >> 16) & 0xFF;
}
inline uint32_t with_rgb(uint32_t p, uint32_t r, uint32_t g, uint32_t b) {
  return (p & 0xFF000000u) | r << 16 | g << 8 | b;
}
inline int32_t clamp255(int32_t v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}
inline int32_t clamp255(int64_t v) {
  return static_cast<int32_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}
inline uint8_t byte_of(double v) {
  return static_cast<uint8_t>(clamp255(static_cast<int64_t>(RoundHalfEven(v))));
}

size_t count_of(const Pixels& z) {
  return static_cast<size_t>(z.w) * static_cast<size_t>(z.h);
}

// A percentage turned into the factor (p + 100) / 100, kept in single precision.
float percent_factor(int32_t p) {
  return static_cast<float>((p + 100.0) / 100.0);
}

void brightness(const Pixels& z, int32_t pct) {
  const float f = percent_factor(pct);
  Lut t;
  for (int i = 0; i < 256; ++i) t[i] = byte_of(static_cast<double>(f) * i);
  ApplyLut3(z.px, count_of(z), t, t, t);
}

void swap_channels(const Pixels& z, int32_t mode) {
  if (mode < 1 || mode > 5) return;
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i], r = ch_r(p), g = ch_g(p), b = ch_b(p);
    switch (mode) {
      case 1:
        px[i] = with_rgb(p, b, r, g);
        break;
      case 2:
        px[i] = with_rgb(p, g, b, r);
        break;
      case 3:
        px[i] = with_rgb(p, r, b, g);
        break;
      case 4:
        px[i] = with_rgb(p, b, g, r);
        break;
      default:
        px[i] = with_rgb(p, g, r, b);
        break;
    }
  }
}

// Mean of floor((R + G + B) / 3) over the zone, integer division; the sum is
// 64-bit so very large zones keep the right mean.
int32_t mean_gray(const Pixels& z) {
  return static_cast<int32_t>(SumGray(z.px, count_of(z)) / count_of(z));
}

int32_t zone_mean(const Pixels& z, const BandContext* band) {
  if (band == nullptr) return mean_gray(z);
  return band->pixels == 0 ? 0 : static_cast<int32_t>(band->gray_sum / band->pixels);
}

// Brings an out-of-range contrast result back into 0..255 by handing half of
// each channel's excess to the two others, until all three fit.
void contrast_fix(int32_t& b, int32_t& g, int32_t& r) {
  for (int guard = 0; guard < 64; ++guard) {
    if ((b | g | r) >= 0 && b <= 255 && g <= 255 && r <= 255) return;
    if (b <= 0 && g <= 0 && r <= 0) {
      b = g = r = 0;
      return;
    }
    if (b >= 255 && g >= 255 && r >= 255) {
      b = g = r = 255;
      return;
    }
    if (b < 0 || b > 255) {
      const int32_t e = b < 0 ? b : b - 255;
      r += e / 2;
      g += e / 2;
      b = b < 0 ? 0 : 255;
    }
    if (g < 0 || g > 255) {
      const int32_t e = g < 0 ? g : g - 255;
      r += e / 2;
      b += e / 2;
      g = g < 0 ? 0 : 255;
    }
    if (r < 0 || r > 255) {
      const int32_t e = r < 0 ? r : r - 255;
      g += e / 2;
      b += e / 2;
      r = r < 0 ? 0 : 255;
    }
  }
  b = clamp255(b);
  g = clamp255(g);
  r = clamp255(r);
}

void contrast(const Pixels& z, int32_t pct, int32_t mean) {
  const float f = percent_factor(pct);
  int32_t l[256];
  bool all_inside = true;
  Lut t;
  for (int i = 0; i < 256; ++i) {
    l[i] = RoundHalfEven((i - mean) * static_cast<double>(f) + mean);
    if (l[i] < 0 || l[i] > 255) all_inside = false;
    t[i] = static_cast<uint8_t>(clamp255(l[i]));
  }
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  if (all_inside) {  // a plain channel map
    ApplyLut3(px, n, t, t, t);
    return;
  }
  // A pixel with any channel out of range takes the redistribution; the
  // vector path runs it on sixteen pixels at once.
  if (ApplyContrastTable(px, n, l)) return;
  Lut outside;
  for (int i = 0; i < 256; ++i) outside[i] = (l[i] < 0 || l[i] > 255) ? 0xFF : 0;
  ApplyLutWithExceptions(
      px, n, t, outside,
      [](uint32_t p, const void* ctx) {
        const int32_t* lt = static_cast<const int32_t*>(ctx);
        int32_t b = lt[ch_b(p)], g = lt[ch_g(p)], r = lt[ch_r(p)];
        contrast_fix(b, g, r);
        return with_rgb(p, static_cast<uint32_t>(r), static_cast<uint32_t>(g),
                        static_cast<uint32_t>(b));
      },
      l);
}

void threshold_bw(const Pixels& z, int32_t rgb) {
  const uint32_t kr = rgb & 0xFF, kg = (rgb >> 8) & 0xFF, kb = (rgb >> 16) & 0xFF;
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    const bool black = ch_r(p) < kr && ch_g(p) < kg && ch_b(p) < kb;
    px[i] = (p & 0xFF000000u) | (black ? 0u : 0x00FFFFFFu);
  }
}

// 4 x 4 ordered-dither thresholds (1..16), column fastest.
constexpr uint8_t kDither[16] = {1, 13, 4, 16, 9, 5, 12, 8, 3, 15, 2, 14, 11, 7, 10, 6};

void ordered_dither(const Pixels& z, int32_t top) {
  // Level (gray / 16 + 1) against threshold t reduces to gray >= 16 (t - 1);
  // gray = floor(sum / 3), so to sum >= 48 (t - 1).
  for (int32_t y = 0; y < z.h; ++y) {
    uint32_t limit[4];
    const int32_t phase = (top + y) & 3;
    for (int k = 0; k < 4; ++k) limit[k] = 48u * (kDither[k + 4 * phase] - 1u);
    ThresholdRow4(z.row(y), static_cast<size_t>(z.w), limit);
  }
}

// Error diffusion over rows [0, z.h) of a band whose first row is zone row
// `top`; the two error rows carry from one band to the next in `cur` and
// `next` (zone width + 4 entries each, zero at the start of the zone).
void diffusion_rows(const Pixels& z, int32_t mean, int32_t top, int32_t zone_h,
                    std::vector<int32_t>& cur, std::vector<int32_t>& next) {
  // Seven shares of every error value -255..255 (8 4 / 2 4 8 4 2, over 32).
  static constexpr int kWeights[7] = {8, 4, 2, 4, 8, 4, 2};
  int32_t shares[511 * 7];
  for (int e = -255; e <= 255; ++e) {
    for (int k = 0; k < 7; ++k) shares[(e + 255) * 7 + k] = e * kWeights[k] / 32;
  }
  const int32_t w = z.w;
  for (int32_t y = 0; y < z.h; ++y) {
    uint32_t* row = z.row(y);
    const bool last = top + y == zone_h - 1;
    // Two spare slots on each side keep the spreading free of bounds tests
    // on the common path; edge slots are excluded by the conditions below.
    int32_t* c = cur.data() + 2;
    int32_t* nx = next.data() + 2;
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t p = row[x];
      const int32_t gray = static_cast<int32_t>((ch_r(p) + ch_g(p) + ch_b(p)) / 3);
      const int32_t v = clamp255(gray + 10 * c[x]);
      const int32_t out = v < mean ? 0 : 255;
      row[x] = (p & 0xFF000000u) | (out ? 0x00FFFFFFu : 0u);
      const int32_t* s = &shares[(v - out + 255) * 7];
      if (x + 1 < w) c[x + 1] += s[0];
      if (x + 2 < w) c[x + 2] += s[1];
      if (!last) {
        if (x >= 2) nx[x - 2] += s[2];
        if (x >= 1) nx[x - 1] += s[3];
        nx[x] += s[4];
        if (x + 1 < w) nx[x + 1] += s[5];
        if (x + 2 < w) nx[x + 2] += s[6];
      }
    }
    cur.swap(next);
    std::fill(next.begin(), next.end(), 0);
  }
}

void diffusion_dither(const Pixels& z, BandContext* band) {
  if (band == nullptr) {
    std::vector<int32_t> cur(static_cast<size_t>(z.w) + 4, 0), next(cur.size(), 0);
    diffusion_rows(z, mean_gray(z), 0, z.h, cur, next);
    return;
  }
  if (band->err_cur.size() != static_cast<size_t>(z.w) + 4) {
    band->err_cur.assign(static_cast<size_t>(z.w) + 4, 0);
    band->err_next.assign(static_cast<size_t>(z.w) + 4, 0);
  }
  diffusion_rows(z, zone_mean(z, band), band->top, band->zone_h, band->err_cur, band->err_next);
}

// Minimum and maximum of each channel (B, G, R), folded into lo and hi.
void channel_ranges(const Pixels& z, uint32_t lo[3], uint32_t hi[3]) {
  const size_t n = count_of(z);
  const uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = (p >> (8 * c)) & 0xFF;
      lo[c] = v < lo[c] ? v : lo[c];
      hi[c] = v > hi[c] ? v : hi[c];
    }
  }
}

void stretch(const Pixels& z, const BandContext* band) {
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  uint32_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  if (band == nullptr) {
    channel_ranges(z, lo, hi);
  } else {
    for (int c = 0; c < 3; ++c) lo[c] = band->lo[c], hi[c] = band->hi[c];
  }
  Lut t[3];
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 256; ++i) {
      // A channel that is constant over the zone has nothing to stretch: it stays.
      t[c][i] = hi[c] == lo[c] ? static_cast<uint8_t>(i)
                               : byte_of((i - static_cast<double>(lo[c])) * 255.0 /
                                         (static_cast<double>(hi[c]) - lo[c]));
    }
  }
  ApplyLut3(px, n, t[2], t[1], t[0]);
}

void add_noise(const Pixels& z, int32_t level) {
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  const double span = 2.0 * level + 1.0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    uint32_t out = p & 0xFF000000u;
    for (int c = 0; c < 3; ++c) {  // blue, then green, then red
      const double v = static_cast<double>((p >> (8 * c)) & 0xFF) + (span * NextUniform() - level);
      out |= static_cast<uint32_t>(byte_of(v)) << (8 * c);
    }
    px[i] = out;
  }
}

void saturation(const Pixels& z, int32_t pct) {
  const float s = static_cast<float>(pct / 100.0);
  // c + round((c - m) * s) differs from round(c + (c - m) * s) on ties when c
  // is odd, so there is one table for even and one for odd channel values.
  int32_t even[511], odd[511];
  for (int d = -255; d <= 255; ++d) {
    const double v = d * static_cast<double>(s);
    even[d + 255] = RoundHalfEven(v);
    odd[d + 255] = RoundHalfEven(1.0 + v) - 1;
  }
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    const int32_t r = static_cast<int32_t>(ch_r(p)), g = static_cast<int32_t>(ch_g(p)),
                  b = static_cast<int32_t>(ch_b(p));
    const int32_t m = (r + g + b) / 3;
    auto map = [&](int32_t c) {
      const int32_t d = c - m + 255;
      return static_cast<uint32_t>(clamp255(c + ((c & 1) ? odd[d] : even[d])));
    };
    px[i] = with_rgb(p, map(r), map(g), map(b));
  }
}

void gamma(const Pixels& z, int32_t g) {
  const double e = 1.0 / (g / 100.0);
  Lut t;
  for (int i = 0; i < 256; ++i) t[i] = byte_of(std::pow(i / 255.0, e) * 255.0);
  ApplyLut3(z.px, count_of(z), t, t, t);
}

// Rows pair up from the zone's top: the first of a pair takes Up, the second
// Down; the last row of an odd-height zone has no partner and stays.
void scan_line(const Pixels& z, int32_t top, int32_t zone_h) {
  Lut up, down;
  for (int i = 0; i < 256; ++i) {
    up[i] = i * 1.2 <= 255.0 ? byte_of(i * 1.2) : 255;
    down[i] = byte_of(i * 0.8);
  }
  const size_t w = static_cast<size_t>(z.w);
  for (int32_t y = 0; y < z.h; ++y) {
    const int32_t zy = top + y;
    if ((zy & 1) != 0) {
      ApplyLut3(z.row(y), w, down, down, down);
    } else if (zy + 1 < zone_h) {
      ApplyLut3(z.row(y), w, up, up, up);
    }
  }
}

void colorize(const Pixels& z, const ColorizeParams& c) {
  // The result depends on R + G + B only: one table of 766 colours.
  std::vector<uint32_t> table(766);
  for (int s = 0; s <= 765; ++s) {
    const double lum = s / 765.0 * static_cast<double>(c.luminosity);
    int32_t r, g, b;
    HslToRgb(c.hue, c.saturation, lum, r, g, b);
    table[static_cast<size_t>(s)] = static_cast<uint32_t>(clamp255(r)) << 16 |
                                    static_cast<uint32_t>(clamp255(g)) << 8 |
                                    static_cast<uint32_t>(clamp255(b));
  }
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t q = px[i];
    px[i] = (q & 0xFF000000u) | table[ch_r(q) + ch_g(q) + ch_b(q)];
  }
}

void transparency(const Pixels& z, int32_t v) {
  uint32_t t[256];
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<uint32_t>(clamp255(static_cast<int64_t>(i) + v)) << 24;
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) px[i] = (px[i] & 0x00FFFFFFu) | t[px[i] >> 24];
}

void adjust_rgb(const Pixels& z, int32_t dr, int32_t dg, int32_t db) {
  Lut tr, tg, tb;
  for (int i = 0; i < 256; ++i) {
    tr[i] = static_cast<uint8_t>(clamp255(static_cast<int64_t>(i) + dr));
    tg[i] = static_cast<uint8_t>(clamp255(static_cast<int64_t>(i) + dg));
    tb[i] = static_cast<uint8_t>(clamp255(static_cast<int64_t>(i) + db));
  }
  ApplyLut3(z.px, count_of(z), tr, tg, tb);
}

void red_eyes(const Pixels& z) {
  uint32_t half[256];  // round(i / 2), halves to even
  for (uint32_t i = 0; i < 256; ++i) half[i] = static_cast<uint32_t>(RoundHalfEven(i / 2.0));
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i], r = ch_r(p);
    if (r > 3 * half[ch_b(p)] && r > 3 * half[ch_g(p)]) {
      px[i] = (p & 0xFF00FFFFu) | half[r] << 16;
    }
  }
}

void and_mask(const Pixels& z, uint32_t mask) {
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) px[i] &= mask;
}

void scale_channel(const Pixels& z, int shift, float f) {
  Lut same, t;
  for (int i = 0; i < 256; ++i) {
    same[i] = static_cast<uint8_t>(i);
    // A negative factor would give negative bytes: limited to 0 as well as 255.
    t[i] = byte_of(i * static_cast<double>(f));
  }
  ApplyLut3(z.px, count_of(z), shift == 16 ? t : same, shift == 8 ? t : same,
            shift == 0 ? t : same);
}

void transparent_color(const Pixels& z, uint32_t argb) {
  const uint32_t key = argb & 0x00FFFFFFu;
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    if ((px[i] & 0x00FFFFFFu) == key) px[i] = key;
  }
}

void swap_color(const Pixels& z, uint32_t from, uint32_t to) {
  const size_t n = count_of(z);
  uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    if (px[i] == from) px[i] = to;
  }
}

}  // namespace

void HslToRgb(double h, double s, double l, int32_t& r, int32_t& g, int32_t& b) {
  double rv, gv, bv;
  if (s == 0.0) {
    rv = gv = bv = l;
  } else {
    const double m1 = l <= 0.5 ? (1.0 - s) * l : l - (1.0 - l) * s;
    const double m2 = 2.0 * l - m1;
    const double d = m2 - m1;
    if (h < 0.0) {
      rv = m2, gv = m1, bv = m1 - d * h;
    } else if (h < 1.0) {
      rv = m2, gv = m1 + d * h, bv = m1;
    } else if (h < 2.0) {
      rv = m1 - d * (h - 2.0), gv = m2, bv = m1;
    } else if (h < 3.0) {
      rv = m1, gv = m2, bv = m1 + d * (h - 2.0);
    } else if (h < 4.0) {
      rv = m1, gv = m1 - d * (h - 4.0), bv = m2;
    } else {
      rv = m1 + d * (h - 4.0), gv = m1, bv = m2;
    }
  }
  r = RoundHalfEven(rv * 255.0);
  g = RoundHalfEven(gv * 255.0);
  b = RoundHalfEven(bv * 255.0);
}

bool IsPointEffect(int32_t effect) {
  switch (effect) {
    case kNegative:
    case kGrayscale:
    case kBrightness:
    case kSwapChannels:
    case kContrast:
    case kThresholdBW:
    case kOrderedDitherBW:
    case kDiffusionDitherBW:
    case kStretch:
    case kAddNoise:
    case kSaturation:
    case kGamma:
    case kScanLine:
    case kColorize:
    case kTransparency:
    case kAdjustRGB:
    case kRedEyes:
    case kKeepRed:
    case kKeepGreen:
    case kKeepBlue:
    case kRemoveRed:
    case kRemoveGreen:
    case kRemoveBlue:
    case kScaleRed:
    case kScaleGreen:
    case kScaleBlue:
    case kTransparentColor:
    case kSwapColor:
      return true;
    default:
      return false;
  }
}

bool NeedsZoneStats(int32_t effect) {
  return effect == kContrast || effect == kDiffusionDitherBW || effect == kStretch;
}

void GatherZoneStats(int32_t effect, const Pixels& band, BandContext& ctx) {
  if (effect == kStretch) {
    channel_ranges(band, ctx.lo, ctx.hi);
  } else {
    ctx.gray_sum += SumGray(band.px, count_of(band));
  }
  ctx.pixels += count_of(band);
}

bool RunPointEffect(int32_t effect, const Pixels& z, const FilterParams& p, BandContext* band) {
  const int32_t ip = static_cast<int32_t>(p.param);
  const int32_t top = band ? band->top : 0;
  const int32_t zone_h = band ? band->zone_h : z.h;
  switch (effect) {
    case kNegative:
      ApplyNegative(z.px, count_of(z));
      break;
    case kGrayscale:
      ApplyGrayscale(z.px, count_of(z));
      break;
    case kBrightness:
      brightness(z, ip);
      break;
    case kSwapChannels:
      swap_channels(z, ip);
      break;
    case kContrast:
      contrast(z, ip, zone_mean(z, band));
      break;
    case kThresholdBW:
      threshold_bw(z, ip);
      break;
    case kOrderedDitherBW:
      ordered_dither(z, top);
      break;
    case kDiffusionDitherBW:
      diffusion_dither(z, band);
      break;
    case kStretch:
      stretch(z, band);
      break;
    case kAddNoise:
      add_noise(z, ip);
      break;
    case kSaturation:
      saturation(z, ip);
      break;
    case kGamma:
      if (ip <= 0) return false;
      gamma(z, ip);
      break;
    case kScanLine:
      scan_line(z, top, zone_h);
      break;
    case kColorize:
      colorize(z, p.colorize);
      break;
    case kTransparency:
      transparency(z, ip);
      break;
    case kAdjustRGB:
      adjust_rgb(z, p.offsets.red, p.offsets.green, p.offsets.blue);
      break;
    case kRedEyes:
      red_eyes(z);
      break;
    case kKeepRed:
      and_mask(z, 0xFFFF0000u);
      break;
    case kKeepGreen:
      and_mask(z, 0xFF00FF00u);
      break;
    case kKeepBlue:
      and_mask(z, 0xFF0000FFu);
      break;
    case kRemoveRed:
      and_mask(z, 0xFF00FFFFu);
      break;
    case kRemoveGreen:
      and_mask(z, 0xFFFF00FFu);
      break;
    case kRemoveBlue:
      and_mask(z, 0xFFFFFF00u);
      break;
    case kScaleRed:
      scale_channel(z, 16, static_cast<float>(p.param));
      break;
    case kScaleGreen:
      scale_channel(z, 8, static_cast<float>(p.param));
      break;
    case kScaleBlue:
      scale_channel(z, 0, static_cast<float>(p.param));
      break;
    case kTransparentColor:
      transparent_color(z, p.colors.from);
      break;
    case kSwapColor:
      swap_color(z, p.colors.from, p.colors.to);
      break;
    default:
      return false;
  }
  return true;
}

int32_t IsGrayscaleZone(const Pixels& z) {
  const size_t n = count_of(z);
  const uint32_t* px = z.px;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    if (ch_r(p) != ch_g(p) || ch_g(p) != ch_b(p)) return 0;  // first colour pixel ends the scan
  }
  return 1;
}

uint64_t CountInkPixels(const Pixels& z, int32_t confidence) {
  // A pixel is ink when 765 - (R + G + B) > t, that is when R + G + B < 765 - t.
  const int64_t t = static_cast<int64_t>(std::floor((100.0 - confidence) * 7.65));
  const int64_t limit = 765 - t;
  const size_t n = count_of(z);
  const uint32_t* px = z.px;
  uint64_t ink = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = px[i];
    ink += static_cast<int64_t>(ch_r(p) + ch_g(p) + ch_b(p)) < limit ? 1 : 0;
  }
  return ink;
}

int32_t IsBlankAnswer(int32_t w, int32_t h, int32_t confidence, uint64_t ink) {
  const double allowed = static_cast<double>(w) * h / 100.0 * (100.0 - confidence);
  return allowed >= static_cast<double>(ink) ? 1 : 0;
}

int32_t IsBlankZone(const Pixels& z, int32_t confidence) {
  return IsBlankAnswer(z.w, z.h, confidence, CountInkPixels(z, confidence));
}

}  // namespace korvex::filters
