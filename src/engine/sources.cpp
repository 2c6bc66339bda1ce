// Image sources: files, memory bytes, binary image strings, streams and
// blank images.
#include <memory>
#include <vector>

#include "engine/core.h"
#include "engine/paths.h"
#include "engine/source_pair.h"
#include "engine/state.h"
#include "host/file_io.h"
#include "korvex/engine.h"
#include "raster/bit_depth.h"
#include "raster/codec.h"
#include "raster/cp1252.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/limits.h"

namespace korvex {

namespace {

// Memory-stream creation failed; the decoder itself failed abnormally.
constexpr raster::Status kStreamFailed = static_cast<raster::Status>(22);
constexpr raster::Status kDecoderFailed = static_cast<raster::Status>(23);

constexpr int32_t kOpaqueBlack = static_cast<int32_t>(0xFF000000);

// Decodes encoded bytes into a new registered image; 0 with the status in
// LastStatus on failure. The image keeps its own reference to the bytes it
// still needs (frames decoded on demand), so callers may drop theirs.
int32_t decode_new(cKorvex::State& s, const raster::EncodedBytes& bytes) {
  std::unique_ptr<raster::Image> img;
  const raster::Status st =
      raster::guarded([&] { return raster::decode_image(bytes, img); }, kDecoderFailed);
  if (SetStatus(s, st) != cKorvexStatus::Ok) return 0;
  return raster::register_image(std::move(img));
}

// Memory bytes: at least two are needed; the image gets its own copy.
int32_t from_memory(cKorvex::State& s, const uint8_t* data, size_t n) {
  if (n < 2) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  // Any failure to make the copy, running out of memory included, is the
  // memory stream's.
  raster::EncodedBytes bytes;
  const raster::Status copied = raster::guarded([&] {
    bytes = raster::copy_bytes(data, n);
    return raster::Status::Ok;
  });
  if (copied != raster::Status::Ok) {
    SetStatus(s, kStreamFailed);
    return 0;
  }
  return decode_new(s, bytes);
}

int32_t from_file(cKorvex::State& s, const std::string& path) {
  // Large single-page files are decoded straight from the file; the others
  // are read whole and decoded from memory.
  raster::EncodedBytes bytes;
  std::unique_ptr<raster::Image> img;
  const raster::Status st = raster::guarded(
      [&] { return host::open_image_file(NormalizePath(path), img, bytes); }, kDecoderFailed);
  if (SetStatus(s, st) != cKorvexStatus::Ok) return 0;
  if (img) return raster::register_image(std::move(img));
  if (bytes.size == 0) {
    SetStatus(s, raster::Status::GenericError);
    return 0;
  }
  return decode_new(s, bytes);
}

int32_t from_byte_array(cKorvex::State& s, const Array<uint8_t>& bytes) {
  if (bytes.UBound() < 1) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  return from_memory(s, bytes.data(), bytes.size());
}

int32_t from_string(cKorvex::State& s, const std::string& text) {
  if (text.empty()) {
    SetStatus(s, raster::Status::GenericError);
    return 0;
  }
  const std::vector<uint8_t> bytes = raster::utf8_to_cp1252(text);
  if (bytes.size() < 2) {
    SetStatus(s, raster::Status::ProfileNotFound);  // a one-character image string
    return 0;
  }
  return from_memory(s, bytes.data(), bytes.size());
}

// Reads a stream to its end, up to the download limit (OutOfMemory past it).
raster::Status read_all(Stream& stream, std::vector<uint8_t>& bytes) {
  const size_t limit = raster::download_limit();
  uint8_t chunk[65536];
  for (;;) {
    const int64_t n = stream.Read(chunk, sizeof chunk);
    if (n < 0 || static_cast<uint64_t>(n) > sizeof chunk) return raster::Status::Win32Error;
    if (n == 0) return raster::Status::Ok;
    if (static_cast<size_t>(n) > limit - bytes.size()) return raster::Status::OutOfMemory;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
}

int32_t from_stream(cKorvex::State& s, const std::shared_ptr<Stream>& stream) {
  if (!stream) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  std::vector<uint8_t> bytes;
  if (SetStatus(s, raster::guarded([&] { return read_all(*stream, bytes); })) !=
      cKorvexStatus::Ok) {
    return 0;
  }
  if (bytes.empty()) {
    SetStatus(s, raster::Status::GenericError);
    return 0;
  }
  return decode_new(s, raster::own_bytes(std::move(bytes)));
}

}  // namespace

int32_t cKorvex::CreateImageFromFile(const std::string& sFilePath) {
  return KeepAsCallersImage(*s_, from_file(*s_, sFilePath));
}

cKorvexStatus cKorvex::LoadFromFile(const std::string& sFilePath) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_file(*s_, sFilePath));
}

int32_t cKorvex::CreateImageFromByteArray(Array<uint8_t>& arBytes) {
  return KeepAsCallersImage(*s_, from_byte_array(*s_, arBytes));
}

cKorvexStatus cKorvex::LoadFromByteArray(Array<uint8_t>& arBytes) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_byte_array(*s_, arBytes));
}

int32_t cKorvex::CreateImageFromString(const std::string& sImageString) {
  return KeepAsCallersImage(*s_, from_string(*s_, sImageString));
}

cKorvexStatus cKorvex::LoadFromString(const std::string& sImageString) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_string(*s_, sImageString));
}

int32_t cKorvex::CreateImageFromStream(const std::shared_ptr<Stream>& oStream) {
  return KeepAsCallersImage(*s_, from_stream(*s_, oStream));
}

cKorvexStatus cKorvex::LoadFromStream(const std::shared_ptr<Stream>& oStream) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_stream(*s_, oStream));
}

int32_t cKorvex::CreateNewImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat,
                                int32_t nBackColor) {
  const raster::PixelFormat f =
      raster::format_for_depth(nPixelFormat, raster::DepthUse::kBlankImage);
  if (f == raster::pf::kUndefined) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> img;
  if (SetStatus(*s_, raster::Image::create(nWidth, nHeight, f, img)) != cKorvexStatus::Ok) {
    return 0;
  }
  const int32_t id = raster::register_image(std::move(img));
  // The new image is the caller's: a later LoadFrom... or CreateImage must not
  // dispose it, so the engine does not own it (CreateImage takes it back).
  s_->NativeImage = id;
  s_->NativeOwned = false;
  // Opaque black is the "no fill" value: the zeroed bitmap stays as it is
  // (black, or transparent black for formats with alpha). Any other colour is
  // composited over the whole picture, as a filled rectangle would be.
  if (nBackColor != kOpaqueBlack) {
    raster::Image* created = raster::find_image(id);
    SetStatus(*s_, created->fill_rect(raster::Rect{0, 0, nWidth, nHeight},
                                      static_cast<uint32_t>(nBackColor)));
  }
  return id;
}

cKorvexStatus cKorvex::CreateImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat) {
  CloseNativeImage();
  const int32_t id =
      CreateNewImage(nWidth, nHeight, nPixelFormat, static_cast<int32_t>(0xFFFFFFFF));
  s_->NativeOwned = id != 0;
  return s_->LastStatus;
}

}  // namespace korvex
