// The 3 x 3 match-and-replace filter: wherever the neighbourhood of an inner
// pixel equals the IN pattern (red, green and blue; alpha is not compared) the
// nine pixels take the colours of the OUT pattern, keeping their alpha. The
// zone is changed in place in raster order, so later windows see the pixels
// already replaced.
#include "processing/filter_engine.h"

namespace korvex::filters {

void RunPatternMatch(const Pixels& z, const PatternPair& patterns) {
  if (z.w < 3 || z.h < 3) return;
  constexpr uint32_t kRgb = 0x00FFFFFFu;
  uint32_t in[9], out[9];
  for (int i = 0; i < 9; ++i) {
    in[i] = patterns.in[static_cast<size_t>(i)] & kRgb;
    out[i] = patterns.out[static_cast<size_t>(i)] & kRgb;
  }
  for (int32_t y = 1; y + 1 < z.h; ++y) {
    uint32_t* rows[3] = {z.row(y - 1), z.row(y), z.row(y + 1)};
    for (int32_t x = 1; x + 1 < z.w; ++x) {
      // The centre is the most selective element: test it first.
      if ((rows[1][x] & kRgb) != in[4]) continue;
      bool match = true;
      for (int i = 0; i < 9 && match; ++i) {
        match = (rows[i / 3][x - 1 + i % 3] & kRgb) == in[i];
      }
      if (!match) continue;
      for (int i = 0; i < 9; ++i) {
        uint32_t& p = rows[i / 3][x - 1 + i % 3];
        p = (p & ~kRgb) | out[i];
      }
    }
  }
}

}  // namespace korvex::filters
