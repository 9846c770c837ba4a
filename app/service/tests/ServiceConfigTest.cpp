#include "ServiceConfig.h"

#include <gtest/gtest.h>

#include "Service.h"

namespace zrq::service {
namespace {

// The example the users' documentation gives, exactly.
constexpr const char* kExample = R"([mqtt]
url = "mqtt://127.0.0.1:1883"
base = "zrq/bench1"

[[sensor]]
port = "7730USB1"
label = "tx1"
log = "/var/log/zrq/tx1.csv"
alarm = { quantity = "forward_average_w", upper = 150.0, hold_off_ms = 500 }

[[sensor]]
port = "/dev/ttyUSB0"
label = "tx2"
)";

TEST(ServiceConfig, TheDocumentedExampleReadsAsWritten) {
  const ConfigResult r = parseServiceConfig(kExample, "zrqd.toml");
  ASSERT_TRUE(r.config) << r.error;
  const ServiceConfig& c = *r.config;
  EXPECT_TRUE(c.mqtt.enabled);
  EXPECT_EQ(c.mqtt.host, "127.0.0.1");
  EXPECT_EQ(c.mqtt.port, 1883);
  EXPECT_EQ(c.mqtt.base, "zrq/bench1");
  ASSERT_EQ(c.sensors.size(), 2u);
  EXPECT_EQ(c.sensors[0].log, "/var/log/zrq/tx1.csv");
  ASSERT_EQ(c.sensors[0].alarms.size(), 1u);
  const core::AlarmLimits& a = c.sensors[0].alarms[0];
  EXPECT_EQ(a.quantity, core::AlarmQuantity::ForwardAverageW);
  EXPECT_EQ(a.upper, 150.0);
  EXPECT_FALSE(a.lower);
  EXPECT_EQ(a.holdOffMs, 500);
  EXPECT_EQ(c.sensors[1].port, "/dev/ttyUSB0");
  EXPECT_TRUE(c.sensors[1].log.empty());
}

TEST(ServiceConfig, RefusalsNameFileLineAndKey) {
  const struct {
    const char* text;
    const char* expect;  // the start of the error
  } cases[] = {
      {"[[sensor]]\nport = \"COM1\"\ntype = \"avg\"\n", "f.toml:3: sensor[0].type:"},
      {"[[sensor]]\nport = \"COM1\"\noffset_db = 101\n",
       "f.toml:3: sensor[0].offset_db: must be from 0 to 100"},
      {"[[sensor]]\nport = \"COM1\"\nlabl = \"x\"\n", "f.toml:3: sensor[0].labl: unknown key"},
      {"[[sensor]]\nport = \"COM1\"\n[[sensor]]\nlabel = \"x\"\n",
       "f.toml:3: sensor[1].port: is missing"},
      {"[mqtt]\nurl = \"http://x\"\n[[sensor]]\nport = \"COM1\"\n", "f.toml:2: mqtt.url:"},
      {"[mqtt]\nbase = \"zrq/#\"\n[[sensor]]\nport = \"COM1\"\n", "f.toml:2: mqtt.base:"},
      {"[[sensor]]\nport = \"COM1\"\nalarm = { quantity = \"vswr\", upper = 1, lower = 2 }\n",
       "f.toml:3: sensor[0].alarm: the lower limit is above the upper limit"},
      {"[[sensor]]\nport = \"COM1\"\n[[sensor]]\nport = \"COM1\"\n", "f.toml:3: sensor[1].port:"},
      {"[mqtt]\n", "f.toml: sensor: no [[sensor]] is configured"},
      {"[[sensor]\nport = 1\n", "f.toml:1: "},
  };
  for (const auto& c : cases) {
    const ConfigResult r = parseServiceConfig(c.text, "f.toml");
    EXPECT_FALSE(r.config) << c.text;
    EXPECT_EQ(r.error.rfind(c.expect, 0), 0u) << r.error;
  }
}

TEST(ServiceConfig, EveryUsbSensorExpandsToEachAttachedOneButNotOverANamedOne) {
  SensorConfig every;
  every.port = std::string(kEveryUsbSensor);
  every.label = every.port;
  every.log = "/var/log/zrq/usb.csv";
  SensorConfig named;
  named.port = "7730USB2";
  named.label = "tx9";
  const std::vector<SensorConfig> out = expandSensors({every, named}, 3);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].port, "7730USB1");
  EXPECT_EQ(out[0].log, "/var/log/zrq/usb-7730USB1.csv");
  EXPECT_EQ(out[1].port, "7730USB3");
  EXPECT_EQ(out[2].label, "tx9");
}

TEST(ServiceConfig, ReadingJsonCarriesOnlyTheQuantitiesOfTheType) {
  scpi::Reading r;
  r.sequence = 7;
  r.time = "2026-12-09T01:02:03.456+01:00";
  r.forwardAverageW = 100;
  r.vswr = 1.5;
  r.temperatureC = 28.5;
  const std::string j = readingJson("12345", "tx \"1\"", r);
  EXPECT_EQ(j,
            R"({"time":"2026-12-09T01:02:03.456+01:00","serial":"12345","label":"tx \"1\"",)"
            R"("sequence":7,"function":"average","forward_average_w":100,"forward_average_dbm":50,)"
            R"("vswr":1.5,"temperature_c":28.5,"units":{"temperature_c":"degC",)"
            R"("forward_average_w":"W","forward_average_dbm":"dBm","vswr":""}})");
}

}  // namespace
}  // namespace zrq::service
