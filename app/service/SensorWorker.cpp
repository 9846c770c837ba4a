#include "SensorWorker.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "AppStatus.h"
#include "HeadlessHost.h"
#include "PortCandidates.h"
#include "SensorSession.h"
#include "USB/TKS7730Stats.h"
#include "core/LogFile.h"
#include "core/LogFormat.h"
#include "core/LogRecord.h"
#include "core/LogSession.h"
#include "remote/RemoteValues.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

namespace zrq::service {

using core::CommState;

namespace {

constexpr std::int64_t kReadPeriodMs = 250;  // a sensor line period is 100 ms: 2 or 3 a look
constexpr std::int64_t kSupervisePeriodMs = 500;
constexpr std::int64_t kFirstRetryMs = 1000;
constexpr std::int64_t kLongestRetryMs = 30000;

// "/var/log/zrq/tx1.csv" on 9 Dec 2026: "/var/log/zrq/tx1-2026-12-09.csv".
std::string dailyPath(const std::string& path, const core::LogDateTime& d) {
  const std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  char day[16];
  std::snprintf(day, sizeof day, "-%04d-%02d-%02d", d.year, d.month, d.day);
  return path.substr(0, dot) + day + path.substr(dot);
}

}  // namespace

class WorkerRun {
 public:
  explicit WorkerRun(SensorWorker& w) : w_(w), order_(core::regionalDateOrder()) {
    host_.state.measType = w.config_.type;
    host_.state.offsetDb = w.config_.offsetDb;
    host_.state.ccdfLimit = w.config_.ccdfLimitW;
    host_.state.filterHz = w.config_.filterHz;
    host_.state.fwdUnit = w.config_.unitDbm ? core::PowerUnit::dBm : core::PowerUnit::AutoW;
    alarms_.setLimits(w.config_.alarms);
    host_.onReading = [this] { readingAccepted(); };
    host_.onZeroCalEnd = [this](bool ok, const std::string& why) { zeroCalibrationEnded(ok, why); };
    std::lock_guard<std::mutex> lock(w_.statusMutex_);
    w_.view_.settings = remote::settingsOf(host_.state);
  }

  // The sequences' waits on this thread end early when the service stops.
  void delay(int ms) {
    if (waitMs(ms)) stopRequested();
  }
  void message(const std::string& text) { w_.sink_.message(w_.config_, text); }

  void run() {
    std::int64_t retryMs = kFirstRetryMs;
    while (!stopped_) {
      setState("connecting");
      if (connect()) {
        retryMs = kFirstRetryMs;
        {
          std::lock_guard<std::mutex> lock(w_.statusMutex_);
          ++w_.status_.connects;
          w_.status_.serial = serial();
          w_.status_.lastError.clear();
          w_.view_.identity.serial = serial();
          const std::string& fw = sensor_->commands().sensorInfo().firmwareVersion;
          w_.view_.identity.firmware = fw.empty() ? "0" : fw;
          w_.view_.streaming = true;
        }
        setState("streaming");
        w_.sink_.started(w_.config_, serial());
        stream();
      }
      {
        std::lock_guard<std::mutex> lock(w_.statusMutex_);
        w_.view_.streaming = false;
      }
      closeSensor();
      if (stopped_) break;
      setState("lost");
      if (waitMs(static_cast<int>(retryMs))) break;
      retryMs = std::min(retryMs * 2, kLongestRetryMs);
    }
    file_.close();
    setState("stopped");
  }

 private:
  void setState(const char* s) {
    std::lock_guard<std::mutex> lock(w_.statusMutex_);
    w_.status_.state = s;
  }
  void setError(const std::string& text) {
    {
      std::lock_guard<std::mutex> lock(w_.statusMutex_);
      if (w_.status_.lastError == text) return;  // said once per cause
      w_.status_.lastError = text;
    }
    message(text);
  }

  // True once stopped.
  bool waitMs(int ms) {
    w_.heartbeatMs_.store(core::steadyNowMs());
    pollfd p{w_.stopFd_, POLLIN, 0};
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now())
              .count();
      const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left)));
      if (n > 0) return true;
      if (n == 0 || left <= 0) return false;
    }
  }

  void stopRequested() {
    stopped_ = true;
    if (sensor_) sensor_->endRun();
  }

  bool connect() {
    host_.portMenuReset = host_.fatal = false;
    host_.state.commState = CommState::NoConnection;
    const std::string& name = w_.config_.port;
    comm::DevComInterface* port = nullptr;
    try {
      if (const auto usb = comm::usbPortIndex(name)) {
        if (const std::string no = comm::findUsbSensor(devMngr_, *usb, name); !no.empty()) {
          setError(no);
          return false;
        }
        makeSession();
        sensor_->commands().setDevMngr(devMngr_);
        port = sensor_->commands().addPort(comm::PortType::USB, name, *usb);
      } else {
        const std::u16string wide = comm::toWide(name);
        if (!comm::ZervDComDLL::isSerialPortAvail(wide.c_str())) {
          setError("the serial port " + name + " is not available");
          return false;
        }
        makeSession();
        port = sensor_->commands().addPort(comm::PortType::Serial, name, -1);
      }
    } catch (const comm::ZervDComExc& exc) {
      setError(std::string("the communication library failed: ") + exc.what());
      return false;
    }
    if (!port) return false;
    sensor_->connectPort(0);
    const bool ok = sensor_->connected() && !host_.portMenuReset && !host_.fatal &&
                    host_.state.commState == CommState::Streaming;
    if (!ok && !stopped_) setError("the sensor on " + name + " did not start streaming");
    return ok;
  }

  void makeSession() {
    sensor_ = std::make_unique<comm::SensorSession>(host_, stats_, status_);
    sensor_->commands().setStopCheck([this] {
      if (!stopped_ && waitMs(0)) stopped_ = true;
      return stopped_;
    });
  }

  void closeSensor() { comm::closeHeadlessSensor(sensor_, devMngr_); }

  bool lost() const {
    return host_.fatal || host_.portMenuReset || !sensor_->connected() ||
           !sensor_->commands().sensorInfo().interrogated;
  }

  void stream() {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    auto nextRead = Clock::now() + milliseconds(kReadPeriodMs);
    auto nextPoll = Clock::now() + milliseconds(kSupervisePeriodMs);
    host_.readData = host_.dataPoll = true;
    while (!stopped_) {
      if (lost()) {
        setError("the sensor on " + w_.config_.port + " was lost");
        return;
      }
      const auto due = std::min(nextRead, nextPoll);
      if (waitMs(static_cast<int>(std::max<long long>(
              0, std::chrono::ceil<milliseconds>(due - Clock::now()).count())))) {
        stopRequested();
        return;
      }
      takeRemoteRequests();
      if (zeroCalDue() && !sensor_->readZeroCalResult())
        setError(
            "the zero calibration got no valid reply; the sensor's calibration values may be "
            "corrupt (remove its power and apply it again to restore them)");
      const auto now = Clock::now();
      if (now >= nextRead) {
        if (host_.readData) sensor_->readAllSensorData();
        nextRead = std::max(nextRead + milliseconds(kReadPeriodMs), Clock::now());
      }
      if (lost()) continue;
      if (now >= nextPoll) {
        if (host_.dataPoll) sensor_->supervise();
        nextPoll = std::max(nextPoll + milliseconds(kSupervisePeriodMs), Clock::now());
      }
    }
  }

  // Settings and a calibration asked for by remote control, as the panel
  // takes its own.
  void takeRemoteRequests() {
    std::optional<scpi::Settings> s;
    bool zero = false, ack = false;
    {
      std::lock_guard<std::mutex> lock(w_.statusMutex_);
      s.swap(w_.pendingSettings_);
      zero = std::exchange(w_.pendingZeroCal_, false);
      ack = std::exchange(w_.pendingAck_, false);
    }
    if (ack) acknowledgeAlarms();
    if (s) remote::applySettings(host_.state, *s);
    if (zero && host_.state.commState == CommState::Streaming && !host_.state.zeroCalRequested) {
      comm::beginZeroCalibration(host_.state);
      host_.dataPoll = false;
      zeroCalStartedMs_ = core::steadyNowMs();
    } else if (zero) {
      zeroCalibrationEnded(false, "no sensor streaming");
    }
  }

  // A latched alarm whose condition has gone clears: said like any clear, and
  // logged with the latest reading.
  void acknowledgeAlarms() {
    const std::vector<core::AlarmChange> changes = alarms_.acknowledge(core::steadyNowMs());
    if (changes.empty()) return;
    const std::string time = remote::isoLocalTime();
    writeRecord(eventsText(changes));
    for (const core::AlarmChange& c : changes)
      w_.sink_.alarm(w_.config_, serial(), c.limits, c.event, time);
  }

  static std::string eventsText(const std::vector<core::AlarmChange>& changes) {
    std::string events;
    for (const core::AlarmChange& c : changes) {
      if (!events.empty()) events += "; ";
      events += core::alarmEventText(c.limits, c.event);
    }
    return events;
  }

  // The sensor's verdict is read once its 40 s are over, as the panel does.
  bool zeroCalDue() const {
    return zeroCalStartedMs_ > 0 && host_.state.commState == CommState::ZeroCal &&
           core::steadyNowMs() - zeroCalStartedMs_ >= kZeroCalMs;
  }

  void zeroCalibrationEnded(bool ok, const std::string& why) {
    zeroCalStartedMs_ = 0;
    if (!ok) message("zero calibration failed: " + why);
    {
      std::lock_guard<std::mutex> lock(w_.statusMutex_);
      w_.view_.calibrating = false;
      ++w_.view_.calibrationsEnded;
      w_.view_.calibrationOk = ok;
      w_.view_.calibrationWhy = remote::oneLine(why);
    }
    if (w_.notify_) w_.notify_();
  }

  std::string serial() const {
    return host_.state.sensorSerial.empty() ? w_.config_.label : host_.state.sensorSerial;
  }

  void readingAccepted() {
    const std::string time = remote::isoLocalTime();
    const scpi::Reading r = remote::readingOf(host_.state, ++sequence_, time);
    const std::int64_t nowMs = core::steadyNowMs();
    const std::vector<core::AlarmChange> changes = alarms_.update(remote::quantityValues(r), nowMs);
    // The reading that moved an alarm carries the event in its record.
    const bool logged = writeRecord(eventsText(changes));
    for (const core::AlarmChange& c : changes)
      w_.sink_.alarm(w_.config_, serial(), c.limits, c.event, time);
    bool published = false;
    const int every = w_.config_.publishIntervalMs;
    if (every == 0 || lastPublishMs_ == 0 || nowMs - lastPublishMs_ >= every) {
      published = w_.sink_.reading(w_.config_, serial(), r);
      lastPublishMs_ = nowMs;
    }
    {
      std::lock_guard<std::mutex> lock(w_.statusMutex_);
      ++w_.status_.readings;
      if (logged) ++w_.status_.records;
      if (published) ++w_.status_.published;
      w_.status_.lastReadingMs = nowMs;
      w_.view_.latest = r;
      ++w_.view_.readings;
      // Not over settings a script has just made and the worker not yet taken.
      if (!w_.pendingSettings_ && !w_.view_.calibrating)
        w_.view_.settings = remote::settingsOf(host_.state);
    }
    if (w_.notify_) w_.notify_();
  }

  // One record per reading, in the day's file; a file that cannot be written
  // is said once and tried again with the next reading.
  bool writeRecord(const std::string& events) {
    if (w_.config_.log.empty()) return false;
    const core::LogDateTime now = core::LogDateTime::now();
    const std::string path = dailyPath(w_.config_.log, now);
    if (file_.isOpen() && file_.path() != path) file_.close();
    if (!file_.isOpen()) {
      if (const core::LogFileResult r = file_.open(path); !r) {
        setError("the log cannot be written: " + r.message);
        return false;
      }
    }
    const core::LogRecordInput in =
        core::logRecordInput(host_.state, core::logSnapshot(host_.state), now, order_);
    const std::string record =
        events.empty() ? core::buildLogRecord(in) : core::buildLogEventRecord(in, events);
    if (const core::LogFileResult r = file_.append(record); !r) {
      file_.close();
      setError("the log cannot be written: " + r.message);
      return false;
    }
    return true;
  }

  SensorWorker& w_;
  comm::HeadlessHost host_;
  comm::MemoryStatsGrid grid_;
  comm::TKS7730Stats stats_{&grid_};
  comm::MemoryStatusMemo memo_;
  comm::AppStatus status_{&memo_};
  std::unique_ptr<comm::SensorSession> sensor_;
  comm::ZervDComDLL::DeviceHandle devMngr_ = comm::ZervDComDLL::INVALID_DEV_COMM_HANDLE;
  core::LogFile file_;
  const core::DateOrder order_;
  core::AlarmSet alarms_;
  std::uint64_t sequence_ = 0;
  std::int64_t lastPublishMs_ = 0;
  std::int64_t zeroCalStartedMs_ = 0;
  static constexpr std::int64_t kZeroCalMs = 40000;
  bool stopped_ = false;
};

namespace {

thread_local WorkerRun* currentRun = nullptr;

// The connection side's boxes, said through the worker of the calling thread.
class ServiceBoxes : public ui::MessageBoxes {
 public:
  ui::MsgResult show(const ui::MsgRequest& r) override {
    const std::string text = r.caption + ": " + remote::oneLine(r.text);
    if (currentRun)
      currentRun->message(text);
    else
      std::fprintf(stderr, "zrqd: %s\n", text.c_str());
    return r.buttons == ui::MsgButtons::YesNo || r.buttons == ui::MsgButtons::YesNoCancel
               ? ui::MsgResult::Yes
               : ui::MsgResult::Ok;
  }
};

}  // namespace

void installWorkerHooks() {
  static ServiceBoxes boxes;
  ui::setMessageBoxes(&boxes);
  ui::setDelayFunction([](int ms) {
    if (currentRun)
      currentRun->delay(ms);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  });
}

SensorWorker::SensorWorker(SensorConfig config, ReadingSink& sink)
    : config_(std::move(config)), sink_(sink) {
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  status_.label = config_.label;
  status_.port = config_.port;
}

SensorWorker::~SensorWorker() {
  stop();
  if (stopFd_ >= 0) ::close(stopFd_);
}

void SensorWorker::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { threadMain(); });
}

void SensorWorker::requestStop() {
  const std::uint64_t one = 1;
  if (::write(stopFd_, &one, sizeof one) < 0) {
    // An eventfd write fails only on overflow: it is readable already.
  }
}

void SensorWorker::stop() {
  if (!thread_.joinable()) return;
  requestStop();
  thread_.join();
}

RemoteView SensorWorker::remoteView() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return view_;
}

void SensorWorker::applySettings(const scpi::Settings& s) {
  std::lock_guard<std::mutex> lock(statusMutex_);
  pendingSettings_ = s;
  view_.settings = s;
}

void SensorWorker::requestAcknowledge() {
  std::lock_guard<std::mutex> lock(statusMutex_);
  pendingAck_ = true;
}

bool SensorWorker::requestZeroCalibration(std::string* why) {
  std::lock_guard<std::mutex> lock(statusMutex_);
  if (const std::string no = remote::zeroCalibrationRefusal(view_.calibrating, view_.streaming);
      !no.empty()) {
    if (why) *why = no;
    return false;
  }
  pendingZeroCal_ = true;
  view_.calibrating = true;
  return true;
}

SensorStatus SensorWorker::status() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return status_;
}

void SensorWorker::threadMain() {
  // Named for top -H and the profilers.
  pthread_setname_np(pthread_self(), "zrqd sensor");
  WorkerRun run(*this);
  currentRun = &run;
  run.run();
  currentRun = nullptr;
}

}  // namespace zrq::service
