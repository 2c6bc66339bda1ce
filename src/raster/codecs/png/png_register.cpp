// Registration of the PNG decoder and encoder.
#include "raster/codecs/png/png_codec.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(png) {
  register_decoder(decoder_record("PNG", guids::kFormatPng, png::sniff, png::decode));
  const Encoder encoder = encoder_record(
      "PNG", Guid{0x0FA2FA46, 0xE62D, 0x49C7, {0x9A, 0x01, 0xC2, 0x93, 0xAA, 0x4D, 0x42, 0xA4}},
      guids::kFormatPng, "*.PNG", "image/png", 4, png::encode);
  register_encoder(encoder);
  register_band_writer(encoder, png::open_band_writer);
}

}  // namespace korvex::raster
