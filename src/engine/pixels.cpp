// Pixel access on the native image, its pixel format and resolution, and
// the host handles made from it (bitmaps, picture objects, the clipboard).
#include <memory>

#include "engine/core.h"
#include "engine/dib.h"
#include "engine/module_state.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "korvex/host.h"
#include "raster/handles.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000;
constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

// The 0-based rectangle of a 1-based transfer, and its pixel count; false
// (InvalidParameter) for empty or negative sizes.
bool transfer_rect(int32_t x, int32_t y, int32_t w, int32_t h, raster::Rect& r, uint64_t& pixels) {
  if (w <= 0 || h <= 0) return false;
  r = raster::Rect{x - 1, y - 1, w, h};
  pixels = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
  return true;
}

// Reads a rectangle as 32bppARGB into a freshly dimensioned array.
template <typename T>
cKorvexStatus read_rect(cKorvex::State& s, Array<T>& out, int32_t y, int32_t x, int32_t w,
                        int32_t h, int32_t channels) {
  raster::Image* img = raster::find_image(s.NativeImage);
  raster::Rect r;
  uint64_t pixels = 0;
  if (img == nullptr || !transfer_rect(x, y, w, h, r, pixels))
    return cKorvexStatus::InvalidParameter;
  if (pixels * 4 > raster::pixel_memory_limit()) return cKorvexStatus::OutOfMemory;
  Array<T> a;
  if (channels == 1) {
    a.Redim({{1, w}, {1, h}});
  } else {
    a.Redim({{1, channels}, {1, w}, {1, h}});
  }
  const raster::Status st =
      img->read_pixels(r, raster::pf::k32bppARGB, reinterpret_cast<uint8_t*>(a.data()), w * 4);
  if (st == raster::Status::Ok) out = std::move(a);
  return static_cast<cKorvexStatus>(st);
}

// Writes a rectangle from an array that must hold 4 x W x H bytes.
template <typename T>
cKorvexStatus write_rect(cKorvex::State& s, const Array<T>& in, int32_t y, int32_t x, int32_t w,
                         int32_t h) {
  raster::Image* img = raster::find_image(s.NativeImage);
  raster::Rect r;
  uint64_t pixels = 0;
  if (img == nullptr || !transfer_rect(x, y, w, h, r, pixels))
    return cKorvexStatus::InvalidParameter;
  // Whatever the array's shape, its data is read from the first element on:
  // it must hold the whole rectangle.
  if (static_cast<uint64_t>(in.size()) * sizeof(T) < pixels * 4)
    return cKorvexStatus::InvalidParameter;
  return static_cast<cKorvexStatus>(img->write_pixels(
      r, raster::pf::k32bppARGB, reinterpret_cast<const uint8_t*>(in.data()), w * 4));
}

}  // namespace

int32_t cKorvex::PixelGetColor(int32_t nSrcX, int32_t nSrcY) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  uint32_t argb = 0;
  if (SetStatus(*s_, img->get_pixel(nSrcX - 1, nSrcY - 1, argb)) != cKorvexStatus::Ok) return 0;
  return static_cast<int32_t>(argb);
}

cKorvexStatus cKorvex::PixelSetColor(int32_t nDstX, int32_t nDstY, int32_t nARGBColor) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return SetStatus(*s_, raster::Status::InvalidParameter);
  return SetStatus(*s_, img->set_pixel(nDstX - 1, nDstY - 1, static_cast<uint32_t>(nARGBColor)));
}

cKorvexStatus cKorvex::GetPixelArray(Array<int32_t>& arPixels, int32_t nSrcY, int32_t nSrcX,
                                     int32_t nWidth, int32_t nHeight) {
  return read_rect(*s_, arPixels, nSrcY, nSrcX, nWidth, nHeight, 1);
}

cKorvexStatus cKorvex::SetPixelArray(Array<int32_t>& arPixels, int32_t nDstY, int32_t nDstX,
                                     int32_t nWidth, int32_t nHeight) {
  return write_rect(*s_, arPixels, nDstY, nDstX, nWidth, nHeight);
}

cKorvexStatus cKorvex::GetPixelArrayARGB(Array<uint8_t>& arPixels, int32_t nSrcY, int32_t nSrcX,
                                         int32_t nWidth, int32_t nHeight) {
  return read_rect(*s_, arPixels, nSrcY, nSrcX, nWidth, nHeight, 4);
}

cKorvexStatus cKorvex::SetPixelArrayARGB(Array<uint8_t>& arPixels, int32_t nDstY, int32_t nDstX,
                                         int32_t nWidth, int32_t nHeight) {
  return write_rect(*s_, arPixels, nDstY, nDstX, nWidth, nHeight);
}

std::string cKorvex::GetPixelFormat() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return {};
  }
  SetStatus(*s_, raster::Status::Ok);
  return raster::pixel_format_name(img->format());
}

int32_t cKorvex::GetIntPixelFormat() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  SetStatus(*s_, raster::Status::Ok);
  return IntPixelFormat(img->format());
}

bool cKorvex::IsPixelFormatIndexed() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return false;
  }
  SetStatus(*s_, raster::Status::Ok);
  return raster::is_indexed(img->format());
}

cKorvexStatus cKorvex::SetHorizontalResolution(float nHorizontalResolution) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return s_->LastStatus;
  return SetStatus(
      *s_,
      img->set_resolution(static_cast<float>(RoundHalfEven(nHorizontalResolution)), img->dpi_y()));
}

cKorvexStatus cKorvex::SetVerticalResolution(float nVerticalResolution) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return s_->LastStatus;
  return SetStatus(*s_, img->set_resolution(
                            img->dpi_x(), static_cast<float>(RoundHalfEven(nVerticalResolution))));
}

namespace {

// Puts an image on the clipboard as a bitmap over white.
raster::Status copy_to_clipboard(raster::Image& img) {
  host::Bitmap bitmap;
  if (raster::Status s = HostBitmapFromImage(img, kOpaqueWhite, bitmap); s != raster::Status::Ok) {
    return s;
  }
  const int32_t handle = host::CreateBitmap(bitmap);
  if (handle == 0) return raster::Status::OutOfMemory;
  host::EmptyClipboard();
  if (!host::SetClipboardData(host::kClipboardBitmap, handle)) {
    host::DeleteObject(handle);
    return raster::Status::Win32Error;
  }
  return raster::Status::Ok;
}

}  // namespace

cKorvexStatus cKorvex::CopyToClipboard() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return SetStatus(*s_, raster::Status::InvalidParameter);
  return SetStatus(*s_, copy_to_clipboard(*img));
}

cKorvexStatus cKorvex::CopyRegionToClipboard(int32_t nSrcX, int32_t nSrcY, int32_t nWidth,
                                             int32_t nHeight) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) return s_->LastStatus;
  std::unique_ptr<raster::Image> region;
  if (SetStatus(*s_, img->clone_area({nSrcX - 1, nSrcY - 1, nWidth, nHeight}, img->format(),
                                     region)) != cKorvexStatus::Ok) {
    return s_->LastStatus;
  }
  return SetStatus(*s_, copy_to_clipboard(*region));
}

void cKorvex::DeleteClipboardData() {
  host::EmptyClipboard();
}

int32_t cKorvex::GetHBitmap() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  host::Bitmap bitmap;
  if (SetStatus(*s_, HostBitmapFromImage(*img, kOpaqueBlack, bitmap)) != cKorvexStatus::Ok)
    return 0;
  const int32_t handle = host::CreateBitmap(bitmap);
  if (handle == 0) SetStatus(*s_, raster::Status::OutOfMemory);
  return handle;
}

void cKorvex::DeleteHBitmap(int32_t nHbitmap) {
  host::DeleteObject(nHbitmap);
}

host::PicturePtr cKorvex::GetPicture() {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return nullptr;
  }
  host::Bitmap bitmap;
  if (SetStatus(*s_, HostBitmapFromImage(*img, kOpaqueWhite, bitmap)) != cKorvexStatus::Ok) {
    return nullptr;
  }
  const int32_t handle = host::CreateBitmap(bitmap);
  if (handle == 0) {
    SetStatus(*s_, raster::Status::OutOfMemory);
    return nullptr;
  }
  return std::make_shared<host::Picture>(host::Picture::kBitmap, handle);
}

void cKorvex::DeletePictureObject(host::PicturePtr& oPictureObject) {
  if (!oPictureObject) return;
  if (oPictureObject->type() == host::Picture::kIcon) {
    host::DestroyIcon(oPictureObject->handle());
  } else {
    host::DeleteObject(oPictureObject->handle());
  }
  oPictureObject->release();  // its handle is gone: the picture must not delete it again
}

int32_t cKorvex::GetDesktopHwnd() {
  SetStatus(*s_, raster::Status::Ok);
  return host::GetDesktopWindow();
}

std::string cKorvex::GetGdiplusVersion() {
  SetStatus(*s_, raster::Status::Ok);
  return module_state().session.version;
}

}  // namespace korvex
