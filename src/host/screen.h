// The X11 screen, when a display is reachable.
#pragma once

#include <cstdint>

#include "korvex/host.h"

namespace korvex::host {

// Size of the default screen; false without a display.
bool x11_screen_size(int32_t& width, int32_t& height);
// Copies the screen pixels at (left, top) into a 32-bit bitmap of its size;
// parts outside the screen stay as they are. False without a display.
bool x11_capture(int32_t left, int32_t top, Bitmap& out);

}  // namespace korvex::host
