// The effects of a whole command run in bands: point effects on each band
// as it comes, neighbourhood effects on a window of rows that holds their
// reach above and below, each keeping the few rows it needs from one band
// to the next.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "processing/filter_engine.h"
#include "raster/types.h"

namespace korvex {

struct BandedEffect {
  int32_t effect = 0;
  filters::FilterParams params;
};

// The member as an effect the band runner takes: a point effect that runs
// on rows seen once and in order, or a neighbourhood effect whose reach is
// a few rows. False for every other member or argument.
bool BandedEffectMember(const std::string& member, const std::vector<int32_t>& args,
                        BandedEffect& e);

// Runs a chain of effects over a picture given band by band, top to bottom.
// A neighbourhood effect holds back the rows under its reach until the rows
// below them come, so rows leave the chain later than they enter it, in
// order, and all of them once the last band is in.
class EffectChain {
 public:
  using Emit = std::function<raster::Status(const filters::Pixels&)>;

  // Picture `width` x `height`, at most `rows` rows per band. OutOfMemory
  // when the rows kept would exceed the pixel memory limit.
  raster::Status start(const std::vector<BandedEffect>& effects, int32_t width, int32_t height,
                       int32_t rows);
  // The most rows handed to `emit` at once.
  int32_t max_rows() const { return max_rows_; }
  // Effect k's whole-picture figures and the band it is on.
  filters::BandContext& context(size_t k) { return stages_[k].ctx; }
  // Empties the kept rows before a new pass from the picture's top.
  void restart();
  // Takes `band` (picture rows y0 ..) through effects [0, upto) and hands
  // every row that leaves the last of them to `emit`, which may change them.
  raster::Status push(size_t upto, int32_t y0, const filters::Pixels& band, const Emit& emit);

 private:
  struct Stage {
    BandedEffect fx;
    filters::BandContext ctx;
    filters::RowReach reach;  // bounded for neighbourhood effects only
    std::vector<uint32_t> rows, carry;
    int32_t kept = 0;  // rows of reach above the next row to compute, in `carry`
    int32_t held = 0;  // source rows not yet computed, from row `held_at`
    int32_t held_at = 0;
    int32_t next = 0;      // picture row of the next row to compute
    int32_t received = 0;  // picture rows taken so far
  };
  raster::Status feed(size_t k, size_t upto, int32_t y0, const filters::Pixels& in,
                      const Emit& emit);
  raster::Status window(Stage& s, const filters::Pixels& in, filters::Pixels& out);

  std::vector<Stage> stages_;
  int32_t width_ = 0, height_ = 0, max_rows_ = 0;
};

}  // namespace korvex
