// The context menu: its items, captions and what choosing each one does.
// Choosing an item runs the control's member of the same meaning; its
// status stays in LastStatus and nothing is returned to the user.
#include "viewer/menu.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "korvex/viewer.h"
#include "viewer/core.h"

namespace korvex {

namespace viewer {

const std::array<MenuItem, kMenuItemCount>& MenuItems() {
  static const std::array<MenuItem, kMenuItemCount> kItems = {{
      {"mnframes", "Frames", ""},
      {"mnfirstframe", "Goto First frame", "mnframes"},
      {"mnpreviousframe", "Goto Previous frame", "mnframes"},
      {"mnnextframe", "Goto Next frame", "mnframes"},
      {"mnlastframe", "Goto Last frame", "mnframes"},
      {"mnplaygif", "Play Gif", "mnframes"},
      {"mnstopgif", "Stop Gif", "mnframes"},
      {"mnRotation", "Rotation", ""},
      {"mn90", "90\u00B0", "mnRotation"},
      {"mn180", "180\u00B0", "mnRotation"},
      {"mn270", "270\u00B0", "mnRotation"},
      {"mnflipx", "Flip X", "mnRotation"},
      {"mn90flipx", "90\u00B0   Flip X", "mnRotation"},
      {"mn180Flipx", "180\u00B0 Flip X", "mnRotation"},
      {"mn270FlipX", "270\u00B0 Flip X", "mnRotation"},
      {"mnscroll", "ScrollBars", ""},
      {"mnclipboard", "Copy to Clipboard", ""},
      {"mnzoom", "Zoom", ""},
      {"mnZoomin", "Zoom in", "mnzoom"},
      {"mnzoomout", "Zoom out", "mnzoom"},
      {"mnzoom100", "Zoom 100%", "mnzoom"},
      {"mnzoomfit", "Zoom fit", "mnzoom"},
      {"mnZoomwidth", "Zoom by width", "mnzoom"},
      {"mnZoomheight", "Zoom by height", "mnzoom"},
      {"mnzoomrect", "Zoom to area selection", "mnzoom"},
      {"mnzoomviewer", "Zoom to viewer", "mnzoom"},
      {"mnmousemode", "Mouse Mode", ""},
      {"mnstandard", "Default", "mnmousemode"},
      {"mnhandcursor", "Hand cursor", "mnmousemode"},
      {"mnareaselection", "Area selection", "mnmousemode"},
      {"mnautozoom", "Auto Zoom", "mnmousemode"},
  }};
  return kItems;
}

bool IsSubmenu(const std::string& name) {
  const auto& items = MenuItems();
  return std::any_of(items.begin(), items.end(),
                     [&](const MenuItem& m) { return name == m.under; });
}

std::array<std::string, kMenuItemCount> DefaultMenuCaptions() {
  std::array<std::string, kMenuItemCount> out;
  for (size_t i = 0; i < out.size(); ++i) out[i] = MenuItems()[i].caption;
  return out;
}

void Core::OnMenuItem(const std::string& name) {
  if (owner != nullptr) owner->RunMenuItem(name);
}

}  // namespace viewer

void kxViewer::SetItemMenuCaption(int32_t nIdxMenu, const std::string& sNewMenuCaption) {
  if (nIdxMenu < 1 || nIdxMenu > viewer::kMenuItemCount) return;
  const auto i = static_cast<size_t>(nIdxMenu - 1);
  core_->menu_captions[i] = sNewMenuCaption;
  core_->host().SetMenuCaption(viewer::MenuItems()[i].name, sNewMenuCaption);
}

std::string kxViewer::MenuItemCaption(const std::string& name) const {
  const auto& items = viewer::MenuItems();
  for (size_t i = 0; i < items.size(); ++i)
    if (name == items[i].name) return core_->menu_captions[i];
  return {};
}

void kxViewer::RunMenuItem(const std::string& name) {
  using Member = ViewerStatus (kxViewer::*)();
  static const std::map<std::string, Member> kMembers = {
      {"mnfirstframe", &kxViewer::DisplayFirstFrame},
      {"mnpreviousframe", &kxViewer::DisplayPreviousFrame},
      {"mnnextframe", &kxViewer::DisplayNextFrame},
      {"mnlastframe", &kxViewer::DisplayLastFrame},
      {"mnplaygif", &kxViewer::PlayGif},
      {"mn90", &kxViewer::Rotate90},
      {"mn180", &kxViewer::Rotate180},
      {"mn270", &kxViewer::Rotate270},
      {"mnflipx", &kxViewer::FlipX},
      {"mn90flipx", &kxViewer::FlipX90},
      {"mn180Flipx", &kxViewer::FlipX180},
      {"mn270FlipX", &kxViewer::FlipX270},
      {"mnZoomin", &kxViewer::ZoomIN},
      {"mnzoomout", &kxViewer::ZoomOUT},
      {"mnzoomrect", &kxViewer::ZoomRect}};
  // The zoom items run only when not checked: a checked one is the current mode.
  static const std::map<std::string, std::pair<int32_t, Member>> kZooms = {
      {"mnzoom100", {1, &kxViewer::SetZoom100}},
      {"mnzoomfit", {2, &kxViewer::SetZoomFit}},
      {"mnZoomwidth", {3, &kxViewer::SetZoomWidth}},
      {"mnZoomheight", {5, &kxViewer::SetZoomHeight}},
      {"mnzoomviewer", {6, &kxViewer::SetZoomViewer}}};
  static const std::map<std::string, int32_t> kModes = {
      {"mnstandard", 0}, {"mnhandcursor", 2}, {"mnareaselection", 1}, {"mnautozoom", 3}};
  if (const auto m = kMembers.find(name); m != kMembers.end()) {
    (this->*(m->second))();
  } else if (const auto z = kZooms.find(name); z != kZooms.end()) {
    if (core_->zoom_mode != z->second.first) (this->*(z->second.second))();
  } else if (const auto mode = kModes.find(name); mode != kModes.end()) {
    put_MouseMode(mode->second);
  } else if (name == "mnstopgif") {
    StopGif();
  } else if (name == "mnscroll") {
    put_ScrollBars(!core_->scroll_bars);
  } else if (name == "mnclipboard") {
    if (isRectDrawed()) {
      int32_t top = 0, left = 0, width = 0, height = 0;
      GetRectValues(top, left, width, height);
      CopyRegion2Clipboard(left, top, width, height);
    } else {
      Copy2Clipboard();
    }
  }
}

}  // namespace korvex
