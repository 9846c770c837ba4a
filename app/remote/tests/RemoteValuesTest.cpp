#include <gtest/gtest.h>

#include "remote/RemoteValues.h"

namespace zrq::remote {
namespace {

using core::InstrumentState;
using core::MeasType;

InstrumentState streaming() {
  InstrumentState s;
  s.commState = core::CommState::Streaming;
  s.measType = MeasType::Average;
  return s;
}

TEST(RemoteValues, OnlyTypeFilterAndCcdfLimitMustBeSentToTheSensor) {
  struct Case {
    const char* what;
    void (*change)(scpi::Settings&);
    bool sent;
  };
  const Case cases[] = {
      {"offset", [](scpi::Settings& t) { t.offsetDb = 3; }, false},
      {"unit", [](scpi::Settings& t) { t.unit = scpi::PowerUnit::Dbm; }, false},
      {"ccdf limit", [](scpi::Settings& t) { t.ccdfLimitW = 100; }, true},
      {"filter", [](scpi::Settings& t) { t.filter = scpi::Filter::Full; }, true},
      {"type", [](scpi::Settings& t) { t.function = scpi::Function::Peak; }, true},
  };
  for (const Case& c : cases) {
    InstrumentState s = streaming();
    scpi::Settings to = settingsOf(s);
    c.change(to);
    applySettings(s, to);
    EXPECT_EQ(s.settingsChanged, c.sent) << c.what;
    EXPECT_EQ(settingsOf(s), to) << c.what;
  }
}

TEST(RemoteValues, ATypeChosenWithoutASensorWaitsForTheConnect) {
  InstrumentState s;
  s.measType = MeasType::None;  // no sensor
  scpi::Settings to = settingsOf(s);
  to.function = scpi::Function::Burst;
  EXPECT_FALSE(applySettings(s, to));
  EXPECT_EQ(s.measType, MeasType::None);
  EXPECT_EQ(s.typeAtConnect, MeasType::Burst);
  EXPECT_EQ(settingsOf(s).function, scpi::Function::Burst);
}

TEST(RemoteValues, ReadingCarriesOnlyWhatItsTypeGives) {
  InstrumentState s = streaming();
  s.reading.fwdAvgPower = 100;
  s.reading.rflPowerRaw = s.reading.rflPower = 4;
  s.reading.fwdAvgPowerClamped = 100;
  s.reading.crestFactor = 4;
  s.reading.ccdfFactor = 12.5;
  s.reading.reportedType = 4;  // Crest
  scpi::Reading r = readingOf(s, 7, "t");
  EXPECT_EQ(r.sequence, 7u);
  ASSERT_TRUE(r.crestFactorDb.has_value());
  EXPECT_NEAR(*r.crestFactorDb, 6.0206, 1e-3);
  EXPECT_FALSE(r.ccdfPercent.has_value());
  EXPECT_NEAR(*r.rho, 0.2, 1e-9);  // the square root of 4 W over 100 W
  EXPECT_NEAR(*r.vswr, 1.5, 1e-9);

  s.reading.reportedType = 5;  // CCDF
  r = readingOf(s, 8, "t");
  EXPECT_EQ(r.ccdfPercent, 12.5);
  EXPECT_FALSE(r.forwardBurstW.has_value());
  EXPECT_FALSE(r.crestFactorDb.has_value());
}

TEST(RemoteValues, ListenAddresses) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"5025", true, "127.0.0.1", 5025}, {"0.0.0.0:6000", true, "0.0.0.0", 6000},
      {"0", true, "127.0.0.1", 0},       {"localhost:5025", false, "", 0},
      {"70000", false, "", 0},           {"", false, "", 0},
      {"127.0.0.1:", false, "", 0},      {"12x", false, "", 0},
  };
  for (const Case& c : cases) {
    ListenAddress a;
    std::string why;
    EXPECT_EQ(parseListenAddress(c.text, a, &why), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(a.host, c.host) << c.text;
      EXPECT_EQ(a.port, c.port) << c.text;
    } else {
      EXPECT_FALSE(why.empty()) << c.text;
    }
  }
}

TEST(RemoteValues, LocalTimeIsIso8601WithZone) {
  const std::string t = isoLocalTime();
  ASSERT_EQ(t.size(), 29u) << t;
  EXPECT_EQ(t[10], 'T');
  EXPECT_EQ(t[19], '.');
  EXPECT_TRUE(t[23] == '+' || t[23] == '-') << t;
  EXPECT_EQ(t[26], ':');
}

}  // namespace
}  // namespace zrq::remote
