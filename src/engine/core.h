// Core routines that the engine's member families share: remembering and
// restoring an image's attributes around a rebuild, pixel-format rebuilds
// and disposal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/state.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex {

// Records a raster status as the engine's last status and returns it.
inline cKorvexStatus SetStatus(cKorvex::State& s, raster::Status st) {
  s.LastStatus = static_cast<cKorvexStatus>(st);
  return s.LastStatus;
}

// Remembers size, rounded resolution and pixel format of an image (0 = the
// native image), and its property items when tags are preserved.
void SaveImageInfo(cKorvex::State& s, int32_t image);
// Puts the remembered resolution and property items back on a rebuilt image.
void RestoreImageInfo(cKorvex::State& s, int32_t image);
// Makes a rebuilt image native in place of the old one, which is closed; the
// native image keeps its ownership and the remembered resolution and tags go
// onto the new one. Records and returns Ok.
cKorvexStatus ReplaceNativeImage(cKorvex& k, cKorvex::State& s, std::unique_ptr<raster::Image> img);

// A copy of an image in another pixel format, converted through 32bppARGB.
// Returns the new identifier, or 0 with the status in LastStatus.
int32_t CloneToPixelFormat(cKorvex::State& s, int32_t image, raster::PixelFormat f);
// Replaces the native image by its copy in format f.
cKorvexStatus ConvertNativePixelFormat(cKorvex::State& s, raster::PixelFormat f);

// Disposes an image, then releases a DIB block it was built over (when the
// engine was handed that block) and the kept byte buffer it owned.
raster::Status DisposeImage(int32_t image);

// Bits per pixel of the fourteen named pixel formats, 0 for any other.
int32_t IntPixelFormat(raster::PixelFormat f);

// Saves the native image to a file with the encoder of a file-name pattern
// ("*.png"), stamping the software property first when `tag` is set.
cKorvexStatus SaveNativeToFile(cKorvex::State& s, const std::string& pattern,
                               const std::string& path, const raster::EncoderParams& params,
                               bool tag);
// Its pieces, for whole commands saved band by band: the encoder of a
// pattern (null when none), the software property it stamps (false when
// switched off for the thread), and the parameters SaveAsJpeg gives.
const raster::Encoder* EncoderForPattern(const std::string& pattern);
bool SoftwareProperty(raster::PropertyItem& item);
raster::EncoderParams JpegSaveParams(int32_t quality);

// The image of a packed DIB in a movable memory block, recorded with its free
// flag (1: the block is released when the image is closed).
int32_t ImageFromPackedDibBlock(cKorvex::State& s, int32_t hdib, int32_t free_flag);

// Sets PreserveTags for the inner steps of a routine and restores it on
// every exit path.
class PreserveTagsOverride {
 public:
  PreserveTagsOverride(cKorvex::State& s, bool value) : s_(s), saved_(s.PreserveTags) {
    s.PreserveTags = value;
  }
  ~PreserveTagsOverride() { s_.PreserveTags = saved_; }
  PreserveTagsOverride(const PreserveTagsOverride&) = delete;
  PreserveTagsOverride& operator=(const PreserveTagsOverride&) = delete;

 private:
  cKorvex::State& s_;
  bool saved_;
};

}  // namespace korvex
