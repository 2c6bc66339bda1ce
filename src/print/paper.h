// Paper sizes by their numeric paper codes (1..41), with the media names a
// CUPS destination understands and the sizes in millimetres (portrait).
#pragma once

#include <cstdint>
#include <string>

namespace korvex::print {

struct PaperSize {
  int32_t code;
  const char* media;  // self-describing PWG 5101.1 media name
  double width_mm;
  double height_mm;
};

inline constexpr int32_t kFirstPaperCode = 1;
inline constexpr int32_t kLastPaperCode = 41;
// Paper code of a size given in twips rather than by code.
inline constexpr int32_t kUserPaperCode = 256;
inline constexpr int32_t kA4PaperCode = 9;

// The size of a paper code 1..41, or null.
const PaperSize* paper_by_code(int32_t code);
// The first code whose media name is `media` (a PWG name such as
// "iso_a4_210x297mm"), or whose size is within half a millimetre of the
// size the name describes; 0 when none matches.
int32_t paper_code_for_media(const std::string& media);

// Millimetres to twips (1440 per inch), rounded half to even, and back.
int32_t mm_to_twips(double mm);
double twips_to_mm(int32_t twips);

}  // namespace korvex::print
