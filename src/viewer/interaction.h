// The viewer's mouse, keyboard and selection state: the selection shape in
// client pixels and the same rectangle saved in image pixels (so that it
// follows zooming and scrolling), the drag in progress, the last mouse
// position, and the thread-wide flags that keep a wheel notch from turning
// into keystrokes while other input is being handled.
#pragma once

#include <cstdint>

#include "viewer/viewer_host.h"

namespace korvex::viewer {

struct InputState {
  int32_t mouse_mode = 2;
  bool enable_mouse_wheel = true;
  bool enable_menu = true;
  // The selection shape: position and size in client pixels (fractional, as
  // the mouse gives them) and its border; (-1, -1) 1 x 1 is no rectangle.
  float rect_left = -1, rect_top = -1, rect_width = 1, rect_height = 1;
  SelectionShape shape;
  // The rectangle in 1-based image pixels, valid after a change with an image shown.
  bool rect_image_valid = false;
  int32_t rect_image_top = 0, rect_image_left = 0, rect_image_width = 0, rect_image_height = 0;
  // Where the left button went down (moved along while dragging the image).
  int32_t drag_start_x = 0, drag_start_y = 0;
  // The button went down outside the image: moving does not grow the rectangle.
  bool rect_start_outside_x = true, rect_start_outside_y = true;
  bool hand_dragging = false;
  // Last mouse position in image pixels.
  int32_t mouse_x = 0, mouse_y = 0;
  // This viewer replaced its window's wheel handling (`hooked_window`), and
  // it set the thread's button-down or key-down flag.
  bool wheel_hooked = false;
  int32_t hooked_window = 0;
  bool set_button_down = false, set_key_down = false;
};

// Thread-wide input flags, shared by every viewer of the thread and the wheel handling.
struct InputFlags {
  bool mouse_button_down = false;
  bool key_is_down = false;
  bool mouse_is_moving = false;
  bool wheel_busy = false;
  // The window whose wheel messages become keypad keys (0 = none), and the
  // last wheel parameter turned into a key.
  int32_t hooked_window = 0;
  int32_t last_wheel_param = 0;
};
InputFlags& ThreadInput();

}  // namespace korvex::viewer
