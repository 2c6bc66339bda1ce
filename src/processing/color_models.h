// Colour values and colour models: packed ARGB and RGB values, the
// complementary CMY model, the CMYK model with its black generation, and HSL
// with the hue in sextants.
//
// Packed layouts:
//  - ARGB value: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7 (as a
//    signed 32-bit value, opaque colours are negative).
//  - RGB value: red in bits 0-7, green 8-15, blue 16-23 (red + 256 green +
//    65536 blue), the layout of GDI colour references.
//
// The models work on channel values 0..255; every value a setter receives is
// taken modulo 256 (its low byte), so the fields never leave that range.
#pragma once

#include <cstdint>

namespace korvex::colors {

// One 32-bit ARGB value (initially 0).
class cColor {
 public:
  void FromARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) { value_ = MakeARGB(a, r, g, b); }
  void FromARGBColor(int32_t value) { value_ = value; }  // stored as is
  void FromRGB(uint8_t r, uint8_t g, uint8_t b) { value_ = MakeARGB(255, r, g, b); }
  void FromRGBColor(int32_t rgb) { SetFromCOLORREF(rgb); }
  uint8_t GetAlpha() const { return byte(24); }
  uint8_t GetBlue() const { return byte(0); }
  uint8_t GetGreen() const { return byte(8); }
  uint8_t GetRed() const { return byte(16); }
  int32_t GetValue() const { return value_; }
  // a x 2^24 + r x 2^16 + g x 2^8 + b, as a signed 32-bit value.
  static int32_t MakeARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 |
                                static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b));
  }
  // Opaque ARGB with the red, green and blue of an RGB value.
  void SetFromCOLORREF(int32_t rgb) {
    const auto v = static_cast<uint32_t>(rgb);
    value_ = MakeARGB(255, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v >> 16));
  }
  void SetValue(int32_t value) { value_ = value; }

 private:
  uint8_t byte(int shift) const {
    return static_cast<uint8_t>(static_cast<uint32_t>(value_) >> shift);
  }
  int32_t value_ = 0;
};

// Red + 256 green + 65536 blue.
inline int32_t MakeRGBValue(int32_t r, int32_t g, int32_t b) {
  return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16;
}

// R, G, B and their complements C = 255 - R, M = 255 - G, Y = 255 - B, kept
// in step: setting either member of a pair sets the other.
class cCMY {
 public:
  int32_t RGB() const { return MakeRGBValue(r_, g_, b_); }
  void RGB(int32_t rgb) {
    R(rgb);
    G(rgb >> 8);
    B(rgb >> 16);
  }
  int32_t R() const { return r_; }
  int32_t G() const { return g_; }
  int32_t B() const { return b_; }
  int32_t C() const { return 255 - r_; }
  int32_t M() const { return 255 - g_; }
  int32_t y() const { return 255 - b_; }
  void R(int32_t v) { r_ = v & 0xFF; }
  void G(int32_t v) { g_ = v & 0xFF; }
  void B(int32_t v) { b_ = v & 0xFF; }
  void C(int32_t v) { r_ = 255 - (v & 0xFF); }
  void M(int32_t v) { g_ = 255 - (v & 0xFF); }
  void y(int32_t v) { b_ = 255 - (v & 0xFF); }
  void FromCMY(int32_t c, int32_t m, int32_t y_) {
    C(c);
    M(m);
    y(y_);
  }

 private:
  int32_t r_ = 255, g_ = 255, b_ = 255;  // C = M = Y = 0
};

// R, G, B and the inks C, M, Y, K. Setting a colour channel recomputes the
// inks (K = the least of the three complements, the rest spread over the
// remaining range); setting an ink recomputes the colour. Both directions
// round half to even.
class cCMYK {
 public:
  int32_t RGB() const { return MakeRGBValue(r_, g_, b_); }
  void RGB(int32_t rgb) {
    r_ = rgb & 0xFF;
    g_ = (rgb >> 8) & 0xFF;
    b_ = (rgb >> 16) & 0xFF;
    to_inks();
  }
  int32_t R() const { return r_; }
  int32_t G() const { return g_; }
  int32_t B() const { return b_; }
  int32_t C() const { return c_; }
  int32_t M() const { return m_; }
  int32_t y() const { return y_; }
  int32_t K() const { return k_; }
  void R(int32_t v) { set_colour(r_, v); }
  void G(int32_t v) { set_colour(g_, v); }
  void B(int32_t v) { set_colour(b_, v); }
  void C(int32_t v) { set_ink(c_, v); }
  void M(int32_t v) { set_ink(m_, v); }
  void y(int32_t v) { set_ink(y_, v); }
  void K(int32_t v) { set_ink(k_, v); }
  // R = 255 - c, G = 255 - m, B = 255 - y; the inks follow.
  void FromCMY(int32_t c, int32_t m, int32_t y);
  void FromCMYK(int32_t c, int32_t m, int32_t y, int32_t k);
  cCMY ToCMY() const;

 private:
  void set_colour(int32_t& f, int32_t v) {
    f = v & 0xFF;
    to_inks();
  }
  void set_ink(int32_t& f, int32_t v) {
    f = v & 0xFF;
    to_colour();
  }
  void to_inks();
  void to_colour();
  int32_t r_ = 255, g_ = 255, b_ = 255;
  int32_t c_ = 0, m_ = 0, y_ = 0, k_ = 0;
};

// HSL with the hue in sextants: -1 <= H < 5 (red 0, yellow 1, green 2, cyan 3,
// blue 4, magenta 5 or -1); saturation and lightness in 0..1.
namespace HSL {

void RgbToHsl(uint8_t r, uint8_t g, uint8_t b, double& h, double& s, double& l);
// The routine of the Colorize effect; each channel rounded from value x 255,
// limited to 0..255.
void HslToRgb(double h, double s, double l, uint8_t& r, uint8_t& g, uint8_t& b);
// True for the values HslToRgb accepts: numbers with -1 <= h <= 5 and s, l
// in 0..1.
bool IsValidHsl(double h, double s, double l);

}  // namespace HSL

}  // namespace korvex::colors
