#include <gtest/gtest.h>

#include "core/MeterScale.h"

using namespace zrq::core;
using P = MeterProp;

namespace {

MeterWrite n(P p, double v) { return {p, v, {}}; }
MeterWrite t(P p, std::string s) { return {p, 0, std::move(s)}; }

}  // namespace

TEST(ForwardMeterScale, AverageWattsSwitchScaleAboveThreeHundred) {
  EXPECT_EQ(forwardMeterWrites(MeasType::Average, 250, PowerUnit::W),
            (MeterWrites{n(P::Value, 250), t(P::Caption, "Forward Power In W"),
                         n(P::MaximumValue, 300), n(P::MinimumValue, 0)}));
  EXPECT_EQ(forwardMeterWrites(MeasType::Average, 300, PowerUnit::W)[2], n(P::MaximumValue, 300));
  EXPECT_EQ(forwardMeterWrites(MeasType::Average, 350, PowerUnit::W)[2], n(P::MaximumValue, 1000));
}

TEST(ForwardMeterScale, PeakAndBurstThresholdIsFiveHundred) {
  const auto peak = forwardMeterWrites(MeasType::Peak, 450, PowerUnit::W);
  EXPECT_EQ(peak[1], t(P::Caption, "Peak Power In W"));
  EXPECT_EQ(peak[2], n(P::MaximumValue, 500));
  const auto burst = forwardMeterWrites(MeasType::Burst, 501, PowerUnit::W);
  EXPECT_EQ(burst[1], t(P::Caption, "Burst Power In W"));
  EXPECT_EQ(burst[2], n(P::MaximumValue, 1000));
}

TEST(ForwardMeterScale, KilowattsAboveThousandBecomeMegawatts) {
  EXPECT_EQ(forwardMeterWrites(MeasType::Average, 1500, PowerUnit::KW),
            (MeterWrites{n(P::Value, 1.5), t(P::Caption, "Forward Power In MegaW"),
                         n(P::MaximumValue, 100), t(P::ValueFormatString, "%.0f")}));
  EXPECT_EQ(forwardMeterWrites(MeasType::Burst, 1000, PowerUnit::KW),
            (MeterWrites{n(P::Value, 1000), t(P::Caption, "Burst Power In KW"),
                         n(P::MaximumValue, 1000), t(P::ValueFormatString, "%.0f")}));
}

TEST(ForwardMeterScale, SmallUnitsAndDbmWriteTheFullRowInOrder) {
  EXPECT_EQ(
      forwardMeterWrites(MeasType::Peak, 37.5, PowerUnit::dBm),
      (MeterWrites{n(P::Value, 37.5), t(P::Caption, "Peak Power In dBm"), n(P::MaximumValue, 500),
                   t(P::ValueFormatString, "%.0f"), n(P::MinimumValue, 0)}));
  EXPECT_EQ(forwardMeterWrites(MeasType::Average, 12, PowerUnit::uW)[1],
            t(P::Caption, "Forward Power In uW"));
  EXPECT_EQ(forwardMeterWrites(MeasType::Burst, 12, PowerUnit::mW)[1],
            t(P::Caption, "Burst Power In mW"));
  EXPECT_EQ(forwardMeterWrites(MeasType::Burst, 12, PowerUnit::mW)[2], n(P::MaximumValue, 1000));
}

TEST(ForwardMeterScale, TypesAndUnitsWithoutARowChangeNothing) {
  EXPECT_EQ(forwardMeterWrites(MeasType::None, 5, PowerUnit::W), (MeterWrites{t(P::Caption, "")}));
  EXPECT_TRUE(forwardMeterWrites(MeasType::Crest, 5, PowerUnit::W).empty());
  EXPECT_TRUE(forwardMeterWrites(MeasType::CCDF, 5, PowerUnit::W).empty());
  EXPECT_TRUE(forwardMeterWrites(MeasType::Average, 5, PowerUnit::AutoW).empty());
  EXPECT_TRUE(forwardMeterWrites(MeasType::Average, 5, PowerUnit::dB).empty());
  EXPECT_TRUE(forwardMeterWrites(static_cast<MeasType>(9), 5, PowerUnit::W).empty());
}

TEST(ReflectedMeterScale, RatiosHaveFixedScales) {
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::Rho, 0.2, 15),
            (MeterWrites{t(P::Caption, "Rho"), n(P::MaximumValue, 1), n(P::MinimumValue, 0),
                         t(P::ValueFormatString, "%.1f")}));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::ReturnLoss, -20, 15),
            (MeterWrites{t(P::Caption, "Return Loss"), n(P::MaximumValue, 0),
                         n(P::MinimumValue, -100), t(P::ValueFormatString, "%.0f")}));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::VSWR, 1.5, 15)[1], n(P::MaximumValue, 100));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::None, 1, 15),
            (MeterWrites{t(P::Caption, "Reflected Power"), n(P::MaximumValue, 15),
                         n(P::MinimumValue, 0), t(P::ValueFormatString, "%.0f")}));
}

TEST(ReflectedMeterScale, WattScalesStepAtTenAndHundred) {
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::W, 10, 15)[1], n(P::MaximumValue, 10));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::W, 10.5, 15)[1], n(P::MaximumValue, 100));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::W, 100, 15)[1], n(P::MaximumValue, 100));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::W, 101, 15)[1], n(P::MaximumValue, 1000));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::W, 5, 15)[0], t(P::Caption, "Reflected Power In W"));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::KW, 50, 15)[1], n(P::MaximumValue, 100));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::KW, 500, 15)[1], n(P::MaximumValue, 1000));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::dBm, 20, 15)[0],
            t(P::Caption, "Reflected Power In dBm"));
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::uW, 20, 15)[0], t(P::Caption, "Reflected Power In uW"));
}

TEST(ReflectedMeterScale, MegawattsRescaleTheValueAndKeepTheMinimum) {
  EXPECT_EQ(reflectedMeterWrites(PowerUnit::KW, 2500, 15),
            (MeterWrites{n(P::Value, 2.5), t(P::Caption, "Reflected Power In MegaW"),
                         n(P::MaximumValue, 100), t(P::ValueFormatString, "%.0f")}));
  EXPECT_TRUE(reflectedMeterWrites(PowerUnit::dB, 3, 15).empty());
  EXPECT_TRUE(reflectedMeterWrites(PowerUnit::AutoW, 3, 15).empty());
  EXPECT_EQ(vswrMeterWrites()[0], t(P::Caption, "VSWR"));
}
