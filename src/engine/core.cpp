#include "engine/core.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/module_state.h"
#include "korvex/global_memory.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/rounding.h"

namespace korvex {

void SaveImageInfo(cKorvex::State& s, int32_t image) {
  s.SavedTags.clear();
  s.SavedTagCount = 0;
  raster::Image* img = raster::find_image(image == 0 ? s.NativeImage : image);
  if (img == nullptr) return;
  SavedImageInfoFields& info = s.SavedImageInfo;
  info.width = static_cast<uint32_t>(img->width());
  info.height = static_cast<uint32_t>(img->height());
  info.vertical_resolution = RoundHalfEven(img->dpi_y());
  info.horizontal_resolution = RoundHalfEven(img->dpi_x());
  info.pixel_format = img->format();
  if (s.PreserveTags) {
    s.SavedTags = img->properties();
    s.SavedTagCount = static_cast<int32_t>(s.SavedTags.size());
  }
}

void RestoreImageInfo(cKorvex::State& s, int32_t image) {
  raster::Image* img = raster::find_image(image == 0 ? s.NativeImage : image);
  if (img == nullptr) return;
  const SavedImageInfoFields& info = s.SavedImageInfo;
  if ((RoundHalfEven(img->dpi_x()) != info.horizontal_resolution ||
       RoundHalfEven(img->dpi_y()) != info.vertical_resolution) &&
      info.horizontal_resolution > 0 && info.vertical_resolution > 0) {
    img->set_resolution(static_cast<float>(info.horizontal_resolution),
                        static_cast<float>(info.vertical_resolution));
  }
  if (s.PreserveTags && s.SavedTagCount > 0) {
    // An item the image refuses is skipped; the others still go on.
    for (const raster::PropertyItem& p : s.SavedTags) img->set_property(p);
  }
  s.SavedTags.clear();
  s.SavedTagCount = 0;
}

cKorvexStatus ReplaceNativeImage(cKorvex& k, cKorvex::State& s,
                                 std::unique_ptr<raster::Image> img) {
  const int32_t id = raster::register_image(std::move(img));
  const bool owned = s.NativeOwned;
  k.CloseImage(s.NativeImage);
  s.NativeImage = id;
  s.NativeOwned = owned;
  RestoreImageInfo(s, id);
  return SetStatus(s, raster::Status::Ok);
}

namespace {
int32_t clone_to_format(cKorvex::State& s, int32_t image, raster::PixelFormat f) {
  raster::Image* src = raster::find_image(image);
  if (src == nullptr) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  SaveImageInfo(s, image);
  const int32_t w = src->width(), h = src->height();
  std::unique_ptr<raster::Image> dst;
  if (SetStatus(s, raster::Image::create(w, h, f, dst)) != cKorvexStatus::Ok) return 0;
  // A copy in the image's own indexed format keeps its palette, so every pixel
  // maps back to the colour it had instead of to the nearest default colour.
  if (f == src->format() && raster::is_indexed(f)) dst->set_palette(src->palette());

  // Through 32bppARGB in bands of rows, so the whole picture is never held twice.
  const int32_t band = std::max<int32_t>(1, std::min<int32_t>(h, (1 << 20) / std::max(1, w)));
  std::vector<uint8_t> buf(static_cast<size_t>(w) * 4 * static_cast<size_t>(band));
  for (int32_t y = 0; y < h; y += band) {
    const raster::Rect r{0, y, w, std::min(band, h - y)};
    if (SetStatus(s, src->read_pixels(r, raster::pf::k32bppARGB, buf.data(), w * 4)) !=
        cKorvexStatus::Ok) {
      return 0;
    }
    if (SetStatus(s, dst->write_pixels(r, raster::pf::k32bppARGB, buf.data(), w * 4)) !=
        cKorvexStatus::Ok) {
      return 0;
    }
  }
  const int32_t id = raster::register_image(std::move(dst));
  RestoreImageInfo(s, id);
  SetStatus(s, raster::Status::Ok);
  return id;
}
}  // namespace

int32_t CloneToPixelFormat(cKorvex::State& s, int32_t image, raster::PixelFormat f) {
  int32_t id = 0;
  const raster::Status st = raster::guarded([&] {
    id = clone_to_format(s, image, f);
    return raster::Status::Ok;
  });
  if (st != raster::Status::Ok) {
    SetStatus(s, st);
    return 0;
  }
  return id;
}

cKorvexStatus ConvertNativePixelFormat(cKorvex::State& s, raster::PixelFormat f) {
  if (s.NativeImage == 0) return s.LastStatus;
  const int32_t id = CloneToPixelFormat(s, s.NativeImage, f);
  if (id == 0) return s.LastStatus;
  DisposeImage(s.NativeImage);
  if (s.MultiPageTarget == s.NativeImage) s.MultiPageTarget = 0;
  s.NativeImage = id;
  return SetStatus(s, raster::Status::Ok);
}

raster::Status DisposeImage(int32_t image) {
  if (image == 0) return raster::Status::InvalidParameter;
  ModuleState& m = module_state();
  auto entry = std::find_if(m.DibImageTable.begin(), m.DibImageTable.end(),
                            [&](const DibImageEntry& e) { return e.image == image; });
  if (raster::Image* img = raster::find_image(image); img != nullptr && img->locked()) {
    return raster::Status::ObjectBusy;
  }
  // A multi-page file whose first page this image is gets completed now.
  if (auto w = m.MultiPageWriters.find(image); w != m.MultiPageWriters.end()) {
    w->second->finish();
    m.MultiPageWriters.erase(w);
  }
  // The image goes first: its pixels may live in the block released below.
  const raster::Status st = raster::dispose_image(image);
  if (entry != m.DibImageTable.end()) {
    if (entry->free_flag == 1) host::GlobalFree(entry->handle);
    *entry = m.DibImageTable.back();
    m.DibImageTable.pop_back();
  }
  if (m.KeptBytesOwner == image) {
    m.KeptBytes.clear();
    m.KeptBytes.shrink_to_fit();
    m.KeptBytesOwner = 0;
  }
  return st;
}

}  // namespace korvex
