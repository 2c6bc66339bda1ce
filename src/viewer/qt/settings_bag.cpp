// Property bag over QSettings. Values are stored as numbers (Booleans as 0
// and 1) so any settings format keeps them; "true" and "false", as other
// tools write Booleans, read back as 1 and 0. An entry that is not a number
// the type can hold, or a settings file that cannot be parsed, is damaged.
#include "korvex/qt/settings_bag.h"

#include <QSettings>
#include <QVariant>

namespace korvex::qt {

SettingsPropertyBag::SettingsPropertyBag(QSettings& settings, const QString& group)
    : settings_(settings), group_(group) {}

QString SettingsPropertyBag::key(const std::string& name) const {
  const QString n = QString::fromStdString(name);
  return group_.isEmpty() ? n : group_ + QLatin1Char('/') + n;
}

ViewerStatus SettingsPropertyBag::ReadProperty(const std::string& name, PropertyType type,
                                               double& value) {
  if (settings_.status() == QSettings::FormatError) return ViewerStatus::GenericError;
  const QString k = key(name);
  if (!settings_.contains(k)) return ViewerStatus::PropertyNotFound;
  const QString text = settings_.value(k).toString().trimmed();
  double v = 0;
  if (type == PropertyType::Boolean &&
      text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
    v = 1;
  } else if (type == PropertyType::Boolean &&
             text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
    v = 0;
  } else {
    bool ok = false;
    v = text.toDouble(&ok);
    if (!ok) return ViewerStatus::InvalidParameter;
  }
  const ViewerStatus st = CheckPropertyValue(type, v);
  if (st == ViewerStatus::Ok) value = v;
  return st;
}

ViewerStatus SettingsPropertyBag::WriteProperty(const std::string& name, PropertyType type,
                                                double value) {
  const ViewerStatus st = CheckPropertyValue(type, value);
  if (st != ViewerStatus::Ok) return st;
  if (type == PropertyType::Double) {
    settings_.setValue(key(name), value);
  } else if (type == PropertyType::Boolean) {
    settings_.setValue(key(name), value != 0 ? 1 : 0);
  } else {
    settings_.setValue(key(name), static_cast<qint32>(value));
  }
  return settings_.status() == QSettings::NoError ? ViewerStatus::Ok : ViewerStatus::AccessDenied;
}

ViewerStatus SettingsPropertyBag::RemoveProperty(const std::string& name) {
  settings_.remove(key(name));
  return settings_.status() == QSettings::NoError ? ViewerStatus::Ok : ViewerStatus::AccessDenied;
}

}  // namespace korvex::qt
