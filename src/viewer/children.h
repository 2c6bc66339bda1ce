// The control's child controls: the two scroll bars, the corner box between
// them, the selection shape and the popup menu with its items. RemoveObject
// takes one out of the control; from then on the viewer never mentions it to
// the host again. ChildGate stands between the viewer and its host and
// enforces that in one place: calls about a removed child stop here, and a
// removed bar reports no thickness, so the layout gives its strip to the image.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "korvex/viewer.h"
#include "viewer/viewer_host.h"

namespace korvex::viewer {

class ChildGate final : public ViewerHost {
 public:
  explicit ChildGate(std::shared_ptr<ViewerHost> inner) : inner_(std::move(inner)) {}

  // The host the control was placed in.
  ViewerHost& inner() { return *inner_; }
  const std::shared_ptr<ViewerHost>& inner_ptr() const { return inner_; }
  // Removes the named child (case-insensitive) and tells the host, under the
  // child's own spelling. InvalidParameter for a name that is no child,
  // WrongState for a child already removed (or inside a removed menu).
  ViewerStatus Remove(const std::string& name);
  // True when the child of that name, or the menu it belongs to, was removed.
  bool Removed(const std::string& name) const;

  // ViewerHost: everything is passed on, except what concerns removed children.
  void Attach(HostEvents* viewer) override { inner_->Attach(viewer); }
  int32_t WindowHandle() const override { return inner_->WindowHandle(); }
  int32_t DeviceContext() const override { return inner_->DeviceContext(); }
  int32_t ClientWidth() const override { return inner_->ClientWidth(); }
  int32_t ClientHeight() const override { return inner_->ClientHeight(); }
  int32_t VScrollWidth() const override;
  int32_t HScrollHeight() const override;
  void SetScrollBar(Bar bar, const BarState& state) override;
  void SetCornerBox(bool visible, const PixelRect& place) override;
  void SetSelectionShape(const SelectionShape& shape) override;
  void SetMenuItem(const std::string& name, bool checked, bool enabled) override;
  void ShowPopupMenu(int32_t x, int32_t y) override;
  void SetMenuCaption(const std::string& name, const std::string& caption) override {
    if (!Removed(name)) inner_->SetMenuCaption(name, caption);
  }
  void SetMousePointer(int32_t pointer) override { inner_->SetMousePointer(pointer); }
  int32_t StartTimer(int32_t milliseconds, std::function<void()> fire) override {
    return inner_->StartTimer(milliseconds, std::move(fire));
  }
  void StopTimer(int32_t id) override { inner_->StopTimer(id); }
  void PropertyChanged(const std::string& name) override { inner_->PropertyChanged(name); }
  void MessageBox(const std::string& text, int32_t style) override {
    inner_->MessageBox(text, style);
  }
  PixelBuffer BeginPaint() override { return inner_->BeginPaint(); }
  void EndPaint() override { inner_->EndPaint(); }
  void SetMaskedPicture(const PixelBuffer& picture, int32_t mask_color) override {
    inner_->SetMaskedPicture(picture, mask_color);
  }
  void Refresh() override { inner_->Refresh(); }
  void RemoveChild(const std::string& name) override { (void)Remove(name); }

 private:
  std::shared_ptr<ViewerHost> inner_;
  std::set<std::string> removed_;  // the children's own spellings
};

}  // namespace korvex::viewer
