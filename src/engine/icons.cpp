// Icons: a 32 x 32 icon with its mask made from a picture, optionally saved
// as an icon file, and the native image saved as an icon file.
#include <algorithm>
#include <memory>
#include <vector>

#include "engine/core.h"
#include "engine/dib.h"
#include "engine/state.h"
#include "host/file_io.h"
#include "korvex/engine.h"
#include "korvex/host.h"
#include "raster/codecs/ico/ico.h"
#include "raster/handles.h"

namespace korvex {

namespace {

constexpr int32_t kIconSize = 32;

// The bitmap a picture shows: its bitmap, or an icon's colour bitmap (held
// through the icon's reference).
std::shared_ptr<const host::Bitmap> picture_bitmap(const host::Picture& p) {
  if (p.type() == host::Picture::kBitmap) return host::GetBitmap(p.handle());
  if (p.type() == host::Picture::kIcon) {
    const host::IconPtr icon = host::GetIcon(p.handle());
    if (icon != nullptr) return {icon, &icon->color};
  }
  return nullptr;
}

// The icon as a 32 x 32 image with alpha 0 where the mask is set.
raster::Status icon_image(const host::Bitmap& color, const host::Bitmap& mask,
                          std::unique_ptr<raster::Image>& out) {
  std::unique_ptr<raster::Image> img;
  if (raster::Status s = raster::Image::create(kIconSize, kIconSize, raster::pf::k32bppARGB, img);
      s != raster::Status::Ok) {
    return s;
  }
  raster::Surface& s = img->surface();
  for (int32_t y = 0; y < kIconSize; ++y) {
    const uint8_t* c = color.bits.data() + static_cast<size_t>(y) * color.stride();
    const uint8_t* m = mask.bits.data() + static_cast<size_t>(y) * mask.stride();
    for (int32_t x = 0; x < kIconSize; ++x) {
      uint8_t* p = s.row(y) + 4 * x;
      p[0] = c[4 * x];
      p[1] = c[4 * x + 1];
      p[2] = c[4 * x + 2];
      p[3] = (m[x >> 3] & (0x80 >> (x & 7))) ? 0 : 255;
    }
  }
  out = std::move(img);
  return raster::Status::Ok;
}

}  // namespace

int32_t cKorvex::GetIcon(const host::PicturePtr& oInputPicture, const std::string& sFileDest,
                         int32_t nRGBTransparentColor) {
  if (!oInputPicture) return 0;
  const std::shared_ptr<const host::Bitmap> source = picture_bitmap(*oInputPicture);
  if (source == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  // The colour bitmap: the top-left 32 x 32 of the picture (black beyond it).
  std::unique_ptr<raster::Image> src;
  if (SetStatus(*s_, ImageFromHostBitmap(*source, nullptr, src)) != cKorvexStatus::Ok) return 0;
  host::Bitmap color = host::Bitmap::Blank(kIconSize, kIconSize, 32);
  const int32_t w = std::min(kIconSize, src->width()), h = std::min(kIconSize, src->height());
  for (int32_t y = 0; y < h; ++y) {
    src->read_pixels({0, y, w, 1}, raster::pf::k32bppRGB,
                     color.bits.data() + static_cast<size_t>(y) * color.stride(), w * 4);
  }
  // The mask: opaque everywhere but on the transparent colour (a COLORREF,
  // red in the low byte), whose pixels become black under the mask.
  host::Bitmap mask = host::Bitmap::Blank(kIconSize, kIconSize, 1);
  if (nRGBTransparentColor != -1) {
    const uint8_t r = nRGBTransparentColor & 0xFF, g = (nRGBTransparentColor >> 8) & 0xFF,
                  b = (nRGBTransparentColor >> 16) & 0xFF;
    for (int32_t y = 0; y < kIconSize; ++y) {
      uint8_t* c = color.bits.data() + static_cast<size_t>(y) * color.stride();
      uint8_t* m = mask.bits.data() + static_cast<size_t>(y) * mask.stride();
      for (int32_t x = 0; x < kIconSize; ++x) {
        if (c[4 * x] == b && c[4 * x + 1] == g && c[4 * x + 2] == r) {
          m[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
          c[4 * x] = c[4 * x + 1] = c[4 * x + 2] = 0;
        }
      }
    }
  }
  const int32_t icon = host::CreateIcon(color, mask);
  if (icon == 0) {
    SetStatus(*s_, raster::Status::GenericError);
    return 0;
  }
  if (!sFileDest.empty()) {
    std::unique_ptr<raster::Image> img;
    raster::Status st = icon_image(color, mask, img);
    if (st == raster::Status::Ok) {
      st = host::write_file_atomically(
          sFileDest, [&](raster::ByteSink& out) { return raster::encode_ico(*img, out); });
    }
    if (SetStatus(*s_, st) != cKorvexStatus::Ok) {
      host::DestroyIcon(icon);  // an icon whose file was not written is not handed out
      return 0;
    }
  }
  SetStatus(*s_, raster::Status::Ok);
  return icon;
}

cKorvexStatus cKorvex::SaveAsIco(const std::string& sFilename, bool bTransparentColor,
                                 int32_t nTransparentColor) {
  raster::Image* native = raster::find_image(s_->NativeImage);
  if (native == nullptr) {
    return s_->NativeImage == 0 ? s_->LastStatus : SetStatus(*s_, raster::Status::InvalidParameter);
  }
  // An image 32 pixels wide or high is used as it is (its top-left 32 x 32
  // reaches the icon); any other is resampled to 32 x 32.
  std::unique_ptr<raster::Image> resized;
  raster::Image* working = native;
  if (native->width() != kIconSize && native->height() != kIconSize) {
    if (SetStatus(*s_, native->thumbnail(kIconSize, kIconSize, resized)) != cKorvexStatus::Ok) {
      return s_->LastStatus;
    }
    working = resized.get();
  }
  host::Bitmap bitmap;
  if (SetStatus(*s_, HostBitmapFromImage(*working, 0xFFFFFFFF, bitmap)) != cKorvexStatus::Ok) {
    return s_->LastStatus;
  }
  auto picture =
      std::make_shared<host::Picture>(host::Picture::kBitmap, host::CreateBitmap(bitmap));
  const int32_t icon = GetIcon(picture, sFilename, bTransparentColor ? nTransparentColor : -1);
  if (icon == 0) return SetStatus(*s_, raster::Status::GenericError);
  host::DestroyIcon(icon);
  return SetStatus(*s_, raster::Status::Ok);
}

}  // namespace korvex
