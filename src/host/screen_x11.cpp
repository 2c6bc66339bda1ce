#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/screen.h"

namespace korvex::host {

namespace {

// X errors (a window gone, a bad rectangle) are recorded instead of ending
// the process, as the default handler would.
int g_x_error = 0;
int record_x_error(Display*, XErrorEvent* e) {
  g_x_error = e->error_code;
  return 0;
}

// Opens the display named by DISPLAY; a missing or refusing server just
// means "no display".
Display* open_display() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  return XOpenDisplay(name);
}

}  // namespace

bool x11_screen_size(int32_t& width, int32_t& height) {
  Display* d = open_display();
  if (d == nullptr) return false;
  const int s = DefaultScreen(d);
  width = DisplayWidth(d, s);
  height = DisplayHeight(d, s);
  XCloseDisplay(d);
  return true;
}

bool x11_capture(int32_t left, int32_t top, Bitmap& out) {
  Display* d = open_display();
  if (d == nullptr) return false;
  const int s = DefaultScreen(d);
  const int64_t sw = DisplayWidth(d, s), sh = DisplayHeight(d, s);
  // The part of the requested rectangle that lies on the screen.
  const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
  const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(left) + out.width, sw);
  const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(top) + out.height, sh);
  bool ok = true;
  if (x1 > x0 && y1 > y0) {
    g_x_error = 0;
    auto* previous = XSetErrorHandler(record_x_error);
    XImage* img = XGetImage(d, RootWindow(d, s), static_cast<int>(x0), static_cast<int>(y0),
                            static_cast<unsigned>(x1 - x0), static_cast<unsigned>(y1 - y0),
                            AllPlanes, ZPixmap);
    XSync(d, False);
    XSetErrorHandler(previous);
    if (img == nullptr || g_x_error != 0) {
      if (img != nullptr) XDestroyImage(img);
      ok = false;
    } else {
      const unsigned long rm = img->red_mask, gm = img->green_mask, bm = img->blue_mask;
      auto channel = [](unsigned long px, unsigned long mask) -> uint8_t {
        if (mask == 0) return 0;
        int shift = 0;
        while (((mask >> shift) & 1) == 0) ++shift;
        const unsigned long max = mask >> shift;
        return static_cast<uint8_t>(((px & mask) >> shift) * 255 / max);
      };
      for (int64_t y = y0; y < y1; ++y) {
        uint8_t* row = &out.bits[static_cast<size_t>(y - top) * out.stride()];
        for (int64_t x = x0; x < x1; ++x) {
          const unsigned long px =
              XGetPixel(img, static_cast<int>(x - x0), static_cast<int>(y - y0));
          uint8_t* p = row + 4 * static_cast<size_t>(x - left);
          p[0] = channel(px, bm);
          p[1] = channel(px, gm);
          p[2] = channel(px, rm);
          p[3] = 0xFF;
        }
      }
      XDestroyImage(img);
    }
  }
  XCloseDisplay(d);
  return ok;
}

}  // namespace korvex::host
