#include "ServiceConfig.h"

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <toml++/toml.h>

namespace zrq::service {

namespace {

// A configuration file is a few kilobytes; more is a mistake.
constexpr std::size_t kMaxFileBytes = 1 << 20;

struct Refused {
  std::string text;
};

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void fail(const toml::node* at, const std::string& key,
                         const std::string& why) const {
    std::string where = file_;
    if (at && at->source().begin.line > 0) where += ":" + std::to_string(at->source().begin.line);
    throw Refused{where + ": " + key + ": " + why};
  }

  void onlyKeys(const toml::table& t, const std::string& path,
                std::initializer_list<std::string_view> keys) const {
    for (const auto& [k, v] : t) {
      bool known = false;
      for (std::string_view want : keys) known = known || k.str() == want;
      if (!known) fail(&v, join(path, std::string(k.str())), "unknown key");
    }
  }

  static std::string join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  std::optional<std::string> text(const toml::table& t, const std::string& path,
                                  std::string_view key) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_string()) fail(n, join(path, std::string(key)), "must be a string in quotes");
    return n->value<std::string>();
  }

  std::optional<double> number(const toml::table& t, const std::string& path, std::string_view key,
                               double min, double max) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_number()) fail(n, join(path, std::string(key)), "must be a number");
    const double v = *n->value<double>();
    if (!std::isfinite(v) || v < min || v > max) {
      std::ostringstream why;
      why << "must be from " << min << " to " << max;
      fail(n, join(path, std::string(key)), why.str());
    }
    return v;
  }

  std::optional<bool> flag(const toml::table& t, const std::string& path,
                           std::string_view key) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_boolean()) fail(n, join(path, std::string(key)), "must be true or false");
    return n->value<bool>();
  }

  const toml::table* table(const toml::table& t, const std::string& path,
                           std::string_view key) const {
    const toml::node* n = t.get(key);
    if (!n) return nullptr;
    if (!n->is_table()) fail(n, join(path, std::string(key)), "must be a table");
    return n->as_table();
  }

  void mqtt(const toml::table& t, MqttConfig& m) const {
    const std::string p = "mqtt";
    onlyKeys(t, p,
             {"url", "base", "client_id", "username", "password", "ca_file", "cert_file",
              "key_file", "keep_alive_s", "home_assistant", "discovery_prefix", "queue_limit"});
    m.enabled = true;
    if (auto url = text(t, p, "url")) parseUrl(*url, t.get("url"), m);
    if (auto v = text(t, p, "base")) {
      if (v->empty() || v->find_first_of("+#") != std::string::npos || v->back() == '/')
        fail(t.get("base"), "mqtt.base", "must be a topic without + or # and without a final /");
      m.base = *v;
    }
    if (auto v = text(t, p, "client_id")) m.clientId = *v;
    if (auto v = text(t, p, "username")) m.username = *v;
    if (auto v = text(t, p, "password")) m.password = *v;
    if (auto v = text(t, p, "ca_file")) m.caFile = *v;
    if (auto v = text(t, p, "cert_file")) m.certFile = *v;
    if (auto v = text(t, p, "key_file")) m.keyFile = *v;
    if (auto v = number(t, p, "keep_alive_s", 5, 3600)) m.keepAliveS = static_cast<int>(*v);
    if (auto v = flag(t, p, "home_assistant")) m.homeAssistant = *v;
    if (auto v = text(t, p, "discovery_prefix")) m.discoveryPrefix = *v;
    if (auto v = number(t, p, "queue_limit", 1, 100000)) m.queueLimit = static_cast<int>(*v);
    if (m.certFile.empty() != m.keyFile.empty())
      fail(&t, "mqtt", "cert_file and key_file go together");
  }

  void parseUrl(const std::string& url, const toml::node* at, MqttConfig& m) const {
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
      rest = url.substr(7);
      m.tls = false;
      m.port = 1883;
    } else if (url.rfind("mqtts://", 0) == 0) {
      rest = url.substr(8);
      m.tls = true;
      m.port = 8883;
    } else {
      fail(at, "mqtt.url", "must start with mqtt:// or mqtts://");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const std::size_t colon = rest.rfind(':');
    std::string host = rest.substr(0, colon);
    if (colon != std::string::npos) {
      const std::string port = rest.substr(colon + 1);
      char* end = nullptr;
      const long v = std::strtol(port.c_str(), &end, 10);
      if (port.empty() || *end != '\0' || v < 1 || v > 65535)
        fail(at, "mqtt.url", "the port must be 1 to 65535");
      m.port = static_cast<int>(v);
    }
    if (host.empty() || host.find_first_of("/@ ") != std::string::npos)
      fail(at, "mqtt.url", "must name a host: mqtt://HOST[:PORT]");
    m.host = host;
  }

  core::AlarmLimits alarm(const toml::table& t, const std::string& p) const {
    onlyKeys(t, p, {"quantity", "upper", "lower", "hysteresis", "hold_off_ms", "latching"});
    core::AlarmLimits a;
    const auto q = text(t, p, "quantity");
    if (!q) fail(&t, p + ".quantity", "is missing");
    const auto quantity = core::alarmQuantityFromName(*q);
    if (!quantity) {
      std::string names;
      for (int i = 0; i < core::kAlarmQuantityCount; ++i)
        names += std::string(i ? ", " : "") +
                 std::string(core::alarmQuantityName(static_cast<core::AlarmQuantity>(i)));
      fail(t.get("quantity"), p + ".quantity",
           "unknown quantity \"" + *q + "\" (one of " + names + ")");
    }
    a.quantity = *quantity;
    a.upper = number(t, p, "upper", -1e9, 1e9);
    a.lower = number(t, p, "lower", -1e9, 1e9);
    if (auto v = number(t, p, "hysteresis", 0, 1e9)) a.hysteresis = *v;
    if (auto v = number(t, p, "hold_off_ms", 0, 86400000))
      a.holdOffMs = static_cast<std::int64_t>(*v);
    if (auto v = flag(t, p, "latching")) a.latching = *v;
    if (const std::string why = a.problem(); !why.empty()) fail(&t, p, why);
    return a;
  }

  SensorConfig sensor(const toml::table& t, const std::string& p) const {
    onlyKeys(t, p,
             {"port", "label", "log", "type", "offset_db", "filter", "ccdf_limit_w", "unit",
              "publish_interval_ms", "alarm", "alarms"});
    SensorConfig s;
    s.line = static_cast<int>(t.source().begin.line);
    const auto port = text(t, p, "port");
    if (!port || port->empty())
      fail(&t, p + ".port",
           "is missing (a Comm menu name such as 7730USB1 or COM1, a device path, or 7730USB*)");
    s.port = *port;
    s.label = text(t, p, "label").value_or(s.port);
    if (auto v = text(t, p, "log")) {
      if (v->empty()) fail(t.get("log"), p + ".log", "must name a file");
      s.log = *v;
    }
    if (auto v = text(t, p, "type")) {
      using core::MeasType;
      if (*v == "average")
        s.type = MeasType::Average;
      else if (*v == "peak")
        s.type = MeasType::Peak;
      else if (*v == "burst")
        s.type = MeasType::Burst;
      else if (*v == "crest")
        s.type = MeasType::Crest;
      else if (*v == "ccdf")
        s.type = MeasType::CCDF;
      else
        fail(t.get("type"), p + ".type", "must be average, peak, burst, crest or ccdf");
    }
    if (auto v = number(t, p, "offset_db", 0, 100)) s.offsetDb = static_cast<float>(*v);
    if (auto v = number(t, p, "ccdf_limit_w", 2, 400)) s.ccdfLimitW = static_cast<float>(*v);
    if (auto v = text(t, p, "filter")) {
      if (*v == "4.5k")
        s.filterHz = 4500;
      else if (*v == "400k")
        s.filterHz = 400;
      else if (*v == "full")
        s.filterHz = 10000;
      else
        fail(t.get("filter"), p + ".filter", "must be 4.5k, 400k or full");
    }
    if (auto v = text(t, p, "unit")) {
      if (*v != "W" && *v != "dBm") fail(t.get("unit"), p + ".unit", "must be W or dBm");
      s.unitDbm = *v == "dBm";
    }
    if (auto v = number(t, p, "publish_interval_ms", 0, 3600000))
      s.publishIntervalMs = static_cast<int>(*v);
    for (std::string_view key : {"alarm", "alarms"}) {
      const toml::node* n = t.get(key);
      if (!n) continue;
      const std::string ap = p + "." + std::string(key);
      if (const toml::table* one = n->as_table()) {
        s.alarms.push_back(alarm(*one, ap));
      } else if (const toml::array* many = n->as_array()) {
        for (std::size_t i = 0; i < many->size(); ++i) {
          const toml::table* a = many->get(i)->as_table();
          if (!a) fail(many->get(i), ap + "[" + std::to_string(i) + "]", "must be a table");
          s.alarms.push_back(alarm(*a, ap + "[" + std::to_string(i) + "]"));
        }
      } else {
        fail(n, ap, "must be a table { quantity = ..., upper = ... } or an array of them");
      }
    }
    return s;
  }

  ServiceConfig config(const toml::table& root) const {
    ServiceConfig c;
    c.file = file_;
    onlyKeys(root, "", {"mqtt", "scpi", "sensor"});
    if (const toml::table* m = table(root, "", "mqtt")) mqtt(*m, c.mqtt);
    if (const toml::table* s = table(root, "", "scpi")) {
      onlyKeys(*s, "scpi", {"listen"});
      const auto listen = text(*s, "scpi", "listen");
      if (!listen) fail(s, "scpi.listen", "is missing ([ADDR:]PORT)");
      remote::ListenAddress a;
      std::string why;
      if (!remote::parseListenAddress(*listen, a, &why)) fail(s->get("listen"), "scpi.listen", why);
      c.scpi = a;
    }
    const toml::node* sensors = root.get("sensor");
    if (!sensors) fail(nullptr, "sensor", "no [[sensor]] is configured");
    const toml::array* list = sensors->as_array();
    if (!list) fail(sensors, "sensor", "must be written [[sensor]]");
    for (std::size_t i = 0; i < list->size(); ++i) {
      const std::string p = "sensor[" + std::to_string(i) + "]";
      const toml::table* t = list->get(i)->as_table();
      if (!t) fail(list->get(i), p, "must be a table");
      c.sensors.push_back(sensor(*t, p));
    }
    for (std::size_t i = 0; i < c.sensors.size(); ++i)
      for (std::size_t j = 0; j < i; ++j) {
        if (c.sensors[i].port == c.sensors[j].port)
          throw Refused{file_ + ":" + std::to_string(c.sensors[i].line) + ": sensor[" +
                        std::to_string(i) + "].port: \"" + c.sensors[i].port +
                        "\" is already sensor[" + std::to_string(j) + "]"};
        if (!c.sensors[i].log.empty() && c.sensors[i].log == c.sensors[j].log)
          throw Refused{file_ + ":" + std::to_string(c.sensors[i].line) + ": sensor[" +
                        std::to_string(i) + "].log: \"" + c.sensors[i].log +
                        "\" is already the log of sensor[" + std::to_string(j) + "]"};
      }
    return c;
  }

 private:
  std::string file_;
};

}  // namespace

ConfigResult parseServiceConfig(std::string_view text, const std::string& fileName) {
  ConfigResult r;
  try {
    const toml::table root = toml::parse(text, fileName);
    r.config = Reader(fileName).config(root);
  } catch (const toml::parse_error& e) {
    r.error = fileName + ":" + std::to_string(e.source().begin.line) + ": " +
              std::string(e.description());
  } catch (const Refused& e) {
    r.error = e.text;
  }
  return r;
}

ConfigResult loadServiceConfig(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return {std::nullopt, fileName + ": cannot be read"};
  std::string text(kMaxFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return {std::nullopt, fileName + ": cannot be read"};
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxFileBytes) return {std::nullopt, fileName + ": larger than 1 MiB"};
  return parseServiceConfig(text, fileName);
}

void applyHostDefaults(ServiceConfig& config, const std::string& hostname) {
  if (config.mqtt.base.empty()) config.mqtt.base = "zrq/" + hostname;
  if (config.mqtt.clientId.empty()) config.mqtt.clientId = "zrqd-" + hostname;
}

}  // namespace zrq::service
