// Property bags: where a host keeps a viewer's persisted properties between
// sessions (kxViewer::WriteProperties / ReadProperties). A bag holds named
// numbers of four types; hosts supply one over their own storage (the Qt
// widget's is over QSettings), and MemoryPropertyBag keeps them in memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "korvex/viewer.h"

namespace korvex {

// The automation type of a stored value (the Variant type codes).
enum class PropertyType : int32_t { Integer = 2, Long = 3, Double = 5, Boolean = 11 };

// Ok when `value` can be held by `type`: finite; whole and in range for
// Integer and Long; 0 or 1 (or -1, the automation True) for Boolean.
// ValueOverflow when out of range, InvalidParameter otherwise.
ViewerStatus CheckPropertyValue(PropertyType type, double value);

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  // PropertyNotFound when there is no entry of that name (the reader then
  // takes the default); any other failure means the entry or the bag is
  // damaged: it cannot be read as `type`.
  virtual ViewerStatus ReadProperty(const std::string& name, PropertyType type, double& value) = 0;
  virtual ViewerStatus WriteProperty(const std::string& name, PropertyType type, double value) = 0;
  // Removes an entry; Ok when there was none.
  virtual ViewerStatus RemoveProperty(const std::string& name) = 0;
};

// A bag in memory, for tests and scripts.
class MemoryPropertyBag : public PropertyBag {
 public:
  ViewerStatus ReadProperty(const std::string& name, PropertyType type, double& value) override;
  ViewerStatus WriteProperty(const std::string& name, PropertyType type, double value) override;
  ViewerStatus RemoveProperty(const std::string& name) override;
  // Entries by name: the type they were written with and their value.
  std::map<std::string, std::pair<PropertyType, double>> entries;
};

}  // namespace korvex
