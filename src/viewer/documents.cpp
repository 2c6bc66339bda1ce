// The document the viewer shows: image set-up after each load and page
// change, closing, the 24-bit page copy that rotations work on, page and
// frame selection, and GIF animation on the host's one-shot timers.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "korvex/engine.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "raster/rounding.h"
#include "viewer/core.h"

namespace korvex::viewer {

namespace {

using raster::RoundHalfEven;

// Frame delays: the property holds one LONG per frame in 1/100 s; a frame
// without a delay (0, or missing from a short property) shows for 100 ms.
constexpr uint32_t kFrameDelayTag = 0x5100;
constexpr int32_t kDefaultFrameDelay = 100;

void enable(Core& c, const char* item, bool on) {
  c.host().SetMenuItem(item, false, on);
}

void dispose_page_image(Core& c) {
  if (c.page_image != 0) (void)raster::dispose_image(c.page_image);
  c.page_image = 0;
  c.page_image_no = 0;
}

std::vector<int32_t> read_frame_delays(const raster::Image& img, int32_t frames) {
  std::vector<int32_t> delays(static_cast<size_t>(frames), kDefaultFrameDelay);
  const raster::PropertyItem* p = img.property(kFrameDelayTag);
  const size_t given = p != nullptr ? p->value.size() / 4 : 0;
  for (size_t i = 0; i < delays.size() && i < given; ++i) {
    uint32_t v;
    std::memcpy(&v, p->value.data() + 4 * i, 4);  // little-endian, as stored
    if (v != 0) delays[i] = static_cast<int32_t>(std::min<uint64_t>(uint64_t{v} * 10, INT32_MAX));
  }
  return delays;
}

// COLORREF of the first fully transparent palette entry when the palette
// says it carries alpha; black otherwise.
int32_t first_transparent_entry(const raster::Image& img) {
  const raster::Palette& pal = img.palette();
  if ((pal.flags & raster::Palette::kHasAlpha) == 0) return 0;
  for (const uint32_t argb : pal.entries) {
    if ((argb >> 24) != 0) continue;
    return static_cast<int32_t>(((argb >> 16) & 0xFF) | (argb & 0xFF00) | ((argb & 0xFF) << 16));
  }
  return 0;
}

}  // namespace

cKorvex* Core::engine() {
  if (!engine_ && !terminated) engine_ = std::make_unique<cKorvex>();
  return engine_.get();
}

bool Core::ImageSetup(int32_t image) {
  const bool native = image == 0;
  if (native) image = native_image;
  raster::Image* img = raster::find_image(image);
  bool known_format = false;
  raster::Guid format = raster::guids::kFormatUndefined;
  if (native) {
    for (const char* item : {"mnfirstframe", "mnpreviousframe", "mnnextframe", "mnlastframe"})
      enable(*this, item, false);
    if (img != nullptr) format = img->raw_format();
    known_format = format != raster::guids::kFormatUndefined;
  }
  // The pixels behind the shown image changed: render them afresh.
  cache_.DropSource();
  if (last_status != ViewerStatus::Ok) return true;
  if (img == nullptr) {
    status(ViewerStatus::InvalidParameter);
    ShowError("Can not get picture height");
    return true;
  }
  picture_height = img->height();
  picture_width = img->width();
  if (document_kind == 1) {
    horizontal_resolution = RoundHalfEven(img->dpi_x());
    vertical_resolution = RoundHalfEven(img->dpi_y());
  }
  if (native) MarkPrinter();
  // A missing resolution on either axis says nothing about the pixel shape.
  resolution_factor = horizontal_resolution == 0 || vertical_resolution == 0 || skip_image_resolution
                          ? 1.0
                          : static_cast<double>(vertical_resolution) / horizontal_resolution;
  picture_width = std::max(picture_width, 1);
  picture_height = std::max(picture_height, 1);
  UpdateMaxZoom();
  if (document_kind != 1 || !known_format) {
    enable(*this, "mnplaygif", false);
    return true;
  }
  if (back_style == 0) mask_color = first_transparent_entry(*img);
  if (format == raster::guids::kFormatGif) {
    num_pages = std::max<int32_t>(
        static_cast<int32_t>(img->frame_count(raster::guids::kFrameDimensionTime)), 1);
    if (num_pages > 1) frame_delays = read_frame_delays(*img, num_pages);
    is_animated = num_pages > 1;
  } else if (format == raster::guids::kFormatTiff) {
    is_animated = false;
    num_pages = std::max<int32_t>(
        static_cast<int32_t>(img->frame_count(raster::guids::kFrameDimensionPage)), 1);
  } else {
    num_pages = 1;
    is_animated = false;
  }
  enable(*this, "mnplaygif", is_animated);
  enable(*this, "mnnextframe", num_pages > 1);
  enable(*this, "mnlastframe", num_pages > 1);
  // A running animation goes on: a set-up inside its tick must not restart it.
  if (is_animated && animate_gif && animation_timer_id == 0) return PlayGif();
  return true;
}

ViewerStatus Core::ShowLoaded(int32_t id, ViewerStatus loaded) {
  if (id == 0) {
    native_image = 0;
    return status(loaded == ViewerStatus::Ok ? ViewerStatus::GenericError : loaded);
  }
  native_image = id;
  last_status = ViewerStatus::Ok;
  document_kind = 1;
  current_page = 1;
  if (!ImageSetup(0)) return ViewerStatus::Ok;
  if (!ApplyZoom(0)) return ViewerStatus::Ok;
  return last_status;
}

void Core::ResetDocumentState(bool keep_page_count) {
  NewGeneration();
  if (is_animated) StopGif();
  enable(*this, "mnplaygif", false);
  enable(*this, "mnstopgif", false);
  resolution_factor = 1.0;
  picture_width = picture_height = 0;
  horizontal_resolution = vertical_resolution = 0;
  image_left = image_top = 0;
  displayed_width = displayed_height = 0;
  if (!keep_page_count) num_pages = 0;
  current_page = 0;
  last_status = ViewerStatus::Ok;
  document_kind = 0;
  for (BarState* b : {&hbar, &vbar}) {
    b->value = b->max = 0;
    b->visible = false;
  }
  PushBar(Bar::Vertical);
  PushBar(Bar::Horizontal);
  corner_visible = false;
  host_->SetCornerBox(false, PixelRect{});
  host_->SetMousePointer(0);
  max_zoom = 1.0;
  native_image = 0;
  last_signalled_image = 0;
  align_horizontal_pending = align_vertical_pending = true;
  is_animated = false;
  frame_delays.clear();
  dispose_page_image(*this);
  cache_.DropSource();
  cache_.DropView();
}

void Core::DisposeNativeImage() {
  if (native_image != 0 && owns_native_image) {
    if (status(static_cast<ViewerStatus>(raster::dispose_image(native_image))) == ViewerStatus::Ok)
      native_image = 0;
    if (temp_image_in_use) {
      std::error_code ec;
      std::filesystem::remove(temp_image_name, ec);
      temp_image_in_use = false;
    }
  } else {
    // An image shown by reference belongs to its engine: never disposed here.
    native_image = 0;
  }
  dispose_page_image(*this);
}

ViewerStatus Core::MakePageCopy() {
  dispose_page_image(*this);
  raster::Image* img = raster::find_image(native_image);
  if (img == nullptr) return ViewerStatus::InvalidParameter;
  std::unique_ptr<raster::Image> copy;
  // The selected frame in 24-bit RGB, with its resolution.
  const raster::Status st =
      img->clone_area(raster::Rect{0, 0, img->width(), img->height()}, raster::pf::k24bppRGB, copy);
  if (st != raster::Status::Ok) return static_cast<ViewerStatus>(st);
  page_image = raster::register_image(std::move(copy));
  page_image_no = current_page;
  return ViewerStatus::Ok;
}

bool Core::ClosePicture() {
  DisposeNativeImage();
  ClosePdfDocument();
  ResetDocumentState(false);
  ClearClient();
  return Raise(ViewerEvent::PageChange);
}

bool Core::DisplayFrame(int32_t frame) {
  if (frame >= 1 && frame <= num_pages && pdf_document_id != 0) {
    if (!RenderPdfPage(frame)) return false;
  } else if (frame >= 1 && frame <= num_pages) {
    if (document_kind == 1) {
      dispose_page_image(*this);
      raster::Image* img = raster::find_image(native_image);
      if (img != nullptr)
        (void)img->select_active_frame(is_animated ? raster::guids::kFrameDimensionTime
                                                   : raster::guids::kFrameDimensionPage,
                                       static_cast<uint32_t>(frame - 1));
    }
    // Set first, so that the PageChange of the paint reports the new page.
    current_page = frame;
    if (!ImageSetup(0) || !ApplyZoom(0)) return false;
  }
  RefreshFrameItems();
  return true;
}

void Core::RefreshFrameItems() {
  const bool pages = num_pages >= 2;
  enable(*this, "mnnextframe", pages && current_page < num_pages);
  enable(*this, "mnlastframe", pages && current_page < num_pages);
  enable(*this, "mnpreviousframe", pages && current_page > 1);
  enable(*this, "mnfirstframe", pages && current_page > 1);
}

bool Core::RotateFlipShown(int32_t type) {
  int32_t target = native_image;
  // A page of a multi-page document turns in its private copy; the document stays as it is.
  if (document_kind == 1 && num_pages >= 2) {
    if (page_image == 0 || page_image_no != current_page) status(MakePageCopy());
    target = page_image;
  }
  if (last_status == ViewerStatus::Ok) {
    raster::Image* img = raster::find_image(target);
    status(img == nullptr ? ViewerStatus::InvalidParameter
                          : static_cast<ViewerStatus>(
                                img->rotate_flip(static_cast<raster::RotateFlip>(type))));
  }
  if (!ImageSetup(target)) return false;
  return ApplyZoom(target);
}

bool Core::PlayGif() {
  if (last_status != ViewerStatus::Ok || !is_animated) return true;
  if (animation_timer_id != 0) host_->StopTimer(animation_timer_id);
  animation_timer_id = 0;
  animation_loops = -1;
  animation_frame = 1;
  if (!AnimationTick()) return false;
  enable(*this, "mnstopgif", true);
  enable(*this, "mnplaygif", false);
  return true;
}

bool Core::AnimationTick() {
  if (animation_loops == 0 || !is_animated) return true;
  current_page = animation_frame;
  if (page_image != 0) {
    dispose_page_image(*this);
    if (!ImageSetup(0) || !ApplyZoom(0)) return false;
  }
  raster::Image* img = raster::find_image(native_image);
  if (img != nullptr && img->select_active_frame(raster::guids::kFrameDimensionTime,
                                                 static_cast<uint32_t>(animation_frame - 1)) ==
                            raster::Status::Ok) {
    cache_.DropSource();
    if (!PaintImage(0)) return false;
  }
  // A handler may have stopped the animation or closed the document.
  if (!is_animated || animation_loops == 0) return true;
  const size_t at = static_cast<size_t>(animation_frame - 1);
  const int32_t delay = at < frame_delays.size() ? frame_delays[at] : kDefaultFrameDelay;
  animation_timer_id = host_->StartTimer(delay, [this] {
    animation_timer_id = 0;  // one-shot: it is gone
    (void)AnimationTick();
  });
  animation_frame = animation_frame >= num_pages ? 1 : animation_frame + 1;
  if (animation_loops > 0) --animation_loops;
  return true;
}

void Core::StopGif() {
  if (animation_timer_id != 0) host_->StopTimer(animation_timer_id);
  animation_timer_id = 0;
  animation_loops = 0;  // a tick under way starts no further timer
  enable(*this, "mnstopgif", false);
  if (is_animated) enable(*this, "mnplaygif", true);
}

void Core::Terminate() {
  if (terminated) return;
  terminated = true;
  if (animation_timer_id != 0) host_->StopTimer(animation_timer_id);
  animation_timer_id = 0;
  DisposeNativeImage();
  ClosePdfDocument();
  engine_.reset();  // the viewer's use of the raster session ends
  printer.reset();
}

}  // namespace korvex::viewer
