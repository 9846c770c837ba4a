// zrqd's configuration file (TOML): the broker, the remote-control port and
// the sensors with their settings, logs and alarms. Parsed without side
// effects; every refusal names the file, the line and the key.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Alarm.h"
#include "core/MeasType.h"
#include "remote/RemoteValues.h"

namespace zrq::service {

// The Comm menu's name for "every USB sensor attached when the service starts".
inline constexpr std::string_view kEveryUsbSensor = "7730USB*";

struct MqttConfig {
  bool enabled = false;  // an [mqtt] table is present
  std::string host = "127.0.0.1";
  int port = 1883;
  bool tls = false;      // mqtts://
  std::string base;      // default zrq/<hostname>
  std::string clientId;  // default zrqd-<hostname>
  std::string username, password;
  std::string caFile, certFile, keyFile;
  int keepAliveS = 30;
  bool homeAssistant = false;  // discovery messages
  std::string discoveryPrefix = "homeassistant";
  int queueLimit = 1000;  // alarm messages kept while the broker is away
};

struct SensorConfig {
  std::string port;   // as the Comm menu names it, a device path, or kEveryUsbSensor
  std::string label;  // default: the port's name
  std::string log;    // CSV log, a new file per day; empty: none
  core::MeasType type = core::MeasType::Average;
  float offsetDb = 0;
  float ccdfLimitW = 50;
  float filterHz = 4500;
  bool unitDbm = false;       // the forward unit the log and the panel values use
  int publishIntervalMs = 0;  // 0: every reading
  std::vector<core::AlarmLimits> alarms;
  int line = 0;  // where the sensor's table starts
};

struct ServiceConfig {
  std::string file;
  MqttConfig mqtt;
  std::optional<remote::ListenAddress> scpi;
  std::vector<SensorConfig> sensors;
};

struct ConfigResult {
  std::optional<ServiceConfig> config;
  std::string error;  // FILE:LINE: KEY: why
};

ConfigResult parseServiceConfig(std::string_view text, const std::string& fileName);
ConfigResult loadServiceConfig(const std::string& fileName);

// Defaults that depend on the machine: the topic base and the client id.
void applyHostDefaults(ServiceConfig& config, const std::string& hostname);

}  // namespace zrq::service
