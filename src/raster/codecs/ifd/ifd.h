// TIFF-structured metadata (image file directories) as property items: the
// tags of a TIFF page, and the EXIF block of a JPEG APP1 segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/codec.h"
#include "raster/types.h"

namespace korvex::raster::ifd {

// Reads the property items of a TIFF-structured block (a whole TIFF file, or
// the body of a JPEG EXIF segment after "Exif\0\0"): the directory at
// `ifd_offset` (0 = the first directory named by the header) and the Exif
// (0x8769), GPS (0x8825) and interoperability (0xA005) directories it points
// to; items of an interoperability directory are marked as such. The
// pointer tags themselves are not returned.
//
// Values come back as little-endian bytes whatever the block's byte order,
// with the property types 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL,
// 7 UNDEFINED, 9 SLONG, 10 SRATIONAL; TIFF's SBYTE reads as 1, SSHORT as 3,
// IFD as 4, FLOAT and DOUBLE as 7 (raw bytes); other types are skipped.
// Items whose data lies outside the block are skipped; directory loops and
// absurd counts are stopped. Never reads outside [data, data + size).
// Directories are read breadth first (the main one, then Exif and GPS, then
// interoperability); when an id occurs twice (GPS and interoperability ids
// overlap) the first item read is kept. BigTIFF blocks ("II+\0"/"MM\0+")
// are read too; their 64-bit types have no property type and are skipped.
// Returns Ok (possibly with no items), or GenericError when the header or the
// first directory is unreadable (its entry count lies outside the block, or
// it declares entries and none lies inside).
Status read_properties(const uint8_t* data, size_t size, uint64_t ifd_offset,
                       std::vector<PropertyItem>& out);

// Builds a little-endian TIFF-structured block ("II*\0", offset 8) holding
// the items, for a JPEG EXIF segment: ordinary tags go to the first
// directory, Exif tags (0x829A..0x829D, 0x8822..0x8830, 0x9000..0x9FFF,
// 0xA000..0xA4FF except 0xA005, and except the Windows XP tags
// 0x9C9B..0x9C9F) to an Exif directory, GPS tags (ids 0x0000..0x001F) to a
// GPS directory, and items read from an interoperability directory back to
// one named by the Exif directory, with the pointer tags written as needed.
// Ids 0x5000..0x5FFF (in-memory properties such as frame delays) are left
// out, and so are the tags that locate data in the file they came from
// (strip, tile and free-space offsets and byte counts, SubIFDs, the JPEG
// thumbnail's offset and length), which would point into nowhere. Items of
// other types, or whose length is not a whole number of values, are skipped.
// Directories are sorted by tag, the first item of an id winning. A list with
// nothing writable gives an empty block. ValueOverflow when the block would
// exceed 4 GiB, OutOfMemory when memory runs out.
Status write_exif_block(const std::vector<PropertyItem>& items, std::vector<uint8_t>& out);

// Adds the items to directory `index` (from 0) of a little-endian classic
// TIFF file held in a sink, as write_exif_block sorts them (Exif and GPS
// items into sub-directories), leaving out the tags that describe how the
// pixels are stored (size, samples, compression, photometric, resolution,
// strips, tiles, palette and the like), which the encoder sets itself; an
// entry the directory already has wins over an item of the same tag. The
// merged directory is appended at the end of the file and takes the old
// one's place in the chain; nothing is written when no item is left.
// GenericError when the file is not such a TIFF or has no such directory.
Status add_to_tiff_directory(ByteSink& sink, uint32_t index,
                             const std::vector<PropertyItem>& items);

}  // namespace korvex::raster::ifd
