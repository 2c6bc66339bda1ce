// A small stand-in codec for the engine tests: it claims the usual file-name
// patterns ahead of the real encoders, records the parameters and the
// software property it was called with, and writes a trivial format
// ("KXR1", width, height, pixel format, then 32bppARGB pixels) that its
// decoder reads back. Multi-page files record their pages.
#pragma once

#include <string>
#include <vector>

#include "raster/codec.h"

namespace korvex::standin {

struct Call {
  raster::EncoderParams params;
  bool had_software_tag = false;
  std::string software;
};

struct Record {
  std::vector<Call> encodes;
  std::vector<Call> pages;  // pages given to multi-page writers, first page included
  int finished = 0;         // writers completed
  bool fail_next_encode = false;
};

Record& record();
// Registers the stand-in codec (idempotent); removes it again.
void install();
void uninstall();
// Encodes an image in the stand-in format directly.
std::vector<uint8_t> encode_bytes(int32_t w, int32_t h, uint32_t argb);

}  // namespace korvex::standin
