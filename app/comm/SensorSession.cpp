#include "SensorSession.h"

#include "CommHost.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

namespace zrq::comm {

using core::CommState;
using core::DecodeOutcome;

SensorSession::SensorSession(CommHost& host, TKS7730Stats& stats, AppStatus& status)
    : host_(host), commands_(host, stats, status) {}

namespace {
struct DepthScope {
  explicit DepthScope(int& depth) : depth_(depth) { ++depth_; }
  ~DepthScope() { --depth_; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
  int& depth_;
};
}  // namespace

template <typename Fn>
void SensorSession::runSequence(Fn&& fn) {
  {
    if (depth_ == 0) commands_.beginSequence();
    DepthScope scope(depth_);
    fn();
  }
  if (depth_ > 0) return;
  // The request made during the waits, now that they are over; it may itself wait.
  while (pending_) {
    const Request r = *pending_;
    pending_.reset();
    commands_.beginSequence();
    if (commands_.fatallyClosed() || (r.connect && commands_.ended())) break;
    DepthScope scope(depth_);
    if (r.connect)
      commands_.connectPort(r.portNum);
    else
      commands_.disconnect();
  }
}

void SensorSession::request(Request r) {
  if (busy()) {
    commands_.supersede();
    pending_ = r;
    return;
  }
  pending_ = r;
  runSequence([] {});
}

void SensorSession::connectPort(int portNum) { request({true, portNum}); }

void SensorSession::disconnect() { request({false, -1}); }

bool SensorSession::readZeroCalResult() {
  bool replied = false;
  runSequence([&] { replied = commands_.readZeroCalResult(); });
  if (!replied) host_.zeroCalibrationEnded(false, "no valid reply from the sensor");
  return replied;
}

void SensorSession::readSensorData() {
  if (busy() || ended()) return;
  runSequence([&] {
    if (!commands_.connected() || host_.instrument().commState == CommState::NoConnection) return;
    DevComInterface* port = commands_.selectedPort();
    if (!port) return;
    handleDataLine(port->readDataLine());
  });
}

void SensorSession::readAllSensorData() {
  if (busy() || ended()) return;
  runSequence([&] {
    if (!commands_.connected() || host_.instrument().commState == CommState::NoConnection) return;
    DevComInterface* port = commands_.selectedPort();
    if (!port) return;
    lines_.clear();
    const bool ok = port->readDataLines(lines_);
    if (lines_.empty()) {
      // Silence for as long as the window's read period is, to the policy, a
      // read that found no line; a failed read is one at once.
      const std::int64_t now = core::steadyNowMs();
      if (!ok || (quietSinceMs_ > 0 && now - quietSinceMs_ >= kQuietLimitMs)) {
        quietSinceMs_ = 0;
        handleDataLine(std::string());
      } else if (quietSinceMs_ == 0) {
        quietSinceMs_ = now;
      }
      return;
    }
    quietSinceMs_ = 0;
    for (const std::string& line : lines_) {
      const bool zeroCal = host_.instrument().zeroCalRequested;
      if (handleDataLine(line) == DecodeOutcome::Unusable || zeroCal) break;
      if (!commands_.connected() || host_.instrument().commState != CommState::Streaming) break;
    }
  });
}

DecodeOutcome SensorSession::handleDataLine(const std::string& text) {
  DecodeOutcome outcome = DecodeOutcome::Ignored;
  runSequence([&] {
    core::InstrumentState& m = host_.instrument();
    m.commState = CommState::Streaming;
    core::DecodeInputs in;
    in.measType = m.measType;
    in.fwdFullScale = m.fwdFullScale;
    in.featureMask = m.featureMask;
    in.zeroCalRequested = m.zeroCalRequested;
    const core::DecodeResult r = core::decodeDataString(text, in, m.reading, m.settingsChanged);
    outcome = r.outcome;
    switch (r.outcome) {
      case DecodeOutcome::Unusable:
        recoverStream();
        return;
      case DecodeOutcome::Ignored:
      case DecodeOutcome::TypeMismatch:
        return;
      case DecodeOutcome::ConversionError:
        // The general error report: the error's text under the program's title.
        ui::showNotice(r.errorText, ui::applicationTitle(), {}, ui::MsgIcon::Error);
        return;
      case DecodeOutcome::Accepted:
        m.lastReadingMs = core::steadyNowMs();
        ++accepted_;
        host_.readingAccepted();
        break;
    }
    if (m.zeroCalRequested) startZeroCalibration();
  });
  return outcome;
}

void SensorSession::startZeroCalibration() {
  DevComInterface* port = commands_.selectedPort();
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
  if (ended()) return;
  port->purge();
  port->sendZero();
  host_.setTimerInterval(CommTimer::DataPoll, kZeroCalPollMs);
  host_.startTimer(CommTimer::DataPoll);
  host_.setProgressMaximum(180);
}

void SensorSession::recoverStream() {
  DevComInterface* port = commands_.selectedPort();
  if (!port) return;
  host_.stopTimer(CommTimer::DataPoll);
  host_.stopTimer(CommTimer::ReadData);
  port->purge();
  for (int attempt = 0; attempt < kStopStreamAttempts; ++attempt) {
    const bool stopped = port->stopDataStream();
    if (ended()) return;
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
  // The log belongs to the connection: closed whole before the box.
  if (host_.loggingActive()) host_.closeLogFile();
  ui::showUntilOk("Communication lost check cables. Then\r\nreselect port from Comm menu item",
                  "Communication Error 7");
  commands_.disconnect();
}

void SensorSession::supervise() {
  if (busy() || ended()) return;
  runSequence([&] {
    core::InstrumentState& m = host_.instrument();
    SensorInfo& info = commands_.sensorInfo();
    const bool connected = commands_.connected();
    DevComInterface* port = commands_.selectedPort();
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
        ui::showNotice("Select a port from the Comm menu item.", "Select Port");
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
      // The user may change a setting during the wait: the command is built
      // when it is sent, and a change made after that keeps the flag.
      ui::delayMs(1000);
      if (ended()) return;
      port->purge();
      const std::string sent = commands_.settingsCommand();
      port->setFilterAndType();
      port->purge();
      port->startDataStream();
      host_.startTimer(CommTimer::ReadData);
      if (commands_.settingsCommand() == sent) m.settingsChanged = false;
      m.settingsAcked = false;
      info.settingsConfirmed = false;
      return;
    }
    if (connected && m.commState == CommState::NoConnection && !m.zeroCalRequested)
      commands_.reconnect();
  });
}

}  // namespace zrq::comm
