// Registration of the PNG decoder and encoder, and the libpng error handlers
// they share.
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

KORVEX_REGISTER_CODEC(png) {
  using namespace korvex::raster;
  Decoder d;
  d.name = "PNG";
  d.format = guids::kFormatPng;
  d.sniff = png::sniff;
  d.decode = png::decode;
  register_decoder(d);

  Encoder e;
  e.clsid = Guid{0x0FA2FA46, 0xE62D, 0x49C7, {0x9A, 0x01, 0xC2, 0x93, 0xAA, 0x4D, 0x42, 0xA4}};
  e.format = guids::kFormatPng;
  e.name = "Korvex PNG codec";
  e.extensions = "*.PNG";
  e.mime_type = "image/png";
  e.order = 4;
  e.encode = png::encode;
  e.open_frames = nullptr;
  register_encoder(e);
}
