// Windows metafiles as raster images: placeable WMF (through libwmf) and EMF
// (through libemf2svg and librsvg over cairo), rasterised at the metafile's
// own pixel size on opaque white.
//
// The third-party libraries stay behind the functions of this folder; the
// rest of Korvex sees only the two decoders registered with the codec table.
// Before a library sees the bytes, the header and the record chain are
// checked here: every record lies inside the file, and the end record is
// present, so a damaged file is refused with a status instead of reaching
// code that trusts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "raster/types.h"

namespace korvex::metafile {

// What the header says about the picture: its size in pixels at its own
// resolution.
struct Frame {
  int32_t width = 0;
  int32_t height = 0;
  float dpi_x = 96.0f;
  float dpi_y = 96.0f;
  // EMF: the frame in pixels of the reference device (the units the records
  // draw in), which is what fills the picture: its exact origin and extent,
  // and the whole pixels that cover it.
  double device_x = 0.0;
  double device_y = 0.0;
  double device_width = 1.0;
  double device_height = 1.0;
  int32_t device_left = 0;
  int32_t device_top = 0;
  int32_t device_right = 0;
  int32_t device_bottom = 0;
};

// Signatures: the placeable WMF key 0x9AC6CDD7, and an EMF header record
// (type 1) carrying " EMF" at offset 40.
bool sniff_wmf(const uint8_t* data, size_t size);
bool sniff_emf(const uint8_t* data, size_t size);

// Reads the header and walks the record chain. GenericError for a damaged
// or truncated file (an empty WMF box included), OutOfMemory for a frame far
// beyond any pixel limit (its pixel size or position outside 29 bits).
raster::Status parse_wmf(const uint8_t* data, size_t size, Frame& out);
raster::Status parse_emf(const uint8_t* data, size_t size, Frame& out);

// 32-bit pixels B, G, R, X to draw on, already filled with opaque white.
struct Canvas {
  uint8_t* scan0 = nullptr;
  int32_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// Makes the canvas of the frame's pixel size: the bitmap is allocated only
// once the library has read the file without complaint.
using CanvasMaker = std::function<raster::Status(Canvas&)>;

// Plays a checked metafile onto the canvas, scaled to fill it. GenericError
// when the library refuses the file; the canvas maker's status when the
// bitmap cannot be made.
raster::Status render_wmf(const uint8_t* data, size_t size, const Frame& frame,
                          const CanvasMaker& make_canvas);
raster::Status render_emf(const uint8_t* data, size_t size, const Frame& frame,
                          const CanvasMaker& make_canvas);

}  // namespace korvex::metafile
