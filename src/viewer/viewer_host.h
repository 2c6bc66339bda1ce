// What the viewer asks of the window that holds it, and what that window
// tells the viewer. A host owns the client area, two scroll bars with 16-bit
// ranges, the corner box between them, the selection shape, the popup menu,
// the mouse pointer, one-shot timers, message boxes and the paint surface;
// the viewer decides what they show. Hosts: a headless one (memory) and,
// later, a Qt Widgets one.
//
// Calls from the viewer never call back into it: a host changes a scroll
// bar's value silently and the viewer runs its own change handler. Only what
// the user or the window system does (a drag of a bar, a resize, a timer)
// comes back through HostEvents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace korvex::viewer {

enum class Bar : int32_t { Horizontal = 0, Vertical = 1 };

struct PixelRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// A scroll bar as the viewer sets it: range, value, steps, visibility and
// its place in the client area.
struct BarState {
  int32_t min = 0;
  int32_t max = 0;
  int32_t value = 0;
  int16_t small_change = 1;
  int16_t large_change = 50;
  bool visible = false;
  PixelRect place;
};

// The selection rectangle shape: border colour (COLORREF), width, line style
// and raster operation, in client pixels.
struct SelectionShape {
  bool visible = false;
  PixelRect place;
  int32_t border_color = 0;
  int32_t border_width = 1;
  int32_t border_style = 1;
  int32_t draw_mode = 13;
};

// 32-bit pixels, bytes B, G, R, A, rows top-down.
struct PixelBuffer {
  uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  uint8_t* row(int32_t y) const { return pixels + static_cast<std::ptrdiff_t>(y) * stride; }
};

// Message box styles (the values hosts know): the icon of a failure.
inline constexpr int32_t kMessageCritical = 16;

// Mouse and keyboard input. Mouse buttons: 1 left, 2 right, 4 middle; shift
// states: 1 Shift, 2 Ctrl, 4 Alt. Mouse pointers the viewer asks for: the
// default arrow, the cross-hair of area selection and its own hand cursor.
enum class MouseAction : int32_t { Down = 0, Move = 1, Up = 2 };
enum class KeyAction : int32_t { Down = 0, Up = 1 };
inline constexpr int32_t kPointerDefault = 0;
inline constexpr int32_t kPointerCrossHair = 2;
inline constexpr int32_t kPointerHand = 99;

// What the host reports to the viewer.
class HostEvents {
 public:
  virtual ~HostEvents() = default;
  // The client area changed size.
  virtual void OnResize() = 0;
  // The user moved a bar (arrows, page, drag) to `value`.
  virtual void OnScrollBarChange(Bar bar, int32_t value) = 0;

  // Mouse and keyboard over the client area. The arguments are the event's
  // by-reference arguments: they come back as the viewer's handlers left them.
  virtual void OnMouse(MouseAction action, int16_t& button, int16_t& shift, float& x, float& y) = 0;
  virtual void OnClick(bool double_click) = 0;
  virtual void OnKey(KeyAction action, int16_t& key_code, int16_t& shift) = 0;
  virtual void OnKeyPress(int16_t& key_ascii) = 0;
  // A wheel message; `wparam` is its first parameter (the signed distance in the high word).
  virtual void OnMouseWheel(int32_t wparam) = 0;
  // A key went down while a scroll bar had the focus; the bar's change follows.
  virtual void OnScrollBarKeyDown(Bar bar) = 0;
  // The user chose a popup menu item (its name, "mnzoom100"...).
  virtual void OnMenuItem(const std::string& name) = 0;
};

// The viewer reaches its host through ChildGate (children.h), which passes
// every call on: a method added here is passed on there too.
class ViewerHost {
 public:
  virtual ~ViewerHost() = default;
  // The viewer that receives HostEvents; null detaches it.
  virtual void Attach(HostEvents* viewer) = 0;

  // The control's window and its device context (host handles, 0 when none).
  virtual int32_t WindowHandle() const = 0;
  virtual int32_t DeviceContext() const = 0;

  // Inner size of the client area in pixels.
  virtual int32_t ClientWidth() const = 0;
  virtual int32_t ClientHeight() const = 0;
  // Thickness of the vertical bar (its width) and the horizontal one (its height).
  virtual int32_t VScrollWidth() const = 0;
  virtual int32_t HScrollHeight() const = 0;

  virtual void SetScrollBar(Bar bar, const BarState& state) = 0;
  virtual void SetCornerBox(bool visible, const PixelRect& place) = 0;
  virtual void SetSelectionShape(const SelectionShape& shape) = 0;
  // Popup menu items by name ("mnscroll", "mnzoom100"...): checked and enabled.
  virtual void SetMenuItem(const std::string& name, bool checked, bool enabled) = 0;
  virtual void ShowPopupMenu(int32_t x, int32_t y) = 0;
  // A popup menu item's caption (UTF-8), as the host translated it.
  virtual void SetMenuCaption(const std::string& name, const std::string& caption) = 0;
  virtual void SetMousePointer(int32_t pointer) = 0;
  // One-shot timer: `fire` runs once after `milliseconds` unless stopped. Returns its id (> 0).
  virtual int32_t StartTimer(int32_t milliseconds, std::function<void()> fire) = 0;
  virtual void StopTimer(int32_t id) = 0;
  virtual void PropertyChanged(const std::string& name) = 0;
  virtual void MessageBox(const std::string& text, int32_t style) = 0;

  // The client area to paint into, valid until EndPaint.
  virtual PixelBuffer BeginPaint() = 0;
  virtual void EndPaint() = 0;
  // Transparent back style: the control's picture (the size of the view,
  // at the client's top-left); the host shows through wherever a pixel has
  // the mask colour (COLORREF) or is fully transparent. An empty buffer
  // removes the picture.
  virtual void SetMaskedPicture(const PixelBuffer& picture, int32_t mask_color) = 0;
  // Repaint the visible bars and the window from what was painted.
  virtual void Refresh() = 0;

  // --- Child controls ---
  // The control removed a child: "HScroll", "VScroll", "shCorner", "shRect",
  // "menu" or one of its items (an item with a submenu takes its items with
  // it). The host stops showing it; the viewer never mentions it again.
  virtual void RemoveChild(const std::string& name) = 0;
};

}  // namespace korvex::viewer
