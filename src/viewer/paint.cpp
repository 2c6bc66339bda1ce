// PaintImage: the visible part of the shown image, drawn opaque onto the
// client area or, with a transparent back style, into a picture the host
// shows through; plus clearing the client area.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "raster/handles.h"
#include "raster/rounding.h"
#include "viewer/core.h"

namespace korvex::viewer {

namespace {

using raster::RoundHalfEven;

// Composites premultiplied `src` over `dst` (B, G, R, A bytes), `dst` opaque or not.
void over(const PixelBuffer& src, const PixelBuffer& dst, int32_t x, int32_t y) {
  const int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int32_t x1 = std::min(x + src.width, dst.width), y1 = std::min(y + src.height, dst.height);
  for (int32_t yy = y0; yy < y1; ++yy) {
    const uint8_t* s = src.row(yy - y) + static_cast<std::ptrdiff_t>(x0 - x) * 4;
    uint8_t* d = dst.row(yy) + static_cast<std::ptrdiff_t>(x0) * 4;
    for (int32_t xx = x0; xx < x1; ++xx, s += 4, d += 4) {
      const uint32_t a = s[3];
      if (a == 255) {
        // A run of opaque pixels is copied in one go.
        int32_t run = 1;
        while (xx + run < x1 && s[static_cast<std::ptrdiff_t>(run) * 4 + 3] == 255) ++run;
        std::memcpy(d, s, static_cast<size_t>(run) * 4);
        xx += run - 1;
        s += static_cast<std::ptrdiff_t>(run - 1) * 4;
        d += static_cast<std::ptrdiff_t>(run - 1) * 4;
      } else if (a != 0) {
        const uint32_t keep = 255 - a;
        for (int c = 0; c < 4; ++c) d[c] = static_cast<uint8_t>(s[c] + (d[c] * keep + 127) / 255);
      }
    }
  }
}

void fill(const PixelBuffer& b, int32_t colorref, uint8_t alpha) {
  const uint8_t px[4] = {static_cast<uint8_t>((colorref >> 16) & 0xFF),
                         static_cast<uint8_t>((colorref >> 8) & 0xFF),
                         static_cast<uint8_t>(colorref & 0xFF), alpha};
  for (int32_t y = 0; y < b.height; ++y) {
    uint8_t* d = b.row(y);
    for (int32_t x = 0; x < b.width; ++x) std::memcpy(d + static_cast<std::ptrdiff_t>(x) * 4, px, 4);
  }
}

}  // namespace

bool Core::PaintImage(int32_t image) {
  if (image == 0) image = displayed_image();
  LayoutScrollBars();
  if (last_status == ViewerStatus::Ok && image != 0 && zoom > 0) {
    if (native_image != last_signalled_image) {
      last_signalled_image = native_image;
      if (!Raise(ViewerEvent::PictureChange)) return false;
    }
    if (!lock_screen) {
      PaintRect r;
      const double zx = zoom_x(), zy = zoom_y();
      r.view_width = RoundHalfEven(host_->ClientWidth() - (vbar.visible ? host_->VScrollWidth() : 0));
      r.view_height =
          RoundHalfEven(host_->ClientHeight() - (hbar.visible ? host_->HScrollHeight() : 0));
      if (displayed_width > r.view_width) {
        r.src_x = RoundHalfEven(-image_left / zx);
        r.dst_x = 0;
        r.dst_width = r.view_width;
        r.src_width = RoundHalfEven(r.view_width / zx);
      } else {
        r.src_x = 0;
        r.dst_x = image_left;
        r.dst_width = displayed_width;
        r.src_width = picture_width;
      }
      if (displayed_height > r.view_height) {
        r.dst_y = 0;
        r.dst_height = r.view_height;
        r.src_y = RoundHalfEven(-image_top / zy);
        r.src_height = RoundHalfEven(r.view_height / zy);
      } else {
        r.src_y = 0;
        r.dst_y = image_top;
        r.dst_height = displayed_height;
        r.src_height = picture_height;
      }
      paint_rect = r;
      ClearClient();
      // Buffers are checked against the pixel memory limit; an allocation
      // that fails all the same becomes a status, as every failure here does.
      try {
        if (back_style == 1) {
          DrawOpaque(r);
        } else {
          DrawTransparent(r);
        }
      } catch (const std::bad_alloc&) {
        status(ViewerStatus::OutOfMemory);
      } catch (...) {
        status(ViewerStatus::GenericError);
      }
      if (last_status == ViewerStatus::Ok) {
        if (input.enable_mouse_wheel) HookWheel();
        if (!Raise(ViewerEvent::Displayed)) return false;
        RefreshWindow();
      } else {
        ShowError("Can not display image error no: " +
                  std::to_string(static_cast<int32_t>(last_status)));
      }
    }
    if (!Raise(ViewerEvent::PageChange)) return false;
  }
  // The selection follows the image pixels it was drawn over.
  if (input.rect_image_valid && image != 0)
    PlaceRectFromImage(input.rect_image_top, input.rect_image_left, input.rect_image_width,
                       input.rect_image_height);
  if (corner_visible) host_->SetCornerBox(true, PixelRect{vbar.place.x, hbar.place.y,
                                                          vbar.place.width, hbar.place.height});
  scroll_events_enabled = true;
  return true;
}

// Renders the part of the displayed image under the destination rectangle
// through the view cache; false (with LastStatus set) when it cannot.
namespace {
bool render_visible(Core& c, ViewCache& cache, int32_t image, const PaintRect& r, int32_t interpolation) {
  raster::Image* img = raster::find_image(image);
  if (img == nullptr) {
    c.status(ViewerStatus::InvalidParameter);
    return false;
  }
  // Clip the destination to the displayed image (it may start left of or above the client).
  PixelRect area{r.dst_x - c.image_left, r.dst_y - c.image_top, r.dst_width, r.dst_height};
  const int32_t x0 = std::max(area.x, 0), y0 = std::max(area.y, 0);
  const int32_t x1 = std::min(area.x + area.width, c.displayed_width);
  const int32_t y1 = std::min(area.y + area.height, c.displayed_height);
  area = PixelRect{x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
  if (area.width == 0 || area.height == 0) return true;
  const raster::Status st = cache.RenderImage(
      *img, image, Scaling{c.displayed_width, c.displayed_height, interpolation}, area);
  c.status(static_cast<ViewerStatus>(st));
  return st == raster::Status::Ok;
}
}  // namespace

bool Core::DrawOpaque(const PaintRect& r) {
  // At 100 % the cheapest interpolation; otherwise the one asked for.
  const int32_t mode = zoom != 1.0 ? interpolation_mode : 1;
  if (!render_visible(*this, cache_, displayed_image(), r, mode)) return false;
  if (cache_.view().width == 0) return true;
  const PixelBuffer client = host_->BeginPaint();
  over(cache_.view(), client, cache_.area().x + image_left, cache_.area().y + image_top);
  host_->EndPaint();
  return true;
}

bool Core::DrawTransparent(const PaintRect& r) {
  const bool at_100 = zoom == 1.0;
  const int32_t mode = at_100 ? 0 : interpolation_mode;
  if (!render_visible(*this, cache_, displayed_image(), r, mode)) return false;
  const int32_t vw = std::max(r.view_width, 0), vh = std::max(r.view_height, 0);
  if (static_cast<uint64_t>(vw) * static_cast<uint64_t>(vh) * 4 > raster::pixel_memory_limit()) {
    status(ViewerStatus::OutOfMemory);
    return false;
  }
  std::vector<uint8_t> pixels(static_cast<size_t>(vw) * static_cast<size_t>(vh) * 4);
  const PixelBuffer picture{pixels.data(), vw, vh, vw * 4};
  // At 100 % a transparent bitmap masked with pure blue; otherwise one filled
  // with the image's mask colour, which the host then treats as see-through.
  const int32_t mask = at_100 ? 0xFF0000 : mask_color;
  if (!at_100) fill(picture, mask_color, 255);
  if (cache_.view().width > 0)
    over(cache_.view(), picture, cache_.area().x + image_left, cache_.area().y + image_top);
  host_->SetMaskedPicture(picture, mask);
  return true;
}

void Core::ClearClient() {
  if (lock_screen) return;
  host_->SetMaskedPicture(PixelBuffer{}, 0);
  const PixelBuffer client = host_->BeginPaint();
  fill(client, back_color, 255);
  host_->EndPaint();
}

void Core::RefreshWindow() {
  bool& refreshing = ViewerRefreshing();
  const bool outer = refreshing;
  refreshing = true;
  host_->Refresh();
  refreshing = outer;
}

void Core::RefreshMenuChecks() {
  static const struct {
    const char* item;
    int32_t mode;
  } kItems[] = {{"mnzoom100", 1}, {"mnzoomfit", 2}, {"mnZoomwidth", 3}, {"mnZoomheight", 5},
                {"mnzoomviewer", 6}};
  for (const auto& i : kItems) host_->SetMenuItem(i.item, zoom_mode == i.mode, true);
}

void Core::ShowError(const std::string& text) {
  if (!silent_mode) host_->MessageBox(text, kMessageCritical);
}

}  // namespace korvex::viewer
