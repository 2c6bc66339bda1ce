// Mouse, keyboard and selection: the selection rectangle kept in image
// pixels, area selection and auto zoom, dragging the image with the hand,
// zooming from the middle button, the keypad and the wheel, and the input
// events forwarded to the host. Mouse and key events pass their arguments by
// reference: MouseDown and MouseMove are raised before the viewer acts, so it
// acts on what the handlers left; MouseUp is raised after it has acted.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "raster/rounding.h"
#include "viewer/core.h"

namespace korvex::viewer {

namespace {

using raster::RoundHalfEven;

// A whole number of pixels from mouse arithmetic; false when it is no finite Long.
bool checked_long(double v, int32_t& out) {
  if (!std::isfinite(v)) return false;
  const double r = raster::round_half_even(v);
  if (r > 2147483647.0 || r < -2147483648.0) return false;
  out = static_cast<int32_t>(r);
  return true;
}

// The same, saturated (a value that is no number becomes 0).
int32_t saturated_long(double v) {
  return std::isnan(v) ? 0 : RoundHalfEven(v);
}

int32_t saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// What a handler left in an Integer or Single argument, kept within the type.
int16_t integer_arg(double v) {
  return std::isnan(v) ? 0 : static_cast<int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0));
}
float single_arg(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  return std::isnan(v) ? std::numeric_limits<float>::quiet_NaN()
                       : static_cast<float>(std::clamp(v, -kMax, kMax));
}

ViewerEventArgs mouse_args(int16_t button, int16_t shift, float x, float y) {
  ViewerEventArgs a;
  a.values = {static_cast<double>(button), static_cast<double>(shift), x, y};
  a.count = 4;
  return a;
}

void read_mouse_args(const ViewerEventArgs& a, int16_t& button, int16_t& shift, float& x,
                     float& y) {
  button = integer_arg(a.values[0]);
  shift = integer_arg(a.values[1]);
  x = single_arg(a.values[2]);
  y = single_arg(a.values[3]);
}

// Key codes of the numeric keypad's plus and minus: the wheel's keystrokes.
constexpr int16_t kKeypadPlus = 107;
constexpr int16_t kKeypadMinus = 109;

// The text a trapped arithmetic failure of the mouse handlers reports.
constexpr const char* kOverflow = "Overflow";

}  // namespace

InputFlags& ThreadInput() {
  thread_local InputFlags flags;
  return flags;
}

// --- Coordinates -----------------------------------------------------------------

void Core::ObjectToImage(int32_t ox, int32_t oy, int32_t& ix, int32_t& iy) const {
  if (zoom == 0) return;
  ix = saturate(int64_t{RoundHalfEven((ox - static_cast<double>(image_left)) / zoom_x())} + 1);
  iy = saturate(int64_t{RoundHalfEven((oy - static_cast<double>(image_top)) / zoom_y())} + 1);
}

void Core::ImageToObject(int32_t ix, int32_t iy, int32_t& ox, int32_t& oy) const {
  ox = saturate(int64_t{RoundHalfEven((ix - 1.0) * zoom_x())} + image_left);
  if (resolution_factor != 0)
    oy = saturate(int64_t{RoundHalfEven((iy - 1.0) * zoom_y())} + image_top);
}

// --- The selection rectangle ---------------------------------------------------------

void Core::PushSelection() {
  SelectionShape s = input.shape;
  s.place = PixelRect{saturated_long(input.rect_left), saturated_long(input.rect_top),
                      saturated_long(input.rect_width), saturated_long(input.rect_height)};
  // The 1 x 1 shape at (-1, -1) is the absent rectangle.
  s.visible = !(s.place.x == -1 && s.place.y == -1 && s.place.width == 1 && s.place.height == 1);
  input.shape.visible = s.visible;
  input.shape.place = s.place;
  host_->SetSelectionShape(s);
}

void Core::ClearRect() {
  input.rect_left = input.rect_top = -1;
  input.rect_width = input.rect_height = 1;
  input.drag_start_x = input.drag_start_y = 0;
  input.rect_image_top = input.rect_image_left = input.rect_image_width = input.rect_image_height =
      0;
  input.rect_image_valid = false;
  input.rect_start_outside_x = input.rect_start_outside_y = true;
  PushSelection();
}

bool Core::IsRectDrawn() const {
  return input.rect_width > 1 && input.rect_height > 1;
}

void Core::GetRectValues(int32_t& top, int32_t& left, int32_t& width, int32_t& height) {
  if (input.rect_width <= 1 && input.rect_height <= 1) {
    top = left = 1;
    width = height = 0;
    return;
  }
  const int32_t l = saturated_long(input.rect_left), t = saturated_long(input.rect_top);
  const int32_t r = saturated_long(static_cast<double>(input.rect_left) + input.rect_width);
  const int32_t b = saturated_long(static_cast<double>(input.rect_top) + input.rect_height);
  int32_t il = 0, it = 0, ir = 0, ib = 0;
  ObjectToImage(l, t, il, it);
  ObjectToImage(r, b, ir, ib);
  left = il;
  top = it;
  width = saturate(int64_t{ir} - il);
  height = saturate(int64_t{ib} - it);
  // The far edge may round one pixel past the image.
  if (int64_t{top} + height > int64_t{picture_height} + 1) --height;
  if (int64_t{left} + width > int64_t{picture_width} + 1) --width;
}

void Core::PlaceRectFromImage(int32_t top, int32_t left, int32_t width, int32_t height) {
  if (!image_loaded()) {
    input.rect_left = input.rect_top = 1;
    input.rect_width = input.rect_height = 1;
  } else {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    ImageToObject(left, top, x0, y0);
    ImageToObject(saturate(int64_t{left} + width), saturate(int64_t{top} + height), x1, y1);
    input.rect_left = static_cast<float>(x0);
    input.rect_top = static_cast<float>(y0);
    input.rect_width = static_cast<float>(int64_t{x1} - x0);
    input.rect_height = static_cast<float>(int64_t{y1} - y0);
  }
  PushSelection();
}

void Core::SaveRectInImage() {
  if (!image_loaded()) {
    input.rect_image_valid = false;
    return;
  }
  input.rect_image_valid = IsRectDrawn();
  if (input.rect_image_valid)
    GetRectValues(input.rect_image_top, input.rect_image_left, input.rect_image_width,
                  input.rect_image_height);
}

bool Core::ZoomRect() {
  if (!IsRectDrawn()) return true;
  const int32_t mode = zoom_mode;
  zoom_mode = kZoomToRectangle;
  if (!ApplyZoom(0)) return false;
  // Without an image to lay out, the mode the layout did not replace is put back.
  if (zoom_mode == kZoomToRectangle) zoom_mode = mode;
  return true;
}

bool Core::ZoomBy(bool in) {
  const double step = zoom_step / 100.0;
  if (image_loaded() && (in ? zoom + step <= max_zoom : zoom - step > 0.001)) {
    zoom_mode = 4;
    zoom += in ? step : -step;
    return ApplyZoom(0);
  }
  return true;
}

void Core::SetMouseMode(int32_t mode) {
  if (mode < 0 || mode > 3) return;
  if (mode == 0 || mode == 2) ClearRect();
  input.mouse_mode = mode;
  RefreshMouseModeChecks();
}

void Core::RefreshMouseModeChecks() {
  static const struct {
    const char* item;
    int32_t mode;
  } kItems[] = {{"mnstandard", 0}, {"mnareaselection", 1}, {"mnhandcursor", 2}, {"mnautozoom", 3}};
  for (const auto& i : kItems) host_->SetMenuItem(i.item, input.mouse_mode == i.mode, true);
}

// --- Mouse -----------------------------------------------------------------------------

void Core::UpdateMousePosition(float x, float y) {
  if (host_->ClientHeight() <= 0 || host_->ClientWidth() <= 0 || last_status != ViewerStatus::Ok ||
      !image_loaded() || zoom == 0) {
    input.mouse_x = input.mouse_y = 0;
    return;
  }
  int32_t ox = 0, oy = 0;
  if (!checked_long(x, ox) || !checked_long(y, oy)) {
    status(ViewerStatus::GenericError);
    ShowError(std::string("Mouse Position Calc: ") + kOverflow);
    return;
  }
  int32_t ix = 0, iy = 0;
  ObjectToImage(ox, oy, ix, iy);
  input.mouse_x = std::clamp(ix, 1, std::max(picture_width, 1));
  input.mouse_y = std::clamp(iy, 1, std::max(picture_height, 1));
}

void Core::OnMouse(MouseAction action, int16_t& button, int16_t& shift, float& x, float& y) {
  switch (action) {
    case MouseAction::Down:
      (void)MouseDown(button, shift, x, y);
      break;
    case MouseAction::Move:
      (void)MouseMove(button, shift, x, y);
      break;
    case MouseAction::Up:
      (void)MouseUp(button, shift, x, y);
      break;
  }
}

bool Core::MouseDown(int16_t& button, int16_t& shift, float& x, float& y) {
  ThreadInput().mouse_button_down = true;
  input.set_button_down = true;
  UpdateMousePosition(x, y);
  ViewerEventArgs args = mouse_args(button, shift, x, y);
  const bool alive = Raise(ViewerEvent::MouseDown, args);
  read_mouse_args(args, button, shift, x, y);
  if (!alive) return false;
  InputState& in = input;
  in.drag_start_x = saturated_long(x);
  in.drag_start_y = saturated_long(y);
  if (button == 2) {
    if (in.enable_menu && image_loaded()) host_->ShowPopupMenu(in.drag_start_x, in.drag_start_y);
    return true;
  }
  if (!image_loaded()) {
    ClearRect();
    return true;
  }
  if (button == 1) {
    if (in.mouse_mode == 1 || in.mouse_mode == 3) {
      host_->SetMousePointer(kPointerCrossHair);
      // A press beyond the image on an axis keeps the rectangle from growing.
      in.rect_start_outside_x = in.drag_start_x < image_left ||
                                int64_t{in.drag_start_x} > int64_t{image_left} + displayed_width;
      if (!in.rect_start_outside_x) in.rect_left = static_cast<float>(in.drag_start_x);
      in.rect_start_outside_y = in.drag_start_y < image_top ||
                                int64_t{in.drag_start_y} > int64_t{image_top} + displayed_height;
      if (!in.rect_start_outside_y) in.rect_top = static_cast<float>(in.drag_start_y);
      in.rect_width = in.rect_height = 1;
      SaveRectInImage();
      PushSelection();
    } else if (in.mouse_mode == 2) {
      host_->SetMousePointer(kPointerHand);
      in.hand_dragging = true;
    }
  } else if (button == 4) {
    return ZoomBy(shift == 0);
  }
  return true;
}

bool Core::MouseMove(int16_t& button, int16_t& shift, float& x, float& y) {
  InputFlags& flags = ThreadInput();
  flags.mouse_is_moving = true;
  UpdateMousePosition(x, y);
  ViewerEventArgs args = mouse_args(button, shift, x, y);
  const bool alive = Raise(ViewerEvent::MouseMove, args);
  read_mouse_args(args, button, shift, x, y);
  if (!alive) {
    flags.mouse_is_moving = false;
    return false;
  }
  bool ok = true, trapped = false;
  InputState& in = input;
  if (button == 1 && image_loaded()) {
    if ((in.mouse_mode == 1 || in.mouse_mode == 3) && !in.rect_start_outside_x &&
        !in.rect_start_outside_y) {
      if (!std::isfinite(x) || !std::isfinite(y)) {
        trapped = true;
      } else {
        // From the start point to the mouse, cut to the displayed image.
        const double sx = in.drag_start_x, sy = in.drag_start_y;
        const double il = image_left, it = image_top;
        const double right = il + displayed_width, bottom = it + displayed_height;
        double left, width, top, height;
        if (x < sx) {
          left = x < il ? il : x;
          width = std::abs(sx - left + 1);
        } else {
          left = sx;
          width = x > right ? right - left : std::abs(x - left);
        }
        if (y < sy) {
          top = y < it ? it : y;
          height = std::abs(sy - top + 1);
        } else {
          top = sy;
          height = y > bottom ? bottom - top : std::abs(y - top);
        }
        in.rect_left = static_cast<float>(left);
        in.rect_top = static_cast<float>(top);
        in.rect_width = static_cast<float>(width);
        in.rect_height = static_cast<float>(height);
        SaveRectInImage();
        PushSelection();
      }
    } else if (in.mouse_mode == 2 && in.hand_dragging) {
      int32_t dx = 0, dy = 0;
      if (!checked_long(in.drag_start_x - static_cast<double>(x), dx) ||
          !checked_long(in.drag_start_y - static_cast<double>(y), dy)) {
        trapped = true;
      } else if (dx != 0 || dy != 0) {
        // The image follows the mouse within the scroll ranges; an axis
        // without a range, or a move past either end, stays where it is.
        bool moved = false;
        const auto follow = [&](Bar bar, int32_t& coord, int32_t delta) {
          const BarState& b = bar == Bar::Horizontal ? hbar : vbar;
          if (b.max <= 0) return;
          const int64_t next = int64_t{coord} - delta;
          if (next < -int64_t{b.max} || next > 0 || next == coord) return;
          coord = static_cast<int32_t>(next);
          scroll_events_enabled = false;
          (void)SetBarValue(bar, -coord);
          scroll_events_enabled = true;
          moved = true;
        };
        follow(Bar::Vertical, image_top, dy);
        follow(Bar::Horizontal, image_left, dx);
        in.drag_start_x = saturated_long(x);
        in.drag_start_y = saturated_long(y);
        align_horizontal_pending = align_vertical_pending = false;
        if (moved) ok = PaintImage(0);
      }
    }
  }
  if (trapped) {
    status(ViewerStatus::GenericError);
    ShowError(std::string("Mouse Move Error: ") + kOverflow);
  }
  flags.mouse_is_moving = false;
  return ok;
}

bool Core::MouseUp(int16_t& button, int16_t& shift, float& x, float& y) {
  InputFlags& flags = ThreadInput();
  host_->SetMousePointer(kPointerDefault);
  UpdateMousePosition(x, y);
  if (input.mouse_mode == 3 && !ZoomRect()) {
    flags.mouse_button_down = false;
    return false;
  }
  input.hand_dragging = false;
  ViewerEventArgs args = mouse_args(button, shift, x, y);
  const bool alive = Raise(ViewerEvent::MouseUp, args);
  read_mouse_args(args, button, shift, x, y);
  flags.mouse_button_down = false;
  if (!alive) return false;
  input.set_button_down = false;
  return true;
}

void Core::OnClick(bool double_click) {
  (void)Raise(double_click ? ViewerEvent::DblClick : ViewerEvent::Click);
}

// --- Keyboard --------------------------------------------------------------------------

bool Core::KeyDown(int16_t& key_code, int16_t& shift) {
  ThreadInput().key_is_down = true;
  input.set_key_down = true;
  input.hand_dragging = false;
  ViewerEventArgs args;
  args.values = {static_cast<double>(key_code), static_cast<double>(shift), 0, 0};
  args.count = 2;
  const bool alive = Raise(ViewerEvent::KeyDown, args);
  key_code = integer_arg(args.values[0]);
  shift = integer_arg(args.values[1]);
  return alive;
}

bool Core::KeyUp(int16_t& key_code, int16_t& shift) {
  InputFlags& flags = ThreadInput();
  ViewerEventArgs args;
  args.values = {static_cast<double>(key_code), static_cast<double>(shift), 0, 0};
  args.count = 2;
  const bool alive = Raise(ViewerEvent::KeyUp, args);
  key_code = integer_arg(args.values[0]);
  shift = integer_arg(args.values[1]);
  if (!alive) {
    flags.key_is_down = false;
    return false;
  }
  bool ok = true;
  if (input.enable_mouse_wheel) {
    if (key_code == kKeypadMinus)
      ok = ZoomBy(false);
    else if (key_code == kKeypadPlus)
      ok = ZoomBy(true);
  }
  flags.key_is_down = false;
  if (ok) input.set_key_down = false;
  return ok;
}

void Core::OnKey(KeyAction action, int16_t& key_code, int16_t& shift) {
  if (action == KeyAction::Down) {
    (void)KeyDown(key_code, shift);
  } else {
    (void)KeyUp(key_code, shift);
  }
}

void Core::OnKeyPress(int16_t& key_ascii) {
  ViewerEventArgs args;
  args.values = {static_cast<double>(key_ascii), 0, 0, 0};
  args.count = 1;
  const bool alive = Raise(ViewerEvent::KeyPress, args);
  key_ascii = integer_arg(args.values[0]);
  (void)alive;
}

void Core::OnScrollBarKeyDown(Bar) {
  // A key on a focused bar does not scroll: its coming change is undone.
  restore_pending = true;
  restore_h = hbar.value;
  restore_v = vbar.value;
}

// --- The wheel -------------------------------------------------------------------------

void Core::HookWheel() {
  if (input.wheel_hooked) return;
  const int32_t window = host_->WindowHandle();
  if (window == 0) return;
  input.wheel_hooked = true;
  input.hooked_window = window;
  // One window of the thread takes the wheel at a time.
  InputFlags& flags = ThreadInput();
  if (flags.hooked_window == 0) flags.hooked_window = window;
}

void Core::UnhookWheel() {
  if (!input.wheel_hooked) return;
  input.wheel_hooked = false;
  InputFlags& flags = ThreadInput();
  if (flags.hooked_window == input.hooked_window) flags.hooked_window = 0;
}

void Core::OnMouseWheel(int32_t wparam) {
  InputFlags& flags = ThreadInput();
  // Only the hooked window turns the wheel into keys; others leave it to the window.
  if (!input.wheel_hooked || flags.hooked_window == 0 || flags.hooked_window != input.hooked_window)
    return;
  if (flags.wheel_busy || flags.mouse_button_down || flags.key_is_down || flags.mouse_is_moving ||
      ViewerRefreshing())
    return;
  flags.wheel_busy = true;
  flags.last_wheel_param = wparam;
  // Away from the user is the keypad's plus: a key down and a key up, as the
  // window delivers the keystrokes it posts to itself.
  const int16_t key = wparam > 0 ? kKeypadPlus : kKeypadMinus;
  const std::weak_ptr<uint64_t> life = life_;
  int16_t code = key, shift = 0;
  (void)KeyDown(code, shift);
  if (!life.expired()) {
    code = key;
    shift = 0;
    (void)KeyUp(code, shift);
  }
  flags.wheel_busy = false;
}

}  // namespace korvex::viewer
