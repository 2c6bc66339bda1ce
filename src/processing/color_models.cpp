#include "processing/color_models.h"

#include <algorithm>
#include <cmath>

#include "processing/filter_engine.h"
#include "raster/rounding.h"

namespace korvex::colors {

namespace {
// num / den rounded half to even. Both are small integers, so the quotient
// of doubles is exact wherever it is a tie and the rounding is the exact one.
int32_t round_div(int32_t num, int32_t den) {
  return RoundHalfEven(static_cast<double>(num) / den);
}
}  // namespace

void cCMYK::FromCMY(int32_t c, int32_t m, int32_t y) {
  r_ = 255 - (c & 0xFF);
  g_ = 255 - (m & 0xFF);
  b_ = 255 - (y & 0xFF);
  to_inks();
}

void cCMYK::FromCMYK(int32_t c, int32_t m, int32_t y, int32_t k) {
  c_ = c & 0xFF;
  m_ = m & 0xFF;
  y_ = y & 0xFF;
  k_ = k & 0xFF;
  to_colour();
}

cCMY cCMYK::ToCMY() const {
  cCMY out;
  out.RGB(RGB());
  return out;
}

// Black takes the part the three complements share; each colour ink is what
// is left of its complement, stretched back over the range black leaves.
void cCMYK::to_inks() {
  const int32_t cp = 255 - r_, mp = 255 - g_, yp = 255 - b_;
  k_ = std::min({cp, mp, yp});
  if (k_ == 255) {
    c_ = m_ = y_ = 255;
    return;
  }
  c_ = round_div((cp - k_) * 255, 255 - k_);
  m_ = round_div((mp - k_) * 255, 255 - k_);
  y_ = round_div((yp - k_) * 255, 255 - k_);
}

// Each ink covers the range black leaves, black added on top:
// 255 - min(255, round(ink x (255 - K) / 255 + K)).
void cCMYK::to_colour() {
  auto channel = [this](int32_t ink) {
    return 255 - std::min(255, round_div(ink * (255 - k_) + 255 * k_, 255));
  };
  r_ = channel(c_);
  g_ = channel(m_);
  b_ = channel(y_);
}

namespace HSL {

void RgbToHsl(uint8_t r8, uint8_t g8, uint8_t b8, double& h, double& s, double& l) {
  const double r = r8 / 255.0, g = g8 / 255.0, b = b8 / 255.0;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  l = (mx + mn) / 2.0;
  if (mx == mn) {
    h = 0.0;
    s = 0.0;
    return;
  }
  const double d = mx - mn;
  s = l <= 0.5 ? d / (mx + mn) : d / (2.0 - mx - mn);
  if (r == mx) {
    h = (g - b) / d;  // -1 (magenta) .. 1 (yellow)
  } else if (g == mx) {
    h = 2.0 + (b - r) / d;
  } else {
    h = 4.0 + (r - g) / d;
  }
}

void HslToRgb(double h, double s, double l, uint8_t& r, uint8_t& g, uint8_t& b) {
  int32_t ri, gi, bi;
  filters::HslToRgb(h, s, l, ri, gi, bi);
  r = static_cast<uint8_t>(std::clamp(ri, 0, 255));
  g = static_cast<uint8_t>(std::clamp(gi, 0, 255));
  b = static_cast<uint8_t>(std::clamp(bi, 0, 255));
}

bool IsValidHsl(double h, double s, double l) {
  // Comparisons are false for NaN, so a NaN anywhere is refused too.
  return h >= -1.0 && h <= 5.0 && s >= 0.0 && s <= 1.0 && l >= 0.0 && l <= 1.0;
}

}  // namespace HSL

}  // namespace korvex::colors
