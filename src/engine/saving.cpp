// Saving the native image: files in each format, and encoded bytes in
// memory (streams, byte arrays, binary image strings).
#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "engine/core.h"
#include "engine/module_state.h"
#include "engine/save_params.h"
#include "engine/state.h"
#include "host/file_io.h"
#include "korvex/engine.h"
#include "raster/codec.h"
#include "raster/cp1252.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/strings.h"
#include "raster/version.h"

namespace korvex {

namespace {

constexpr uint32_t kSoftwareTag = 305;
constexpr char kSoftwareText[] = "Korvex https://korvex.org";

void stamp_software(raster::Image& img) {
  raster::PropertyItem item;
  if (SoftwareProperty(item)) img.set_property(item);
}

const raster::Encoder* encoder_for(const std::string& pattern) {
  return EncoderForPattern(pattern);
}

raster::Status encode(const raster::Encoder& e, raster::Image& img,
                      const raster::EncoderParams& params, raster::ByteSink& out) {
  return raster::guarded([&] { return e.encode(img, params, out); });
}

}  // namespace

// The software property (unless switched off for the thread): ASCII, the
// text's length not counting a terminating NUL.
bool SoftwareProperty(raster::PropertyItem& item) {
  if (!module_state().WriteSoftwareTag) return false;
  item.id = kSoftwareTag;
  item.type = raster::ptype::kAscii;
  item.value.assign(kSoftwareText, kSoftwareText + sizeof kSoftwareText - 1);
  return true;
}

const raster::Encoder* EncoderForPattern(const std::string& pattern) {
  const EncoderTable& t = module_state().encoders;
  const int32_t i = t.lookup(pattern);
  if (i < 0) return nullptr;
  return raster::find_encoder(t.clsids[static_cast<size_t>(i)]);
}

raster::EncoderParams JpegSaveParams(int32_t quality) {
  raster::EncoderParams params;
  // A quality below 1 leaves the encoder's default.
  if (quality >= 1) params.push_back({raster::encparam::kQuality, quality});
  return params;
}

// Bits per pixel of the fourteen named formats, 0 for any other.
int32_t IntPixelFormat(raster::PixelFormat f) {
  return raster::is_supported_format(f) ? raster::bits_per_pixel(f) : 0;
}

cKorvexStatus SaveNativeToFile(cKorvex::State& s, const std::string& pattern,
                               const std::string& path, const raster::EncoderParams& params,
                               bool tag) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr)
    return s.NativeImage == 0 ? s.LastStatus : SetStatus(s, raster::Status::InvalidParameter);
  const raster::Encoder* e = encoder_for(pattern);
  if (e == nullptr) return SetStatus(s, raster::Status::UnknownImageFormat);
  if (tag) stamp_software(*img);
  // The encoder writes straight into the temporary file that replaces the target.
  return SetStatus(s, host::write_file_atomically(path, [&](raster::ByteSink& out) {
                     return encode(*e, *img, params, out);
                   }));
}

cKorvexStatus cKorvex::SaveAsBmp(const std::string& sFilename) {
  return SaveNativeToFile(*s_, "*.bmp", sFilename, {}, false);
}

cKorvexStatus cKorvex::SaveAsGif(const std::string& sFilename) {
  return SaveNativeToFile(*s_, "*.gif", sFilename, {}, true);
}

cKorvexStatus cKorvex::SaveAsPng(const std::string& sFilename) {
  return SaveNativeToFile(*s_, "*.png", sFilename, {}, true);
}

cKorvexStatus cKorvex::SaveAsJpeg(const std::string& sFilename, int32_t nQuality) {
  return SaveNativeToFile(*s_, "*.jpg", sFilename, JpegSaveParams(nQuality), true);
}

cKorvexStatus cKorvex::SaveAsTiff(const std::string& sFilename, int32_t nModeCompression,
                                  int32_t nColorDepth) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return SaveNativeToFile(*s_, "*.tif", sFilename, {}, true);
  return SaveNativeToFile(*s_, "*.tif", sFilename,
                          TiffSaveParams(img->format(), nModeCompression, nColorDepth), true);
}

raster::EncoderParams TiffSaveParams(raster::PixelFormat f, int32_t nModeCompression,
                                     int32_t nColorDepth) {
  int32_t depth = nColorDepth == 16 ? 24 : nColorDepth;
  if (old_raster_version() && depth >= 1 && depth <= 23) depth = 0;
  int32_t compression = nModeCompression;
  // Fax compressions hold one bit per pixel only: anything deeper goes LZW.
  const bool fax = compression == 3 || compression == 4 || compression == 5;
  if (fax && ((depth == 0 && IntPixelFormat(f) >= 2) || depth >= 2)) compression = 2;
  raster::EncoderParams params;
  if (compression != 0) params.push_back({raster::encparam::kCompression, compression});
  if (depth != 0) params.push_back({raster::encparam::kColorDepth, depth});
  return params;
}

namespace {

// Encodes the native image in memory: "*." + the format name, BMP when no
// encoder knows it; parameters only for "jpg" (quality) and "tif" (compression).
cKorvexStatus encode_native(cKorvex::State& s, const std::string& format, int32_t parameter,
                            std::vector<uint8_t>& out) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr)
    return s.NativeImage == 0 ? s.LastStatus : SetStatus(s, raster::Status::InvalidParameter);
  const std::string f = LowerCase(TrimSpaces(format));
  const raster::Encoder* e = encoder_for("*." + f);
  if (e == nullptr) e = encoder_for("*.bmp");
  if (e == nullptr) return SetStatus(s, raster::Status::UnknownImageFormat);
  raster::EncoderParams params;
  if (parameter != 0 && f == "jpg") {
    stamp_software(*img);
    params.push_back({raster::encparam::kQuality, parameter >= 1 ? parameter : 75});
  } else if (parameter != 0 && f == "tif") {
    stamp_software(*img);
    params.push_back({raster::encparam::kCompression, parameter});
  }
  if (SetStatus(s, raster::encode_to_memory(*e, *img, params, out)) != cKorvexStatus::Ok) {
    return s.LastStatus;
  }
  if (out.empty()) return SetStatus(s, raster::Status::GenericError);
  return s.LastStatus;
}

}  // namespace

cKorvexStatus cKorvex::SaveAsStream(std::shared_ptr<Stream>& oStream,
                                    const std::string& sImageFormat, int32_t nEncoderParameter) {
  std::vector<uint8_t> bytes;
  if (s_->NativeImage == 0) return s_->LastStatus;
  if (encode_native(*s_, sImageFormat, nEncoderParameter, bytes) != cKorvexStatus::Ok) {
    return s_->LastStatus;
  }
  auto stream = std::make_shared<MemoryStream>(std::move(bytes));
  stream->Seek(0, Stream::kEnd);  // positioned after the last byte, as after writing
  oStream = std::move(stream);
  return s_->LastStatus;
}

cKorvexStatus cKorvex::SaveAsByteArray(Array<uint8_t>& arBytes, int32_t& nBitsRead,
                                       const std::string& sImageFormat, int32_t nEncoderParameter) {
  std::vector<uint8_t> bytes;
  if (s_->NativeImage == 0) return s_->LastStatus;
  if (encode_native(*s_, sImageFormat, nEncoderParameter, bytes) != cKorvexStatus::Ok) {
    return s_->LastStatus;
  }
  nBitsRead = static_cast<int32_t>(bytes.size());
  arBytes = Array<uint8_t>(std::move(bytes));
  return s_->LastStatus;
}

std::string cKorvex::SaveAsString(const std::string& sImageFormat, int32_t nEncoderParameter) {
  Array<uint8_t> bytes;
  int32_t n = 0;
  if (s_->NativeImage == 0) return {};
  if (SaveAsByteArray(bytes, n, sImageFormat, nEncoderParameter) != cKorvexStatus::Ok) return {};
  return raster::cp1252_to_utf8(bytes.data(), bytes.size());
}

void cKorvex::TagsBypassKorvexTag(bool& bBypass) {
  module_state().WriteSoftwareTag = !bBypass;
}

}  // namespace korvex
