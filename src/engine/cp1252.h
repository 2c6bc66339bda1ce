// Binary image strings: one character per byte through code page 1252,
// carried in UTF-8 strings (byte 0x80 is U+20AC, and so on).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex {

// Each byte becomes its code page 1252 character, encoded in UTF-8. The five
// bytes the code page leaves undefined map to the C1 controls of the same value.
std::string BytesToCp1252String(const uint8_t* bytes, size_t n);

// Each character becomes its code page 1252 byte; characters outside the code
// page, and bytes that are not valid UTF-8, become '?'.
std::vector<uint8_t> Cp1252StringToBytes(const std::string& text);

}  // namespace korvex
