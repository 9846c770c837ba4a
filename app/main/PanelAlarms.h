// The panel's limit alarms: the evaluators fed with every accepted reading,
// the annunciator under the read-outs, the sound, the log's event records and
// the limit lines on the trend. The limits and Mute are the user's settings,
// kept between runs.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

#include "core/Alarm.h"

class QLabel;
class QToolButton;
class QSoundEffect;
class QWidget;
class TfrmMain;

namespace zrq::app {

// In the user's configuration folder ($XDG_CONFIG_HOME/ZRQ/ZRQUSB.ini).
// Limits that cannot be used are left out.
std::vector<core::AlarmLimits> loadAlarmLimits();
void saveAlarmLimits(const std::vector<core::AlarmLimits>& limits);

class PanelAlarms : public QObject {
  Q_OBJECT

 public:
  // Loads the saved limits and Mute; the annunciator goes under the panel.
  explicit PanelAlarms(TfrmMain& main);

  const std::vector<core::AlarmLimits>& limits() const { return limits_; }
  // New limits: saved, evaluated from a clear state, drawn on the trend.
  void setLimits(const std::vector<core::AlarmLimits>& limits);
  // Where the limits are drawn (the trend's limit lines); called now and at
  // every change.
  void setLimitsView(std::function<void(const std::vector<core::AlarmLimits>&)> view);

  // The panel's latest reading was accepted.
  void readingAccepted();
  void acknowledge();
  void setMuted(bool muted);
  bool muted() const { return muted_; }

  const core::AlarmSet& alarms() const { return set_; }
  // What the program asks of the speaker: a sound playing (muted: never).
  bool soundOn() const { return soundOn_; }
  QString annunciatorText() const;

  QWidget* annunciator;
  QLabel* lblAlarm;
  QToolButton *btnAcknowledge, *btnMute;

 signals:
  void changed();

 private:
  void apply(const std::vector<core::AlarmChange>& changes);
  void followSound();
  void showState();

  TfrmMain& main_;
  std::function<void(const std::vector<core::AlarmLimits>&)> limitsView_;
  std::vector<core::AlarmLimits> limits_;
  core::AlarmSet set_;
  QString lastEvent_, lastShort_;
  bool muted_ = false;
  bool soundOn_ = false;
  QSoundEffect* sound_ = nullptr;  // made at the first alarm
};

}  // namespace zrq::app
