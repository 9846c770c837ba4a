// The data side of the connection window: one data line per readDataTimer
// tick, its decoding, the start of a requested zero calibration, the stream
// recovery, and the supervision tick.
#include <QTimer>

#include "CommHost.h"
#include "DevComInterface.h"
#include "TKS7730Commands.h"
#include "TfrmComm.h"
#include "core/DataString.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

namespace zrq::comm {

using core::CommState;

namespace {
constexpr int kStopStreamAttempts = 4;
constexpr int kZeroCalPollMs = 48000;
}  // namespace

// Waits inside the sequences keep the event loop running: a timer tick that
// arrives meanwhile must not start a second sequence on the same port.
class TfrmComm::BusyScope {
 public:
  explicit BusyScope(TfrmComm& w) : w_(w) { ++w_.busy_; }
  ~BusyScope() { --w_.busy_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TfrmComm& w_;
};

bool TfrmComm::connected() const { return commands_->connected(); }

void TfrmComm::endRun() {
  commands_->endRun();
  dataPollTimer->stop();
}

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
  if (busy_ > 0 || commands_->ended()) return;
  BusyScope busy(*this);
  if (!commands_->connected() || host_.instrument().commState == CommState::NoConnection) return;
  DevComInterface* port = commands_->selectedPort();
  if (!port) return;
  pktDataString(port->readDataLine());
}

void TfrmComm::pktDataString(const std::string& text) {
  core::InstrumentState& m = host_.instrument();
  m.commState = CommState::Streaming;
  core::DecodeInputs in;
  in.measType = m.measType;
  in.fwdFullScale = m.fwdFullScale;
  in.featureMask = m.featureMask;
  in.zeroCalRequested = m.zeroCalRequested;
  const core::DecodeResult r = core::decodeDataString(text, in, m.reading, m.settingsChanged);
  switch (r.outcome) {
    case core::DecodeOutcome::Unusable:
      recoverStream();
      return;
    case core::DecodeOutcome::Ignored:
    case core::DecodeOutcome::TypeMismatch:
      return;
    case core::DecodeOutcome::ConversionError:
      // The general error report: the error's text under the program's title.
      ui::showMessage(r.errorText, ui::applicationTitle(), ui::MsgButtons::Ok, ui::MsgIcon::Error);
      return;
    case core::DecodeOutcome::Accepted:
      m.lastReadingMs = core::steadyNowMs();
      break;
  }
  if (m.zeroCalRequested) startZeroCalibration();
}

void TfrmComm::startZeroCalibration() {
  DevComInterface* port = commands_->selectedPort();
  if (!port) return;
  core::InstrumentState& m = host_.instrument();
  port->purge();
  host_.stopTimer(CommTimer::DataPoll);
  host_.stopTimer(CommTimer::ReadData);
  m.commState = CommState::ZeroCal;
  m.zeroCalDone = false;
  port->purge();
  port->stopDataStream();
  ui::delayMs(400);
  if (commands_->ended()) return;
  port->purge();
  port->sendZero();
  host_.setTimerInterval(CommTimer::DataPoll, kZeroCalPollMs);
  host_.startTimer(CommTimer::DataPoll);
  host_.setProgressMaximum(180);
}

void TfrmComm::recoverStream() {
  DevComInterface* port = commands_->selectedPort();
  if (!port) return;
  host_.stopTimer(CommTimer::DataPoll);
  host_.stopTimer(CommTimer::ReadData);
  port->purge();
  // Each stop waits for its reply with the window alive: the user may close
  // the program meanwhile, and then nothing more is sent or shown.
  for (int attempt = 0; attempt < kStopStreamAttempts; ++attempt) {
    const bool stopped = port->stopDataStream();
    if (commands_->ended()) return;
    if (!stopped) continue;
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
  host_.instrument().commState = CommState::NoConnection;
  host_.applyMeasType();
  host_.resetPortMenu();
  host_.setLblComm(LabelColor::Red, "No Connection");
  ui::showUntilOk("Communication lost check cables. Then\r\nreselect port from Comm menu item",
                  "Communication Error 7");
  commands_->disconnect();
}

void TfrmComm::dataPollTimerTimer() {
  if (busy_ > 0 || commands_->ended()) return;
  BusyScope busy(*this);
  core::InstrumentState& m = host_.instrument();
  SensorInfo& info = commands_->sensorInfo();
  const bool connected = commands_->connected();
  DevComInterface* port = commands_->selectedPort();
  if (!info.interrogated) {
    host_.disableStreamingMenus();
    if (m.commState == CommState::Streaming && !connected) {
      host_.showDisconnectedCaption();
      host_.hideAuxWindows();
      host_.disableStreamingMenus();
      host_.setLblComm(LabelColor::Red, "No Connection");
      m.commState = CommState::NoConnection;
      if (host_.loggingActive()) host_.closeLogFile();
      // No stale reading beside the box.
      host_.followState();
      ui::showMessage("Select a port from the Comm menu item.", "Select Port");
    }
    m.commState = CommState::NoConnection;
    host_.stopTimer(CommTimer::DataPoll);
    host_.stopTimer(CommTimer::ReadData);
    return;
  }
  if (connected && port && m.settingsChanged && !m.zeroCalRequested) {
    host_.stopTimer(CommTimer::ReadData);
    port->purge();
    port->stopDataStream();
    // The waits run the event loop: the user may change a setting meanwhile.
    // The command is built when it is sent, and a change made after that
    // keeps the flag for the next tick.
    ui::delayMs(1000);
    port->purge();
    const std::string sent = commands_->settingsCommand();
    port->setFilterAndType();
    port->purge();
    port->startDataStream();
    host_.startTimer(CommTimer::ReadData);
    if (commands_->settingsCommand() == sent) m.settingsChanged = false;
    m.settingsAcked = false;
    info.settingsConfirmed = false;
    return;
  }
  if (connected && m.commState == CommState::NoConnection && !m.zeroCalRequested)
    commands_->reconnect();
}

}  // namespace zrq::comm
