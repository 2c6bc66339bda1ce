// Registration of the icon and cursor decoder.
#include "raster/codecs/ico/ico.h"

namespace korvex::raster {

KORVEX_REGISTER_CODEC(ico) {
  register_decoder(decoder_record("ICO", guids::kFormatIcon, sniff_ico, decode_ico));
}

}  // namespace korvex::raster
