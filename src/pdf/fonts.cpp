// cPDF fonts: TrueType fonts referenced by name (not embedded), WinAnsi
// encoded, with their advance widths and descriptor metrics measured through
// FreeType at a 1000-unit em. Families are found through fontconfig; the
// common Windows families resolve to their metric-compatible stand-ins.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#include <cctype>
#include <cstdio>

#include "pdf/pdf.h"
#include "raster/cp1252.h"
#include "raster/graphics.h"
#include "raster/rounding.h"

namespace korvex::pdf {

namespace {

std::string normalised(const std::string& name) {
  std::string out;
  for (char c : name)
    if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The Unicode character of a Windows-1252 byte.
uint32_t cp1252_code_point(uint8_t b) {
  const std::string u = raster::cp1252_to_utf8(&b, 1);
  const auto* s = reinterpret_cast<const unsigned char*>(u.data());
  if (u.size() == 1) return s[0];
  if (u.size() == 2) return ((s[0] & 0x1Fu) << 6) | (s[1] & 0x3Fu);
  if (u.size() == 3) return ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
  return 0;
}

// The installed family to measure for `name`, and the name's own spelling
// for the PDF: an installed family's spelling when it matches directly, the
// requested spelling when a stand-in family serves it. Empty when none.
std::string find_system_font(const std::string& name, std::string& spelling) {
  const std::string want = normalised(name);
  if (want.empty()) return {};
  for (const std::string& family : raster::installed_font_families()) {
    if (normalised(family) == want) {
      spelling = family;
      return family;
    }
  }
  std::string family = raster::resolve_font_family(name);
  if (!family.empty()) spelling = name;
  return family;
}

// The font file of `family` in the requested style.
bool match_font_file(const std::string& family, bool bold, bool italic, std::string& file,
                     int& index) {
  const auto fonts = raster::lock_fonts();
  FcPattern* pat = FcPatternBuild(
      nullptr, FC_FAMILY, FcTypeString, reinterpret_cast<const FcChar8*>(family.c_str()), FC_WEIGHT,
      FcTypeInteger, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR, FC_SLANT, FcTypeInteger,
      italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN, nullptr);
  if (pat == nullptr) return false;
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  bool ok = false;
  if (match != nullptr) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr) {
      file = reinterpret_cast<const char*>(path);
      index = 0;
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      ok = true;
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pat);
  return ok;
}

// Metrics of an open face in thousandths of the em.
void measure(FT_Face face, bool italic, FontRecord& f) {
  const double upem = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  auto em = [upem](double units) { return RoundHalfEven(units * 1000.0 / upem); };
  bool symbol = false;
  if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0)
    symbol = FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL) == 0;
  auto glyph_of = [&](int c) -> FT_UInt {
    const FT_ULong code =
        symbol ? 0xF000u + static_cast<FT_ULong>(c) : cp1252_code_point(static_cast<uint8_t>(c));
    return FT_Get_Char_Index(face, code);
  };
  auto advance = [&](FT_UInt glyph) {
    FT_Fixed adv = 0;
    FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &adv);
    return em(static_cast<double>(adv));
  };
  f.FirstChar = 32;
  f.LastChar = 32;
  for (int c = 32; c <= 255; ++c) {
    if (glyph_of(c) != 0) {
      f.FirstChar = c;
      break;
    }
  }
  for (int c = 255; c >= f.FirstChar; --c) {
    if (glyph_of(c) != 0) {
      f.LastChar = c;
      break;
    }
  }
  for (int c = f.FirstChar; c <= f.LastChar; ++c) f.Widths[c] = advance(glyph_of(c));
  f.MissingWidth = advance(glyph_of(f.FirstChar == 0 ? 255 : 0));
  f.MaxWidth = em(face->max_advance_width);
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 != nullptr && os2->version != 0xFFFF) {
    f.AvgWidth = em(os2->xAvgCharWidth);
    f.Ascent = em(os2->usWinAscent);
    f.Descent = em(os2->usWinDescent);
  } else {
    f.AvgWidth = f.Widths[static_cast<unsigned char>('x')];
    f.Ascent = em(face->ascender);
    f.Descent = em(-face->descender);
  }
  f.CapHeight = f.Ascent;
  f.ItalicAngle = italic ? -11 : 0;
  f.StemV = 0;
  f.Flags = symbol ? 4 : 32;
}

}  // namespace

bool GetFontMetrics(const std::string& name, bool bold, bool italic, FontRecord& out) {
  std::string spelling;
  const std::string family = find_system_font(name, spelling);
  if (family.empty()) return false;
  std::string file;
  int index = 0;
  if (!match_font_file(family, bold, italic, file, index)) return false;
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return false;
  FT_Face face = nullptr;
  bool ok = false;
  if (FT_New_Face(lib, file.c_str(), index, &face) == 0) {
    FontRecord f;
    measure(face, italic, f);
    std::string base = spelling;
    if (bold || italic) base += std::string(",") + (bold ? "Bold" : "") + (italic ? "Italic" : "");
    for (char c : base)
      if (c != ' ') f.BaseFont += c;
    out = f;
    ok = true;
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  return ok;
}

int32_t cPDF::LoadFont(const std::string& name, bool bold, bool italic) {
  // A font object written while a page is open would land inside its content stream.
  if (!writable() || in_page_) return 0;
  FontRecord f;
  if (!GetFontMetrics(name, bold, italic, f)) return 0;
  const int32_t k = font_count() + 1;
  const std::string res = "Font" + std::to_string(k);
  const int32_t n = BeginObj(0);
  WriteLine("<< /Type /Font \r/Subtype /TrueType\r/Name /" + res + "\r/BaseFont /" + f.BaseFont +
            "\r/FirstChar " + std::to_string(f.FirstChar) + "\r/LastChar " +
            std::to_string(f.LastChar) + "\r/FontDescriptor " + std::to_string(n + 1) +
            " 0 R\r/Encoding /WinAnsiEncoding\r/Widths [");
  std::string widths;
  for (int c = f.FirstChar; c <= f.LastChar; ++c) widths += FormatNum(f.Widths[c], 3) + " ";
  WriteLine(widths);
  WriteLine("] >>");
  EndObj();
  font_resources_ += "/" + res + " " + std::to_string(n) + " 0 R \r";
  BeginObj(0);
  const int32_t fifth = RoundHalfEven(0.2 * f.MaxWidth);
  WriteLine("<<\r/Type /FontDescriptor\r/FontName /" + f.BaseFont + "\r/MissingWidth " +
            std::to_string(f.MissingWidth) + "\r/Ascent " + std::to_string(f.Ascent) +
            "\r/Descent " + std::to_string(-f.Descent) + "\r/AvgWidth " +
            std::to_string(f.AvgWidth) + "\r/CapHeight " + std::to_string(f.CapHeight) +
            "\r/StemV " + std::to_string(f.StemV) + "\r/ItalicAngle " +
            std::to_string(f.ItalicAngle) + "\r/Flags " + std::to_string(f.Flags) +
            "\r/MaxWidth  " + std::to_string(f.MaxWidth) + "\r/FontBBox [ " +
            std::to_string(RoundHalfEven(-0.2 * f.MaxWidth)) + " " + std::to_string(-f.Descent) +
            " " + std::to_string(f.MaxWidth - fifth) + " " + std::to_string(f.Ascent) + "]\r>>");
  EndObj();
  fonts_.push_back(f);
  return k;
}

}  // namespace korvex::pdf
