// One exception boundary for every layer. Dependencies (the C++ library,
// libpng's and libjpeg's error jumps turned into exceptions, cairo wrappers)
// may throw; members and decoders answer with a status instead.
#pragma once

#include <new>
#include <utility>

#include "raster/types.h"

namespace korvex::raster {

// Runs `work`, which returns a Status, and turns an escaping exception into
// one: running out of memory gives OutOfMemory, anything else `otherwise`.
template <class Work>
Status guarded(Work&& work, Status otherwise = Status::GenericError) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  } catch (...) {
    return otherwise;
  }
}

}  // namespace korvex::raster
