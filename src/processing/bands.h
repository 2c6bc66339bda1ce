// Bands of one colour along the edges of a scanned page: how many whole rows
// (top, bottom) or columns (left, right) from each edge inward are filled
// with a reference colour, up to a share of stray pixels.
#pragma once

#include <cstdint>

#include "raster/image.h"

namespace korvex::filters {

struct BandRule {
  uint32_t reference = 0xFFFFFFFFu;  // ARGB; only red, green and blue are compared
  // 0: exact red, green and blue; otherwise a pixel matches when
  // |dR| + |dG| + |dB| <= tolerance.
  int32_t tolerance = 0;
  // A line is a band line when 100 x matches / pixels of the line is at
  // least this (compared exactly, as a real share).
  int32_t confidence = 100;
  // Lines passed over at each edge before the search; they count in a band
  // only when at least one band line follows them.
  int32_t skip = 0;
};

// Lines to remove at each edge; 0 where no band line was found. Each depth
// stays below the image's size in its direction, but opposite depths may
// together reach or pass it (a uniform page).
struct BandDepths {
  int32_t top = 0;
  int32_t bottom = 0;
  int32_t left = 0;
  int32_t right = 0;
};

// Measures the four bands of the active frame in one pass over its rows,
// read in place in the image's own pixel format: indexed pixels through
// their palette entries (an index past the palette reads as 0x00000000),
// premultiplied ones after unpremultiplying, as a 32bppARGB read would give
// them. A negative tolerance or skip count gives InvalidParameter, a locked
// image WrongState. Allocates two line counters (width + height integers).
raster::Status MeasureBands(const raster::Image& img, const BandRule& rule, BandDepths& out);

}  // namespace korvex::filters
