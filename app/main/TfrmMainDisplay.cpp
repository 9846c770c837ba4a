// The display tick: connection states, the refresh of every value from the
// latest reading, and the per-type arrangement of the panel.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "TfrmMain.h"
#include "core/PowerMath.h"
#include "core/ReadingFormat.h"
#include "remote/RemoteValues.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;

using zrq::app::SegmentCode;
using zrq::app::SegmentHost;
using zrq::core::MeasType;
using zrq::core::PowerUnit;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

void enable(QWidget* w, bool on) { w->setEnabled(on); }
void enable(QMenu* m, bool on) { m->menuAction()->setEnabled(on); }

}  // namespace

// ---- Segments -------------------------------------------------------------

QLabel* TfrmMain::labelByName(std::string_view name) {
  auto it = mainLabels_.find(name);
  return it == mainLabels_.end() ? nullptr : it->second;
}

QLabel* TfrmMain::segmentLabel(SegmentCode code) {
  const auto* e = zrq::app::findSegment(code);
  if (!e) return nullptr;
  switch (e->host) {
    case SegmentHost::Main:
      return labelByName(e->name);
    case SegmentHost::Peak:
      return peers_.peak->segment(code);
    case SegmentHost::Burst:
      return peers_.burst->segment(code);
  }
  return nullptr;
}

void TfrmMain::segmentOn(SegmentCode code) { setLit(segmentLabel(code), true); }
void TfrmMain::segmentOff(SegmentCode code) { setLit(segmentLabel(code), false); }

void TfrmMain::setLit(QLabel* label, bool on) {
  if (label && label->isVisibleTo(label->parentWidget()) != on) label->setVisible(on);
}

void TfrmMain::clearAllSegments() {
  // Every code of the table, group 0x30 of the burst window included: a sweep
  // of groups 0..47 alone would leave its W, KW and Offset labels lit.
  for (const auto& e : zrq::app::segmentTable()) setLit(segmentLabel(e.code), false);
  ProgressBar1->setValue(0);
  fwdDisplay->clear();
  rflDisplay->clear();
  txtOffset->clear();
  lblLimit->hide();
  txtccdfLimit->hide();
}

void TfrmMain::applyAnnunciators(zrq::core::UnitAnnunciator& ann, SegmentHost host, PowerUnit key) {
  // Hide the old pair, light the new one: two keys may share a label, and a
  // label of both pairs (the same key again) stays lit without going dark in
  // between, so an unchanged unit costs no repaint.
  const auto change = ann.select(key);
  const auto shown = [&](std::string_view name) {
    return name == change.show.first || name == change.show.second;
  };
  for (auto name : {change.hide.first, change.hide.second})
    if (!name.empty() && !shown(name))
      setLit(segmentLabel(zrq::app::segmentCodeOf(host, name)), false);
  for (auto name : {change.show.first, change.show.second})
    if (!name.empty()) setLit(segmentLabel(zrq::app::segmentCodeOf(host, name)), true);
}

// ---- Tick -------------------------------------------------------------------

void TfrmMain::onDisplayTimeout() {
  ++displayTicks_;
  // The rhythm is kept on the real clock, whatever clock staleness is judged by.
  displayPhaseMs_ = zrq::core::steadyNowMs();
  if (displayResumeInterval_ > 0) {
    // The shortened first period after a wake-up is over: the rhythm's own
    // from here (unless the interval was set anew meanwhile).
    if (displayTimer->interval() == displayResumeFirstMs_ &&
        displayResumeFirstMs_ != displayResumeInterval_)
      displayTimer->setInterval(displayResumeInterval_);
    displayResumeInterval_ = 0;
  }
}

bool TfrmMain::displayIdle() const {
  // What a tick does while disconnected: follow a state change, the
  // connection label, the staleness and the wait label. None is pending.
  const bool connected = peers_.comm && peers_.comm->portConnected();
  const bool interrogated = peers_.comm && peers_.comm->interrogationAccepted();
  return state.commState == CommState::NoConnection && prevCommState == CommState::NoConnection &&
         !connected && !interrogated && !sensorWaitShown_ && !staleShown_ && !shutDown_;
}

void TfrmMain::wakeDisplay() {
  if (!displayParked_) return;
  displayParked_ = false;
  if (shutDown_ || displayTimer->isActive()) return;
  // The next tick comes when it would have come had the timer run on.
  const int interval = std::max(1, displayTimer->interval());
  const std::int64_t since = std::max<std::int64_t>(0, zrq::core::steadyNowMs() - displayPhaseMs_);
  const int left = interval - static_cast<int>(since % interval);
  displayResumeInterval_ = interval;
  displayResumeFirstMs_ = left;
  displayTimer->start(left);
}

void TfrmMain::displayTimerTimer() {
  const CommState s = state.commState;
  const CommState p = prevCommState;

  if (s == CommState::NoConnection && p != CommState::NoConnection) {
    enable(Meter1, false);
    enable(Logging1, false);
    enable(Window2, false);
    Logging->hide();
    txtDuty->hide();
    clearAllSegments();
    setLit(segNoSensor, true);
    state.measType = MeasType::None;
    fwdIsPower = true;
    applyMeasType();
  } else if (s == CommState::Streaming &&
             (p == CommState::Connecting || p == CommState::NoConnection)) {
    lastAppliedType = MeasType::None;
    state.measType = state.typeAtConnect;
    if (state.typeAtConnect != MeasType::Average) state.settingsChanged = true;
    state.typeAtConnect = MeasType::Average;
    applyMeasType();
    updateDisplay();
  } else if (s == CommState::ZeroCal) {
    zeroCalTick();
  } else if (s == CommState::Streaming) {
    if (zrq::core::isPowerUnit(state.rflUnit)) rflIsPower = true;
    setLit(segNoSensor, false);
    if (p != CommState::Streaming) {
      lastAppliedType = MeasType::None;
      streamingSetup();
    }
    if (nextTypeRequest) stepMeasType(+1);
    if (prevTypeRequest) stepMeasType(-1);
    updateDisplay();
    if (lastAppliedType != state.measType) applyMeasType();
    if (peers_.log) peers_.log->checkLogTriggers();
  }

  updateConnectionLabel();
  // Streaming begins: the wait for the first reading starts now.
  if (s == CommState::Streaming && p != CommState::Streaming)
    state.lastReadingMs = std::max(state.lastReadingMs, clockMs());
  showStaleness(s == CommState::Streaming && peers_.comm->portConnected());
  if (sensorWaitShown_) {  // ticks run during the wait: the label says why it is long
    sensorWaitShown_ = false;
    showSensorWait(true);
  }
  lastAppliedType = state.measType;
  prevCommState = s;
}

void TfrmMain::showStaleness(bool streaming) {
  // A stall or a run of ignored lines would otherwise freeze the read-outs
  // with nothing to say so.
  const bool stale = streaming && clockMs() - state.lastReadingMs > kStaleAfterMs;
  if (stale) {
    setCommLabel("No Data", "color: #c07000;");
  }
  if (stale == staleShown_) return;
  staleShown_ = stale;
  const char* dim = stale ? "color: #7d8a72;" : "";
  for (QLabel* l : {fwdDisplay, rflDisplay}) l->setStyleSheet(dim);
  if (!stale && lblComm->text() == "No Data") lblComm->hide();
}

void TfrmMain::streamingSetup() {
  setLit(segFwdUnits, true);
  setLit(segbOffset, true);
  setLit(segRflUnits, true);
  setLit(segMeasType, false);
  setLit(segFilter, false);
  setLit(segFAvg, state.measType == MeasType::Average);
  setLit(segPeak, state.measType == MeasType::Peak);
  setLit(segNoSensor, false);
}

void TfrmMain::updateConnectionLabel() {
  const bool connected = peers_.comm && peers_.comm->portConnected();
  const bool interrogated = peers_.comm && peers_.comm->interrogationAccepted();
  const bool settingsOk = peers_.comm && peers_.comm->settingsAccepted();
  if (!connected && !interrogated && state.commState != CommState::ZeroCal) {
    setCommLabel("No Connection", "color: red;");
  } else if (state.commState == CommState::Streaming && (settingsOk || !connected)) {
    lblComm->hide();
    setLit(segNoSensor, false);
  }
}

void TfrmMain::stepMeasType(int direction) {
  using T = MeasType;
  T next = T::Average;
  switch (state.measType) {
    case T::Average:
      next = direction > 0 ? T::Peak : T::CCDF;
      break;
    case T::Peak:
      next = direction > 0 ? T::Burst : T::Average;
      break;
    case T::Burst:
      next = direction > 0 ? T::Crest : T::Peak;
      break;
    case T::Crest:
      next = direction > 0 ? T::CCDF : T::Burst;
      break;
    case T::CCDF:
      next = direction > 0 ? T::Average : T::Crest;
      break;
    default:
      break;  // any other code starts again at Average
  }
  zrq::remote::selectMeasType(state, next);
  (direction > 0 ? nextTypeRequest : prevTypeRequest) = false;
}

void TfrmMain::readDataTimerTimer() {
  if (peers_.comm) peers_.comm->readSensorData();
}

// ---- Refresh ----------------------------------------------------------------

void TfrmMain::updateDisplay() {
  const zrq::core::PanelSettings settings = zrq::core::panelSettings(state);
  const zrq::core::PanelView v = zrq::core::computePanel(state.reading, settings);

  setLit(segFover, v.fwdOverLit);
  setLit(segRover, v.rflOverLit);

  // Forward read-out.
  setLit(segFwd, true);
  applyAnnunciators(fwdAnn_, SegmentHost::Main, v.fwd.annunciatorKey);
  fwdDisplay->setText(qs(v.fwdText));
  const bool fwdValid = !v.fwdOverRange && !v.fwdFailed;
  if (v.fwdFailed) {
    if (peers_.fwdMeter && peers_.fwdMeter->isShown()) peers_.fwdMeter->hideWindow();
    noticeDue_ = true;
  }
  feedForwardMeter(v, fwdValid);

  // Reflected read-out.
  switch (state.measType) {
    case MeasType::Average:
      setLit(segRfl, v.rfl.isPower);
      applyAnnunciators(rflAnn_, SegmentHost::Main, v.rfl.annunciatorKey);
      feedReflectedMeter(v);
      if (v.rflText) {
        rflDisplay->setText(qs(*v.rflText));
        // Lit again once the value is back in range; the over-range branch
        // below darkens it.
        setLit(segRflUnits, true);
        if (*v.rflText == zrq::core::blankText && peers_.rflMeter && peers_.rflMeter->isShown())
          peers_.rflMeter->hideWindow();
      } else {
        setLit(segRfl, false);
        setLit(segRflUnits, false);
      }
      break;
    case MeasType::Peak:
      setLit(segRfl, false);
      applyAnnunciators(rflAnn_, SegmentHost::Main, PowerUnit::VSWR);
      feedReflectedMeter(v);
      rflDisplay->setText(qs(v.rflText.value_or(std::string(zrq::core::blankText))));
      break;
    default:
      setLit(segRfl, false);
      setLit(segRflUnits, false);
      if (!rflDisplay->text().isEmpty()) rflDisplay->clear();  // else a repaint a tick
      if (peers_.rflMeter && peers_.rflMeter->isShown()) peers_.rflMeter->hideWindow();
      break;
  }

  ProgressBar1->setValue(v.bar);

  const bool ccdf = state.measType == MeasType::CCDF && state.ccdfLimit != 0;
  lblLimit->setVisible(ccdf);
  txtccdfLimit->setVisible(ccdf);
  txtccdfLimit->setText(qs(v.ccdfLimitText));

  const bool offset = !v.offsetText.empty();
  setLit(segOffset, offset);
  setLit(segOffset2, offset);
  txtOffset->setText(qs(v.offsetText));

  setLit(segdutyCycle, state.measType == MeasType::Burst);
  txtDuty->setText(qs(v.dutyText));

  logValues = zrq::core::computeLogValues(state.reading, settings);
  updatePeakWindow(v);
  updateBurstWindow(v);

  // Only once every display is written: timers keep ticking under the modal
  // box, and a nested tick must not interleave with this one's writes.
  if (noticeDue_) {
    noticeDue_ = false;
    showOutOfRangeNotice();
  }
}

void TfrmMain::feedForwardMeter(const zrq::core::PanelView& v, bool valid) {
  auto* m = peers_.fwdMeter;
  if (!m || !m->isShown()) return;
  if (!valid) {
    m->hideWindow();
    noticeDue_ = true;
    return;
  }
  m->updateForward(state.measType, v.fwd.value, v.fwd.unit);
}

void TfrmMain::feedReflectedMeter(const zrq::core::PanelView& v) {
  auto* m = peers_.rflMeter;
  if (!m || !m->isShown()) return;
  if (state.measType == MeasType::Peak) {
    m->setValue(v.rfl.value);
    if (v.rflMayShow)
      m->setScale("VSWR", 0, 100, "%.0f");
    else
      m->hideWindow();
    return;
  }
  m->setValue(v.rfl.value);
  m->updateReflected(v.rfl.unit, v.rflMayShow);
}

void TfrmMain::updatePeakWindow(const zrq::core::PanelView& v) {
  auto* w = peers_.peak;
  auto lit = [&](SegmentCode code, bool on) { setLit(w->segment(code), on); };
  lit(SegmentCode::segPover, v.peakFlags.peakOver);
  lit(SegmentCode::segPunder, v.peakFlags.peakUnder);
  lit(SegmentCode::segVover, v.peakFlags.vswrOver);
  lit(SegmentCode::segVunder, v.peakFlags.vswrUnder);
  lit(SegmentCode::segPOffset, state.offsetDb != 0);
  lit(SegmentCode::segpeak, true);
  applyAnnunciators(peakAnn_, SegmentHost::Peak, v.peakValue.unit);
  w->setValueText(v.peakText);
  applyAnnunciators(peakVswrAnn_, SegmentHost::Peak, PowerUnit::VSWR);
  w->setSecondText(v.peakVswrText);
  w->setBar(v.peakBar);
}

void TfrmMain::updateBurstWindow(const zrq::core::PanelView& v) {
  auto* w = peers_.burst;
  auto lit = [&](SegmentCode code, bool on) { setLit(w->segment(code), on); };
  lit(SegmentCode::segBover, v.burstFlags.burstOver);
  lit(SegmentCode::segBunder, v.burstFlags.burstUnder);
  applyAnnunciators(burstAnn_, SegmentHost::Burst, v.burstValue.unit);
  w->setValueText(v.burstText);
  w->setBar(v.burstBar);
  w->setSecondText(v.burstDutyText);
  if (state.measType == MeasType::CCDF) {
    lit(SegmentCode::segBOffset2, false);
    if (w->isShown()) w->hideWindow();
  } else {
    lit(SegmentCode::segBOffset2, state.offsetDb != 0);
  }
}

void TfrmMain::showOutOfRangeNotice() {
  if (!outOfRangeNotice.armed || outOfRangeNotice.showing) return;
  // The box does not hold the tick: the display and the log go on under it.
  outOfRangeNotice.armed = false;
  outOfRangeNotice.showing = true;
  QPointer<TfrmMain> self(this);
  zrq::ui::showNotice(zrq::app::kOutOfRangeText, zrq::app::kOutOfRangeCaption, [self] {
    if (self) self->outOfRangeNotice.showing = false;
  });
}

// ---- Per-type arrangement -------------------------------------------------

void TfrmMain::applyMeasType() {
  using T = MeasType;
  const T t = state.measType;
  const bool typed = t >= T::Average && t <= T::CCDF;

  setLit(segFAvg, t == T::Average);
  setLit(segPeak, t == T::Peak);
  setLit(segBurst, t == T::Burst);
  setLit(segCrest, t == T::Crest);
  setLit(segCcdf, t == T::CCDF);
  if (typed) applyAnnunciators(rflAnn_, SegmentHost::Main, PowerUnit::None);

  const bool powerType = t == T::Average || t == T::Peak || t == T::Burst;
  setLit(segRAvg, t == T::Average);
  setLit(segFwdUnits, powerType);
  setLit(segMeasType, typed);
  setLit(segFilter, typed);
  if (typed) setLit(segbOffset, powerType);
  if (typed) {
    setLit(segRfl, t == T::Average);
    setLit(segRflUnits, t == T::Average);
  } else {
    setLit(segRflUnits, false);
  }
  setLit(segCcdfLimit, t == T::CCDF);

  for (QPushButton* b : {btnType, tbnTypeDown, btnFilter, btnZeroCal}) enable(b, typed);
  enable(btnFwdUnits, powerType);
  enable(btnRflUnits, powerType);
  if (t == T::None || t == T::Average || t == T::Peak || t == T::CCDF)
    enable(btnOffset, t == T::Average);
  if (t != T::Peak) enable(btnCCDF, t == T::CCDF);
  if (t == T::None || t == T::Average || t == T::Crest || t == T::CCDF) {
    Edit_Offset->hide();
    EditccdfLimit->hide();
  }
  if (t == T::Peak || t == T::Crest) txtDuty->hide();
  if (t == T::Burst) txtDuty->show();

  enable(Meter1, powerType);
  if (t == T::Average || t == T::Peak || t == T::Burst) Reflected1->setEnabled(t != T::Burst);
  if (t == T::None || t == T::Average || t == T::Crest || t == T::CCDF)
    BurstPower2->setEnabled(t == T::Average || t == T::Crest);
  if (typed) {
    for (QMenu* m : {File1, Setup1, Logging1, Window2}) enable(m, true);
  }
  if (t == T::Crest || t == T::CCDF) {
    for (zrq::app::PeerWindow* w : {static_cast<zrq::app::PeerWindow*>(peers_.fwdMeter),
                                    static_cast<zrq::app::PeerWindow*>(peers_.rflMeter)})
      if (w && w->isShown()) w->hideWindow();
  }
  if (t == T::None) {
    ProgressBar1->setValue(0);
    fwdDisplay->clear();
    rflDisplay->clear();
    if (state.commState == CommState::ZeroCal) {
      enable(File1, false);
      enable(Setup1, false);
      hideDisplayWindows();
      stopLogging();
    }
  }
  lastAppliedType = t;
}

void TfrmMain::hideDisplayWindows() {
  for (zrq::app::PeerWindow* w : {static_cast<zrq::app::PeerWindow*>(peers_.fwdMeter),
                                  static_cast<zrq::app::PeerWindow*>(peers_.rflMeter),
                                  static_cast<zrq::app::PeerWindow*>(peers_.burst),
                                  static_cast<zrq::app::PeerWindow*>(peers_.peak)})
    if (w && w->isShown()) w->hideWindow();
}

bool TfrmMain::loggingActive() const { return peers_.log && peers_.log->active(); }

void TfrmMain::stopLogging() {
  if (!loggingActive() && !Active1->isChecked()) return;
  if (peers_.log) peers_.log->closeLogFile();
  Active1->setChecked(false);
}
