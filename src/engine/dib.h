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

// The image of a packed DIB, read by the raster layer's DIB reader
// (raster::dib::read_packed, which states the rules a block must meet).
// The engine's status rule: running out of memory stays OutOfMemory; any
// other refusal, of a malformed block or of a variant that is not read, is
// InvalidParameter, since the block is the caller's argument. Resolution:
// pels per metre / 100 x 2.54, rounded half to even, set when both are
// positive (96 dpi otherwise).
raster::Status ImageFromPackedDib(const uint8_t* block, size_t size,
                                  std::unique_ptr<raster::Image>& out);

// A packed DIB of the image, written by the raster layer's DIB writer
// (raster::dib::write): indexed images keep their depth and palette, 16-bit
// RGB555 and 24-bit images keep theirs, every other format becomes 32-bit
// with alpha composited over `background`. A block past the 4 GiB its size
// fields describe gives OutOfMemory.
raster::Status PackedDibFromImage(raster::Image& img, uint32_t background,
                                  std::vector<uint8_t>& out);

}  // namespace korvex
