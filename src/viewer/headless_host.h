// A host without a window: the client area is a 32-bit BGRA buffer in
// memory, and everything the viewer asks of the host (scroll bars, corner
// box, selection shape, menu items, pointer, timers, message boxes,
// property notices) is kept and written to a readable log, one line per
// change. The client area is the surface of a host window (korvex/host.h),
// so the engine reads what the viewer painted through its window handle.
// Tests, the Python module and off-screen rendering use it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "korvex/host.h"
#include "viewer/viewer_host.h"

namespace korvex::viewer {

class HeadlessHost : public ViewerHost {
 public:
  // Scroll bars 17 pixels thick, as on the desktop the viewer was laid out for.
  static constexpr int32_t kBarThickness = 17;

  // Sizes below 0 are taken as 0; a client area whose pixels would pass the
  // pixel memory limit (SizeFits) is taken as 0 x 0.
  HeadlessHost(int32_t width, int32_t height);
  ~HeadlessHost() override;
  HeadlessHost(const HeadlessHost&) = delete;
  HeadlessHost& operator=(const HeadlessHost&) = delete;

  static bool SizeFits(int32_t width, int32_t height);
  // Changes the client size and tells the viewer (its resize handler runs);
  // false, changing nothing, when the size does not fit.
  bool ResizeClient(int32_t width, int32_t height);
  // Fires a pending timer as the event loop would; false when there is none of that id.
  bool FireTimer(int32_t id);
  // The client area as the screen would show it: the painted pixels, the
  // masked picture over the container colour, the bars and corner box.
  PixelBuffer Snapshot();
  // What the host was asked, one line per change ("hscroll max=120 value=60 visible=1").
  const std::string& Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  const BarState& bar(Bar b) const { return b == Bar::Horizontal ? hbar_ : vbar_; }
  bool corner_visible() const { return corner_; }
  const std::vector<std::string>& message_boxes() const { return boxes_; }
  // Mouse, keyboard and wheel input as the window system delivers it. The
  // arguments come back as the viewer's event handlers left them. Nothing is
  // touched after the viewer has run: a handler may have closed it.
  void Mouse(MouseAction action, int16_t& button, int16_t& shift, float& x, float& y);
  void Click(bool double_click);
  void Key(KeyAction action, int16_t& key_code, int16_t& shift);
  void KeyPress(int16_t& key_ascii);
  // One wheel notch of `delta` (120 a notch; > 0 turned away from the user).
  void Wheel(int16_t delta);
  // A key pressed while a scroll bar has the focus: the bar then moves as
  // the key says (arrows by the small change, page keys by the large one).
  void BarKey(Bar bar, int16_t key_code);
  // Chooses a popup menu item as the user would (its name, "mnzoom100"...).
  void ChooseMenuItem(const std::string& name);
  // A menu item as the viewer set it: checked, enabled; its caption ("" until the viewer renames it).
  std::pair<bool, bool> menu_item(const std::string& name) const;
  std::string menu_caption(const std::string& name) const;
  int32_t pointer() const { return pointer_; }
  const SelectionShape& selection() const { return shape_; }
  // Colour behind a transparent control (COLORREF).
  void set_container_color(int32_t c) { container_ = c; }
  // Colours the bars and the corner box are drawn with in snapshots (B, G, R).
  static constexpr uint32_t kBarColor = 0xC0C0C0;
  static constexpr uint32_t kCornerColor = 0xD4D0C8;

  // ViewerHost.
  void Attach(HostEvents* viewer) override { viewer_ = viewer; }
  int32_t WindowHandle() const override { return hwnd_; }
  int32_t DeviceContext() const override { return hdc_; }
  int32_t ClientWidth() const override { return width_; }
  int32_t ClientHeight() const override { return height_; }
  int32_t VScrollWidth() const override { return kBarThickness; }
  int32_t HScrollHeight() const override { return kBarThickness; }
  void SetScrollBar(Bar bar, const BarState& state) override;
  void SetCornerBox(bool visible, const PixelRect& place) override;
  void SetSelectionShape(const SelectionShape& shape) override;
  void SetMenuItem(const std::string& name, bool checked, bool enabled) override;
  void ShowPopupMenu(int32_t x, int32_t y) override;
  void SetMenuCaption(const std::string& name, const std::string& caption) override;
  void SetMousePointer(int32_t pointer) override;
  int32_t StartTimer(int32_t milliseconds, std::function<void()> fire) override;
  void StopTimer(int32_t id) override;
  void PropertyChanged(const std::string& name) override;
  void MessageBox(const std::string& text, int32_t style) override;
  PixelBuffer BeginPaint() override;
  void EndPaint() override {}
  void SetMaskedPicture(const PixelBuffer& picture, int32_t mask_color) override;
  void Refresh() override {}
  // A removed child is forgotten (a bar or box no longer drawn in snapshots)
  // and logged as "remove NAME".
  void RemoveChild(const std::string& name) override;

 private:
  void line(const std::string& s) { log_ += s + "\n"; }
  PixelBuffer view(std::vector<uint8_t>& px) const;
  // Gives the window the client size and points the client buffer at its surface.
  void size_window();

  HostEvents* viewer_ = nullptr;
  int32_t width_, height_;
  int32_t hwnd_ = 0, hdc_ = 0;
  host::BitmapPtr surface_;  // the window's pixels: the client area
  std::vector<uint8_t> picture_, snapshot_;
  int32_t picture_width_ = 0, picture_height_ = 0, mask_ = 0;
  bool has_picture_ = false;
  int32_t container_ = 0xFFFFFF;
  BarState hbar_, vbar_;
  bool corner_ = false;
  PixelRect corner_place_;
  SelectionShape shape_;
  std::map<std::string, std::pair<bool, bool>> menu_;
  std::map<std::string, std::string> captions_;
  int32_t pointer_ = 0;
  int32_t next_timer_ = 1;
  std::map<int32_t, std::function<void()>> timers_;
  std::vector<std::string> boxes_;
  std::string log_;
};

}  // namespace korvex::viewer
