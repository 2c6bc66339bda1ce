// One metadata property item and the decoding of its value: element counts,
// elements by number, and the text rendering of the whole value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "raster/types.h"

namespace korvex::tags {

struct Rational {
  uint32_t numerator = 0;
  uint32_t denominator = 0;
  friend bool operator==(const Rational&, const Rational&) = default;
};

// Bytes per element of a property type: 1 BYTE, 2 ASCII, 6 SBYTE and
// 7 UNDEFINED 1; 3 SHORT and 8 SSHORT 2; 4 LONG, 9 SLONG and 11 FLOAT 4;
// 5 RATIONAL, 10 SRATIONAL and 12 DOUBLE 8; 0 for any other type.
uint32_t ElementSize(uint16_t type);

class GDIPPropertyItem {
 public:
  GDIPPropertyItem() = default;
  explicit GDIPPropertyItem(raster::PropertyItem item) : item_(std::move(item)) {}

  void Create(uint32_t id, uint16_t type, std::vector<uint8_t> bytes);

  uint32_t Id() const { return item_.id; }
  uint16_t ItemType() const { return item_.type; }
  uint32_t Length() const { return item_.length(); }
  std::string Name() const;
  // Whole elements in the value: an ASCII value is one element, a value of
  // another type its length divided by the element size, rounded down (a
  // partial element at the end is never read); 0 for an unknown type.
  uint32_t ValueCount() const;
  uint32_t ElementDataSize() const { return ElementSize(item_.type); }
  uint32_t DataBufferSize() const { return Length(); }

  // The value bytes as text, trailing NULs left out: UTF-8 as it is, any
  // other bytes through code page 1252.
  std::string ParseString() const;
  // Element i (from 1) of a 16-bit, 32-bit or rational value, little-endian;
  // 0 (or nothing) outside 1..ValueCount.
  uint16_t ParseShort(int64_t i) const;
  uint32_t ParseLong(int64_t i) const;
  std::optional<Rational> ParseRational(int64_t i) const;
  // Copies of the value bytes.
  void GetData(std::vector<uint8_t>& out) const { out = item_.value; }
  std::vector<uint8_t> GetDataB() const { return item_.value; }

  // The value as text: BYTE, SHORT and LONG elements as unsigned decimals,
  // rationals as numerator/denominator (signed for SRATIONAL), UNDEFINED
  // bytes as two upper-case hexadecimal digits, all joined by ", "; ASCII as
  // ParseString; any other type its number, a space and the length ("11 4").
  std::string ValueText() const;

  const raster::PropertyItem& item() const { return item_; }

 private:
  bool element(int64_t i, uint32_t size, const uint8_t*& at) const;

  raster::PropertyItem item_;
};

// The value of a written tag, parsed from text into little-endian bytes.
// BYTE, SHORT and LONG: decimal numbers separated by commas, spaces ignored,
// each rounded half to even and within 0..255, 0..65535 or 0..4294967295.
// RATIONAL: the same with parts "numerator/denominator" or a plain number
// (denominator 1); a zero denominator is refused. ASCII: the text's bytes
// followed by a NUL. An empty list, an empty part, text that is not a
// number or a value out of range gives InvalidParameter and no bytes.
raster::Status ParseValue(uint16_t type, const std::string& text, std::vector<uint8_t>& out);

}  // namespace korvex::tags
