// Fields of a cKorvex engine and the per-thread state its members share.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "korvex/engine.h"
#include "raster/codec.h"
#include "raster/rounding.h"
#include "raster/types.h"

namespace korvex {

// Remembered size, resolution and format of an image being rebuilt.
struct SavedImageInfoFields {
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t vertical_resolution = 0;
  int32_t horizontal_resolution = 0;
  int32_t pixel_format = 0;
};

// Rectangle the pixel effects apply to: mode 1 = whole picture, 2 = set zone.
struct FilterZoneFields {
  int32_t mode = 1;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct cKorvex::State {
  std::vector<raster::PropertyItem> SavedTags;
  int32_t NativeImage = 0;
  int32_t MultiPageTarget = 0;
  int32_t PdfUnit = 0;
  SavedImageInfoFields SavedImageInfo;
  bool PreserveTags = true;
  int32_t SavedTagCount = 0;
  cKorvexStatus LastStatus = cKorvexStatus::Ok;
  int32_t FontUnit = 3;  // UnitPoint
  int32_t PdfState[2] = {0, 0};
  FilterZoneFields FilterZone;
  std::vector<uint32_t> Matrices3x3;  // 9 ARGB values per pattern matrix, in creation order
  bool NativeOwned = false;
};

// The engine's table of encoders: CLSIDs in listing order and a
// case-insensitive map from file-name pattern ("*.jpg") to encoder index.
struct EncoderTable {
  std::vector<raster::Guid> clsids;
  std::map<std::string, int32_t> patterns;  // keys in lower case

  // Fills the table from a list of (CLSID, ";"-separated pattern list).
  void build(const std::vector<std::pair<raster::Guid, std::string>>& encoders);
  // Index of the encoder for a pattern, -1 when absent.
  int32_t lookup(const std::string& pattern) const;
  void clear();
};

// One image whose pixels live in a caller's packed-DIB memory block.
struct DibImageEntry {
  int32_t handle = 0;     // global-memory handle of the block
  int32_t image = 0;      // image identifier
  int32_t free_flag = 0;  // 1: free the block when the image is closed
};

// Raster session of one thread, joined by every engine and viewer.
struct RasterSession {
  bool started = false;
  int32_t users = 0;
  std::string version;  // "major.minor.build.revision" of the raster layer
};

// State shared by every engine and viewer of one thread.
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

// Appends an entry to the thread's table of DIB-backed images.
void DibImageTableAdd(int32_t handle, int32_t image, int32_t free_flag);

// Path clean-up for file names given by hosts: trims spaces, turns "\" into
// "/", and collapses repeated "/" after the first two characters, so that a
// leading "//" survives.
std::string NormalizePath(const std::string& path);
// Temporary folder: TMPDIR, else tmp, else temp, else "/tmp"; one trailing "/".
std::string TempFolder();

using raster::RoundHalfEven;

// Access to an engine's fields for the member families and for tests.
struct EngineAccess {
  static cKorvex::State& state(cKorvex& k) { return *k.s_; }
};

}  // namespace korvex
