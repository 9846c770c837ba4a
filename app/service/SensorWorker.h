// One sensor of the service on its own thread: connected, started and
// supervised by the same session the window uses, every data line the sensor
// sends handled (none purged), each accepted reading logged, published and
// checked against the alarms. A sensor that cannot be reached or is lost is
// tried again with back-off; nothing here waits on another sensor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ServiceConfig.h"
#include "ZervDComDLL.h"
#include "core/Alarm.h"
#include "scpi/Instrument.h"

namespace zrq::service {

class WorkerRun;

struct SensorStatus {
  std::string label, port, serial;
  std::string state = "starting";  // starting, connecting, streaming, zero calibration, lost
  std::int64_t readings = 0;       // accepted data lines
  std::int64_t records = 0;        // CSV records written
  std::int64_t published = 0;      // readings handed to the broker
  std::int64_t connects = 0;       // successful connections (1 + reconnects)
  std::int64_t lastReadingMs = 0;  // steady clock; 0: none yet
  std::string lastError;
};

// What a worker hands on; called on the worker's thread, so thread-safe.
class ReadingSink {
 public:
  virtual ~ReadingSink() = default;
  virtual bool reading(const SensorConfig& sensor, const std::string& serial,
                       const scpi::Reading& r) = 0;
  virtual void alarm(const SensorConfig& sensor, const std::string& serial,
                     const core::AlarmLimits& limits, const core::AlarmEvent& e,
                     const std::string& time) = 0;
  // The sensor streams (again); its serial number is known.
  virtual void started(const SensorConfig& sensor, const std::string& serial) = 0;
  virtual void message(const SensorConfig& sensor, const std::string& text) = 0;
};

// Once, before the first worker starts: the connection sequences' waits and
// boxes, routed to the worker of the calling thread.
void installWorkerHooks();

// What remote control sees of a sensor and asks of it, kept by the worker
// and read or written by the thread that serves the clients.
struct RemoteView {
  scpi::Identity identity;
  bool streaming = false;
  std::optional<scpi::Reading> latest;
  std::uint64_t readings = 0;  // accepted readings so far
  scpi::Settings settings;
  bool calibrating = false;
  // The last calibration's end: its count, verdict and why.
  std::uint64_t calibrationsEnded = 0;
  bool calibrationOk = true;
  std::string calibrationWhy;
};

class SensorWorker {
 public:
  SensorWorker(SensorConfig config, ReadingSink& sink);
  ~SensorWorker();
  SensorWorker(const SensorWorker&) = delete;
  SensorWorker& operator=(const SensorWorker&) = delete;

  void start();
  // Asks the thread to stop without waiting for it (the destructor waits).
  void requestStop();
  // Stops after the reading in progress: the stream is stopped and the port closed.
  void stop();

  const SensorConfig& config() const { return config_; }
  SensorStatus status() const;

  // ---- Remote control, from any thread ----
  RemoteView remoteView() const;
  // Taken over at the worker's next turn; the view shows them at once.
  void applySettings(const scpi::Settings& s);
  // False with the reason when no calibration can start now.
  bool requestZeroCalibration(std::string* why);
  // The alarms acknowledged at the worker's next turn.
  void requestAcknowledge();
  // Called (on the worker's thread) after each accepted reading and at the end
  // of a calibration; set before start().
  void setRemoteNotify(std::function<void()> fn) { notify_ = std::move(fn); }
  // Steady-clock time the thread last went round its loop (the watchdog's look).
  std::int64_t heartbeatMs() const { return heartbeatMs_.load(); }

 private:
  void threadMain();

  const SensorConfig config_;
  ReadingSink& sink_;
  int stopFd_ = -1;  // eventfd: readable once stop() was called
  std::thread thread_;
  std::atomic<std::int64_t> heartbeatMs_{0};
  mutable std::mutex statusMutex_;
  SensorStatus status_;
  RemoteView view_;
  std::optional<scpi::Settings> pendingSettings_;
  bool pendingZeroCal_ = false;
  bool pendingAck_ = false;
  std::function<void()> notify_;
  friend class WorkerRun;
};

}  // namespace zrq::service
