// Registration of the BMP decoder and encoder.
#include "raster/codecs/bmp/bmp_codec.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(bmp) {
  register_decoder(decoder_record("BMP", guids::kFormatBmp, bmp::sniff, bmp::decode));
  register_encoder(encoder_record("BMP", bmp::kEncoderClsid, guids::kFormatBmp, "*.BMP;*.DIB;*.RLE",
                                  "image/bmp", 0, bmp::encode));
}

}  // namespace korvex::raster
