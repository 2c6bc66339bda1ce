#include "raster/codecs/gif/gif_codec.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(gif) {
  Decoder d;
  d.name = "GIF";
  d.format = guids::kFormatGif;
  d.sniff = &gif::sniff;
  d.decode = &gif::decode;
  register_decoder(d);

  Encoder e;
  e.clsid = gif::kEncoderClsid;
  e.format = guids::kFormatGif;
  e.name = "Korvex GIF codec";
  e.extensions = "*.GIF";
  e.mime_type = "image/gif";
  e.order = 2;
  e.encode = &gif::encode;
  register_encoder(e);
}

}  // namespace korvex::raster
