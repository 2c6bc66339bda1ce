// kxViewer's mouse, keyboard and selection members: the mouse mode, the
// selection rectangle's border and place, zooming and centring on it, the
// wheel and menu switches and the last mouse position.
#include <algorithm>

#include "korvex/viewer.h"
#include "raster/rounding.h"
#include "viewer/core.h"

namespace korvex {

using raster::RoundHalfEven;

int32_t kxViewer::get_MouseMode() const {
  return core_->input.mouse_mode;
}

void kxViewer::put_MouseMode(int32_t value) {
  core_->SetMouseMode(value);
  core_->host().PropertyChanged("MouseMode");
}

// The four border properties are those of the selection shape itself.
int32_t kxViewer::get_RectBorderColor() const {
  return core_->input.shape.border_color;
}

void kxViewer::put_RectBorderColor(int32_t value) {
  core_->input.shape.border_color = value;
  core_->PushSelection();
  core_->host().PropertyChanged("RectBorderColor");
}

int16_t kxViewer::get_RectBorderSize() const {
  return static_cast<int16_t>(core_->input.shape.border_width);
}

void kxViewer::put_RectBorderSize(int16_t value) {
  if (value >= 1) {  // an Integer is at most 32767: every positive width is drawable
    core_->input.shape.border_width = value;
    core_->PushSelection();
  }
  core_->host().PropertyChanged("RectBorderSize");
}

int32_t kxViewer::get_RectBorderStyle() const {
  return core_->input.shape.border_style;
}

void kxViewer::put_RectBorderStyle(int32_t value) {
  if (value >= 1 && value <= 5) {
    core_->input.shape.border_style = value;
    core_->PushSelection();
  }
  core_->host().PropertyChanged("RectBorderStyle");
}

int32_t kxViewer::get_RectDrawMode() const {
  return core_->input.shape.draw_mode;
}

void kxViewer::put_RectDrawMode(int32_t value) {
  if (value >= 1 && value <= 16) {
    core_->input.shape.draw_mode = value;
    core_->PushSelection();
  }
  core_->host().PropertyChanged("RectDrawMode");
}

bool kxViewer::get_EnableMouseWheel() const {
  return core_->input.enable_mouse_wheel;
}

void kxViewer::put_EnableMouseWheel(bool value) {
  viewer::Core& c = *core_;
  c.input.enable_mouse_wheel = value;
  if (!value) {
    c.UnhookWheel();
  } else if (c.image_loaded()) {
    c.HookWheel();
  }
  c.host().PropertyChanged("EnableMouseWheel");
}

bool kxViewer::get_EnableMenu() const {
  return core_->input.enable_menu;
}

void kxViewer::put_EnableMenu(bool value) {
  core_->input.enable_menu = value;
  core_->host().PropertyChanged("EnableMenu");
}

bool kxViewer::isRectDrawed() const {
  return core_->IsRectDrawn();
}

void kxViewer::GetRectValues(int32_t& nTop, int32_t& nLeft, int32_t& nWidth, int32_t& nHeight) {
  core_->GetRectValues(nTop, nLeft, nWidth, nHeight);
}

void kxViewer::SetRectValues(int32_t nTop, int32_t nLeft, int32_t nWidth, int32_t nHeight) {
  // A rectangle of negative size is refused.
  if (nWidth < 0 || nHeight < 0) return;
  core_->PlaceRectFromImage(nTop, nLeft, nWidth, nHeight);
  core_->SaveRectInImage();
}

void kxViewer::ClearRect() {
  core_->ClearRect();
}

ViewerStatus kxViewer::ZoomRect() {
  if (!core_->ZoomRect()) return ViewerStatus::Ok;
  return core_->last_status;
}

void kxViewer::CenterOnRect() {
  viewer::Core& c = *core_;
  if (!c.IsRectDrawn()) return;
  // The view excludes a visible scroll bar.
  const double vw = c.host().ClientWidth() - (c.vbar.visible ? c.host().VScrollWidth() : 0);
  const double vh = c.host().ClientHeight() - (c.hbar.visible ? c.host().HScrollHeight() : 0);
  const double off_x = (vw - c.input.rect_width) / 2;
  const double off_y = (vh - c.input.rect_height) / 2;
  const double x = RoundHalfEven((c.input.rect_image_left - 1.0) * c.zoom) - off_x;
  const double y = RoundHalfEven((c.input.rect_image_top - 1.0) * c.zoom_y()) - off_y;
  SetHVScrollBarPosition(RoundHalfEven(x), RoundHalfEven(y));
}

int32_t kxViewer::GetMouseX() const {
  return core_->input.mouse_x;
}

int32_t kxViewer::GetMouseY() const {
  return core_->input.mouse_y;
}

}  // namespace korvex
