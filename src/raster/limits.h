// The checks every allocation of pixels and every inflating decoder makes
// against the process's resource limits (korvex/limits.h).
#pragma once

#include <cstdint>

#include "korvex/limits.h"
#include "raster/types.h"

namespace korvex::raster {

// Ok when a bitmap of width x height pixels needing `bytes` of pixel memory
// stays within the pixel count and pixel memory limits, else OutOfMemory.
// Sizes up to 2^32 each, so the product cannot overflow.
Status check_bitmap(uint64_t width, uint64_t height, uint64_t bytes);

// True when a stream of `encoded` bytes may decode into `decoded` bytes: at
// most kInflateRatioFreeBytes, or at most the inflate ratio times `encoded`.
bool inflate_allowed(uint64_t encoded, uint64_t decoded);

// The download limit as a byte count of this machine.
size_t download_limit();

}  // namespace korvex::raster
