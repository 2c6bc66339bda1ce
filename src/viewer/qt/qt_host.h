// The viewer's host inside a ViewerWidget: the client area is the widget in
// device pixels, backed by a host window (korvex/host.h) so the engine can
// read what the viewer painted through its window handle; bars, corner box,
// menu, timers, pointer and message boxes are Qt objects.
#pragma once

#include <QImage>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <map>
#include <string>

#include "korvex/host.h"
#include "korvex/qt/viewer_widget.h"
#include "viewer/viewer_host.h"

class QMenu;

namespace korvex::qt {

class ViewerWidget::Host : public viewer::ViewerHost {
 public:
  explicit Host(ViewerWidget* widget);
  ~Host() override;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Sizes the client area to the widget's device pixels; true when it changed.
  bool SyncSize();
  viewer::HostEvents* events() const { return events_; }
  // The frame to show: the painted client area with the selection drawn over it.
  QImage Frame() const;
  const QImage& picture() const { return picture_; }
  double scale() const { return scale_; }
  QScrollBar* bar(viewer::Bar b) const { return b == viewer::Bar::Horizontal ? hbar_ : vbar_; }
  QMenu* menu() const { return menu_; }
  QWidget* corner() const { return corner_; }
  // Detaches the timers' callbacks before the viewer goes away.
  void StopAll();

  // ViewerHost.
  void Attach(viewer::HostEvents* viewer) override { events_ = viewer; }
  int32_t WindowHandle() const override { return hwnd_; }
  int32_t DeviceContext() const override { return hdc_; }
  int32_t ClientWidth() const override { return width_; }
  int32_t ClientHeight() const override { return height_; }
  int32_t VScrollWidth() const override;
  int32_t HScrollHeight() const override;
  void SetScrollBar(viewer::Bar bar, const viewer::BarState& state) override;
  void SetCornerBox(bool visible, const viewer::PixelRect& place) override;
  void SetSelectionShape(const viewer::SelectionShape& shape) override;
  void SetMenuItem(const std::string& name, bool checked, bool enabled) override;
  void ShowPopupMenu(int32_t x, int32_t y) override;
  void SetMenuCaption(const std::string& name, const std::string& caption) override;
  void SetMousePointer(int32_t pointer) override;
  int32_t StartTimer(int32_t milliseconds, std::function<void()> fire) override;
  void StopTimer(int32_t id) override;
  void PropertyChanged(const std::string& name) override;
  void MessageBox(const std::string& text, int32_t style) override;
  viewer::PixelBuffer BeginPaint() override;
  void EndPaint() override;
  void SetMaskedPicture(const viewer::PixelBuffer& picture, int32_t mask_color) override;
  void Refresh() override;
  // Hides the child's widget, menu or action at once and deletes it when
  // control returns to the event loop; its pointer here becomes null.
  void RemoveChild(const std::string& name) override;

 private:
  QRect to_widget(const viewer::PixelRect& r) const;

  ViewerWidget* widget_;
  viewer::HostEvents* events_ = nullptr;
  double scale_ = 1.0;
  int32_t width_ = 0, height_ = 0;
  int32_t hwnd_ = 0, hdc_ = 0;
  host::BitmapPtr surface_;
  QImage picture_;  // transparent back style: ARGB32, masked pixels clear
  viewer::SelectionShape shape_;
  QScrollBar* hbar_;  // each null once the viewer removed it
  QScrollBar* vbar_;
  QWidget* corner_;
  QMenu* menu_;
  int32_t next_timer_ = 1;
  std::map<int32_t, QPointer<QTimer>> timers_;
};

}  // namespace korvex::qt
