#include "Logger.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AppStatus.h"
#include "CommHost.h"
#include "ComTestLog.h"
#include "HeadlessHost.h"
#include "DevComInterface.h"
#include "PortDoctor.h"
#include "SensorSession.h"
#include "USB/TKS7730Stats.h"
#include "ZervDComDLL.h"
#include "core/InstrumentState.h"
#include "core/LogSession.h"
#include "remote/RemoteValues.h"
#include "scpi/Engine.h"
#include "scpi/TcpServer.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

namespace zrq::logger {

namespace {

using Clock = std::chrono::steady_clock;
using core::CommState;
using std::chrono::milliseconds;

void err(const std::string& text) { std::fprintf(stderr, "zrq-log: %s\n", text.c_str()); }

// The connection side's boxes, written to standard error and answered OK.
class StderrBoxes : public ui::MessageBoxes {
 public:
  ui::MsgResult show(const ui::MsgRequest& r) override {
    err(r.caption + ": " + remote::oneLine(r.text));
    return r.buttons == ui::MsgButtons::YesNo || r.buttons == ui::MsgButtons::YesNoCancel
               ? ui::MsgResult::Yes
               : ui::MsgResult::Ok;
  }
};

using comm::HeadlessHost;

class Run : public scpi::Instrument {
 public:
  Run(const LoggerOptions& o, const RunIo& io) : o_(o), io_(io) {
    host_.session = &session_;
    host_.onReading = [this] {
      ++sequence_;
      readingTime_ = remote::isoLocalTime();
      engine_.readingAccepted();
    };
    host_.onZeroCalEnd = [this](bool ok, const std::string& why) {
      zeroCalStartedMs_ = 0;
      engine_.zeroCalibrationEnded(ok, remote::oneLine(why));
    };
    host_.state.measType = o.measType;
    host_.state.offsetDb = o.offsetDb;
    host_.state.ccdfLimit = o.ccdfLimit;
    host_.state.filterHz = o.filterHz;
    // A stop request cuts the sequences' waits short: nothing more is sent
    // but the closing stop of the stream.
    ui::setDelayFunction([this](int ms) {
      if (waitUntil(Clock::now() + milliseconds(ms))) stopRequested();
    });
  }
  ~Run() override {
    server_.close();
    session_.close();
    comm::closeHeadlessSensor(sensor_, devMngr_);
  }

  ExitCode run() {
    if (o_.scpi) {
      std::string why;
      if (!server_.listen(o_.scpi->host, o_.scpi->port, &why))
        return fail("remote control on " + o_.scpi->host + ":" + std::to_string(o_.scpi->port) +
                    " cannot start: " + why);
      // Scripts started on port 0 learn the port here.
      std::printf("scpi: %s:%d\n", o_.scpi->host.c_str(), server_.port());
      std::fflush(stdout);
    }
    if (!connect())
      return stopped_ ? ExitCode::Done : fail("the sensor on " + o_.port + " could not be reached");
    if (logging()) session_.choose(o_.out, o_.log.intervalTicks());
    return loop();
  }

  // ---- scpi::Instrument, on this run's state ----
  scpi::Identity identity() const override {
    scpi::Identity id;
    if (sensor_ && sensor_->connected()) {
      const comm::SensorInfo& info = sensor_->commands().sensorInfo();
      if (!host_.state.sensorSerial.empty()) id.serial = host_.state.sensorSerial;
      if (!info.firmwareVersion.empty()) id.firmware = info.firmwareVersion;
    }
    return id;
  }
  bool streaming() const override {
    return sensor_ && sensor_->connected() && host_.state.commState == CommState::Streaming;
  }
  std::optional<scpi::Reading> latest() const override {
    if (sequence_ == 0) return std::nullopt;
    return remote::readingOf(host_.state, sequence_, readingTime_);
  }
  scpi::Settings settings() const override { return remote::settingsOf(host_.state); }
  void apply(const scpi::Settings& s) override { remote::applySettings(host_.state, s); }
  std::string conflict(const scpi::Settings& s) const override {
    if (zeroCalibrationRunning()) return "a zero calibration is running";
    if (s.function == scpi::Function::Ccdf && o_.log.trigger == core::LogTrigger::Burst &&
        logging())
      return "CCDF is not available while the log's burst trigger is chosen";
    return {};
  }
  bool startZeroCalibration(std::string* why) override {
    if (const std::string no =
            remote::zeroCalibrationRefusal(zeroCalibrationRunning(), streaming());
        !no.empty()) {
      if (why) *why = no;
      return false;
    }
    // As the panel's Zero button once confirmed; the log only pauses.
    comm::beginZeroCalibration(host_.state);
    host_.dataPoll = false;
    zeroCalStartedMs_ = core::steadyNowMs();
    return true;
  }
  bool zeroCalibrationRunning() const override {
    return host_.state.zeroCalRequested || host_.state.commState == CommState::ZeroCal;
  }

 private:
  bool logging() const { return !o_.out.empty(); }
  // The panel reads the sensor's verdict once its 40 s of progress are over.
  bool zeroCalDue() const {
    return zeroCalStartedMs_ > 0 && host_.state.commState == CommState::ZeroCal &&
           core::steadyNowMs() - zeroCalStartedMs_ >= kZeroCalMs;
  }
  static constexpr std::int64_t kZeroCalMs = 40000;

  ExitCode fail(const std::string& why) {
    clearStatus();
    err(why);
    if (!reported_) {
      for (const std::string& l : memo_.lines())
        if (!l.empty()) err("status: " + l);
      reported_ = true;
    }
    return ExitCode::Failed;
  }

  bool connect() {
    comm::DevComInterface* port = nullptr;
    try {
      if (const auto usb = usbPortIndex(o_.port)) {
        bool busy = false;
        if (const std::string no = comm::findUsbSensor(devMngr_, *usb, o_.port, &busy);
            !no.empty()) {
          err(no);
          if (busy)
            comm::doctor::report(status_, comm::doctor::diagnoseSensors(),
                                 comm::doctor::Box::Never);
          return false;
        }
        sensor_ = std::make_unique<comm::SensorSession>(host_, stats_, status_);
        watchStop();
        sensor_->commands().setDevMngr(devMngr_);
        port = sensor_->commands().addPort(comm::PortType::USB, o_.port, *usb);
      } else {
        const std::u16string wide = comm::toWide(o_.port);
        if (!comm::ZervDComDLL::isSerialPortAvail(wide.c_str())) {
          err("the serial port " + o_.port + " is not available");
          // Who owns it, who holds it, and the fix, as the window says it.
          comm::doctor::report(status_, comm::doctor::diagnosePortAccess(o_.port),
                               comm::doctor::Box::Never);
          return false;
        }
        sensor_ = std::make_unique<comm::SensorSession>(host_, stats_, status_);
        watchStop();
        port = sensor_->commands().addPort(comm::PortType::Serial, o_.port, -1);
      }
    } catch (const comm::ZervDComExc& exc) {
      err(std::string("the communication library failed: ") + exc.what());
      return false;
    }
    if (!port) return false;
    sensor_->connectPort(0);
    return sensor_->connected() && !host_.portMenuReset && !host_.fatal &&
           host_.state.commState == CommState::Streaming;
  }

  bool lost() const {
    return host_.fatal || host_.portMenuReset || !sensor_->connected() ||
           !sensor_->commands().sensorInfo().interrogated;
  }

  // displayTimer's log part.
  bool displayTick() {
    if (host_.state.commState != CommState::Streaming || !session_.active()) return true;
    const core::LogTickResult r =
        session_.tick(o_.log, host_.state, core::logSnapshot(host_.state), core::LogDateTime::now(),
                      core::regionalDateOrder());
    if (r.badLimit) err(r.badLimit->message);
    if (r.error) {
      clearStatus();
      err("Logging Error!: Error during logging.  Log file deactivated. (" + r.error->message +
          ")");
      return false;
    }
    if (r.wrote) ++written_;
    return true;
  }

  void showStatus() {
    if (!io_.statusLine) return;
    const core::LogSnapshot snap = core::logSnapshot(host_.state);
    const core::TriggerValues v = core::logTriggerValues(host_.state, snap);
    std::string next = "-";
    if (core::eventUsesSampleTime(o_.log.event)) {
      const auto& t = session_.triggers();
      const int ticks = std::max(0, t.intervalTicks() - t.tickCount());
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f s", ticks * 0.5);
      next = buf;
    }
    std::fprintf(stderr, "\rrecords %ld  forward %.4f W  reflected %.4f W  next sample %s\x1b[K",
                 written_, v.forwardW, v.reflectedW, next.c_str());
    std::fflush(stderr);
    statusShown_ = true;
  }

  void clearStatus() {
    if (!statusShown_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    statusShown_ = false;
  }

  // Every step of a sequence looks (without waiting) for a stop request.
  void watchStop() {
    sensor_->commands().setStopCheck([this] {
      if (!stopped_ && waitUntil(Clock::now())) stopped_ = true;
      return stopped_;
    });
  }

  void stopRequested() {
    stopped_ = true;
    if (sensor_) sensor_->endRun();
  }

  // Waits for the earliest deadline or a stop request, answering remote
  // clients meanwhile; true when stopped.
  bool waitUntil(Clock::time_point due) {
    for (;;) {
      // Rounded up: a wait cut short of the deadline would spin on zero-time
      // polls for the rest of the millisecond.
      const auto left = std::chrono::ceil<milliseconds>(due - Clock::now()).count();
      pollfd p[2] = {{io_.stopFd, POLLIN, 0}, {server_.fd(), POLLIN, 0}};
      const int timeout = static_cast<int>(std::max<long long>(0, left));
      const int n = ::poll(p, 2, timeout);
      if (n > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return true;
      if (n > 0 && (p[1].revents & POLLIN) != 0) {
        server_.service();
        if (Clock::now() < due) continue;
      }
      return false;
    }
  }

  ExitCode loop() {
    const auto start = Clock::now();
    auto nextRead = start + milliseconds(600);
    auto nextPoll = start + milliseconds(500);
    auto nextLogTick = start + milliseconds(500);
    auto nextDisplay = start + milliseconds(250);
    const auto end = o_.seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(*o_.seconds))
                                : Clock::time_point::max();
    host_.readData = host_.dataPoll = true;
    for (;;) {
      if (lost()) return fail("the sensor on " + o_.port + " was lost");
      if (o_.records && written_ >= *o_.records) break;
      const auto due = std::min({nextRead, nextPoll, nextLogTick, nextDisplay, end});
      if (waitUntil(due)) break;  // a signal: the record in progress is whole
      const auto now = Clock::now();
      if (now >= end) break;
      if (now >= nextLogTick) {
        session_.sampleTick();
        nextLogTick += milliseconds(500);
      }
      if (now >= nextRead) {
        if (host_.readData) sensor_->readSensorData();
        nextRead = std::max(nextRead + milliseconds(600), Clock::now());
      }
      if (lost()) return fail("the sensor on " + o_.port + " was lost");
      if (now >= nextPoll) {
        if (host_.dataPoll) sensor_->supervise();
        nextPoll = std::max(nextPoll + milliseconds(500), Clock::now());
      }
      if (now >= nextDisplay) {
        // Logging starts with the first reading, so no record shows the
        // empty values from before it.
        const bool haveReading = sensor_->acceptedReadings() > 0;
        if (logging() && haveReading && !session_.active() && !session_.chosen())
          return fail("logging was stopped");
        if (logging() && haveReading && !session_.active()) {
          if (const core::LogFileResult r = session_.activate(); !r)
            return fail("the log file could not be opened: " + r.message);
        }
        if (!displayTick()) return ExitCode::Failed;
        engine_.tick(core::steadyNowMs());
        if (zeroCalDue() && !sensor_->readZeroCalResult())
          return fail(
              "Calibration Error: the zero calibration got no valid reply; the sensor's "
              "calibration values may be corrupt (remove its power and apply it again to "
              "restore them)");
        showStatus();
        nextDisplay = std::max(nextDisplay + milliseconds(250), Clock::now());
      }
    }
    clearStatus();
    return ExitCode::Done;
  }

  const LoggerOptions& o_;
  const RunIo& io_;
  HeadlessHost host_;
  comm::MemoryStatsGrid grid_;
  comm::TKS7730Stats stats_{&grid_};
  comm::MemoryStatusMemo memo_;
  comm::AppStatus status_{&memo_};
  std::unique_ptr<comm::SensorSession> sensor_;
  comm::ZervDComDLL::DeviceHandle devMngr_ = comm::ZervDComDLL::INVALID_DEV_COMM_HANDLE;
  core::LogSession session_;
  scpi::Engine engine_{*this};
  scpi::TcpServer server_{engine_};
  std::uint64_t sequence_ = 0;
  std::string readingTime_;
  std::int64_t zeroCalStartedMs_ = 0;
  long written_ = 0;
  bool statusShown_ = false;
  bool stopped_ = false;
  bool reported_ = false;
};

}  // namespace

ExitCode runLogger(const LoggerOptions& options, const RunIo& io) {
  StderrBoxes boxes;
  ui::setMessageBoxes(&boxes);
  // The connection's status lines go to the connection log, as the window's do.
  comm::ComTestLog::openDefault();
  ui::setDelayFunction({});  // real sleeps
  ExitCode rc;
  {
    Run run(options, io);
    rc = run.run();
  }
  ui::setDelayFunction({});
  comm::ZervDComDLL::unload();
  comm::ComTestLog::close();
  ui::setMessageBoxes(nullptr);
  return rc;
}

}  // namespace zrq::logger
