// Tables and encoders of the three symbologies. The tables are the published
// ones; element patterns are written with "E" for a narrow element (one
// module) and "L" for a wide one (two modules), bars and spaces alternating,
// first element a bar, so the wide-to-narrow ratio is 2:1.
#include "barcode/barcode.h"

#include <array>
#include <cstddef>

namespace korvex::barcode {

namespace {

// EAN-13 digit encodings, 7 modules each: the left-hand odd-parity set A,
// the left-hand even-parity set B and the right-hand set C.
constexpr std::array<std::string_view, 10> kSetA = {"0001101", "0011001", "0010011", "0111101",
                                                    "0100011", "0110001", "0101111", "0111011",
                                                    "0110111", "0001011"};
constexpr std::array<std::string_view, 10> kSetB = {"0100111", "0110011", "0011011", "0100001",
                                                    "0011101", "0111001", "0000101", "0010001",
                                                    "0001001", "0010111"};
constexpr std::array<std::string_view, 10> kSetC = {"1110010", "1100110", "1101100", "1000010",
                                                    "1011100", "1001110", "1010000", "1000100",
                                                    "1001000", "1110100"};
// Sets of digits 2-7, chosen by the leading digit (which has no bars of its own).
constexpr std::array<std::string_view, 10> kParity = {"AAAAAA", "AABABB", "AABBAB", "AABBBA",
                                                      "ABAABB", "ABBAAB", "ABBBAA", "ABABAB",
                                                      "ABABBA", "ABBABA"};

// Code 39 characters in value order, and their 9-element patterns.
constexpr std::string_view kCode39Chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
constexpr std::array<std::string_view, 43> kCode39 = {
    "EEELLELEE", "LEELEEEEL", "EELLEEEEL", "LELLEEEEE", "EEELLEEEL",  // 0-4
    "LEELLEEEE", "EELLLEEEE", "EEELEELEL", "LEELEELEE", "EELLEELEE",  // 5-9
    "LEEEELEEL", "EELEELEEL", "LELEELEEE", "EEEELLEEL", "LEEELLEEE",  // A-E
    "EELELLEEE", "EEEEELLEL", "LEEEELLEE", "EELEELLEE", "EEEELLLEE",  // F-J
    "LEEEEEELL", "EELEEEELL", "LELEEEELE", "EEEELEELL", "LEEELEELE",  // K-O
    "EELELEELE", "EEEEEELLL", "LEEEEELLE", "EELEEELLE", "EEEELELLE",  // P-T
    "LLEEEEEEL", "ELLEEEEEL", "LLLEEEEEE", "ELEELEEEL", "LLEELEEEE",  // U-Y
    "ELLELEEEE", "ELEEEELEL", "LLEEEELEE", "ELLEEELEE", "ELELELEEE",  // Z - . space $
    "ELELEEELE", "ELEEELELE", "EEELELELE"};                           // / + %
constexpr int32_t kCode39Space = 38;
// The asterisk: start character with its inter-character gap, stop without.
constexpr std::string_view kCode39Start = "1001011011010";
constexpr std::string_view kCode39Stop = "100101101101";

// Interleaved 2 of 5 digit patterns, start and stop.
constexpr std::array<std::string_view, 10> kCode25 = {"EELLE", "LEEEL", "ELEEL", "LLEEE", "EELEL",
                                                      "LELEE", "ELLEE", "EEELL", "LEELE", "ELELE"};
constexpr std::string_view kCode25Start = "EEEE";
constexpr std::string_view kCode25Stop = "LEEE";

size_t digit(char c) {
  return static_cast<size_t>(c - '0');
}

// Elements as modules: bars (even positions) "1" or "11", spaces "0" or "00".
void append_elements(std::string& out, std::string_view elements) {
  for (size_t i = 0; i < elements.size(); ++i) {
    const char m = i % 2 == 0 ? '1' : '0';
    out.push_back(m);
    if (elements[i] == 'L') out.push_back(m);
  }
}

// Weighted sum of the EAN-13 data digits: positions 1, 3, ..., 11 once,
// positions 2, 4, ..., 12 three times (1-based).
int32_t ean13_sum(std::string_view digits12) {
  int32_t sum = 0;
  for (size_t i = 0; i < 12; ++i) {
    sum += static_cast<int32_t>(digit(digits12[i])) * (i % 2 == 0 ? 1 : 3);
  }
  return sum;
}

// The check digit that brings the weighted sum to a multiple of ten.
char ten_complement(int32_t sum) {
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

}  // namespace

bool cBarCode::AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int32_t cBarCode::Code39Value(char c) {
  const size_t at = kCode39Chars.find(c);
  return at == std::string_view::npos ? kCode39Space : static_cast<int32_t>(at);
}

char cBarCode::Code39Char(int32_t value) {
  if (value < 0 || value >= static_cast<int32_t>(kCode39Chars.size())) return '\0';
  return kCode39Chars[static_cast<size_t>(value)];
}

std::string cBarCode::EAN13_Binaire(std::string_view code) {
  if (code.size() != 13 || !AllDigits(code)) return {};
  const std::string_view parity = kParity[digit(code[0])];
  std::string out = "101-";
  for (size_t i = 1; i <= 6; ++i) {
    out += (parity[i - 1] == 'A' ? kSetA : kSetB)[digit(code[i])];
  }
  out += "+01010-";
  for (size_t i = 7; i <= 12; ++i) out += kSetC[digit(code[i])];
  out += "+101";
  return out;
}

std::string cBarCode::Code39_Binaire(std::string_view text) {
  std::string out(kCode39Start);
  for (char c : text) {
    append_elements(out, kCode39[static_cast<size_t>(Code39Value(c))]);
    out.push_back('0');
  }
  out += kCode39Stop;
  return out;
}

std::string cBarCode::Code25i_Binaire(std::string_view digits) {
  if (digits.size() % 2 != 0 || !AllDigits(digits)) return {};
  // Pairs of digits: the first digit's five elements are the bars, the
  // second's the spaces between them.
  std::string elements(kCode25Start);
  for (size_t i = 0; i < digits.size(); i += 2) {
    const std::string_view bars = kCode25[digit(digits[i])];
    const std::string_view spaces = kCode25[digit(digits[i + 1])];
    for (size_t e = 0; e < 5; ++e) {
      elements.push_back(bars[e]);
      elements.push_back(spaces[e]);
    }
  }
  elements += kCode25Stop;
  std::string out;
  append_elements(out, elements);
  return out;
}

std::string cBarCode::CalculNumControlCodeBarre(std::string_view code12) {
  if (code12.size() != 12 || !AllDigits(code12)) return {};
  std::string out(code12);
  out.push_back(ten_complement(ean13_sum(code12)));
  return out;
}

bool cBarCode::CheckSumValide(std::string_view code13) {
  if (code13.size() != 13 || !AllDigits(code13)) return false;
  return ten_complement(ean13_sum(code13)) == code13[12];
}

std::string cBarCode::C39_Mod43(std::string_view text) {
  int32_t sum = 0;
  for (char c : text) sum = (sum + Code39Value(c)) % 43;
  return std::string(1, Code39Char(sum));
}

std::string cBarCode::calculCheckSum2of5(std::string_view digits) {
  if (!AllDigits(digits)) return {};
  // From the last digit leftwards: weights 3, 1, 3, 1, ...
  int32_t sum = 0;
  for (size_t i = 0; i < digits.size(); ++i) {
    const char c = digits[digits.size() - 1 - i];
    sum = (sum + static_cast<int32_t>(digit(c)) * (i % 2 == 0 ? 3 : 1)) % 10;
  }
  return std::string(1, ten_complement(sum));
}

}  // namespace korvex::barcode
