// The viewer's context menu: its 31 items in order (index 1 first), with the
// captions they start with and the submenu each belongs to. The viewer keeps
// the captions and runs the items; hosts build their popup from this table
// and show what the viewer sets (captions, check marks, enabled states).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace korvex::viewer {

struct MenuItem {
  const char* name;     // "mnzoom100"
  const char* caption;  // UTF-8; "°" is the degree sign
  const char* under;    // the submenu's item name, "" at the top
};

inline constexpr int32_t kMenuItemCount = 31;

// Items in order: kMenuItems()[i] is the item of index i + 1.
const std::array<MenuItem, kMenuItemCount>& MenuItems();
// True for the items that open a submenu ("mnframes", "mnzoom"...).
bool IsSubmenu(const std::string& name);
// The starting captions, in item order.
std::array<std::string, kMenuItemCount> DefaultMenuCaptions();

}  // namespace korvex::viewer
