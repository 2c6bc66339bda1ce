// Child controls of the viewer and their removal (RemoveObject).
#include "viewer/children.h"

#include <cctype>
#include <vector>

#include "viewer/core.h"
#include "viewer/menu.h"

namespace korvex::viewer {

namespace {

// The child controls by name, each with the control it sits in ("" for the
// viewer itself): the bars, the corner box, the selection shape, the popup
// menu and its 31 items in menu order (from the menu's own table).
struct ChildInfo {
  const char* name;
  const char* under;
};

const std::vector<ChildInfo>& children_table() {
  static const std::vector<ChildInfo> table = [] {
    std::vector<ChildInfo> t = {
        {"HScroll", ""}, {"VScroll", ""}, {"shCorner", ""}, {"shRect", ""}, {"menu", ""}};
    for (const MenuItem& item : MenuItems())
      t.push_back({item.name, *item.under == '\0' ? "menu" : item.under});
    return t;
  }();
  return table;
}

bool iequals(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && b[i] == '\0';
}

const ChildInfo* find_child(const std::string& name) {
  for (const ChildInfo& c : children_table())
    if (iequals(name, c.name)) return &c;
  return nullptr;
}

}  // namespace

bool ChildGate::Removed(const std::string& name) const {
  // A child goes with the control it sits in; names the table does not know
  // (menu items a host added) go with the menu.
  const ChildInfo* c = find_child(name);
  for (int depth = 0; c != nullptr && depth < 4; ++depth) {
    if (removed_.count(c->name) != 0) return true;
    if (*c->under == '\0') return false;
    c = find_child(c->under);
  }
  return c == nullptr && removed_.count("menu") != 0;
}

ViewerStatus ChildGate::Remove(const std::string& name) {
  const ChildInfo* c = find_child(name);
  if (c == nullptr) return ViewerStatus::InvalidParameter;
  if (Removed(c->name)) return ViewerStatus::WrongState;
  removed_.insert(c->name);
  inner_->RemoveChild(c->name);
  return ViewerStatus::Ok;
}

int32_t ChildGate::VScrollWidth() const {
  return removed_.count("VScroll") != 0 ? 0 : inner_->VScrollWidth();
}

int32_t ChildGate::HScrollHeight() const {
  return removed_.count("HScroll") != 0 ? 0 : inner_->HScrollHeight();
}

void ChildGate::SetScrollBar(Bar bar, const BarState& state) {
  if (removed_.count(bar == Bar::Horizontal ? "HScroll" : "VScroll") == 0)
    inner_->SetScrollBar(bar, state);
}

void ChildGate::SetCornerBox(bool visible, const PixelRect& place) {
  if (removed_.count("shCorner") != 0) return;
  // The box fills the square between two bars: without both it is never shown.
  const bool bars = removed_.count("HScroll") == 0 && removed_.count("VScroll") == 0;
  inner_->SetCornerBox(visible && bars, place);
}

void ChildGate::SetSelectionShape(const SelectionShape& shape) {
  if (removed_.count("shRect") == 0) inner_->SetSelectionShape(shape);
}

void ChildGate::SetMenuItem(const std::string& name, bool checked, bool enabled) {
  if (!Removed(name)) inner_->SetMenuItem(name, checked, enabled);
}

void ChildGate::ShowPopupMenu(int32_t x, int32_t y) {
  if (removed_.count("menu") == 0) inner_->ShowPopupMenu(x, y);
}

}  // namespace korvex::viewer

namespace korvex {

ViewerStatus kxViewer::RemoveObject(const std::string& sControlName) {
  viewer::Core& c = core();
  viewer::ChildGate& children = c.children();
  const int32_t bars = children.VScrollWidth() + children.HScrollHeight();
  // A name that removes nothing changes nothing, LastStatus included: a
  // failed status there would hold up every later layout.
  const ViewerStatus s = children.Remove(sControlName);
  if (s != ViewerStatus::Ok) return s;
  c.status(ViewerStatus::Ok);
  // A removed bar leaves its strip to the image: lay out again as after a
  // resize (without the Resize event).
  if (children.VScrollWidth() + children.HScrollHeight() != bars) {
    c.ClearClient();
    if (!c.ApplyZoom(0)) return c.last_status;
    c.UpdateMaxZoom();
  }
  return c.last_status;
}

}  // namespace korvex
