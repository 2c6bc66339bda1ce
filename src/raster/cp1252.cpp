#include "raster/cp1252.h"

#include <glib.h>

namespace korvex::raster {

namespace {

// Unicode of bytes 0x80..0x9F in code page 1252 (undefined ones keep their value).
constexpr uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

uint8_t to_cp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<uint8_t>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return static_cast<uint8_t>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string cp1252_to_utf8(const uint8_t* bytes, size_t n) {
  std::string out;
  out.reserve(n + n / 2);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    append_utf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
  }
  return out;
}

std::vector<uint8_t> utf8_to_cp1252(const std::string& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t c = s[i];
    uint32_t cp = 0;
    size_t len = 0;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    }
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms are not characters either.
    if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000))) {
      ok = false;
    }
    if (!ok) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(to_cp1252(cp));
    i += len;
  }
  return out;
}

std::string utf8_or_cp1252(const std::string& text) {
  // glib's check: overlong forms, surrogates, code points past U+10FFFF and
  // NULs within the length all make the text not UTF-8.
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  return cp1252_to_utf8(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace korvex::raster
