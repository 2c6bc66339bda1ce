// Invariants of the PDF writer's text escaping and number formatting over
// arbitrary input, shared by the fuzz harness and the replay of its seeds.
// The input is the text to escape; its first eight bytes are also read as a
// double and the ninth picks the number of decimals.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pdf/pdf.h"
#include "raster/cp1252.h"

namespace korvex {

// Empty when every invariant holds, else what broke.
inline std::string pdf_text_check(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string esc = pdf::cPDF::EscapeText(text);
  const std::vector<uint8_t> bytes = raster::utf8_to_cp1252(text);
  std::string plain;
  for (size_t i = 0; i < esc.size(); ++i) {
    char c = esc[i];
    if (c == '(' || c == ')') return "unescaped parenthesis";
    if (c == '\\') {
      if (++i == esc.size()) return "dangling backslash";
      c = esc[i];
      if (c != '\\' && c != '(' && c != ')') return "escape of an ordinary byte";
    }
    plain += c;
  }
  if (plain != std::string(bytes.begin(), bytes.end())) return "escaping changed the bytes";

  if (size < 9) return "";
  double v;
  std::memcpy(&v, data, sizeof v);
  const int d = data[8] % 8;
  const std::string num = pdf::cPDF::FormatNum(v, d);
  const std::string fixed = pdf::cPDF::FormatFixed(v, d);
  if (!std::isfinite(v)) return num == "0" ? "" : "non-finite value not written as 0";
  for (const std::string* s : {&num, &fixed}) {
    if (s->empty() || s->find_first_not_of("-0123456789.") != std::string::npos)
      return "not plain decimal: " + *s;
    char* end = nullptr;
    const double back = std::strtod(s->c_str(), &end);
    if (*end != '\0') return "unparsable: " + *s;
    if (std::fabs(back - v) > 0.5 * std::pow(10.0, -d) * (1 + 1e-9) + std::fabs(v) * 1e-15)
      return "rounded too far: " + *s;
    if (s->rfind("-", 0) == 0 && back == 0) return "negative zero: " + *s;
  }
  const size_t point = num.find('.');
  if (point != std::string::npos && (num.back() == '0' || num.back() == '.'))
    return "not shortest: " + num;
  const size_t fpoint = fixed.find('.');
  if (d > 0 &&
      (fpoint == std::string::npos || fixed.size() - fpoint - 1 != size_t(d) || fpoint == 0))
    return "wrong decimals: " + fixed;
  return "";
}

}  // namespace korvex
