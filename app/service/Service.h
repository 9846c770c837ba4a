// zrqd's sensors and broker: one worker per configured sensor, every reading
// published under <base>/<serial>/..., a status file for `zrqd --status`, and
// the configuration read again on request without touching sensors whose
// settings did not change.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Mqtt.h"
#include "SensorWorker.h"
#include "ServiceConfig.h"
#include "scpi/Engine.h"
#include "scpi/TcpServer.h"

namespace zrq::service {

// Readings as published: one plain number per quantity topic, and the JSON
// object of the reading topic.
std::string formatNumber(double v);
std::string readingJson(const std::string& serial, const std::string& label,
                        const scpi::Reading& r);
std::string alarmJson(const std::string& serial, const std::string& label,
                      const core::AlarmLimits& limits, const core::AlarmEvent& e,
                      const std::string& time);

// "7730USB*" becomes one sensor per attached USB sensor (7730USB1..count).
std::vector<SensorConfig> expandSensors(const std::vector<SensorConfig>& sensors, int usbCount);

class ChannelInstrument;

class Service : public ReadingSink {
 public:
  explicit Service(ServiceConfig config);
  ~Service() override;

  // False with the reason when the broker client cannot be set up.
  bool start(std::string* why);
  // The workers stop; their last status stays readable.
  void stop();
  // Sensors added, removed or changed are started or stopped; the others run on.
  void reload(ServiceConfig config);

  // Every worker went round its loop since `sinceMs` (steady clock).
  bool healthy(std::int64_t sinceMs) const;
  std::vector<SensorStatus> status() const;
  std::string statusText() const;
  // Acknowledges the alarms of the sensor whose topic level (serial number,
  // or label before the serial is known) this is; from any thread. The
  // number of sensors reached.
  int acknowledgeAlarms(const std::string& level);

  // ---- Remote control ([scpi] in the configuration), on the main thread ----
  // The listening address ("" when not serving).
  std::string remoteAddress() const;
  // To poll: the server, and the workers' wake-up for readings and
  // calibrations (-1 when not serving).
  int remoteFd() const { return server_ ? server_->fd() : -1; }
  int notifyFd() const { return notifyFd_; }
  void serviceRemote();
  void remoteNotified();
  void tickRemote(std::int64_t nowMs);

  // ReadingSink, on the workers' threads.
  bool reading(const SensorConfig& sensor, const std::string& serial,
               const scpi::Reading& r) override;
  void alarm(const SensorConfig& sensor, const std::string& serial, const core::AlarmLimits& limits,
             const core::AlarmEvent& e, const std::string& time) override;
  void started(const SensorConfig& sensor, const std::string& serial) override;
  void message(const SensorConfig& sensor, const std::string& text) override;

 private:
  std::vector<SensorConfig> wanted(const ServiceConfig& c) const;
  bool startRemote(std::string* why);
  void startWorker(SensorConfig s);
  void discovery(const SensorConfig& sensor, const std::string& serial);

  const MqttConfig mqttConf_;  // the broker is chosen at start only
  ServiceConfig config_;
  std::unique_ptr<MqttPublisher> mqtt_;
  std::vector<std::unique_ptr<SensorWorker>> workers_;
  // Changes of workers_ against the broker's thread looking a sensor up.
  std::mutex workersMutex_;
  std::mutex outMutex_;
  // Remote control: a channel per worker, in the workers' order.
  std::vector<std::unique_ptr<ChannelInstrument>> channels_;
  std::unique_ptr<scpi::Engine> engine_;
  std::unique_ptr<scpi::TcpServer> server_;
  int notifyFd_ = -1;
  int remotePort_ = 0;
  std::atomic<bool> remoteClients_{false};
};

bool sameSensor(const SensorConfig& a, const SensorConfig& b);

}  // namespace zrq::service
