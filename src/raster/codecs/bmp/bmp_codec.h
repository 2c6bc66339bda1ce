// BMP decoder and encoder entry points, registered by bmp_register.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::raster::bmp {

// {5E4F1C2A-8B39-4D6E-A1F7-3C92B04D6E15}
inline constexpr Guid kEncoderClsid{
    0x5E4F1C2A, 0x8B39, 0x4D6E, {0xA1, 0xF7, 0x3C, 0x92, 0xB0, 0x4D, 0x6E, 0x15}};

// True when the bytes start with "BM".
bool sniff(const uint8_t* data, size_t size);
Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out);
Status encode(Image& img, const EncoderParams& params, ByteSink& out);

}  // namespace korvex::raster::bmp
