#include "Service.h"

#include <charconv>
#include <cstdio>
#include <sstream>

#include <sys/eventfd.h>
#include <unistd.h>

#include "core/InstrumentState.h"
#include "remote/RemoteValues.h"

namespace zrq::service {

namespace {

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* functionName(scpi::Function f) {
  switch (f) {
    case scpi::Function::Average:
      return "average";
    case scpi::Function::Peak:
      return "peak";
    case scpi::Function::Burst:
      return "burst";
    case scpi::Function::Crest:
      return "crest";
    case scpi::Function::Ccdf:
      return "ccdf";
  }
  return "average";
}

// The topic level a serial number or label becomes: no wildcards, no levels.
std::string topicLevel(std::string s) {
  for (char& c : s)
    if (c == '/' || c == '+' || c == '#') c = '_';
  return s.empty() ? "_" : s;
}

}  // namespace

std::string formatNumber(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string readingJson(const std::string& serial, const std::string& label,
                        const scpi::Reading& r) {
  const core::QuantityValues v = remote::quantityValues(r);
  std::string out = "{\"time\":" + jsonString(r.time) + ",\"serial\":" + jsonString(serial) +
                    ",\"label\":" + jsonString(label) +
                    ",\"sequence\":" + std::to_string(r.sequence) + ",\"function\":\"" +
                    functionName(r.function) + "\"";
  std::string units = ",\"units\":{\"temperature_c\":\"degC\"";
  for (int i = 0; i < core::kAlarmQuantityCount; ++i) {
    const auto q = static_cast<core::AlarmQuantity>(i);
    if (!v[static_cast<std::size_t>(i)]) continue;
    const std::string name(core::alarmQuantityName(q));
    out += ",\"" + name + "\":" + formatNumber(*v[static_cast<std::size_t>(i)]);
    units += ",\"" + name + "\":\"" + std::string(core::alarmQuantityUnit(q)) + "\"";
  }
  // The sensor reports it in single precision; more digits would be noise.
  char t[32];
  const auto end = std::to_chars(t, t + sizeof t, static_cast<float>(r.temperatureC)).ptr;
  out += ",\"temperature_c\":" + std::string(t, end);
  return out + units + "}}";
}

std::string alarmJson(const std::string& serial, const std::string& label,
                      const core::AlarmLimits& limits, const core::AlarmEvent& e,
                      const std::string& time) {
  std::string out = "{\"time\":" + jsonString(time) + ",\"serial\":" + jsonString(serial) +
                    ",\"label\":" + jsonString(label) + ",\"quantity\":\"" +
                    std::string(core::alarmQuantityName(limits.quantity)) + "\",\"state\":\"" +
                    (e.raised ? "raised" : "cleared") + "\",\"limit\":\"" +
                    (e.side == core::AlarmSide::Upper ? "upper" : "lower") +
                    "\",\"value\":" + formatNumber(e.value);
  if (limits.upper) out += ",\"upper\":" + formatNumber(*limits.upper);
  if (limits.lower) out += ",\"lower\":" + formatNumber(*limits.lower);
  return out + "}";
}

std::vector<SensorConfig> expandSensors(const std::vector<SensorConfig>& sensors, int usbCount) {
  std::vector<SensorConfig> out;
  for (const SensorConfig& s : sensors) {
    if (s.port != kEveryUsbSensor) {
      out.push_back(s);
      continue;
    }
    for (int i = 1; i <= usbCount; ++i) {
      SensorConfig one = s;
      one.port = "7730USB" + std::to_string(i);
      one.label = s.label == s.port ? one.port : s.label + "-" + std::to_string(i);
      if (!s.log.empty()) {
        const std::size_t slash = s.log.rfind('/');
        std::size_t dot = s.log.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
          dot = s.log.size();
        one.log = s.log.substr(0, dot) + "-" + one.port + s.log.substr(dot);
      }
      bool taken = false;  // a sensor configured by name keeps its own table
      for (const SensorConfig& o : sensors) taken = taken || o.port == one.port;
      if (!taken) out.push_back(std::move(one));
    }
  }
  return out;
}

bool sameSensor(const SensorConfig& a, const SensorConfig& b) {
  return a.alarms == b.alarms && a.port == b.port && a.label == b.label && a.log == b.log &&
         a.type == b.type && a.offsetDb == b.offsetDb && a.ccdfLimitW == b.ccdfLimitW &&
         a.filterHz == b.filterHz && a.unitDbm == b.unitDbm &&
         a.publishIntervalMs == b.publishIntervalMs;
}

// One sensor as remote control sees it: the worker's view, read and asked
// through the worker's lock, on the thread that serves the clients.
class ChannelInstrument : public scpi::Instrument {
 public:
  explicit ChannelInstrument(SensorWorker& w) : w_(w) {}
  scpi::Identity identity() const override { return w_.remoteView().identity; }
  bool streaming() const override { return w_.remoteView().streaming; }
  std::optional<scpi::Reading> latest() const override { return w_.remoteView().latest; }
  scpi::Settings settings() const override { return w_.remoteView().settings; }
  void apply(const scpi::Settings& s) override { w_.applySettings(s); }
  std::string conflict(const scpi::Settings&) const override {
    return w_.remoteView().calibrating ? "a zero calibration is running" : std::string();
  }
  bool startZeroCalibration(std::string* why) override { return w_.requestZeroCalibration(why); }
  bool zeroCalibrationRunning() const override { return w_.remoteView().calibrating; }
  std::string label() const override { return w_.config().label; }

  std::uint64_t seenReadings = 0, seenCalibrations = 0;

 private:
  SensorWorker& w_;
};

Service::Service(ServiceConfig config) : mqttConf_(config.mqtt), config_(std::move(config)) {}

Service::~Service() {
  stop();
  if (notifyFd_ >= 0) ::close(notifyFd_);
}

void Service::startWorker(SensorConfig s) {
  {
    std::lock_guard<std::mutex> lock(workersMutex_);
    workers_.push_back(std::make_unique<SensorWorker>(std::move(s), *this));
  }
  if (notifyFd_ >= 0)
    workers_.back()->setRemoteNotify([this, fd = notifyFd_] {
      // Without a client nobody waits for it; the next client sees the latest.
      if (!remoteClients_.load()) return;
      const std::uint64_t one = 1;
      if (::write(fd, &one, sizeof one) < 0) {
        // Only on overflow, when it is readable anyway.
      }
    });
  workers_.back()->start();
}

bool Service::startRemote(std::string* why) {
  server_.reset();
  engine_.reset();
  channels_.clear();
  remoteClients_.store(false);
  if (!config_.scpi) return true;
  std::vector<scpi::Instrument*> list;
  for (auto& w : workers_) {
    channels_.push_back(std::make_unique<ChannelInstrument>(*w));
    list.push_back(channels_.back().get());
  }
  if (list.empty()) return true;  // nothing to serve
  engine_ = std::make_unique<scpi::Engine>(std::move(list));
  server_ = std::make_unique<scpi::TcpServer>(*engine_);
  server_->setClientCountChanged([this](std::size_t n) { remoteClients_.store(n > 0); });
  // Once a port is chosen it stays, across configuration reloads.
  const int port = remotePort_ ? remotePort_ : config_.scpi->port;
  if (!server_->listen(config_.scpi->host, port, why)) {
    server_.reset();
    engine_.reset();
    return false;
  }
  remotePort_ = server_->port();
  return true;
}

std::string Service::remoteAddress() const {
  if (!server_ || !config_.scpi) return {};
  return config_.scpi->host + ":" + std::to_string(server_->port());
}

void Service::serviceRemote() {
  if (server_) server_->service();
}

void Service::remoteNotified() {
  std::uint64_t n = 0;
  if (notifyFd_ >= 0 && ::read(notifyFd_, &n, sizeof n) < 0) {
    // Nothing pending: a spurious wake-up.
  }
  if (!engine_) return;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    ChannelInstrument& ch = *channels_[i];
    const RemoteView v = workers_[i]->remoteView();
    if (v.calibrationsEnded != ch.seenCalibrations) {
      ch.seenCalibrations = v.calibrationsEnded;
      engine_->zeroCalibrationEnded(v.calibrationOk, v.calibrationWhy, i);
    }
    if (v.readings != ch.seenReadings) {
      ch.seenReadings = v.readings;
      engine_->readingAccepted(i);
    }
  }
}

void Service::tickRemote(std::int64_t nowMs) {
  if (engine_) engine_->tick(nowMs);
}

std::vector<SensorConfig> Service::wanted(const ServiceConfig& c) const {
  int usbCount = 0;
  bool every = false;
  for (const SensorConfig& s : c.sensors) every = every || s.port == kEveryUsbSensor;
  if (every) {
    comm::ZervDComDLL::DeviceHandle m = comm::ZervDComDLL::INVALID_DEV_COMM_HANDLE;
    try {
      if (!comm::ZervDComDLL::createTKS7730USBDevMngr(&m) ||
          !comm::ZervDComDLL::buildTKS7730USBDevList(m, &usbCount))
        usbCount = 0;
      if (m != comm::ZervDComDLL::INVALID_DEV_COMM_HANDLE) comm::ZervDComDLL::close(m);
    } catch (const comm::ZervDComExc&) {
      usbCount = 0;
    }
  }
  return expandSensors(c.sensors, usbCount);
}

bool Service::start(std::string* why) {
  installWorkerHooks();
  try {
    // Loaded here, once, rather than by the first worker to need it.
    comm::ZervDComDLL::isSerialPortAvail(u"");
  } catch (const comm::ZervDComExc& exc) {
    if (why) *why = std::string("the communication library cannot be loaded: ") + exc.what();
    return false;
  }
  if (mqttConf_.enabled) {
    mqtt_ = std::make_unique<MqttPublisher>(mqttConf_);
    const std::string prefix = mqttConf_.base + "/", suffix = "/acknowledge";
    mqtt_->setCommands(prefix + "+" + suffix,
                       [this, prefix, suffix](const std::string& topic, const std::string&) {
                         if (topic.size() > prefix.size() + suffix.size())
                           acknowledgeAlarms(topic.substr(
                               prefix.size(), topic.size() - prefix.size() - suffix.size()));
                       });
    if (!mqtt_->start(why)) return false;
  }
  if (config_.scpi) notifyFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  for (SensorConfig& s : wanted(config_)) startWorker(std::move(s));
  if (!startRemote(why)) {
    if (why) *why = "remote control cannot start: " + *why;
    return false;
  }
  return true;
}

void Service::stop() {
  // Stopped together: each stops its stream while the others do the same.
  for (auto& w : workers_) w->requestStop();
  for (auto& w : workers_) w->stop();
  if (mqtt_) mqtt_->stop();
}

void Service::reload(ServiceConfig config) {
  std::vector<SensorConfig> want = wanted(config);
  std::vector<std::unique_ptr<SensorWorker>> keep;
  for (auto& w : workers_) {
    bool still = false;
    for (auto it = want.begin(); it != want.end(); ++it)
      if (sameSensor(w->config(), *it)) {
        want.erase(it);
        still = true;
        break;
      }
    if (still)
      keep.push_back(std::move(w));
    else
      w->requestStop();
  }
  const bool changed = !want.empty() || keep.size() != workers_.size();
  // The channels point at the workers: none may outlive its worker.
  if (changed) {
    server_.reset();
    engine_.reset();
    channels_.clear();
    remoteClients_.store(false);
  }
  std::vector<std::unique_ptr<SensorWorker>> ending;
  {
    std::lock_guard<std::mutex> lock(workersMutex_);
    ending.swap(workers_);
    workers_ = std::move(keep);
  }
  ending.clear();  // the changed and removed ones end here
  for (SensorConfig& s : want) startWorker(std::move(s));
  const MqttConfig& m = config.mqtt;
  if (m.enabled != mqttConf_.enabled || m.host != mqttConf_.host || m.port != mqttConf_.port ||
      m.tls != mqttConf_.tls || m.base != mqttConf_.base || m.clientId != mqttConf_.clientId ||
      m.username != mqttConf_.username || m.password != mqttConf_.password)
    std::fprintf(stderr, "zrqd: the [mqtt] table changed: restart zrqd to use it\n");
  // Where remote control listens is read at start only, like the broker.
  config.scpi = config_.scpi;
  config_ = std::move(config);
  if (changed && config_.scpi) {
    std::string why;
    if (!startRemote(&why))
      std::fprintf(stderr, "zrqd: remote control cannot start again: %s\n", why.c_str());
  }
}

int Service::acknowledgeAlarms(const std::string& level) {
  std::lock_guard<std::mutex> lock(workersMutex_);
  int reached = 0;
  for (auto& w : workers_) {
    const SensorStatus st = w->status();
    if (topicLevel(st.serial.empty() ? w->config().label : st.serial) != level) continue;
    w->requestAcknowledge();
    ++reached;
  }
  if (!reached)
    std::fprintf(stderr, "zrqd: no sensor %s to acknowledge alarms of\n", level.c_str());
  return reached;
}

bool Service::healthy(std::int64_t sinceMs) const {
  for (const auto& w : workers_)
    if (w->heartbeatMs() < sinceMs) return false;
  return true;
}

std::vector<SensorStatus> Service::status() const {
  std::vector<SensorStatus> out;
  for (const auto& w : workers_) out.push_back(w->status());
  return out;
}

std::string Service::statusText() const {
  const std::int64_t now = core::steadyNowMs();
  std::ostringstream out;
  out << "broker " << (!mqtt_ ? "none" : mqtt_->connected() ? "connected" : "disconnected");
  if (mqtt_) out << " " << mqttConf_.host << ":" << mqttConf_.port;
  if (mqtt_ && !mqtt_->connected() && !mqtt_->refusal().empty())
    out << " (refused: " << mqtt_->refusal() << ")";
  out << "\n";
  out << "label\tport\tserial\tstate\treadings\trecords\tpublished\tconnects\tlast "
         "reading\terror\n";
  for (const SensorStatus& s : status()) {
    out << s.label << '\t' << s.port << '\t' << (s.serial.empty() ? "-" : s.serial) << '\t'
        << s.state << '\t' << s.readings << '\t' << s.records << '\t' << s.published << '\t'
        << s.connects << '\t';
    if (s.lastReadingMs > 0) {
      char age[32];
      std::snprintf(age, sizeof age, "%.1f s ago", (now - s.lastReadingMs) / 1000.0);
      out << age;
    } else {
      out << "never";
    }
    out << '\t' << (s.lastError.empty() ? "-" : s.lastError) << "\n";
  }
  return out.str();
}

bool Service::reading(const SensorConfig& sensor, const std::string& serial,
                      const scpi::Reading& r) {
  if (!mqtt_) return false;
  const std::string base = mqttConf_.base + "/" + topicLevel(serial) + "/";
  const core::QuantityValues v = remote::quantityValues(r);
  bool ok = true;
  for (int i = 0; i < core::kAlarmQuantityCount; ++i)
    if (v[static_cast<std::size_t>(i)])
      ok = mqtt_->publish(
               base + std::string(core::alarmQuantityName(static_cast<core::AlarmQuantity>(i))),
               formatNumber(*v[static_cast<std::size_t>(i)])) &&
           ok;
  return mqtt_->publish(base + "reading", readingJson(serial, sensor.label, r)) && ok;
}

void Service::alarm(const SensorConfig& sensor, const std::string& serial,
                    const core::AlarmLimits& limits, const core::AlarmEvent& e,
                    const std::string& time) {
  message(sensor, std::string("alarm ") + (e.raised ? "raised" : "cleared") + ": " +
                      std::string(core::alarmQuantityName(limits.quantity)) + " " +
                      formatNumber(e.value));
  if (mqtt_)
    mqtt_->publishReliable(mqttConf_.base + "/" + topicLevel(serial) + "/alarm",
                           alarmJson(serial, sensor.label, limits, e, time));
}

void Service::started(const SensorConfig& sensor, const std::string& serial) {
  message(sensor, "streaming from " + sensor.port + ", serial " + serial);
  if (mqtt_ && mqttConf_.homeAssistant) discovery(sensor, serial);
}

void Service::discovery(const SensorConfig& sensor, const std::string& serial) {
  const std::string level = topicLevel(serial);
  for (int i = 0; i < core::kAlarmQuantityCount; ++i) {
    const auto q = static_cast<core::AlarmQuantity>(i);
    const std::string name(core::alarmQuantityName(q));
    const std::string unit(core::alarmQuantityUnit(q));
    std::string cfg = "{\"name\":" + jsonString(sensor.label + " " + name) +
                      ",\"unique_id\":" + jsonString("zrq_" + level + "_" + name) +
                      ",\"state_topic\":" + jsonString(mqttConf_.base + "/" + level + "/" + name) +
                      ",\"availability_topic\":" + jsonString(mqtt_->statusTopic()) +
                      ",\"state_class\":\"measurement\"";
    if (!unit.empty()) cfg += ",\"unit_of_measurement\":" + jsonString(unit);
    cfg += ",\"device\":{\"identifiers\":[" + jsonString("zrq_" + level) +
           "],\"name\":" + jsonString(sensor.label) + ",\"model\":\"TKS7730\"}}";
    mqtt_->publish(mqttConf_.discoveryPrefix + "/sensor/zrq_" + level + "_" + name + "/config", cfg,
                   true);
  }
}

void Service::message(const SensorConfig& sensor, const std::string& text) {
  std::lock_guard<std::mutex> lock(outMutex_);
  std::fprintf(stderr, "zrqd: %s: %s\n", sensor.label.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace zrq::service
