// Zero calibration from the front panel: the confirmations and the hand-over
// to the connection side, the progress shown while the sensor works, the
// forced read of its reply and the end of the run when no valid reply came.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "TfrmMain.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;
using zrq::core::MeasType;
using zrq::core::PowerUnit;
using zrq::ui::MsgButtons;
using zrq::ui::MsgResult;

namespace {

constexpr const char* kCheckText =
    "Check that the operating temperature is stable \r\nand that no RF power is applied to the "
    "sensor.\r\n";
constexpr const char* kCheckCaption = "Do not interrupt calibration.";
constexpr const char* kConfirmText =
    "Any open power display windows, meters\r\nor log files will be closed.";
constexpr const char* kConfirmCaption = "Confirm Calibration";
constexpr const char* kCorruptText =
    "Calibration values may be\r\ncorrupt. ZRQ Application will\r\nclose. An attempt will be "
    "made\r\nto restore the original values\r\nafter power is removed then\r\nreapplied to the "
    "7730 sensor.";
constexpr const char* kCorruptCaption = "Calibration Error";

// The display tick's nominal period; the progress step and the time limit
// scale with the timer's real interval.
constexpr int kNominalTickMs = 250;
constexpr int kCalibrationLimitMs = 40000;
constexpr int kFullProgress = 180;

void enable(QMenu* m, bool on) { m->menuAction()->setEnabled(on); }

}  // namespace

bool TfrmMain::anyDisplayWindowShown() const {
  for (const zrq::app::PeerWindow* w : {static_cast<const zrq::app::PeerWindow*>(peers_.fwdMeter),
                                        static_cast<const zrq::app::PeerWindow*>(peers_.rflMeter),
                                        static_cast<const zrq::app::PeerWindow*>(peers_.peak),
                                        static_cast<const zrq::app::PeerWindow*>(peers_.burst)})
    if (w && w->isShown()) return true;
  return false;
}

void TfrmMain::btnZeroCalClick() {
  if (state.zeroCalRequested || state.commState != CommState::Streaming) return;
  if (zrq::ui::showMessage(kCheckText, kCheckCaption, MsgButtons::OkCancel) != MsgResult::Ok)
    return;
  if (loggingActive() || anyDisplayWindowShown()) {
    if (zrq::ui::showMessage(kConfirmText, kConfirmCaption, MsgButtons::OkCancel) != MsgResult::Ok)
      return;
  }
  // The display kept ticking under the questions: a connection lost meanwhile
  // has no data line left to start the calibration with, and 40 s later the
  // missing reply would be taken for damaged constants.
  if (state.commState != CommState::Streaming || !peers_.comm->portConnected()) return;
  beginZeroCal();
}

void TfrmMain::beginZeroCal() {
  stopLogging();

  peers_.comm->stopSupervision();
  state.commState = CommState::ZeroCal;
  enable(Meter1, false);
  enable(Logging1, false);
  enable(Window2, false);
  Logging->hide();
  txtDuty->hide();
  state.savedMeasType = state.measType;
  state.measType = MeasType::None;
  btnZeroCal->hide();
  applyMeasType();

  clearAllSegments();
  for (QLabel* l : {segMeasType, segFilter, segFwdUnits, segRflUnits, segCcdfLimit})
    setLit(l, false);
  applyAnnunciators(fwdAnn_, zrq::app::SegmentHost::Main, PowerUnit::None);
  applyAnnunciators(rflAnn_, zrq::app::SegmentHost::Main, PowerUnit::None);
  fwdDisplay->clear();
  rflDisplay->clear();
  fwdIsPower = true;
  ProgressBar1->setValue(0);
  state.zeroCalRequested = true;
}

void TfrmMain::zeroCalTick() {
  const int interval = std::max(1, displayTimer->interval());
  if (prevCommState != CommState::ZeroCal) {
    stopLogging();
    enable(Meter1, false);
    enable(Logging1, false);
    enable(Window2, false);
    Logging->hide();
    txtDuty->hide();
    btnZeroCal->hide();
    clearAllSegments();
    fwdIsPower = true;
    ProgressBar1->setValue(0);
    zeroCalTicks = 0;
  }
  if (!state.zeroCalRequested) return;
  ++zeroCalTicks;
  if (zeroCalTicks <= kCalibrationLimitMs / interval) {
    const int step = std::max(1, interval / kNominalTickMs);
    ProgressBar1->setValue(std::min(ProgressBar1->maximum(), ProgressBar1->value() + step));
    lblZeroCal->setText(lblZeroCal->text() == "Zero" ? QString() : QStringLiteral("Zero"));
    return;
  }
  ProgressBar1->setValue(std::min(kFullProgress, ProgressBar1->maximum()));
  const bool replied = peers_.comm->readZeroCalReply();
  state.zeroCalRequested = false;
  if (!replied) zeroCalFailed();
}

void TfrmMain::zeroCalFailed() {
  // Nothing may tick under the box or after it: the run ends here.
  for (QTimer* t : {displayTimer, readDataTimer, log500msTick}) t->stop();
  peers_.comm->stopSupervision();
  zrq::ui::showUntilOk(kCorruptText, kCorruptCaption);
  closeChildWindows();
  peers_.comm->disconnect();
  stopLogging();
  shutdown();
  QCoreApplication::exit(1);
}
