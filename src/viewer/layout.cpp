// The layout steps: the zoom mode turned into a zoom, a displayed size, an
// image position and scroll ranges; the scroll bar handlers and resizing.
#include <algorithm>

#include "raster/rounding.h"
#include "viewer/core.h"

namespace korvex::viewer {

namespace {

using raster::RoundHalfEven;

// 16-bit scroll bar values.
constexpr int32_t kBarLimit = 32767;

}  // namespace

double Core::zoom_x() const {
  // Fitted to the height (page height, or stretched to the viewer), Zoom
  // follows the height; the width's factor is what was laid out across it.
  if ((zoom_mode == 5 || zoom_mode == 6) && picture_width > 0 && displayed_width > 0)
    return static_cast<double>(displayed_width) / picture_width;
  return zoom;
}

double Core::zoom_y() const {
  return resolution_factor != 0.0 ? zoom / resolution_factor : zoom;
}

bool Core::ApplyZoom(int32_t image) {
  if (image == 0) image = displayed_image();
  const double cw = host_->ClientWidth(), ch = host_->ClientHeight();
  const double vsw = host_->VScrollWidth(), hsh = host_->HScrollHeight();
  int32_t W = RoundHalfEven(cw), H = RoundHalfEven(ch);
  if (last_status == ViewerStatus::Ok && image != 0 && picture_width >= 1 && picture_height >= 1 &&
      W >= 1 && H >= 1) {
    if (!Raise(ViewerEvent::ZoomChange)) return false;
    const double pw = picture_width, ph = picture_height;
    const double aspect = (pw / ph) * resolution_factor;
    double z = zoom;
    // Zoom to the selection rectangle: its place in image pixels.
    bool to_rect = false;
    int32_t rect_top = 0, rect_left = 0, rect_width = 0, rect_height = 0;
    switch (zoom_mode) {
      case 1:
        z = 1.0;
        break;
      case 2:
        z = static_cast<double>(W) / H <= aspect ? W / pw : (H / ph) * resolution_factor;
        break;
      case 3: {
        z = W / pw;
        const int32_t dw = RoundHalfEven(pw * z);
        const int32_t dh = RoundHalfEven(dw / aspect);
        if (dh > H && scroll_bars) {
          W = RoundHalfEven(cw - vsw);
          z = W / pw;
        }
        break;
      }
      case 5: {
        z = (H / ph) * resolution_factor;
        const int32_t dw = RoundHalfEven(pw * z);
        if (dw > W && scroll_bars) {
          H = RoundHalfEven(ch - hsh);
          z = (H / ph) * resolution_factor;
        }
        break;
      }
      case 6:
        displayed_width = RoundHalfEven(cw);
        displayed_height = RoundHalfEven(ch);
        z = (ch / ph) * resolution_factor;
        break;
      case kZoomToRectangle:
        GetRectValues(rect_top, rect_left, rect_width, rect_height);
        z = rect_width > 0 ? W / static_cast<double>(rect_width) : zoom;
        if (rect_height > 0 && H / static_cast<double>(rect_height) < z)
          z = H / static_cast<double>(rect_height);
        to_rect = true;
        zoom_mode = 4;
        break;
      default:
        z = zoom;
        break;
    }
    if (z > max_zoom) z = max_zoom;
    zoom = z;
    if (zoom_mode != 6) {
      displayed_width = RoundHalfEven(pw * z);
      displayed_height = RoundHalfEven(displayed_width / aspect);
    }
    cache_.DropView();
    const double relV = vbar.max < 1 ? 0.0 : static_cast<double>(vbar.value) / vbar.max;
    const double relH = hbar.max < 1 ? 0.0 : static_cast<double>(hbar.value) / hbar.max;
    UpdateScrollRanges();
    scroll_events_enabled = false;
    if (to_rect) {
      image_left = std::clamp(RoundHalfEven(-rect_left * zoom), -hbar.max, 0);
      image_top = std::clamp(RoundHalfEven(-rect_top * zoom), -vbar.max, 0);
      if (!SetBarValue(Bar::Horizontal, -image_left)) return false;
      if (!SetBarValue(Bar::Vertical, -image_top)) return false;
    } else {
      if (scroll_bars) {
        if (hbar.max > 0) H = RoundHalfEven(H - hsh);
        if (vbar.max > 0) W = RoundHalfEven(W - vsw);
      }
      if (W < displayed_width) {
        double rel = relH;
        if (align_horizontal_pending) {
          const int32_t a = image_alignment;
          rel = (a == 0 || a == 4 || a == 7) ? 0.0 : (a == 1 || a == 5 || a == 8) ? 1.0 : 0.5;
        }
        if (!SetBarValue(Bar::Horizontal, std::clamp(RoundHalfEven(hbar.max * rel), 0, kBarLimit)))
          return false;
        image_left = -hbar.value;
      } else {
        image_left = RoundHalfEven((W - displayed_width) / 2.0);
      }
      if (H < displayed_height) {
        double rel = relV;
        if (align_vertical_pending) {
          const int32_t a = image_alignment;
          rel = (a == 4 || a == 5 || a == 6) ? 0.0 : (a == 7 || a == 8 || a == 9) ? 1.0 : 0.5;
        }
        if (!SetBarValue(Bar::Vertical, std::clamp(RoundHalfEven(vbar.max * rel), 0, kBarLimit)))
          return false;
        image_top = -vbar.value;
      } else {
        image_top = RoundHalfEven((H - displayed_height) / 2.0);
      }
    }
    if (!PaintImage(image)) return false;
    if (!Raise(ViewerEvent::ZoomChanged)) return false;
  }
  RefreshMenuChecks();
  scroll_events_enabled = true;
  return true;
}

void Core::UpdateScrollRanges() {
  scroll_events_enabled = false;
  const double cw = host_->ClientWidth(), ch = host_->ClientHeight();
  const double vsw = host_->VScrollWidth(), hsh = host_->HScrollHeight();
  hbar.min = vbar.min = 0;
  int32_t hmax = 0, vmax = 0;
  if (displayed_width <= cw) {
    (void)SetBarValue(Bar::Horizontal, 0);
  } else {
    hmax = RoundHalfEven(displayed_width - cw + vsw);
  }
  if (displayed_height <= ch) {
    (void)SetBarValue(Bar::Vertical, 0);
  } else {
    vmax = hmax < 1 ? RoundHalfEven(displayed_height - ch) : RoundHalfEven(displayed_height - ch + hsh);
  }
  if (vmax == 0 && hmax > 0) hmax = RoundHalfEven(hmax - vsw);
  hmax = std::clamp(hmax, 0, kBarLimit);
  vmax = std::clamp(vmax, 0, kBarLimit);
  if (vbar.value > vmax) (void)SetBarValue(Bar::Vertical, vmax);
  if (hbar.value > hmax) (void)SetBarValue(Bar::Horizontal, hmax);
  vbar.max = vmax;
  hbar.max = hmax;
  PushBar(Bar::Vertical);
  PushBar(Bar::Horizontal);
  if (vmax < 1) align_vertical_pending = true;
  if (hmax < 1) align_horizontal_pending = true;
  scroll_events_enabled = true;
}

void Core::UpdateMaxZoom() {
  const double wl = RoundHalfEven(host_->ClientWidth() + 32765.0 - host_->VScrollWidth());
  const double hl = RoundHalfEven(host_->ClientHeight() + 32765.0 - host_->HScrollHeight());
  if (picture_width > 0 && picture_height > 0) {
    // Both axes bound it: the displayed height is the picture height times
    // Zoom / ResolutionFactor, and neither scroll range may leave 16 bits.
    max_zoom = std::min(wl / picture_width, hl * resolution_factor / picture_height);
  } else {
    max_zoom = 1.0;
  }
  if (zoom > max_zoom) zoom = max_zoom;
}

void Core::LayoutScrollBars() {
  const int32_t cw = host_->ClientWidth(), ch = host_->ClientHeight();
  const int32_t vsw = host_->VScrollWidth(), hsh = host_->HScrollHeight();
  host_->SetMenuItem("mnscroll", scroll_bars, true);
  if (zoom_mode == 2) {
    hbar.visible = vbar.visible = false;
    align_horizontal_pending = align_vertical_pending = true;
  } else {
    hbar.visible = hbar.max >= 1 && scroll_bars;
    vbar.visible = vbar.max >= 1 && scroll_bars;
  }
  vbar.place = PixelRect{cw - vsw, 0, vsw, hbar.visible ? ch - hsh : ch};
  hbar.place = PixelRect{0, ch - hsh, vbar.visible ? cw - vsw : cw, hsh};
  PushBar(Bar::Vertical);
  PushBar(Bar::Horizontal);
  const bool corner = hbar.visible && vbar.visible;
  if (corner != corner_visible || corner) {
    corner_visible = corner;
    host_->SetCornerBox(corner, PixelRect{cw - vsw, ch - hsh, vsw, hsh});
  }
}

void Core::PushBar(Bar bar) {
  BarState& b = bar == Bar::Horizontal ? hbar : vbar;
  b.small_change = small_change;
  b.large_change = large_change;
  host_->SetScrollBar(bar, b);
}

bool Core::SetBarValue(Bar bar, int32_t value) {
  BarState& b = bar == Bar::Horizontal ? hbar : vbar;
  if (b.value == value) return true;
  b.value = value;
  PushBar(bar);
  return BarChanged(bar);
}

void Core::OnScrollBarChange(Bar bar, int32_t value) {
  BarState& b = bar == Bar::Horizontal ? hbar : vbar;
  value = std::clamp(value, b.min, b.max);
  if (b.value == value) return;
  b.value = value;
  (void)BarChanged(bar);
}

// The bars' change handler: a pending restore of saved positions, or a
// scroll by the user (or a programmatic move with events enabled).
bool Core::BarChanged(Bar bar) {
  if (restore_pending) {
    restore_pending = false;
    scroll_events_enabled = false;
    vbar.value = std::clamp(restore_v, 0, vbar.max);
    hbar.value = std::clamp(restore_h, 0, hbar.max);
    PushBar(Bar::Vertical);
    PushBar(Bar::Horizontal);
    scroll_events_enabled = true;
    return true;
  }
  if (!scroll_events_enabled) return true;
  if (bar == Bar::Vertical) {
    align_vertical_pending = false;
    image_top = -vbar.value;
  } else {
    align_horizontal_pending = false;
    image_left = -hbar.value;
  }
  if (!PaintImage(0)) return false;
  return Raise(ViewerEvent::Scroll);
}

void Core::OnResize() {
  const int32_t cw = host_->ClientWidth(), ch = host_->ClientHeight();
  if (cw <= 0 || ch <= 0) return;
  cache_.DropView();
  // The window erases its new area with the background colour.
  ClearClient();
  if (!ApplyZoom(0)) return;
  UpdateMaxZoom();
  (void)Raise(ViewerEvent::Resize);
}

}  // namespace korvex::viewer
