// Text of written tag values into little-endian value bytes.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "raster/rounding.h"
#include "tags/property_item.h"

namespace korvex::tags {

namespace {

// A decimal number with an optional sign and fraction, rounded half to even;
// false for anything else (empty text, letters, exponents, a second point).
bool parse_number(std::string_view s, double& out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  // Digits and one decimal point only (from_chars would take "nan" and "inf").
  if (s.empty() || s.find_first_not_of("0123456789.") != std::string_view::npos) return false;
  double v = 0;
  const auto [end, ec] =
      std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  out = raster::round_half_even(negative ? -v : v);
  return true;
}

bool parse_in_range(std::string_view s, double max, uint32_t& out) {
  double v = 0;
  if (!parse_number(s, v) || v < 0 || v > max) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

void put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string_view::npos ? s.npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

raster::Status ParseValue(uint16_t type, const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  if (type == raster::ptype::kAscii) {
    out.assign(text.begin(), text.end());
    out.push_back(0);
    return raster::Status::Ok;
  }
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\t') compact += c;
  }
  std::vector<uint8_t> bytes;
  for (std::string_view part : split(compact, ',')) {
    uint32_t a = 0, b = 1;
    bool ok = false;
    switch (type) {
      case raster::ptype::kByte:
        ok = parse_in_range(part, 255, a);
        put(bytes, a, 1);
        break;
      case raster::ptype::kShort:
        ok = parse_in_range(part, 65535, a);
        put(bytes, a, 2);
        break;
      case raster::ptype::kLong:
        ok = parse_in_range(part, 4294967295.0, a);
        put(bytes, a, 4);
        break;
      case raster::ptype::kRational: {
        const size_t slash = part.find('/');
        ok = parse_in_range(part.substr(0, slash), 4294967295.0, a) &&
             (slash == std::string_view::npos ||
              parse_in_range(part.substr(slash + 1), 4294967295.0, b)) &&
             b != 0;
        put(bytes, a, 4);
        put(bytes, b, 4);
        break;
      }
      default:
        break;
    }
    if (!ok) return raster::Status::InvalidParameter;
  }
  out = std::move(bytes);
  return raster::Status::Ok;
}

}  // namespace korvex::tags
