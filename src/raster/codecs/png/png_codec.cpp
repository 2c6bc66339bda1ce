// The libpng error handlers the PNG decoder and encoder share, and the
// signature test.
#include "png_codec.h"

#include <cstring>

namespace korvex::raster::png {

void on_png_error(png_structp png, png_const_charp /*message*/) {
  // Back to the setjmp of the plain-C frame that called into libpng.
  png_longjmp(png, 1);
}

void on_png_warning(png_structp /*png*/, png_const_charp /*message*/) {}

bool sniff(const uint8_t* data, size_t size) {
  return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

}  // namespace korvex::raster::png
