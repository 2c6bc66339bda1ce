// Linear barcode symbologies: EAN-13, Code 39 and Interleaved 2 of 5.
//
// cBarCode turns a text into a module string, read left to right, one
// character per narrow module:
//   "1"  one module of bar          "0"  one module of space
//   "-"  bars from here on are shorter by the guard extension (EAN-13 digits)
//   "+"  bars from here on are full height again (EAN-13 guards)
// and computes the symbologies' check characters.
//
// Texts are byte strings, one byte per character (code page 1252). Every
// operation checks its input before it indexes a table: a text the operation
// cannot encode gives an empty result (false for CheckSumValide), never a
// read outside a table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvex::barcode {

class cBarCode {
 public:
  // Module string of a 13-digit text: 95 modules and four guard markers.
  static std::string EAN13_Binaire(std::string_view code);
  // Module string with the start and stop characters (asterisks) around the
  // text; characters outside the Code 39 set are encoded as spaces. An
  // asterisk of the text is not a Code 39 data character: it too becomes a
  // space.
  static std::string Code39_Binaire(std::string_view text);
  // Module string of a digit text of even length, start and stop included.
  static std::string Code25i_Binaire(std::string_view digits);

  // The 12 digits followed by their EAN-13 check digit.
  static std::string CalculNumControlCodeBarre(std::string_view code12);
  // Whether 13 digits end with their correct check digit.
  static bool CheckSumValide(std::string_view code13);
  // The modulo-43 check character (empty text: "0").
  static std::string C39_Mod43(std::string_view text);
  // The Interleaved 2 of 5 check digit of a non-empty digit text.
  static std::string calculCheckSum2of5(std::string_view digits);

  // Code 39 value of a character (0..42); any other character is a space, 38.
  static int32_t Code39Value(char c);
  // Character of a Code 39 value; '\0' outside 0..42.
  static char Code39Char(int32_t value);

  // Whether the text is non-empty and made of ASCII decimal digits only.
  static bool AllDigits(std::string_view text);
};

}  // namespace korvex::barcode
