// Row filter and zlib settings of a PNG encode, chosen per picture.
//
// Two settings cover the pictures people save. Flat content (screenshots,
// drawings, scanned pages) compresses best unfiltered at zlib level 6, the
// settings libvips writes by default. Smooth content (photographs, gradients)
// shrinks to less than half with the Average row filter, and then zlib's
// run-length strategy finds nearly all of what its full match search would,
// several times faster. A sample of bands of rows is compressed both ways and
// the smaller wins; Flat is kept unless Smooth is clearly smaller, so a file
// is never noticeably larger than the unfiltered level-6 one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::raster::png {

struct Compression {
  int filters;   // PNG_FILTER_* mask for png_set_filter
  int strategy;  // Z_DEFAULT_STRATEGY or Z_RLE
  int level;     // zlib level
};

// Flat: no row filter, level 6, default strategy.
Compression flat_compression();

// Samples rows 0..height-1, each row_bytes long with samples pixel_bytes
// apart, through row(context, y) (whose buffer may be reused between calls),
// and returns the settings that compress them smaller.
Compression choose_compression(const uint8_t* (*row)(void* context, int32_t y), void* context,
                               int32_t height, size_t row_bytes, size_t pixel_bytes);

}  // namespace korvex::raster::png
