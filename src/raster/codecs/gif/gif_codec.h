// GIF decoder and encoder entry points, registered by gif_register.cpp.
//
// Decoding. A file holding one picture becomes an 8bppIndexed image of the
// logical screen size with the picture's colour map as palette; a file
// holding several pictures becomes an animation: one 32bppARGB frame of the
// logical screen per picture, composed the way a browser shows it, frames
// after the first decoded on demand. Every GIF gets the time frame
// dimension, 96 dpi, and on every frame the frame delays (0x5100) and, when
// the file carries a looping extension, the loop count (0x5101).
//
// Encoding. The active frame is written as a single-picture GIF89a with a
// global colour map: indexed images keep their indices and palette, other
// images are mapped to the 8-bit halftone palette.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/codec.h"
#include "raster/guard.h"  // the entry points answer exceptions with statuses
#include "raster/image.h"

namespace korvex::raster::gif {

// Property ids written and read by the codec.
inline constexpr uint32_t kPropertyFrameDelay = 0x5100;  // LONG per frame, 1/100 s
inline constexpr uint32_t kPropertyLoopCount = 0x5101;   // SHORT, 0 = endless

// CLSID of the encoder.
inline constexpr Guid kEncoderClsid{
    0x74773D89, 0x84B9, 0x4D6D, {0xA1, 0x3B, 0xEC, 0x03, 0xB7, 0x5F, 0xDD, 0xFF}};

// True when the bytes start with "GIF87a" or "GIF89a".
bool sniff(const uint8_t* data, size_t size);
Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out);
Status encode(Image& img, const EncoderParams& params, ByteSink& out);

}  // namespace korvex::raster::gif
