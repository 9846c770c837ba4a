// Window > Alarms...: one row per quantity with its limits, hysteresis,
// hold-off and latching. OK checks every row before anything changes.
#pragma once

#include <QDialog>
#include <array>
#include <vector>

#include "core/Alarm.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class TfrmAlarms : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAlarms(QWidget* parent = nullptr);

  // The rows from these limits (one per quantity; a later one wins).
  void setLimits(const std::vector<zrq::core::AlarmLimits>& limits);
  // The checked rows; false with lblProblem saying which row and why when
  // one cannot be used.
  bool readLimits(std::vector<zrq::core::AlarmLimits>& out);

  struct Row {
    QCheckBox* on;
    QLineEdit *upper, *lower, *hysteresis;
    QSpinBox* holdOffMs;
    QCheckBox* latching;
  };
  std::array<Row, zrq::core::kAlarmQuantityCount> rows;
  QLabel* lblProblem;

  void accept() override;
};
