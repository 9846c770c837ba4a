// zrqd's sensors and broker: one worker per configured sensor, every reading
// published under <base>/<serial>/..., a status file for `zrqd --status`, and
// the configuration read again on request without touching sensors whose
// settings did not change.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Mqtt.h"
#include "SensorWorker.h"
#include "ServiceConfig.h"

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

  // ReadingSink, on the workers' threads.
  bool reading(const SensorConfig& sensor, const std::string& serial,
               const scpi::Reading& r) override;
  void alarm(const SensorConfig& sensor, const std::string& serial, const core::AlarmLimits& limits,
             const core::AlarmEvent& e, const std::string& time) override;
  void started(const SensorConfig& sensor, const std::string& serial) override;
  void message(const SensorConfig& sensor, const std::string& text) override;

 private:
  std::vector<SensorConfig> wanted(const ServiceConfig& c) const;
  void discovery(const SensorConfig& sensor, const std::string& serial);

  const MqttConfig mqttConf_;  // the broker is chosen at start only
  ServiceConfig config_;
  std::unique_ptr<MqttPublisher> mqtt_;
  std::vector<std::unique_ptr<SensorWorker>> workers_;
  std::mutex outMutex_;
};

bool sameSensor(const SensorConfig& a, const SensorConfig& b);

}  // namespace zrq::service
