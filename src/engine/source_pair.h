// Defines the two members of an image source from one routine.
#pragma once

// Each source exists twice. CreateImageFrom... makes the new image native and
// leaves it to the caller (so a later LoadFrom... never disposes it);
// LoadFrom... first closes the engine's own native image and keeps the new
// one as its own.
#define KORVEX_SOURCE_PAIR(CreateName, LoadName, Params, Args) \
  int32_t cKorvex::CreateName Params {                         \
    const int32_t id = CreateName##Routine Args;               \
    if (id != 0) {                                             \
      s_->NativeImage = id;                                    \
      s_->NativeOwned = false;                                 \
    }                                                          \
    return id;                                                 \
  }                                                            \
  cKorvexStatus cKorvex::LoadName Params {                     \
    CloseNativeImage();                                        \
    const int32_t id = CreateName##Routine Args;               \
    s_->NativeImage = id;                                      \
    s_->NativeOwned = id != 0;                                 \
    return s_->LastStatus;                                     \
  }
