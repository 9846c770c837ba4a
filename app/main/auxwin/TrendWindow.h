// The trend window (Window > Trend): the recorded readings over time, the
// quantities and span the user picks, pause and scroll back, a cursor that
// reads a reading, holds since a reset, and export of the shown span.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "TrendPlot.h"
#include "core/TrendStore.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;
namespace zrq::app {
class TrendRecorder;
}

class TfrmTrend : public QWidget {
  Q_OBJECT

 public:
  // The recorder must outlive the window.
  TfrmTrend(zrq::app::TrendRecorder& recorder, QWidget* owner = nullptr);

  // The span choices, in the order of the span box; 0 is "All".
  static constexpr std::array<std::int64_t, 6> kSpansMs{60'000,        600'000,        3'600'000,
                                                        8 * 3'600'000, 24 * 3'600'000, 0};

  // The shown span as a picture / as CSV (FETCh:ALL? columns). False with the
  // reason when the file cannot be written.
  bool exportPng(const QString& file, std::string* why);
  bool exportCsv(const QString& file, std::string* why);
  // The panel's alarms, drawn as limit lines on the lanes that show them.
  void setAlarmLimits(const std::vector<zrq::core::AlarmLimits>& limits);

  TrendPlot* plot;
  std::array<QCheckBox*, zrq::core::kTrendQuantities> chkQuantity;
  QComboBox* cmbSpan;
  QPushButton *btnPause, *btnResetHold, *btnExportPng, *btnExportCsv;
  QScrollBar* scrollBack;
  QLabel* lblCursor;

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void showPowerUnit();

  void appended();
  void quantitiesChanged();
  void spanChanged(int index);
  void pauseToggled(bool paused);
  void updateScrollRange();
  void showCursor();
  void exportPngClick();
  void exportCsvClick();

  zrq::app::TrendRecorder& recorder_;
  std::int64_t scrollBase_ = 0;  // the time of the scroll bar's 0
  std::vector<zrq::core::AlarmLimits> alarmLimits_;
  bool linesInDbm_ = false;
};

extern TfrmTrend* frmTrend;
