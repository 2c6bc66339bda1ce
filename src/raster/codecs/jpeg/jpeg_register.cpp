// Registration of the JPEG decoder and encoder.
#include "raster/codecs/jpeg/jpeg_common.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(jpeg) {
  const Decoder decoder = decoder_record("JPEG", guids::kFormatJpeg, jpeg::sniff, jpeg::decode);
  const Encoder encoder = encoder_record(
      "JPEG", Guid{0x7A3C1E52, 0x5B0D, 0x4F6A, {0x9C, 0x21, 0x4E, 0x8B, 0x0D, 0x6F, 0x3A, 0x17}},
      guids::kFormatJpeg, "*.JPG;*.JPEG;*.JPE;*.JFIF", "image/jpeg", 1, jpeg::encode);
  register_decoder(decoder);
  register_encoder(encoder);
  register_band_reader(decoder, jpeg::open_band_reader);
  register_band_writer(encoder, jpeg::open_band_writer);
}

}  // namespace korvex::raster
