// Registration of the TIFF decoder and encoder.
#include "raster/codecs/tiff/tiff_internal.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(tiff) {
  Decoder d;
  d.name = "TIFF";
  d.format = guids::kFormatTiff;
  d.sniff = tiffcodec::sniff;
  d.decode = tiffcodec::decode;
  d.decode_file = tiffcodec::decode_file;
  register_decoder(d);

  Encoder e;
  e.clsid = Guid{0x5F3A9C21, 0x7B4E, 0x4D2A, {0x9E, 0x61, 0x2C, 0x8B, 0x7F, 0x0A, 0x4D, 0x13}};
  e.format = guids::kFormatTiff;
  e.name = "Korvex TIFF codec";
  e.extensions = "*.TIF;*.TIFF";
  e.mime_type = "image/tiff";
  e.order = 3;
  e.encode = tiffcodec::encode;
  e.open_frames = tiffcodec::open_frames;
  register_encoder(e);
}

}  // namespace korvex::raster
