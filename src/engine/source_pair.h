// What the two members of an image source do with the image their routine
// made. Each source exists twice: CreateImageFrom... makes the new image
// native and leaves it to the caller (so a later LoadFrom... never disposes
// it); LoadFrom... first closes the engine's own native image, then keeps the
// new one as its own.
#pragma once

#include <cstdint>

#include "engine/state.h"

namespace korvex {

// CreateImageFrom...: a new image (id != 0) becomes native, owned by the
// caller. Returns the id.
inline int32_t KeepAsCallersImage(cKorvex::State& s, int32_t id) {
  if (id != 0) {
    s.NativeImage = id;
    s.NativeOwned = false;
  }
  return id;
}

// LoadFrom..., after CloseNativeImage and the routine: the new image (or
// none, id 0) becomes native, owned by the engine. Returns the routine's
// status.
inline cKorvexStatus KeepAsEnginesImage(cKorvex::State& s, int32_t id) {
  s.NativeImage = id;
  s.NativeOwned = id != 0;
  return s.LastStatus;
}

}  // namespace korvex
