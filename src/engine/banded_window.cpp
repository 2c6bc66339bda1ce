// The effect chain of whole commands in bands. A neighbourhood effect runs
// its own row routine (filters::RunNeighbourhoodRows) on a window made of
// the rows of its reach above, kept from the previous band (as computed for
// in-place effects, as they were for copy effects), the rows held back last
// time and the new band; it computes every row whose reach below has come,
// and holds back the rest. The last band computes all that is left, with
// the picture's bottom rows as the routine's edge.
#include "engine/banded_window.h"

#include <algorithm>
#include <cstring>

#include "engine/effects.h"
#include "raster/image.h"

namespace korvex {

using raster::Status;

bool BandedEffectMember(const std::string& member, const std::vector<int32_t>& args,
                        BandedEffect& e) {
  if (!PointEffectMember(member, args, e.effect, e.params) &&
      !NeighbourhoodEffectMember(member, args, e.effect, e.params)) {
    return false;
  }
  return filters::RunsOnStreamedRows(e.effect, e.params);
}

Status EffectChain::start(const std::vector<BandedEffect>& effects, int32_t width, int32_t height,
                          int32_t rows) {
  stages_.clear();
  width_ = width;
  height_ = height;
  const uint64_t w = static_cast<uint64_t>(std::max(width, 0));
  const uint64_t limit = std::min<uint64_t>(raster::pixel_memory_limit(), SIZE_MAX) / 4;
  uint64_t in_rows = static_cast<uint64_t>(std::max(rows, 1)), pixels = 0;
  for (const BandedEffect& e : effects) {
    Stage s;
    s.fx = e;
    s.ctx.zone_h = height;
    if (filters::IsNeighbourhoodEffect(e.effect)) {
      s.reach = filters::NeighbourhoodReach(e.effect, e.params);
      if (!s.reach.bounded) return Status::NotImplemented;
      // Before a band comes: the reach above and fewer rows than the reach
      // below and a block; the band may grow by as many on its way out.
      const uint64_t extra = static_cast<uint64_t>(s.reach.below) + s.reach.align;
      const uint64_t cap = static_cast<uint64_t>(s.reach.above) + in_rows + extra;
      pixels += (cap + static_cast<uint64_t>(s.reach.above)) * w;
      if (cap > INT32_MAX || pixels > limit) return Status::OutOfMemory;
      s.rows.resize(static_cast<size_t>(cap * w));
      s.carry.resize(static_cast<size_t>(s.reach.above) * static_cast<size_t>(w));
      in_rows += extra;
    }
    stages_.push_back(std::move(s));
  }
  max_rows_ = static_cast<int32_t>(std::min<uint64_t>(in_rows, INT32_MAX));
  return Status::Ok;
}

void EffectChain::restart() {
  for (Stage& s : stages_) s.kept = s.held = s.held_at = s.next = s.received = 0;
}

Status EffectChain::push(size_t upto, int32_t y0, const filters::Pixels& band, const Emit& emit) {
  return feed(0, std::min(upto, stages_.size()), y0, band, emit);
}

Status EffectChain::feed(size_t k, size_t upto, int32_t y0, const filters::Pixels& in,
                         const Emit& emit) {
  if (in.h == 0) return Status::Ok;
  if (k == upto) return emit(in);
  Stage& s = stages_[k];
  if (!s.reach.bounded) {
    s.ctx.top = y0;
    if (!filters::RunPointEffect(s.fx.effect, in, s.fx.params, &s.ctx))
      return Status::InvalidParameter;
    return feed(k + 1, upto, y0, in, emit);
  }
  const int32_t top = s.next;
  filters::Pixels out{nullptr, width_, 0};
  if (Status st = window(s, in, out); st != Status::Ok) return st;
  return feed(k + 1, upto, top, out, emit);
}

Status EffectChain::window(Stage& s, const filters::Pixels& in, filters::Pixels& out) {
  const size_t w = static_cast<size_t>(width_);
  uint32_t* buf = s.rows.data();
  const filters::RowReach& r = s.reach;
  // The rows of reach above, then the rows held back, then the band.
  if (s.held > 0 && s.held_at != s.kept)
    std::memmove(buf + static_cast<size_t>(s.kept) * w, buf + static_cast<size_t>(s.held_at) * w,
                 static_cast<size_t>(s.held) * w * 4);
  if (s.kept > 0) std::memcpy(buf, s.carry.data(), static_cast<size_t>(s.kept) * w * 4);
  const size_t at = static_cast<size_t>(s.kept + s.held);
  if ((at + static_cast<size_t>(in.h)) * w > s.rows.size()) return Status::InvalidParameter;
  std::memcpy(buf + at * w, in.px, static_cast<size_t>(in.h) * w * 4);
  s.received += in.h;
  s.held += in.h;
  s.held_at = s.kept;

  const bool last = s.received >= height_;
  int32_t ready = last ? s.held : s.held - r.below;
  if (!last) ready = ready / r.align * r.align;  // whole blocks from the picture's top
  if (ready <= 0) return Status::Ok;
  const int32_t rows = s.kept + ready + (last ? 0 : r.below);
  const filters::RowWindow win{{buf, width_, rows}, s.next - s.kept, height_};
  // The reach above the next row to compute: the source rows for copy
  // effects, taken before the routine runs, else its results.
  const int32_t keep = std::min(r.above, s.next + ready);
  uint32_t* keep_from = buf + static_cast<size_t>(s.kept + ready - keep) * w;
  const size_t keep_bytes = static_cast<size_t>(keep) * w * 4;
  if (r.reads_source && keep > 0) std::memcpy(s.carry.data(), keep_from, keep_bytes);
  if (!filters::RunNeighbourhoodRows(s.fx.effect, win, s.fx.params))
    return Status::InvalidParameter;
  if (!r.reads_source && keep > 0) std::memcpy(s.carry.data(), keep_from, keep_bytes);

  out = filters::Pixels{buf + static_cast<size_t>(s.kept) * w, width_, ready};
  s.held_at = s.kept + ready;
  s.held -= ready;
  s.next += ready;
  s.kept = keep;
  return Status::Ok;
}

}  // namespace korvex
