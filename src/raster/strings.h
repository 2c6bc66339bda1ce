// Text rules every layer shares: the spaces trimmed around the names, codes
// and paths callers give, and the ASCII lower case of case-insensitive
// look-ups (file-name patterns, format names, device option values).
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace korvex::raster {

// The text without its leading and trailing spaces (tabs and other white
// space stay).
inline std::string TrimSpaces(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The text with A to Z turned into a to z; other bytes stay as they are.
inline std::string LowerCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace korvex::raster

namespace korvex {

// Spelled without the layer's prefix in every layer above the raster one.
using raster::LowerCase;
using raster::TrimSpaces;

}  // namespace korvex
