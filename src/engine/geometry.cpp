// Geometry of the native image: right-angle rotations and flips, crops,
// borders, thumbnails and area clones.
#include <memory>

#include "engine/core.h"
#include "engine/module_state.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/handles.h"

namespace korvex {

namespace {

constexpr int32_t kNoFill = static_cast<int32_t>(0xFF000000);

}  // namespace

cKorvexStatus cKorvex::Rotate(int32_t nRotation) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return SetStatus(*s_, raster::Status::InvalidParameter);
  if (nRotation < 0 || nRotation > 7) return SetStatus(*s_, raster::Status::InvalidParameter);
  return SetStatus(*s_, img->rotate_flip(static_cast<raster::RotateFlip>(nRotation)));
}

cKorvexStatus cKorvex::Crop(int32_t nSrcX, int32_t nSrcY, int32_t nWidth, int32_t nHeight) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return s_->LastStatus;
  SaveImageInfo(*s_, s_->NativeImage);
  std::unique_ptr<raster::Image> area;
  // The rectangle is checked by the clone: outside or empty gives InvalidParameter.
  if (SetStatus(*s_, img->clone_area({nSrcX - 1, nSrcY - 1, nWidth, nHeight}, img->format(),
                                     area)) != cKorvexStatus::Ok) {
    return s_->LastStatus;
  }
  return ReplaceNativeImage(*this, *s_, std::move(area));
}

cKorvexStatus cKorvex::CropTop(int32_t nLines) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  const int32_t w = GetWidth(), h = GetHeight();
  return Crop(1, nLines + 1, w, h - nLines);
}

cKorvexStatus cKorvex::CropBottom(int32_t nLines) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  const int32_t w = GetWidth(), h = GetHeight();
  return Crop(1, 1, w, h - nLines);
}

cKorvexStatus cKorvex::CropLeft(int32_t nLines) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  const int32_t w = GetWidth(), h = GetHeight();
  return Crop(nLines + 1, 1, w - nLines, h);
}

cKorvexStatus cKorvex::CropRight(int32_t nLines) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  const int32_t w = GetWidth(), h = GetHeight();
  return Crop(1, 1, w - nLines, h);
}

namespace {

// One side or all four: the border sizes added at each edge.
struct Border {
  int32_t left, top, right, bottom;
};

// Builds the bordered image: a new bitmap in the image's own format and
// palette, the old pixels copied at their offset, then the strips filled
// (1-based rectangles of the new size) unless the colour is the default.
cKorvexStatus add_border(cKorvex& k, cKorvex::State& s, int32_t size, const Border& b,
                         int32_t color) {
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return s.LastStatus;
  // Older raster versions cannot draw onto an indexed canvas.
  if (raster::is_indexed(img->format()) && old_raster_version())
    return SetStatus(s, raster::Status::PixelFormatMustBeConverted);
  // A border needs a positive size, and the new size must fit in 31 bits.
  const int64_t w = img->width(), h = img->height();
  const int64_t nw = w + static_cast<int64_t>(b.left + b.right) * size;
  const int64_t nh = h + static_cast<int64_t>(b.top + b.bottom) * size;
  if (size <= 0 || nw > INT32_MAX || nh > INT32_MAX)
    return SetStatus(s, raster::Status::InvalidParameter);
  SaveImageInfo(s, s.NativeImage);
  std::unique_ptr<raster::Image> out;
  if (SetStatus(s, raster::Image::create(static_cast<int32_t>(nw), static_cast<int32_t>(nh),
                                         img->format(), out)) != cKorvexStatus::Ok) {
    return s.LastStatus;
  }
  if (!img->palette().entries.empty()) out->set_palette(img->palette());
  // The picture at its offset, row by row in its own layout.
  const raster::Surface& src = img->surface();
  for (int32_t y = 0; y < src.height; ++y) {
    const raster::Status st =
        out->write_pixels({b.left * size, b.top * size + y, src.width, 1}, src.format, src.row(y),
                          src.stride < 0 ? -src.stride : src.stride);
    if (SetStatus(s, st) != cKorvexStatus::Ok) return s.LastStatus;
  }
  const int32_t W = static_cast<int32_t>(nw), H = static_cast<int32_t>(nh);
  if (color != kNoFill) {
    std::vector<raster::Rect> strips;
    if (b.top) strips.push_back({0, 0, W, size});
    if (b.bottom) strips.push_back({0, H - size, W, size});
    if (b.left) strips.push_back({0, b.top * size, size, H - (b.top + b.bottom) * size});
    if (b.right) strips.push_back({W - size, b.top * size, size, H - (b.top + b.bottom) * size});
    for (const raster::Rect& r : strips) {
      if (r.width <= 0 || r.height <= 0) continue;
      if (SetStatus(s, out->fill_rect(r, static_cast<uint32_t>(color))) != cKorvexStatus::Ok) {
        return s.LastStatus;
      }
    }
  }
  return ReplaceNativeImage(k, s, std::move(out));
}

}  // namespace

cKorvexStatus cKorvex::AddBorders(int32_t nBorderWidth, int32_t nBorderColor) {
  return add_border(*this, *s_, nBorderWidth, {1, 1, 1, 1}, nBorderColor);
}
cKorvexStatus cKorvex::AddBorderTop(int32_t nBorderHeight, int32_t nBorderColor) {
  return add_border(*this, *s_, nBorderHeight, {0, 1, 0, 0}, nBorderColor);
}
cKorvexStatus cKorvex::AddBorderBottom(int32_t nBorderHeight, int32_t nBorderColor) {
  return add_border(*this, *s_, nBorderHeight, {0, 0, 0, 1}, nBorderColor);
}
cKorvexStatus cKorvex::AddBorderLeft(int32_t nBorderWidth, int32_t nBorderColor) {
  return add_border(*this, *s_, nBorderWidth, {1, 0, 0, 0}, nBorderColor);
}
cKorvexStatus cKorvex::AddBorderRight(int32_t nBorderWidth, int32_t nBorderColor) {
  return add_border(*this, *s_, nBorderWidth, {0, 0, 1, 0}, nBorderColor);
}

int32_t cKorvex::CreateThumbnail(int32_t nImageID, int32_t nWidth, int32_t nHeight) {
  if (nImageID == 0) return 0;
  raster::Image* img = raster::find_image(nImageID);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> thumb;
  if (SetStatus(*s_, img->thumbnail(nWidth, nHeight, thumb)) != cKorvexStatus::Ok) return 0;
  return raster::register_image(std::move(thumb));
}

int32_t cKorvex::MakeThumbnail(int32_t nWidth, int32_t nHeight) {
  return CreateThumbnail(s_->NativeImage, nWidth, nHeight);
}

int32_t cKorvex::CreateClonedImageArea(int32_t nImageID, int32_t nSrcX, int32_t nSrcY,
                                       int32_t nWidth, int32_t nHeight) {
  raster::Image* img = raster::find_image(nImageID);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> area;
  if (SetStatus(*s_, img->clone_area({nSrcX - 1, nSrcY - 1, nWidth, nHeight}, img->format(),
                                     area)) != cKorvexStatus::Ok) {
    return 0;
  }
  return raster::register_image(std::move(area));
}

}  // namespace korvex
