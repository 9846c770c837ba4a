// The user's own settings of the panel ($XDG_CONFIG_HOME/ZRQ/ZRQUSB.ini):
// the Remote Control dialog's choice, the alarm limits and Mute.
#pragma once

#include <QSettings>

namespace zrq::app {

inline QSettings userSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ZRQ"),
                   QStringLiteral("ZRQUSB"));
}

}  // namespace zrq::app
