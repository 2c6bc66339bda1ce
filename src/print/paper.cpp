// The table of paper codes, and conversions between millimetres and twips.
#include "print/paper.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "raster/rounding.h"

namespace korvex::print {

namespace {

constexpr double kInch = 25.4;

constexpr double in(double inches) {
  return inches * kInch;
}

// Codes in order; sizes as the codes define them (inches for the American
// sizes, millimetres for the ISO and JIS ones).
constexpr std::array<PaperSize, 41> kPapers = {{
    {1, "na_letter_8.5x11in", in(8.5), in(11)},
    {2, "na_letter_8.5x11in", in(8.5), in(11)},  // letter small
    {3, "na_ledger_11x17in", in(11), in(17)},    // tabloid
    {4, "na_ledger_11x17in", in(17), in(11)},    // ledger: the tabloid sheet turned
    {5, "na_legal_8.5x14in", in(8.5), in(14)},
    {6, "na_invoice_5.5x8.5in", in(5.5), in(8.5)},  // statement
    {7, "na_executive_7.25x10.5in", in(7.25), in(10.5)},
    {8, "iso_a3_297x420mm", 297, 420},
    {9, "iso_a4_210x297mm", 210, 297},
    {10, "iso_a4_210x297mm", 210, 297},  // A4 small
    {11, "iso_a5_148x210mm", 148, 210},
    {12, "jis_b4_257x364mm", 257, 364},
    {13, "jis_b5_182x257mm", 182, 257},
    {14, "na_foolscap_8.5x13in", in(8.5), in(13)},  // folio
    {15, "na_quarto_8.5x10.83in", 215, 275},
    {16, "na_10x14_10x14in", in(10), in(14)},
    {17, "na_ledger_11x17in", in(11), in(17)},
    {18, "na_letter_8.5x11in", in(8.5), in(11)},  // note
    {19, "na_number-9_3.875x8.875in", in(3.875), in(8.875)},
    {20, "na_number-10_4.125x9.5in", in(4.125), in(9.5)},
    {21, "na_number-11_4.5x10.375in", in(4.5), in(10.375)},
    {22, "na_number-12_4.75x11in", in(4.75), in(11)},
    {23, "na_number-14_5x11.5in", in(5), in(11.5)},
    {24, "na_c_17x22in", in(17), in(22)},
    {25, "na_d_22x34in", in(22), in(34)},
    {26, "na_e_34x44in", in(34), in(44)},
    {27, "iso_dl_110x220mm", 110, 220},
    {28, "iso_c5_162x229mm", 162, 229},
    {29, "iso_c3_324x458mm", 324, 458},
    {30, "iso_c4_229x324mm", 229, 324},
    {31, "iso_c6_114x162mm", 114, 162},
    {32, "iso_c6c5_114x229mm", 114, 229},
    {33, "iso_b4_250x353mm", 250, 353},
    {34, "iso_b5_176x250mm", 176, 250},
    {35, "iso_b6_125x176mm", 176, 125},
    {36, "om_italian_110x230mm", 110, 230},
    {37, "na_monarch_3.875x7.5in", in(3.875), in(7.5)},
    {38, "na_personal_3.625x6.5in", in(3.625), in(6.5)},
    {39, "na_fanfold-us_11x14.875in", in(14.875), in(11)},
    {40, "na_fanfold-eur_8.5x12in", in(8.5), in(12)},
    {41, "na_foolscap_8.5x13in", in(8.5), in(13)},
}};

// The size a PWG self-describing name ends with ("..._210x297mm",
// "..._8.5x11in"), in millimetres; false when the name has none.
bool size_of_media_name(const std::string& media, double& w, double& h) {
  const size_t us = media.rfind('_');
  if (us == std::string::npos) return false;
  const std::string dims = media.substr(us + 1);
  const char* p = dims.c_str();
  char* end = nullptr;
  w = std::strtod(p, &end);
  if (end == p || *end != 'x') return false;
  p = end + 1;
  h = std::strtod(p, &end);
  if (end == p) return false;
  const std::string unit = end;
  if (unit == "in") {
    w *= kInch;
    h *= kInch;
  } else if (unit != "mm") {
    return false;
  }
  return w > 0 && h > 0;
}

}  // namespace

const PaperSize* paper_by_code(int32_t code) {
  if (code < kFirstPaperCode || code > kLastPaperCode) return nullptr;
  return &kPapers[static_cast<size_t>(code - 1)];
}

int32_t paper_code_for_media(const std::string& media) {
  for (const PaperSize& p : kPapers)
    if (media == p.media) return p.code;
  double w = 0;
  double h = 0;
  if (!size_of_media_name(media, w, h)) return 0;
  for (const PaperSize& p : kPapers)
    if (std::fabs(p.width_mm - w) < 0.5 && std::fabs(p.height_mm - h) < 0.5) return p.code;
  return 0;
}

int32_t mm_to_twips(double mm) {
  return RoundHalfEven(mm * 1440.0 / kInch);
}

double twips_to_mm(int32_t twips) {
  return twips / (1440.0 / kInch);
}

}  // namespace korvex::print
