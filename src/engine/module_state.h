// State shared by every engine and viewer of one thread: the raster session,
// the encoder table, the software-tag switch, the kept byte buffer, the
// DIB-backed images and the open multi-page files. Threads share nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/dib_images.h"
#include "engine/encoder_table.h"
#include "raster/codec.h"

namespace korvex {

// Raster session of one thread, joined by every engine and viewer.
struct RasterSession {
  bool started = false;
  int32_t users = 0;
  std::string version;  // "major.minor.build.revision" of the raster layer
};

struct ModuleState {
  RasterSession session;
  EncoderTable encoders;
  bool WriteSoftwareTag = true;
  std::vector<uint8_t> KeptBytes;
  int32_t KeptBytesOwner = 0;
  std::vector<DibImageEntry> DibImageTable;
  // Open multi-page files, by the identifier of their first-page image: a
  // file is completed when that image is disposed (or the writer closed).
  std::map<int32_t, std::unique_ptr<raster::FrameWriter>> MultiPageWriters;
};

ModuleState& module_state();

// Session: the first user of a thread starts it (and builds the encoder
// table), the last one to leave ends it, disposing the images still open.
void join_session();
void leave_session();
// True when the raster layer's version is older than 6.0.
bool old_raster_version();

}  // namespace korvex
