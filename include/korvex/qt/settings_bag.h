// korvex::qt::SettingsPropertyBag: a viewer's persisted properties kept in a
// QSettings (an ini file, the desktop's settings store...), under a group.
//
//   QSettings settings("viewer.ini", QSettings::IniFormat);
//   korvex::qt::SettingsPropertyBag bag(settings, "viewer1");
//   widget.viewer().WriteProperties(bag);   // at close
//   widget.viewer().ReadProperties(bag);    // at start
#pragma once

#include <QString>

#include "korvex/property_bag.h"

class QSettings;

namespace korvex::qt {

class SettingsPropertyBag : public PropertyBag {
 public:
  // The settings stay the caller's and must outlive the bag.
  explicit SettingsPropertyBag(QSettings& settings, const QString& group = QString());

  ViewerStatus ReadProperty(const std::string& name, PropertyType type, double& value) override;
  ViewerStatus WriteProperty(const std::string& name, PropertyType type, double value) override;
  ViewerStatus RemoveProperty(const std::string& name) override;

 private:
  QString key(const std::string& name) const;
  QSettings& settings_;
  QString group_;
};

}  // namespace korvex::qt
