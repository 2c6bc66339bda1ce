// kxViewer's members: properties, zoom, scrolling, coordinates and redraw.
#include "korvex/viewer.h"

#include <algorithm>

#include "raster/rounding.h"
#include "viewer/children.h"
#include "viewer/core.h"

namespace korvex {

using raster::RoundHalfEven;
using viewer::Bar;

kxViewer::kxViewer(std::shared_ptr<viewer::ViewerHost> host)
    : kxViewer(std::move(host), ViewerControl::kxViewer) {}

kxViewer::kxViewer(std::shared_ptr<viewer::ViewerHost> host, ViewerControl control)
    : core_(std::make_unique<viewer::Core>(std::move(host))), control_(control) {
  core_->owner = this;
}

kxViewer::~kxViewer() = default;

viewer::ViewerHost& kxViewer::host() {
  return core_->children().inner();
}
viewer::Core& kxViewer::core() {
  return *core_;
}
ViewerStatus kxViewer::LastStatus() const {
  return core_->last_status;
}
void kxViewer::Advise(std::shared_ptr<ViewerEventSink> sink) {
  core_->Advise(std::move(sink));
}
void kxViewer::Unadvise(const std::shared_ptr<ViewerEventSink>& sink) {
  core_->Unadvise(sink);
}

// Properties that only store their value (and tell the host).
#define KX_STORED(Type, Name, field)                   \
  Type kxViewer::get_##Name() const {                  \
    return core_->field;                               \
  }                                                    \
  void kxViewer::put_##Name(Type value) {              \
    core_->field = value;                              \
    core_->host().PropertyChanged(#Name);              \
  }
KX_STORED(bool, ScrollOptimization, scroll_optimization)
KX_STORED(int32_t, ImageAlignment, image_alignment)
KX_STORED(int32_t, SmoothingMode, smoothing_mode)
KX_STORED(int32_t, InterpolationMode, interpolation_mode)
KX_STORED(bool, LockScreen, lock_screen)
KX_STORED(bool, SilentMode, silent_mode)
KX_STORED(bool, SkipImageResolution, skip_image_resolution)
KX_STORED(int32_t, BackStyle, back_style)
KX_STORED(int32_t, BorderStyle, border_style)
KX_STORED(int32_t, Appearance, appearance)
KX_STORED(bool, ClipControls, clip_controls)
KX_STORED(bool, Enabled, enabled)
#undef KX_STORED

int32_t kxViewer::get_hwnd() const {
  return core_->host().WindowHandle();
}

int32_t kxViewer::get_hdc() const {
  return core_->host().DeviceContext();
}

int32_t kxViewer::get_BackColor() const {
  return core_->back_color;
}

void kxViewer::put_BackColor(int32_t value) {
  viewer::Core& c = *core_;
  c.back_color = value;
  // The window repaints its background at once, under the image if one is shown.
  if (c.image_loaded()) {
    if (!c.PaintImage(0)) return;
  } else {
    c.ClearClient();
  }
  c.host().PropertyChanged("BackColor");
}

// Properties of the shown image: reading only; a write changes nothing.
#define KX_READ_ONLY(Name, field)              \
  int32_t kxViewer::get_##Name() const {       \
    return core_->field;                       \
  }                                            \
  void kxViewer::put_##Name(int32_t) {         \
    core_->host().PropertyChanged(#Name);      \
  }
KX_READ_ONLY(PictureWidth, picture_width)
KX_READ_ONLY(PictureHeight, picture_height)
KX_READ_ONLY(HorizontalResolution, horizontal_resolution)
KX_READ_ONLY(VerticalResolution, vertical_resolution)
KX_READ_ONLY(ImageLeftCoord, image_left)
KX_READ_ONLY(ImageTopCoord, image_top)
#undef KX_READ_ONLY

// --- Zoom ----------------------------------------------------------------------

int32_t kxViewer::get_ZoomMode() const {
  return core_->zoom_mode;
}

void kxViewer::put_ZoomMode(int32_t value) {
  viewer::Core& c = *core_;
  if (value != c.zoom_mode && value >= 1 && value <= 6) {
    switch (value) {
      case 1: SetZoom100(); break;
      case 2: SetZoomFit(); break;
      case 3: SetZoomWidth(); break;
      case 5: SetZoomHeight(); break;
      case 6: SetZoomViewer(); break;
      default: break;
    }
    c.zoom_mode = value;
    c.RefreshMenuChecks();
  }
  c.host().PropertyChanged("ZoomMode");
}

double kxViewer::get_Zoom() const {
  return core_->zoom;
}

void kxViewer::put_Zoom(double value) {
  viewer::Core& c = *core_;
  if (value > 0) {
    if (c.image_loaded()) value = std::min(value, c.max_zoom);
    if (value != c.zoom) {
      c.zoom = value;
      c.zoom_mode = 4;
      if (c.image_loaded() && !c.ApplyZoom(0)) return;
    }
  }
  c.host().PropertyChanged("Zoom");
}

int32_t kxViewer::get_ZoomStep() const {
  return core_->zoom_step;
}

void kxViewer::put_ZoomStep(int32_t value) {
  // A step of zero or less would make ZoomIN a zoom out (or nothing): refused.
  if (value > 0) core_->zoom_step = value;
  core_->host().PropertyChanged("ZoomStep");
}

namespace {
ViewerStatus set_mode(viewer::Core& c, int32_t mode) {
  if (c.zoom_mode != mode) {
    c.zoom_mode = mode;
    if (!c.ApplyZoom(0)) return ViewerStatus::Ok;
  }
  return c.last_status;
}
}  // namespace

ViewerStatus kxViewer::SetZoom100() {
  return set_mode(*core_, 1);
}
ViewerStatus kxViewer::SetZoomFit() {
  return set_mode(*core_, 2);
}
ViewerStatus kxViewer::SetZoomWidth() {
  return set_mode(*core_, 3);
}
ViewerStatus kxViewer::SetZoomHeight() {
  return set_mode(*core_, 5);
}
ViewerStatus kxViewer::SetZoomViewer() {
  return set_mode(*core_, 6);
}

ViewerStatus kxViewer::SetZoom(int32_t nZoomPercent) {
  viewer::Core& c = *core_;
  if (nZoomPercent > 0 && nZoomPercent / 100.0 <= c.max_zoom) {
    c.zoom_mode = 4;
    c.zoom = nZoomPercent / 100.0;
    if (!c.ApplyZoom(0)) return ViewerStatus::Ok;
  }
  return c.last_status;
}

ViewerStatus kxViewer::ZoomIN() {
  if (!core_->ZoomBy(true)) return ViewerStatus::Ok;
  return core_->last_status;
}

ViewerStatus kxViewer::ZoomOUT() {
  if (!core_->ZoomBy(false)) return ViewerStatus::Ok;
  return core_->last_status;
}

double kxViewer::GetMaxZoom() const {
  return core_->max_zoom;
}

// --- Scrolling -------------------------------------------------------------------

bool kxViewer::get_ScrollBars() const {
  return core_->scroll_bars;
}

void kxViewer::put_ScrollBars(bool value) {
  viewer::Core& c = *core_;
  if (value != c.scroll_bars) {
    c.scroll_bars = value;
    if (!c.ApplyZoom(0)) return;
  }
  c.host().PropertyChanged("ScrollBars");
}

int16_t kxViewer::get_ScrollSmallChange() const {
  return core_->small_change;
}

void kxViewer::put_ScrollSmallChange(int16_t value) {
  if (value > 0) {
    core_->small_change = value;
    core_->LayoutScrollBars();
  }
  core_->host().PropertyChanged("ScrollSmallChange");
}

int16_t kxViewer::get_ScrollLargeChange() const {
  return core_->large_change;
}

void kxViewer::put_ScrollLargeChange(int16_t value) {
  if (value > 0) {
    core_->large_change = value;
    core_->LayoutScrollBars();
  }
  core_->host().PropertyChanged("ScrollLargeChange");
}

int32_t kxViewer::GetHScrollBarPosition() const {
  return core_->hbar.value;
}
int32_t kxViewer::GetVScrollBarPosition() const {
  return core_->vbar.value;
}
int32_t kxViewer::GetHScrollBarMaxPosition() const {
  return core_->hbar.max;
}
int32_t kxViewer::GetVScrollBarMaxPosition() const {
  return core_->vbar.max;
}

void kxViewer::SetHScrollBarPosition(int32_t nNewHPosition) {
  viewer::Core& c = *core_;
  c.scroll_events_enabled = true;
  (void)c.SetBarValue(Bar::Horizontal, std::clamp(nNewHPosition, 0, c.hbar.max));
}

void kxViewer::SetVScrollBarPosition(int32_t nNewVPosition) {
  viewer::Core& c = *core_;
  c.scroll_events_enabled = true;
  (void)c.SetBarValue(Bar::Vertical, std::clamp(nNewVPosition, 0, c.vbar.max));
}

void kxViewer::SetHVScrollBarPosition(int32_t nNewHPosition, int32_t nNewVPosition) {
  viewer::Core& c = *core_;
  const bool was_locked = c.lock_screen;
  c.lock_screen = true;
  c.scroll_events_enabled = true;
  // The bars' handlers move the image but draw nothing; one paint follows.
  if (!c.SetBarValue(Bar::Vertical, std::clamp(nNewVPosition, 0, c.vbar.max))) return;
  if (!c.SetBarValue(Bar::Horizontal, std::clamp(nNewHPosition, 0, c.hbar.max))) return;
  if (!was_locked) {
    c.lock_screen = false;
    if (!c.PaintImage(0)) return;
    (void)c.Raise(ViewerEvent::Scroll);
  }
}

// --- Redraw ------------------------------------------------------------------------

ViewerStatus kxViewer::Redraw() {
  // The host may have changed the image's pixels: render them afresh.
  core_->DropSource();
  if (!core_->PaintImage(0)) return ViewerStatus::Ok;
  return core_->last_status;
}

void kxViewer::Refresh() {
  core_->RefreshWindow();
}

void kxViewer::Clear() {
  core_->ClearClient();
}

// --- Coordinates -------------------------------------------------------------------

int32_t kxViewer::GetPictureLeft() const {
  return core_->image_left;
}
int32_t kxViewer::GetPictureTop() const {
  return core_->image_top;
}

void kxViewer::CoordObjectToImage(int32_t nObjectX, int32_t nObjectY, int32_t& nImageX,
                                  int32_t& nImageY) {
  core_->ObjectToImage(nObjectX, nObjectY, nImageX, nImageY);
}

void kxViewer::CoordImageToObject(int32_t nImageX, int32_t nImageY, int32_t& nObjectX,
                                  int32_t& nObjectY) {
  core_->ImageToObject(nImageX, nImageY, nObjectX, nObjectY);
}

}  // namespace korvex
