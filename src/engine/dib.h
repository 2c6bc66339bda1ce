// Conversions between raster images and the host's bitmaps and packed DIBs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "korvex/host.h"
#include "raster/image.h"

namespace korvex {

// An image holding a copy of a host bitmap: 1/4/8 bits become indexed images
// with the bitmap's colours (or `palette` when given, or the default palette
// when the bitmap has none), 16 bits 16bppRGB555, 24 bits 24bppRGB, 32 bits
// 32bppRGB (the fourth byte is not alpha in a device bitmap).
raster::Status ImageFromHostBitmap(const host::Bitmap& bitmap, const std::vector<uint32_t>* palette,
                                   std::unique_ptr<raster::Image>& out);

// A 32-bit host bitmap of the image's active frame, alpha composited over an
// opaque background colour (ARGB).
raster::Status HostBitmapFromImage(raster::Image& img, uint32_t background, host::Bitmap& out);

// Parses a packed DIB (BITMAPINFOHEADER or larger, optional bit-field masks,
// colour table, pixels) and copies it into a new image. Every field is
// checked against the block: a header under 40 bytes, a bad depth, plane
// count or compression, inconsistent masks or colour count, or pixels past
// the end of the block give InvalidParameter. Resolution: pels per metre
// / 100 x 2.54, rounded half to even, set when both are positive.
raster::Status ImageFromPackedDib(const uint8_t* block, size_t size,
                                  std::unique_ptr<raster::Image>& out);

// A packed DIB (40-byte header, colour table for indexed images, bottom-up
// rows) of the image: indexed images keep their depth and palette, 16-bit
// RGB555 and 24-bit images keep theirs, every other format becomes 32-bit
// with alpha composited over `background`.
raster::Status PackedDibFromImage(raster::Image& img, uint32_t background,
                                  std::vector<uint8_t>& out);

}  // namespace korvex
