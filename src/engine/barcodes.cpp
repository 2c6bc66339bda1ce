// Barcode members: EAN-13, Code 39 and Interleaved 2 of 5 drawn on the native
// image, and their check characters.
//
// A symbol is rendered onto the image's own pixel format, indexed and 1-bit
// images included: opaque bars straight onto its pixels, translucent ones
// and the digits through one drawing session. Input is checked before
// anything is drawn: an invalid text, a bar height below one pixel or a
// missing font leave the image untouched.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "barcode/bar_renderer.h"
#include "barcode/barcode.h"
#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/cp1252.h"
#include "raster/graphics.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/rounding.h"
#include "raster/strings.h"

namespace korvex {

namespace {

using barcode::cBarCode;
using RStatus = raster::Status;

constexpr cKorvexStatus kInvalid = cKorvexStatus::InvalidBarCode;

// One byte per character (code page 1252; characters outside it become '?',
// which no symbology encodes), without leading and trailing spaces.
std::string code_text(const std::string& utf8, bool trim = true) {
  const std::vector<uint8_t> bytes = raster::utf8_to_cp1252(utf8);
  std::string s(bytes.begin(), bytes.end());
  return trim ? TrimSpaces(s) : s;
}

// Narrow module width in pixels for a bar height.
double module_width(int32_t height) {
  return std::max(1.0, raster::round_half_even(height / 35.0));
}

// Digits printed under an EAN-13 symbol: text and 1-based left edge.
struct Caption {
  std::string text;
  double x;
};

struct Symbol {
  std::string modules;
  double module = 1;
  double guard = 0;  // how much shorter the bars between guards are
  std::vector<Caption> captions;
  int32_t font_height = 0;
  double caption_y = 0;  // 1-based top of the captions
};

// Paints a symbol with its top-left bar corner at (x, y), 1-based. The font
// is resolved and the drawing surface opened before anything is drawn. Bars
// of an opaque colour lie on whole pixels and cover them fully, so they go
// straight onto the image's pixels (what the surface would give, without
// its 32-bit proxy of the symbol's rectangle); translucent bars and the
// digits are composited by the surface.
RStatus paint(const cKorvex::State& s, raster::Image& img, const Symbol& sym, int32_t x, int32_t y,
              int32_t height, uint32_t argb) {
  raster::Font font;
  if (!sym.captions.empty()) {
    const RStatus st =
        raster::Font::create("Arial", static_cast<float>(sym.font_height), raster::Font::Regular,
                             static_cast<raster::Unit>(s.FontUnit), img.dpi_y(), font);
    if (st != RStatus::Ok) return st;
  }
  std::unique_ptr<raster::Graphics> g;
  RStatus st = raster::Graphics::open(img, g);
  if (st != RStatus::Ok) return st;
  // Drawing coordinates are 0-based.
  const std::vector<barcode::BarRect> bars =
      barcode::LayOutBars(sym.modules, x - 1.0, y - 1.0, sym.module, height, sym.guard);
  st = (argb >> 24) == 0xFF ? barcode::FillBars(img, bars, argb)
                            : barcode::PaintBars(*g, bars, argb);
  if (st == RStatus::Ok && !sym.captions.empty()) {
    g->set_text_hint(raster::TextHint::AntiAlias);
    const raster::Brush ink = raster::Brush::solid(argb);
    for (const Caption& c : sym.captions) {
      st = g->draw_string(c.text, font, ink, {c.x - 1.0, sym.caption_y - 1.0});
      if (st != RStatus::Ok) break;
    }
  }
  const RStatus flushed = g->flush();
  return st != RStatus::Ok ? st : flushed;
}

cKorvexStatus draw_symbol(cKorvex::State& s, const Symbol& sym, int32_t x, int32_t y,
                          int32_t height, int32_t color) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return SetStatus(s, RStatus::InvalidParameter);
  return SetStatus(s, raster::guarded([&] {
                     return paint(s, *img, sym, x, y, height, static_cast<uint32_t>(color));
                   }));
}

// The common frame of the draw members: native image, bar height, symbol.
template <class Build>
cKorvexStatus draw_member(cKorvex::State& s, int32_t x, int32_t y, int32_t height, int32_t color,
                          Build&& build) {
  if (s.NativeImage == 0) return s.LastStatus;
  if (height < 1) return SetStatus(s, RStatus::InvalidParameter);
  Symbol sym;
  sym.module = module_width(height);
  if (!build(sym)) {
    s.LastStatus = kInvalid;
    return kInvalid;
  }
  return draw_symbol(s, sym, x, y, height, color);
}

}  // namespace

cKorvexStatus cKorvex::BarCodeDrawEAN13(const std::string& sCode, int32_t nDstX, int32_t nDstY,
                                        int32_t nHeight, int32_t nFontHeight, int32_t nColor) {
  return draw_member(*s_, nDstX, nDstY, nHeight, nColor, [&](Symbol& sym) {
    std::string code = code_text(sCode);
    if (code.size() == 12) {
      code = cBarCode::CalculNumControlCodeBarre(code);
    } else if (!cBarCode::CheckSumValide(code)) {
      return false;
    }
    sym.modules = cBarCode::EAN13_Binaire(code);
    if (sym.modules.empty()) return false;  // not digits
    if (nFontHeight > 0) {
      const double m = sym.module;
      sym.guard = raster::round_half_even(nHeight / 10.0);
      sym.font_height = nFontHeight;
      sym.caption_y = raster::round_half_even(0.9 * nHeight + nDstY);
      sym.captions = {{code.substr(0, 1), nDstX - 9 * m},
                      {code.substr(1, 6), nDstX + 2 * m},
                      {code.substr(7, 6), nDstX + 48 * m}};
    }
    return true;
  });
}

cKorvexStatus cKorvex::BarCodeDraw39(const std::string& sCode, int32_t nDstX, int32_t nDstY,
                                     int32_t nHeight, bool bAddCheckSum, int32_t nColor) {
  return draw_member(*s_, nDstX, nDstY, nHeight, nColor, [&](Symbol& sym) {
    std::string text = code_text(sCode);
    if (text.empty() || text.size() > 39) return false;
    if (bAddCheckSum) text += cBarCode::C39_Mod43(text);
    sym.modules = cBarCode::Code39_Binaire(text);
    return true;
  });
}

cKorvexStatus cKorvex::BarCodeDraw25i(const std::string& sCode, int32_t nDstX, int32_t nDstY,
                                      int32_t nHeight, bool bAddCheckSum, int32_t nColor) {
  return draw_member(*s_, nDstX, nDstY, nHeight, nColor, [&](Symbol& sym) {
    std::string digits = code_text(sCode);
    if (!cBarCode::AllDigits(digits)) return false;
    if (bAddCheckSum) digits += cBarCode::calculCheckSum2of5(digits);
    if (digits.size() % 2 != 0) digits += '0';
    sym.modules = cBarCode::Code25i_Binaire(digits);
    return true;
  });
}

std::string cKorvex::BarCodeGetChecksumEAN13(const std::string& sCode) {
  std::string code = code_text(sCode);
  if (code.size() == 12) code = cBarCode::CalculNumControlCodeBarre(code);
  if (code.size() != 13 || !cBarCode::AllDigits(code)) return {};
  return code.substr(11);
}

bool cKorvex::BarCodeIsValidEAN13(const std::string& sCode) {
  return cBarCode::CheckSumValide(code_text(sCode, false));
}

std::string cKorvex::BarCodeGetChecksum39(const std::string& sCode) {
  return cBarCode::C39_Mod43(code_text(sCode, false));
}

std::string cKorvex::BarCodeGetChecksum25i(const std::string& sCode) {
  return cBarCode::calculCheckSum2of5(code_text(sCode, false));
}

}  // namespace korvex
