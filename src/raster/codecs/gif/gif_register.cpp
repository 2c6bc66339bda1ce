// Registration of the GIF decoder and encoder.
#include "raster/codecs/gif/gif_codec.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(gif) {
  register_decoder(decoder_record("GIF", guids::kFormatGif, gif::sniff, gif::decode));
  register_encoder(encoder_record("GIF", gif::kEncoderClsid, guids::kFormatGif, "*.GIF",
                                  "image/gif", 2, gif::encode));
}

}  // namespace korvex::raster
