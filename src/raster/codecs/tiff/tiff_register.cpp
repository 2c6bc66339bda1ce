// Registration of the TIFF decoder and encoder.
#include "raster/codecs/tiff/tiff_pages.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(tiff) {
  const Decoder decoder = decoder_record("TIFF", guids::kFormatTiff, tiffcodec::sniff,
                                         tiffcodec::decode, tiffcodec::decode_file);
  const Encoder encoder = encoder_record(
      "TIFF", Guid{0x5F3A9C21, 0x7B4E, 0x4D2A, {0x9E, 0x61, 0x2C, 0x8B, 0x7F, 0x0A, 0x4D, 0x13}},
      guids::kFormatTiff, "*.TIF;*.TIFF", "image/tiff", 3, tiffcodec::encode,
      tiffcodec::open_frames);
  register_decoder(decoder);
  register_encoder(encoder);
  register_band_file_reader(decoder, tiffcodec::open_band_file_reader);
  register_band_writer(encoder, tiffcodec::open_band_writer);
}

}  // namespace korvex::raster
