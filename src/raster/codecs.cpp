#include "raster/codecs.h"

namespace korvex::raster {

namespace {
std::vector<EncoderInfo>& registry() {
  static std::vector<EncoderInfo> encoders;
  return encoders;
}
}  // namespace

const std::vector<EncoderInfo>& image_encoders() {
  return registry();
}

void register_encoder(const EncoderInfo& info) {
  for (EncoderInfo& e : registry()) {
    if (e.clsid == info.clsid) {
      e = info;
      return;
    }
  }
  registry().push_back(info);
}

}  // namespace korvex::raster
