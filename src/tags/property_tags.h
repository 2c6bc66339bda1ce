// The property tag enumeration: the EXIF, TIFF and GPS tag numbers (and the
// in-memory properties of the raster layer) with their names.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace korvex::tags {

struct PropertyTagName {
  uint16_t id;
  const char* name;  // the enumeration name without its "PropertyTag" prefix
};

// The 218 members of the enumeration, in increasing id order.
std::span<const PropertyTagName> PropertyTagTable();

// Name of a tag id: the enumeration name without its prefix, except 255
// "TagSubFileType", 512 "JPEroc" and 27 "ProcessingMethod"; the GPS directory
// pointer (34853) and every id outside the enumeration give the id in
// upper-case hexadecimal without prefix or leading zeros ("9C9B").
std::string TagName(uint32_t id);

// The enumeration holds ids as 16-bit signed values: a negative id is the
// unsigned one minus 65536. Returns false for values outside both readings.
bool UnsignedTagId(int32_t id, uint32_t& out);

}  // namespace korvex::tags
