#include "tags/property_item.h"

#include <cstdio>
#include <string>

#include "raster/cp1252.h"
#include "tags/property_tags.h"

namespace korvex::tags {

namespace {

uint32_t load32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void append_joined(std::string& out, const std::string& part) {
  if (!out.empty()) out += ", ";
  out += part;
}

}  // namespace

uint32_t ElementSize(uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 0;
  }
}

void GDIPPropertyItem::Create(uint32_t id, uint16_t type, std::vector<uint8_t> bytes) {
  item_.id = id;
  item_.type = type;
  item_.value = std::move(bytes);
}

std::string GDIPPropertyItem::Name() const {
  return TagName(item_.id);
}

uint32_t GDIPPropertyItem::ValueCount() const {
  if (item_.type == raster::ptype::kAscii) return 1;
  const uint32_t size = ElementDataSize();
  return size == 0 ? 0 : Length() / size;
}

bool GDIPPropertyItem::element(int64_t i, uint32_t size, const uint8_t*& at) const {
  if (ElementDataSize() != size || i < 1 || i > ValueCount()) return false;
  at = item_.value.data() + static_cast<size_t>(i - 1) * size;
  return true;
}

std::string GDIPPropertyItem::ParseString() const {
  size_t n = item_.value.size();
  while (n > 0 && item_.value[n - 1] == 0) --n;
  return raster::utf8_or_cp1252(std::string(item_.value.begin(), item_.value.begin() + n));
}

uint16_t GDIPPropertyItem::ParseShort(int64_t i) const {
  const uint8_t* p = nullptr;
  return element(i, 2, p) ? static_cast<uint16_t>(p[0] | p[1] << 8) : 0;
}

uint32_t GDIPPropertyItem::ParseLong(int64_t i) const {
  const uint8_t* p = nullptr;
  return element(i, 4, p) ? load32(p) : 0;
}

std::optional<Rational> GDIPPropertyItem::ParseRational(int64_t i) const {
  const uint8_t* p = nullptr;
  if (!element(i, 8, p)) return std::nullopt;
  return Rational{load32(p), load32(p + 4)};
}

std::string GDIPPropertyItem::ValueText() const {
  std::string out;
  const uint32_t n = ValueCount();
  switch (item_.type) {
    case 1:
      for (uint32_t i = 0; i < n; ++i) append_joined(out, std::to_string(item_.value[i]));
      return out;
    case 2:
      return ParseString();
    case 3:
      for (uint32_t i = 1; i <= n; ++i) append_joined(out, std::to_string(ParseShort(i)));
      return out;
    case 4:
      for (uint32_t i = 1; i <= n; ++i) append_joined(out, std::to_string(ParseLong(i)));
      return out;
    case 5:
    case 10:
      for (uint32_t i = 1; i <= n; ++i) {
        const Rational r = *ParseRational(i);
        if (item_.type == 5) {
          append_joined(out, std::to_string(r.numerator) + "/" + std::to_string(r.denominator));
        } else {
          append_joined(out, std::to_string(static_cast<int32_t>(r.numerator)) + "/" +
                                 std::to_string(static_cast<int32_t>(r.denominator)));
        }
      }
      return out;
    case 7:
      for (uint32_t i = 0; i < n; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", item_.value[i]);
        append_joined(out, hex);
      }
      return out;
    default:
      return std::to_string(item_.type) + " " + std::to_string(Length());
  }
}

}  // namespace korvex::tags
