// Icon and cursor decoder, registered by ico_register.cpp, and the icon file
// writer, called by the engine when an image is saved as an icon (icons are
// not an encoder of the registry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/codec.h"
#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster {

// True when the bytes start with an icon or cursor directory whose first
// entry is plausible.
bool sniff_ico(const uint8_t* data, size_t size);
Status decode_ico(const EncodedBytes& in, std::unique_ptr<Image>& out);

// Writes the active frame as an icon file with one 32 x 32 entry: a 32-bit
// BGRA DIB (height 64: the colour rows then the 1-bit AND mask, whose bits
// are set where alpha < 128). InvalidParameter unless the image is 32 x 32.
Status encode_ico(Image& img, ByteSink& out);

}  // namespace korvex::raster
