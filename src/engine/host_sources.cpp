// Image sources from host objects: GDI-style bitmaps, packed DIBs in
// movable memory, picture objects, the clipboard and screen captures.
#include <memory>

#include "engine/core.h"
#include "engine/dib.h"
#include "engine/dib_images.h"
#include "engine/metafile_pictures.h"
#include "engine/source_pair.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "korvex/global_memory.h"
#include "korvex/host.h"
#include "raster/guard.h"
#include "raster/handles.h"

namespace korvex {

namespace {

int32_t register_result(cKorvex::State& s, raster::Status st, std::unique_ptr<raster::Image>& img) {
  if (SetStatus(s, st) != cKorvexStatus::Ok) return 0;
  return raster::register_image(std::move(img));
}

int32_t from_bitmap_handle(cKorvex::State& s, int32_t hbitmap, int32_t hpalette) {
  const host::BitmapPtr b = host::GetBitmap(hbitmap);
  if (b == nullptr) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> img;
  const raster::Status st = ImageFromHostBitmap(*b, host::GetPalette(hpalette).get(), img);
  return register_result(s, st, img);
}

// An icon: its colours with alpha 0 where the AND mask is set.
int32_t from_icon(cKorvex::State& s, int32_t hicon) {
  const host::IconPtr icon = host::GetIcon(hicon);
  if (icon == nullptr) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> colours;
  raster::Status st = ImageFromHostBitmap(icon->color, nullptr, colours);
  if (st != raster::Status::Ok) return register_result(s, st, colours);
  std::unique_ptr<raster::Image> img;
  st =
      colours->clone_area({0, 0, colours->width(), colours->height()}, raster::pf::k32bppARGB, img);
  if (st != raster::Status::Ok) return register_result(s, st, img);
  const host::Bitmap& mask = icon->mask;
  raster::Surface& surf = img->surface();
  for (int32_t y = 0; y < img->height(); ++y) {
    const uint8_t* m = mask.bits.data() + static_cast<size_t>(y) * mask.stride();
    for (int32_t x = 0; x < img->width(); ++x) {
      if (m[x >> 3] & (0x80 >> (x & 7))) surf.row(y)[4 * x + 3] = 0;
    }
  }
  return register_result(s, raster::Status::Ok, img);
}

// The DIB routine: the block is read (not kept: its pixels are copied), and
// recorded with its free flag, so that a block handed over to the engine
// (flag 1) is released when the image is closed.
int32_t from_dib(cKorvex::State& s, int32_t hdib, int32_t free_flag) {
  if (hdib == 0) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  const uint8_t* block = host::GlobalLock(hdib);
  if (block == nullptr) {
    SetStatus(s, raster::Status::GenericError);
    return 0;
  }
  std::unique_ptr<raster::Image> img;
  const raster::Status st =
      raster::guarded([&] { return ImageFromPackedDib(block, host::GlobalSize(hdib), img); });
  host::GlobalUnlock(hdib);
  const int32_t id = register_result(s, st, img);
  if (id != 0) DibImageTableAdd(hdib, id, free_flag);
  return id;
}

int32_t from_picture(cKorvex::State& s, const host::PicturePtr& picture) {
  if (!picture) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  switch (picture->type()) {
    case host::Picture::kIcon:
      return from_icon(s, picture->handle());
    case host::Picture::kMetafile:
    case host::Picture::kEnhancedMetafile: {
      std::unique_ptr<raster::Image> img;
      const bool enhanced = picture->type() == host::Picture::kEnhancedMetafile;
      const raster::Status st = raster::guarded(
          [&] { return ImageFromMetafileHandle(picture->handle(), enhanced, img); });
      return register_result(s, st, img);
    }
    case host::Picture::kBitmap:
      return from_bitmap_handle(s, picture->handle(), picture->palette());
    default:
      SetStatus(s, raster::Status::InvalidParameter);
      return 0;
  }
}

// The first format present of: packed DIB, bitmap, palette, metafile.
int32_t from_clipboard(cKorvex::State& s) {
  if (const int32_t dib = host::GetClipboardData(host::kClipboardDib)) return from_dib(s, dib, 0);
  if (const int32_t bmp = host::GetClipboardData(host::kClipboardBitmap)) {
    return from_bitmap_handle(s, bmp, host::GetClipboardData(host::kClipboardPalette));
  }
  if (host::IsClipboardFormatAvailable(host::kClipboardPalette)) {
    SetStatus(s, raster::Status::GenericError);  // a palette alone holds no picture
    return 0;
  }
  if (const int32_t meta = host::GetClipboardData(host::kClipboardMetafile)) {
    // The clipboard keeps the metafile: the picture does not own it.
    return from_picture(s,
                        std::make_shared<host::Picture>(host::Picture::kMetafile, meta, 0, false));
  }
  SetStatus(s, raster::Status::GenericError);
  return 0;
}

// The whole window, frame included: the screen under the desktop window, the
// window's own surface for a host window.
int32_t from_window(cKorvex::State& s, int32_t hwnd) {
  const int32_t desktop = host::GetDesktopWindow();
  if (hwnd == 0) hwnd = desktop;
  host::WindowRect rect;
  if (!host::GetWindowRect(hwnd, rect)) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  std::unique_ptr<raster::Image> img;
  if (hwnd == desktop) {
    const std::optional<host::Bitmap> shot = host::CaptureScreen(rect);
    if (!shot) {
      SetStatus(s, raster::Status::Win32Error);
      return 0;
    }
    return register_result(s, ImageFromHostBitmap(*shot, nullptr, img), img);
  }
  const int32_t hdc = host::GetWindowDC(hwnd);
  const host::BitmapPtr surface = host::GetDCSurface(hdc);
  const raster::Status st =
      surface != nullptr ? ImageFromHostBitmap(*surface, nullptr, img) : raster::Status::Win32Error;
  host::ReleaseDC(hdc);
  return register_result(s, st, img);
}

}  // namespace

int32_t cKorvex::CreateImageFromHBitmap(int32_t hBitmap) {
  return KeepAsCallersImage(*s_, from_bitmap_handle(*s_, hBitmap, 0));
}

cKorvexStatus cKorvex::LoadFromHBitmap(int32_t hBitmap) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_bitmap_handle(*s_, hBitmap, 0));
}

int32_t cKorvex::CreateImageFromDIB(int32_t hDib) {
  return KeepAsCallersImage(*s_, from_dib(*s_, hDib, 0));
}

cKorvexStatus cKorvex::LoadFromGdiDib(int32_t nGdiDib) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_dib(*s_, nGdiDib, 0));
}

int32_t cKorvex::CreateImageFromPicture(const host::PicturePtr& oPicture) {
  return KeepAsCallersImage(*s_, from_picture(*s_, oPicture));
}

cKorvexStatus cKorvex::LoadFromPicture(const host::PicturePtr& oPicture) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_picture(*s_, oPicture));
}

int32_t cKorvex::CreateImageFromClipboard() {
  return KeepAsCallersImage(*s_, from_clipboard(*s_));
}

cKorvexStatus cKorvex::LoadFromClipboard() {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_clipboard(*s_));
}

int32_t cKorvex::CreateImageFromHwnd(int32_t hwnd) {
  return KeepAsCallersImage(*s_, from_window(*s_, hwnd));
}

cKorvexStatus cKorvex::LoadFromCapture(int32_t nHandle) {
  CloseNativeImage();
  return KeepAsEnginesImage(*s_, from_window(*s_, nHandle));
}

int32_t ImageFromPackedDibBlock(cKorvex::State& s, int32_t hdib, int32_t free_flag) {
  return from_dib(s, hdib, free_flag);
}

}  // namespace korvex
