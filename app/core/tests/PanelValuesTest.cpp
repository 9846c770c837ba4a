#include <gtest/gtest.h>

#include "core/DataString.h"
#include "core/PanelValues.h"
#include "DataStringBuilder.h"

namespace zrq::core {
namespace {

using U = PowerUnit;

SensorReading readingOf(double selected, double rfl, double fwdClamped) {
  SensorReading r;
  r.selectedPower = selected;
  r.rflPower = rfl;
  r.fwdAvgPowerClamped = fwdClamped;
  r.scaleCode = 9;
  return r;
}

TEST(ForwardQuantity, PerMeasurementType) {
  struct Row {
    const char* name;
    MeasType type;
    U fwdUnit;
    double selected, offset;
    U unit, key;
    double value;
    int decimals;
  } rows[] = {
      {"average auto", MeasType::Average, U::AutoW, 100, 0, U::W, U::W, 100, 2},
      {"average auto mW", MeasType::Average, U::AutoW, 0.5, 0, U::mW, U::mW, 500, 0},
      {"average dBm", MeasType::Average, U::dBm, 1, 0, U::dBm, U::dBm, 30, 2},
      {"peak with offset decimals", MeasType::Peak, U::AutoW, 1000, 10, U::KW, U::KW, 1, 4},
      {"burst", MeasType::Burst, U::AutoW, 5, 0, U::W, U::W, 5, 2},
      {"crest", MeasType::Crest, U::dBm, 10, 10, U::dB, U::dB, 10, 2},
      {"crest of zero", MeasType::Crest, U::AutoW, 0, 0, U::dB, U::dB, kDbFloor, 2},
      {"ccdf W", MeasType::CCDF, U::dBm, 2, 10, U::W, U::None, 2, 2},
      {"ccdf mW shown in W", MeasType::CCDF, U::AutoW, 0.5, 0, U::W, U::None, 0.5, 2},
      {"ccdf uW", MeasType::CCDF, U::AutoW, 0.0005, 0, U::uW, U::None, 500, 0},
  };
  for (const auto& r : rows) {
    ForwardQuantity q = forwardQuantity(r.type, r.fwdUnit, r.selected, 150, r.offset);
    EXPECT_EQ(q.unit, r.unit) << r.name;
    EXPECT_EQ(q.annunciatorKey, r.key) << r.name;
    EXPECT_NEAR(q.value, r.value, 1e-9) << r.name;
    EXPECT_EQ(q.decimals, r.decimals) << r.name;
  }
}

TEST(ReflectedQuantity, AverageRatiosPeakVswrOthersNone) {
  const OffsetPowers p{100, 1, 1};
  ReflectedQuantity q = reflectedQuantity(MeasType::Average, U::AutoW, p, 50, 15, 0);
  EXPECT_TRUE(q.present && q.isPower);
  EXPECT_EQ(q.unit, U::W);
  EXPECT_EQ(q.decimals, 3);  // 15 W reflected full scale
  q = reflectedQuantity(MeasType::Average, U::Rho, p, 50, 15, 0);
  EXPECT_FALSE(q.isPower);
  EXPECT_NEAR(q.value, 0.1, 1e-12);  // against the selected power, not fwdAvgPowerClamped
  EXPECT_EQ(q.decimals, 3);
  q = reflectedQuantity(MeasType::Average, U::ReturnLoss, p, 50, 15, 0);
  EXPECT_NEAR(q.value, -20, 1e-9);
  EXPECT_EQ(q.decimals, 2);

  const OffsetPowers offset{1000, 10, 1};
  q = reflectedQuantity(MeasType::Peak, U::AutoW, offset, 100, 15, 10);
  EXPECT_EQ(q.unit, U::VSWR);
  EXPECT_NEAR(q.value, 1.2222222, 1e-6);  // unoffset reflected against fwdAvgPowerClamped
  EXPECT_EQ(q.decimals, 3);
  for (MeasType t : {MeasType::Burst, MeasType::Crest, MeasType::CCDF, MeasType::None})
    EXPECT_FALSE(reflectedQuantity(t, U::AutoW, p, 50, 15, 0).present);
}

TEST(PanelView, AverageReadingEndToEnd) {
  SensorReading r;
  bool changed = false;
  auto s = test::buildDataString(
      test::DataFields().set(3, "+1.0000E+02").set(4, "+1.0000E+00").set(11, "+2.5000E+01"),
      DataStringLayout::A);
  ASSERT_TRUE(decodeDataString(s, {}, r, changed).accepted());
  PanelSettings set;
  set.rflUnit = U::VSWR;
  PanelView v = computePanel(r, set);
  EXPECT_EQ(v.fwdText, "100.00");
  EXPECT_EQ(v.fwd.unit, U::W);
  EXPECT_EQ(*v.rflText, "1.222");
  EXPECT_NEAR(v.rho, 0.1, 1e-12);
  EXPECT_NEAR(v.returnLoss, -20, 1e-9);
  EXPECT_EQ(v.bar, 66);  // 100 of 150 W
  EXPECT_EQ(v.dutyText, "");
  EXPECT_EQ(v.burstDutyText, "25");
  EXPECT_FALSE(v.fwdOverRange || v.fwdOverLit || v.rflOverRange || v.fwdFailed);
}

TEST(PanelView, OverRangeAndFailures) {
  PanelSettings set;
  // Forward over range: blank without formatting; a ratio cannot be shown either.
  set.rflUnit = U::Rho;
  PanelView v = computePanel(readingOf(181, 1, 181), set);
  EXPECT_TRUE(v.fwdOverRange);
  EXPECT_FALSE(v.fwdFailed);
  EXPECT_EQ(v.fwdText, blankText);
  EXPECT_FALSE(v.rflMayShow);
  EXPECT_FALSE(v.rflText.has_value());  // Average keeps the previous text

  // Reflected over range with a power unit.
  set.rflUnit = U::AutoW;
  v = computePanel(readingOf(100, 18.5, 100), set);
  EXPECT_TRUE(v.rflOverRange && v.rflOverLit);
  EXPECT_FALSE(v.rflMayShow);
  EXPECT_EQ(v.fwdText, "100.00");

  // A forward value beyond the display limit: the notice case.
  set.fwdUnit = U::AutoW;
  set.offsetDb = 100;
  set.measType = MeasType::Average;
  v = computePanel(readingOf(100, 1, 100), set);
  EXPECT_TRUE(v.fwdFailed);
  EXPECT_EQ(v.fwdText, blankText);

  // Peak: the VSWR read-out follows the reflected unit's rule; when it may
  // not be shown it reads blankText.
  set = PanelSettings{};
  set.measType = MeasType::Peak;
  v = computePanel(readingOf(850.5, 1, 100), set);
  EXPECT_TRUE(v.fwdOverRange);
  EXPECT_EQ(v.rflText, std::string("1.222"));  // a power unit: only its own flag counts
  set.rflUnit = U::Rho;
  v = computePanel(readingOf(850.5, 1, 100), set);
  EXPECT_EQ(v.rflText, std::string(blankText));
}

TEST(PanelView, PeakAndBurstWindowsUseWattsEvenWhenTheSensorSendsKilowatts) {
  SensorReading r = readingOf(100, 1, 100);
  r.peakPower = 0.2;  // kW
  r.burstPower = 0.1;
  r.scaleCode = 10;
  PanelSettings set;
  PanelView v = computePanel(r, set);
  EXPECT_EQ(v.peakValue.unit, U::W);
  EXPECT_EQ(v.peakText, "200.00");
  EXPECT_EQ(v.burstText, "100.00");
  r.peakPower = 0.5;  // 500 W > 2.7 x 150
  v = computePanel(r, set);
  EXPECT_TRUE(v.peakFlags.peakOver);
  EXPECT_EQ(v.peakText, blankText);
  EXPECT_DOUBLE_EQ(v.peakLimited, 850.5);

  set.measType = MeasType::CCDF;
  v = computePanel(r, set);
  EXPECT_EQ(v.burstText, "NA");
  EXPECT_EQ(v.burstDutyText, "NA");
  EXPECT_EQ(v.ccdfLimitText, "50.00 W");
  EXPECT_EQ(*v.rflText, "");
}

}  // namespace
TEST(PanelView, ABurstOverItsRangeBlanksOnlyTheBurstWindow) {
  SensorReading r = readingOf(100, 1, 100);
  r.peakPower = 200;
  r.burstPower = 500;  // > 2.7 x 150 W
  PanelView v = computePanel(r, PanelSettings{});
  EXPECT_EQ(v.burstText, blankText);
  EXPECT_EQ(v.peakText, "200.00");
  r.burstPower = 400;
  v = computePanel(r, PanelSettings{});
  EXPECT_EQ(v.burstText, "400.00");
}

}  // namespace zrq::core
