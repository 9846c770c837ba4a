#include <gtest/gtest.h>

#include "core/LogValues.h"
#include "core/PanelValues.h"

namespace zrq::core {
namespace {

using U = PowerUnit;

SensorReading wattsReading() {
  SensorReading r;
  r.scaleCode = unitCode(U::W);
  r.fwdAvgPowerClamped = 100;
  r.rflPower = 5;
  r.peakPower = 300;
  r.burstPower = 120;
  r.crestFactor = 3.5;
  r.ccdfFactor = 0.25;
  return r;
}

TEST(LogValues, KilowattFieldsAreScaledToWatts) {
  SensorReading r = wattsReading();
  r.scaleCode = unitCode(U::KW);
  r.peakPower = 0.3;  // kW
  r.burstPower = 0.12;
  PanelSettings s;
  const LogValues l = computeLogValues(r, s);
  EXPECT_DOUBLE_EQ(l.peakW, 300);
  EXPECT_DOUBLE_EQ(l.burstW, 120);
  EXPECT_EQ(l.peak, (RangedValue{U::W, 300}));
  EXPECT_EQ(l.burst, (RangedValue{U::W, 120}));
}

TEST(LogValues, PowersAreLimitedToTheirFullScales) {
  SensorReading r = wattsReading();
  r.fwdAvgPowerClamped = 200;  // above 1.2 x 150
  r.rflPower = 30;             // above 1.2 x 15
  r.peakPower = 500;           // above 2.7 x 150: becomes 5.67 x 150
  r.burstPower = 500;          // becomes 3.24 x 150
  PanelSettings s;
  const LogValues l = computeLogValues(r, s);
  EXPECT_DOUBLE_EQ(l.fwdAvgW, 180);
  EXPECT_DOUBLE_EQ(l.rflW, 18);
  EXPECT_DOUBLE_EQ(l.peakW, 5.67 * 150);
  EXPECT_DOUBLE_EQ(l.burstW, 3.24 * 150);

  // Just inside the limits nothing changes.
  r.fwdAvgPowerClamped = 179;
  r.peakPower = 405;
  r.burstPower = 405;
  const LogValues in = computeLogValues(r, s);
  EXPECT_DOUBLE_EQ(in.fwdAvgW, 179);
  EXPECT_DOUBLE_EQ(in.peakW, 405);
  EXPECT_DOUBLE_EQ(in.burstW, 405);
}

TEST(LogValues, OffsetActsOnPowerTypesAndSparesReflectedWithoutForward) {
  PanelSettings s;
  s.offsetDb = 10;  // x 10
  SensorReading r = wattsReading();
  LogValues l = computeLogValues(r, s);
  EXPECT_NEAR(l.fwdAvgW, 1000, 1e-9);
  EXPECT_NEAR(l.rflW, 50, 1e-9);
  EXPECT_NEAR(l.peakW, 3000, 1e-9);
  EXPECT_NEAR(l.burstW, 1200, 1e-9);
  EXPECT_EQ(l.fwdAvg.unit, U::KW);
  EXPECT_NEAR(l.fwdAvg.value, 1, 1e-12);

  r.fwdAvgPowerClamped = 0;
  l = computeLogValues(r, s);
  EXPECT_DOUBLE_EQ(l.fwdAvgW, 0);
  EXPECT_DOUBLE_EQ(l.rflW, 5);  // no forward power: the reflected one stays as read

  s.measType = MeasType::Crest;  // ratios take no offset
  r = wattsReading();
  l = computeLogValues(r, s);
  EXPECT_DOUBLE_EQ(l.fwdAvgW, 100);
  EXPECT_DOUBLE_EQ(l.peakW, 300);
}

TEST(LogValues, UnitsAndRatios) {
  PanelSettings s;
  s.fwdUnit = U::dBm;
  s.rflUnit = U::mW;
  const LogValues l = computeLogValues(wattsReading(), s);
  EXPECT_EQ(l.fwdAvg.unit, U::dBm);
  EXPECT_NEAR(l.fwdAvg.value, 50, 1e-9);  // 100 W
  EXPECT_EQ(l.rfl.unit, U::mW);
  EXPECT_NEAR(l.rfl.value, 5000, 1e-9);
  EXPECT_EQ(l.peak.unit, U::dBm);
  EXPECT_DOUBLE_EQ(l.crestFactor, 3.5);
  EXPECT_DOUBLE_EQ(l.ccdfFactor, 0.25);
}

// The log must record what the peak and burst windows show.
TEST(LogValues, PeakAndBurstAgreeWithThePanel) {
  for (MeasType type : {MeasType::Average, MeasType::Peak, MeasType::Burst, MeasType::CCDF}) {
    for (std::uint8_t scale : {unitCode(U::W), unitCode(U::KW)}) {
      for (double raw : {0.0, 0.004, 1.0, 250.0, 900.0}) {
        SensorReading r = wattsReading();
        r.scaleCode = scale;
        r.peakPower = raw;
        r.burstPower = raw / 2;
        PanelSettings s;
        s.measType = type;
        s.offsetDb = 3;
        const LogValues l = computeLogValues(r, s);
        const PanelView v = computePanel(r, s);
        EXPECT_DOUBLE_EQ(l.peakW, v.peakLimited) << raw;
        EXPECT_DOUBLE_EQ(l.burstW, v.burstLimited) << raw;
        EXPECT_EQ(l.peak, v.peakValue) << raw;
        EXPECT_EQ(l.burst, v.burstValue) << raw;
      }
    }
  }
}

}  // namespace
}  // namespace zrq::core
