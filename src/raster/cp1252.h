// Code page 1252 (Windows Latin-1), the encoding of 8-bit text on the
// platform the API comes from. Binary image strings carry one byte per
// character through it in UTF-8 strings (byte 0x80 is U+20AC, and so on), and
// drawn text that is not valid UTF-8 is read through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvex::raster {

// Each byte becomes its code page 1252 character, encoded in UTF-8. The five
// bytes the code page leaves undefined map to the C1 controls of the same value.
std::string cp1252_to_utf8(const uint8_t* bytes, size_t n);

// Each character becomes its code page 1252 byte; characters outside the code
// page, and bytes that are not valid UTF-8, become '?'.
std::vector<uint8_t> utf8_to_cp1252(const std::string& text);

// Valid UTF-8 as it is; any other byte string (one holding a NUL included)
// read as code page 1252.
std::string utf8_or_cp1252(const std::string& text);

}  // namespace korvex::raster
