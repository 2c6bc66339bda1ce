// Encoder parameters of the file saves whose parameters depend on the
// picture, shared by the save members and whole commands run in bands.
#pragma once

#include <cstdint>

#include "raster/codec.h"
#include "raster/types.h"

namespace korvex {

// SaveAsTiff's parameters for a picture stored in format `f`.
raster::EncoderParams TiffSaveParams(raster::PixelFormat f, int32_t compression, int32_t depth);

}  // namespace korvex
