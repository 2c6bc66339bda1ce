// Registration of the JPEG decoder and encoder.
#include "raster/codecs/jpeg/jpeg_common.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(jpeg) {
  register_decoder(decoder_record("JPEG", guids::kFormatJpeg, jpeg::sniff, jpeg::decode));
  register_encoder(encoder_record(
      "JPEG", Guid{0x7A3C1E52, 0x5B0D, 0x4F6A, {0x9C, 0x21, 0x4E, 0x8B, 0x0D, 0x6F, 0x3A, 0x17}},
      guids::kFormatJpeg, "*.JPG;*.JPEG;*.JPE;*.JFIF", "image/jpeg", 1, jpeg::encode));
}

}  // namespace korvex::raster
