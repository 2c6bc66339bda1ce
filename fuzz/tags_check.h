// Invariants of metadata tag decoding, shared by the tags fuzz harness and
// the test that replays its seeds: the input as a TIFF-structured block (its
// items rendered, element by element, and written back), as the text of a
// written value, and as a TIFF file that items are added to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "raster/codec.h"
#include "raster/codecs/ifd/ifd.h"
#include "tags/property_item.h"

namespace korvex {

// An empty string when every invariant holds, else the first one broken.
inline std::string tags_check(const uint8_t* data, size_t size) {
  using raster::PropertyItem;
  using raster::Status;
  std::vector<PropertyItem> items;
  if (raster::ifd::read_properties(data, size, 0, items) == Status::Ok) {
    for (const PropertyItem& item : items) {
      const tags::GDIPPropertyItem p(item);
      p.ValueText();
      p.Name();
      if (item.type != raster::ptype::kAscii &&
          uint64_t{p.ValueCount()} * p.ElementDataSize() > p.Length()) {
        return "elements beyond the value";
      }
      // Elements by number, in range and just outside it (the sanitizers
      // catch a read past the value).
      for (int64_t i = 0; i <= int64_t{p.ValueCount()} + 1 && i < 64; ++i) {
        p.ParseShort(i);
        p.ParseLong(i);
        p.ParseRational(i);
      }
    }
    // Written back as an EXIF block, every item read again is one of them.
    std::vector<uint8_t> block;
    if (raster::ifd::write_exif_block(items, block) == Status::Ok && !block.empty()) {
      std::vector<PropertyItem> again;
      if (raster::ifd::read_properties(block.data(), block.size(), 0, again) != Status::Ok) {
        return "written block unreadable";
      }
      for (const PropertyItem& a : again) {
        bool found = false;
        for (const PropertyItem& item : items) found = found || item == a;
        if (!found) return "item changed by writing";
      }
    }
    // Added to the input as a TIFF file, the directory reads back.
    std::vector<uint8_t> file;
    raster::MemorySink sink(file);
    sink.write(data, size);
    if (raster::ifd::add_to_tiff_directory(sink, 0, items) == Status::Ok && file.size() > size) {
      std::vector<PropertyItem> added;
      if (raster::ifd::read_properties(file.data(), file.size(), 0, added) != Status::Ok) {
        return "added directory unreadable";
      }
    }
  }
  // The input as the text of a written value: what parses reads back as a
  // text that parses to the same bytes.
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (uint16_t type : {1, 3, 4, 5}) {
    std::vector<uint8_t> bytes, again;
    if (tags::ParseValue(type, text, bytes) != Status::Ok) {
      if (!bytes.empty()) return "refused value left bytes";
      continue;
    }
    tags::GDIPPropertyItem p;
    p.Create(0x9000, type, bytes);
    if (tags::ParseValue(type, p.ValueText(), again) != Status::Ok || again != bytes) {
      return "value text does not parse back";
    }
  }
  return {};
}

}  // namespace korvex
