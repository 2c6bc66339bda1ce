// Registry of the image encoders the raster layer offers, in listing order.
// Each codec registers itself beside its code.
#pragma once

#include <string>
#include <vector>

#include "raster/types.h"

namespace korvex::raster {

struct EncoderInfo {
  Guid clsid;
  Guid format;             // raw format written
  std::string name;        // "Built-in PNG codec"
  std::string extensions;  // ";"-separated file-name patterns: "*.JPG;*.JPEG;*.JPE;*.JFIF"
  std::string mime_type;
};

const std::vector<EncoderInfo>& image_encoders();
void register_encoder(const EncoderInfo& info);

}  // namespace korvex::raster
