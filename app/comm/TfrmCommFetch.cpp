// The data side of the connection window: one data line per readDataTimer
// tick, its decoding, the start of a requested zero calibration, the stream
// recovery, and the supervision tick.
#include <QGuiApplication>
#include <QTimer>

#include "CommHost.h"
#include "DevComInterface.h"
#include "TKS7730Commands.h"
#include "TfrmComm.h"
#include "core/DataString.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

namespace zrq::comm {

namespace {
constexpr int STOP_STREAM_ATTEMPTS = 4;
constexpr int ZERO_CAL_POLL_MS = 48000;
}  // namespace

// Waits inside the sequences keep the event loop running: a timer tick that
// arrives meanwhile must not start a second sequence on the same port.
class TfrmComm::BusyScope {
 public:
  explicit BusyScope(TfrmComm& w) : w_(w) {
    ++w_.busy_;
    w_.host_.enterCall();
  }
  ~BusyScope() {
    w_.host_.leaveCall();
    --w_.busy_;
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TfrmComm& w_;
};

bool TfrmComm::connected() const { return commands_->connected(); }

void TfrmComm::connectPort(int portNum) {
  BusyScope busy(*this);
  commands_->connectPort(portNum);
}

void TfrmComm::disconnect() {
  BusyScope busy(*this);
  commands_->disconnect();
}

bool TfrmComm::readZeroCalResult() {
  BusyScope busy(*this);
  return commands_->readZeroCalResult();
}

void TfrmComm::readSensorData() {
  if (busy_ > 0) return;
  BusyScope busy(*this);
  if (!commands_->connected() || host_.mainState().commState == 1) return;
  DevComInterface* port = commands_->selectedPort();
  if (!port) return;
  pktDataString(port->readDataLine());
}

void TfrmComm::pktDataString(const std::string& text) {
  MainState& m = host_.mainState();
  m.commState = 2;
  core::DecodeInputs in;
  in.measType = static_cast<core::MeasType>(m.measType);
  in.fwdFullScale = static_cast<float>(m.fwdFullScale);
  in.featureMask = m.featureMask;
  in.zeroCalRequested = m.zeroCalRequested != 0;
  core::SensorReading* reading = host_.sensorReading();
  if (!reading) reading = &reading_;
  bool settingsChanged = m.settingsChanged;
  const core::DecodeResult r = core::decodeDataString(text, in, *reading, settingsChanged);
  m.settingsChanged = settingsChanged;
  switch (r.outcome) {
    case core::DecodeOutcome::Unusable:
      recoverStream();
      return;
    case core::DecodeOutcome::Ignored:
    case core::DecodeOutcome::TypeMismatch:
      return;
    case core::DecodeOutcome::ConversionError:
      // The general error report: the error's text under the program's title.
      ui::showMessage(r.errorText, QGuiApplication::applicationDisplayName().toStdString(),
                      ui::MsgButtons::Ok, ui::MsgIcon::Error);
      return;
    case core::DecodeOutcome::Accepted:
      break;
  }
  if (m.zeroCalRequested) startZeroCalibration();
}

void TfrmComm::startZeroCalibration() {
  DevComInterface* port = commands_->selectedPort();
  if (!port) return;
  MainState& m = host_.mainState();
  port->purge();
  host_.stopTimer(CommTimer::DataPoll);
  host_.stopTimer(CommTimer::ReadData);
  m.commState = 3;
  m.zeroCalDone = 0;
  port->purge();
  port->stopDataStream();
  ui::delayMs(400);
  port->purge();
  port->sendZero();
  host_.setTimerInterval(CommTimer::DataPoll, ZERO_CAL_POLL_MS);
  host_.startTimer(CommTimer::DataPoll);
  host_.setProgressMaximum(180);
}

void TfrmComm::recoverStream() {
  DevComInterface* port = commands_->selectedPort();
  if (!port) return;
  host_.stopTimer(CommTimer::DataPoll);
  host_.stopTimer(CommTimer::ReadData);
  port->purge();
  for (int attempt = 0; attempt < STOP_STREAM_ATTEMPTS; ++attempt) {
    if (!port->stopDataStream()) continue;
    port->purge();
    host_.startTimer(CommTimer::DataPoll);
    port->purge();
    host_.startTimer(CommTimer::ReadData);
    port->startDataStream();
    ui::delayMs(1000);
    host_.startTimer(CommTimer::DataPoll);
    return;
  }
  host_.clearAllSegments();
  host_.mainState().commState = 1;
  host_.applyMeasType();
  host_.resetPortMenu();
  host_.setLblComm(LabelColor::Red, "No Connection");
  ui::showUntilOk("Communication lost check cables. Then\r\nreselect port from Comm menu item",
                  "Communication Error 7");
  commands_->disconnect();
}

void TfrmComm::dataPollTimerTimer() {
  if (busy_ > 0) return;
  BusyScope busy(*this);
  MainState& m = host_.mainState();
  SensorInfo& info = commands_->sensorInfo();
  const bool connected = commands_->connected();
  DevComInterface* port = commands_->selectedPort();
  if (!info.interrogated) {
    host_.disableStreamingMenus();
    if (m.commState == 2 && !connected) {
      host_.showDisconnectedCaption();
      host_.hideAuxWindows();
      host_.disableStreamingMenus();
      host_.setLblComm(LabelColor::Red, "No Connection");
      m.commState = 1;
      if (host_.loggingActive()) host_.closeLogFile();
      ui::showMessage("Select a port from the Comm menu item.", "Select Port");
    }
    m.commState = 1;
    host_.stopTimer(CommTimer::DataPoll);
    host_.stopTimer(CommTimer::ReadData);
    return;
  }
  if (connected && port && m.settingsChanged && !m.zeroCalRequested) {
    host_.stopTimer(CommTimer::ReadData);
    port->purge();
    port->stopDataStream();
    ui::delayMs(1000);
    port->purge();
    port->setFilterAndType();
    port->purge();
    port->startDataStream();
    host_.startTimer(CommTimer::ReadData);
    m.settingsChanged = false;
    m.settingsAcked = 0;
    info.settingsConfirmed = false;
    return;
  }
  if (connected && m.commState == 1 && !m.zeroCalRequested) commands_->reconnect();
}

}  // namespace zrq::comm
