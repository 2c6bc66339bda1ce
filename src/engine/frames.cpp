// Multi-frame images: TIFF pages and GIF frames, GIF timing and palette, and
// writing multi-page TIFF files page by page.
#include <cstring>
#include <memory>

#include "engine/core.h"
#include "engine/module_state.h"
#include "engine/state.h"
#include "host/file_io.h"
#include "korvex/engine.h"
#include "korvex/host.h"
#include "raster/codec.h"
#include "raster/guard.h"
#include "raster/handles.h"

namespace korvex {

namespace {

constexpr uint32_t kFrameDelayTag = 0x5100;
constexpr uint32_t kLoopCountTag = 0x5101;

// Number of frames in a dimension when the native image has the given raw
// format, 0 (with Ok) for any other format.
int32_t frame_count(cKorvex::State& s, const raster::Guid& format, const raster::Guid& dimension) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  SetStatus(s, raster::Status::Ok);
  if (img->raw_format() != format) return 0;
  return static_cast<int32_t>(img->frame_count(dimension));
}

cKorvexStatus select_frame(cKorvex::State& s, const raster::Guid& dimension, int32_t number) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return SetStatus(s, raster::Status::InvalidParameter);
  if (number < 1) return SetStatus(s, raster::Status::InvalidParameter);
  return SetStatus(s, img->select_active_frame(dimension, static_cast<uint32_t>(number - 1)));
}

}  // namespace

int32_t cKorvex::TiffGetPageCount() {
  return frame_count(*s_, raster::guids::kFormatTiff, raster::guids::kFrameDimensionPage);
}

cKorvexStatus cKorvex::TiffSelectPage(int32_t nPage) {
  return select_frame(*s_, raster::guids::kFrameDimensionPage, nPage);
}

int32_t cKorvex::GifGetFrameCount() {
  return frame_count(*s_, raster::guids::kFormatGif, raster::guids::kFrameDimensionTime);
}

cKorvexStatus cKorvex::GifSelectFrame(int32_t nFrame) {
  return select_frame(*s_, raster::guids::kFrameDimensionTime, nFrame);
}

cKorvexStatus cKorvex::GifGetFrameDelay(Array<int32_t>& arFrameDelay) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return SetStatus(*s_, raster::Status::InvalidParameter);
  const raster::PropertyItem* p = img->property(kFrameDelayTag);
  if (p == nullptr) return SetStatus(*s_, raster::Status::PropertyNotFound);
  const size_t n = p->value.size() / 4;
  if (n == 0) return SetStatus(*s_, raster::Status::PropertyNotFound);
  arFrameDelay.Redim({{1, static_cast<int32_t>(n)}});
  for (size_t i = 0; i < n; ++i) {
    uint32_t v;
    std::memcpy(&v, p->value.data() + 4 * i, 4);  // little-endian, as stored
    arFrameDelay(static_cast<int32_t>(i + 1)) = static_cast<int32_t>(v);
  }
  return SetStatus(*s_, raster::Status::Ok);
}

int32_t cKorvex::GifGetLoopCount() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return 0;
  const raster::PropertyItem* p = img->property(kLoopCountTag);
  // The count is a 16-bit value: a shorter property holds none.
  if (p == nullptr || p->value.size() < 2) return 0;
  return p->value[0] | (p->value[1] << 8);
}

cKorvexStatus cKorvex::GifGetColorPalette(Array<int32_t>& nColorsArray, int32_t& nEntriesCount) {
  return ColorPaletteGet(nColorsArray, nEntriesCount);
}

cKorvexStatus cKorvex::GifSetColorPalette(Array<int32_t>& nColorsArray, int32_t nEntriesCount) {
  (void)nEntriesCount;  // the array's own size counts
  return ColorPaletteSet(nColorsArray);
}

cKorvexStatus cKorvex::GifSetTransparency(int32_t nColor) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  Array<int32_t> colors;
  int32_t count = 0;
  if (GifGetColorPalette(colors, count) != cKorvexStatus::Ok) return s_->LastStatus;
  for (int32_t i = 1; i <= count; ++i) {
    if (colors(i) == nColor) colors(i) = 0x00FFFFFF;
  }
  if (count > 0) GifSetColorPalette(colors, count);
  return s_->LastStatus;
}

int32_t cKorvex::GifDisplayAnimatedGif(int32_t nHDC, int32_t nDstX, int32_t nDstY, int32_t nWidth,
                                       int32_t nHeight) {
  if (s_->NativeImage == 0) return static_cast<int32_t>(s_->LastStatus);
  const int32_t image = s_->NativeImage;
  const int32_t frames = GifGetFrameCount();
  Array<int32_t> delays;
  if (GifGetFrameDelay(delays) != cKorvexStatus::Ok) return static_cast<int32_t>(s_->LastStatus);
  for (int32_t i = 1; i <= frames; ++i) {
    // Host code runs while we wait and may have closed or replaced the image.
    if (s_->NativeImage != image || raster::find_image(image) == nullptr) {
      return static_cast<int32_t>(SetStatus(*s_, raster::Status::InvalidParameter));
    }
    if (GifSelectFrame(i) != cKorvexStatus::Ok) continue;  // a frame that will not load is skipped
    DisplayImageOnHDC(nHDC, nDstX, nDstY, nWidth, nHeight, 3, 0);
    // A delay list shorter than the frames counts the missing delays as 0.
    const int32_t delay = i <= delays.UBound() ? delays(i) : 0;
    host::WaitPumping(static_cast<int64_t>(delay > 0 ? delay : 0) * 10);
  }
  return static_cast<int32_t>(s_->LastStatus);
}

cKorvexStatus cKorvex::TiffSaveAsNativeMultiPage(const std::string& sFilename,
                                                 int32_t nModeCompression) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    return s_->NativeImage == 0 ? s_->LastStatus : SetStatus(*s_, raster::Status::InvalidParameter);
  }
  ModuleState& m = module_state();
  const int32_t index = m.encoders.lookup("*.tif");
  const raster::Encoder* e =
      index < 0 ? nullptr : raster::find_encoder(m.encoders.clsids[static_cast<size_t>(index)]);
  if (e == nullptr || e->open_frames == nullptr) {
    return SetStatus(*s_, raster::Status::UnknownImageFormat);
  }
  int32_t compression = nModeCompression;
  const bool fax = compression == 3 || compression == 4 || compression == 5;
  if (fax && IntPixelFormat(img->format()) > 1) compression = 2;
  const raster::EncoderParams params = {
      {raster::encparam::kSaveFlag, raster::encparam::kMultiFrame},
      {raster::encparam::kCompression, compression}};
  std::unique_ptr<raster::FrameWriter> writer;
  const raster::Status st =
      raster::guarded([&] { return host::open_frame_file(*e, *img, params, sFilename, writer); });
  if (SetStatus(*s_, st) != cKorvexStatus::Ok) return s_->LastStatus;
  // A file already open on this image is completed before the new one takes its place.
  if (auto old = m.MultiPageWriters.find(s_->NativeImage); old != m.MultiPageWriters.end()) {
    old->second->finish();
  }
  m.MultiPageWriters[s_->NativeImage] = std::move(writer);
  s_->MultiPageTarget = s_->NativeImage;
  return s_->LastStatus;
}

cKorvexStatus cKorvex::TiffAddToNativeMultipage(int32_t nImageID) {
  ModuleState& m = module_state();
  auto w = m.MultiPageWriters.find(s_->MultiPageTarget);
  if (s_->MultiPageTarget == 0 || w == m.MultiPageWriters.end()) {
    return SetStatus(*s_, raster::Status::GenericError);
  }
  raster::Image* page = raster::find_image(nImageID);
  if (page == nullptr) return SetStatus(*s_, raster::Status::InvalidParameter);
  return SetStatus(*s_, raster::guarded([&] {
    return w->second->add(*page,
                          {{raster::encparam::kSaveFlag, raster::encparam::kFrameDimensionPage}});
  }));
}

cKorvexStatus cKorvex::TiffCloseNativeMultiPage() {
  if (s_->MultiPageTarget == 0) return s_->LastStatus;
  // Completing the file is checked here, so a failed final write is reported
  // instead of being lost in the disposal of the first page.
  ModuleState& m = module_state();
  raster::Status finished = raster::Status::Ok;
  if (auto w = m.MultiPageWriters.find(s_->MultiPageTarget); w != m.MultiPageWriters.end()) {
    finished = w->second->finish();
    m.MultiPageWriters.erase(w);
  }
  if (CloseImage(s_->MultiPageTarget) != cKorvexStatus::Ok) return s_->LastStatus;
  s_->MultiPageTarget = 0;
  return SetStatus(*s_, finished);
}

}  // namespace korvex
