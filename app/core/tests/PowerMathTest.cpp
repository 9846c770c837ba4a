#include <cmath>
#include <initializer_list>
#include <limits>

#include <gtest/gtest.h>

#include "core/PowerMath.h"
#include "core/ReadingFormat.h"

namespace zrq::core {
namespace {

using U = PowerUnit;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ConvertPower, EveryUnitFromWatts) {
  struct Row {
    U unit;
    double watts, expected;
  } rows[] = {
      {U::dB, 100, 20},          {U::dB, 1, 0},
      {U::dB, 0.5, -3.0103},     {U::dBm, 1, 30},
      {U::dBm, 0.001, 0},        {U::dBm, 150, 51.7609},
      {U::uW, 0.5, 500000},      {U::mW, 0.5, 500},
      {U::W, 0.5, 0.5},          {U::KW, 1500, 1.5},
      {U::None, 5, 0},           {U::Rho, 5, 0},
      {U::VSWR, 5, 0},           {U::ReturnLoss, 5, 0},
      {U::AutoW, 5, 0},          {U::MegaW, 5, 0},
      {static_cast<U>(4), 5, 0}, {static_cast<U>(99), 5, 0},
  };
  for (const auto& r : rows)
    EXPECT_NEAR(convertPower(r.unit, r.watts), r.expected, 1e-4)
        << unitName(r.unit) << " " << r.watts;
}

TEST(ConvertPower, LogUnitsReadAsNoPowerForZeroNegativeAndTinyPowers) {
  for (double p : {0.0, -0.0, -1.0, -1e9, 1e-300, kNaN}) {
    EXPECT_EQ(convertPower(U::dBm, p), kDbmFloor) << p;
    EXPECT_EQ(convertPower(U::dB, p), kDbFloor) << p;
  }
  // The floor is a number the forward display can show.
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Forward, U::dBm, kDbmFloor, 2).value(), "-99.99");
  EXPECT_EQ(formatReading(kDbFloor, 2).value(), "-129.99");
  EXPECT_NEAR(convertPower(U::dBm, 1e300), 3030, 1e-9);  // no overflow on the way
  EXPECT_NEAR(convertPower(U::dBm, std::numeric_limits<double>::max()), 3112.5, 0.1);
  // Just above the floor the log is exact.
  EXPECT_NEAR(convertPower(U::dBm, 1.1e-13), -99.586, 1e-3);
}

TEST(AutoRangePower, BoundsBelongToTheUpperRange) {
  struct Row {
    double watts;
    U unit;
    double value;
  } rows[] = {
      {0.0009999, U::uW, 999.9}, {0.001, U::mW, 1.0}, {0.5, U::mW, 500},
      {0.9999, U::mW, 999.9},    {1.0, U::W, 1.0},    {999.99, U::W, 999.99},
      {1000, U::KW, 1.0},        {1e6, U::KW, 1000},  {0, U::uW, 0},
      {-0.2, U::uW, 0},          {kNaN, U::uW, 0},
  };
  for (const auto& r : rows) {
    RangedValue v = autoRangePower(r.watts);
    EXPECT_EQ(v.unit, r.unit) << r.watts;
    EXPECT_NEAR(v.value, r.value, 1e-9) << r.watts;
  }
  EXPECT_EQ(powerInUnit(U::AutoW, 2000), (RangedValue{U::KW, 2}));
  EXPECT_EQ(powerInUnit(U::mW, 2), (RangedValue{U::mW, 2000}));
}

TEST(ReflectionRatio, RhoZeroOneAndBetween) {
  struct Row {
    double pr, pf, rho, vswr, rl;
  } rows[] = {
      {0, 100, 1.0, 1.0, 0.0},  // no reflected power reads as rho 1
      {1, 100, 0.1, 1.2222222, -20.0}, {25, 100, 0.5, 3.0, -6.0206},
      {100, 100, 1.0, 1.0, 0.0},  // total reflection
      {400, 100, 1.0, 1.0, 0.0},  // more reflected than forward: still rho 1
      {1, 0, 1.0, 1.0, 0.0},           {-1, 100, 1.0, 1.0, 0.0},
      {1, -100, 1.0, 1.0, 0.0},        {1e-320, 1e300, 0.0, 1.0, -35.0},  // rho 0 exactly
  };
  for (const auto& r : rows) {
    EXPECT_NEAR(reflectionRatio(U::Rho, r.pr, r.pf), r.rho, 1e-6) << r.pr << "/" << r.pf;
    EXPECT_NEAR(reflectionRatio(U::VSWR, r.pr, r.pf), r.vswr, 1e-6) << r.pr << "/" << r.pf;
    EXPECT_NEAR(reflectionRatio(U::ReturnLoss, r.pr, r.pf), r.rl, 1e-4) << r.pr << "/" << r.pf;
  }
  for (U other : {U::None, U::dB, U::dBm, U::W, U::AutoW})
    EXPECT_EQ(reflectionRatio(other, 1, 100), 0.0);
  EXPECT_EQ(formatReading(reflectionRatio(U::VSWR, 1, 100), 3).value(), "1.222");
  EXPECT_EQ(formatReading(reflectionRatio(U::ReturnLoss, 1, 100), 2).value(), "-20.00");
}

TEST(Offset, AppliesOnlyToPowerTypesWithAPositiveOffset) {
  EXPECT_NEAR(offsetFactor(10), 10.0, 1e-12);
  EXPECT_NEAR(offsetFactor(3), 1.99526, 1e-5);
  EXPECT_EQ(offsetFactor(0), 1.0);
  for (MeasType t : {MeasType::Average, MeasType::Peak, MeasType::Burst}) {
    EXPECT_TRUE(offsetApplies(t, 10));
    EXPECT_NEAR(applyOffset(t, 10, 2.0), 20.0, 1e-12);
    EXPECT_EQ(applyOffset(t, 10, 0.0), 0.0);
    EXPECT_EQ(applyOffset(t, 0, 2.0), 2.0);
    EXPECT_EQ(applyOffset(t, -3, 2.0), 2.0);
  }
  for (MeasType t : {MeasType::Crest, MeasType::CCDF, MeasType::None}) {
    EXPECT_FALSE(offsetApplies(t, 10));
    EXPECT_EQ(applyOffset(t, 10, 2.0), 2.0);
  }
}

TEST(Offset, ReflectedFollowsOnlyWhenTheSelectedPowerIsNotZero) {
  OffsetPowers o = applyOffset(MeasType::Average, 10, 100, 1);
  EXPECT_NEAR(o.selected, 1000, 1e-9);
  EXPECT_NEAR(o.reflected, 10, 1e-9);
  EXPECT_EQ(o.reflectedUnoffset, 1);
  // Ratios are unchanged by the offset.
  EXPECT_NEAR(reflectionRatio(U::Rho, o.reflected, o.selected), 0.1, 1e-12);

  o = applyOffset(MeasType::Average, 10, 0, 1);
  EXPECT_EQ(o.selected, 0);
  EXPECT_EQ(o.reflected, 1);
  o = applyOffset(MeasType::Crest, 10, 100, 1);
  EXPECT_EQ(o.selected, 100);
  EXPECT_EQ(o.reflected, 1);
}

TEST(DisplayDecimals, TableRowsAtAndBelowEveryBound) {
  struct Row {
    U unit;
    double bounds[5];
  } rows[] = {
      {U::uW, {0.009, 0.0009, 0.00009, 0.000009, 0.0000009}},
      {U::mW, {9.9, 0.9, 0.09, 0.009, 0.0009}},
      {U::W, {9999.9, 999.9, 99.9, 9.9, 0.9}},
      {U::KW, {9999999.9, 999999.9, 99999.9, 9999.9, 999.9}},
  };
  for (const auto& r : rows) {
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(displayDecimals(r.unit, 0, r.bounds[i]), i)
          << unitName(r.unit) << " at " << r.bounds[i];
      EXPECT_EQ(displayDecimals(r.unit, 0, r.bounds[i] * 0.999), i + 1)
          << unitName(r.unit) << " below " << r.bounds[i];
    }
    EXPECT_EQ(displayDecimals(r.unit, 0, 1e12), 0);
    EXPECT_EQ(displayDecimals(r.unit, 0, 0), 5);
  }
  for (U u : {U::Rho, U::VSWR}) EXPECT_EQ(displayDecimals(u, 20, 1e-9), 3);
  for (U u : {U::ReturnLoss, U::dBm}) EXPECT_EQ(displayDecimals(u, 20, 1e9), 2);
  for (U u : {U::None, U::dB, U::AutoW, U::MegaW, static_cast<U>(4)})
    EXPECT_EQ(displayDecimals(u, 0, 150), 0);
}

TEST(DisplayDecimals, DefaultSensorAndOffsetRaiseTheFullScale) {
  EXPECT_EQ(displayDecimals(U::W, 0, 150), 2);
  EXPECT_EQ(displayDecimals(U::KW, 0, 150), 5);
  EXPECT_EQ(displayDecimals(U::mW, 0, 150), 0);
  EXPECT_EQ(displayDecimals(U::uW, 0, 150), 0);
  EXPECT_EQ(displayDecimals(U::dBm, 0, 150), 2);
  EXPECT_EQ(displayDecimals(U::W, 10, 150), 1);   // 1500 W
  EXPECT_EQ(displayDecimals(U::W, 20, 150), 0);   // 15000 W
  EXPECT_EQ(displayDecimals(U::W, -10, 150), 2);  // a negative offset does not count
  EXPECT_EQ(displayDecimals(U::W, 0, 15), 3);     // reflected full scale
}

TEST(OverRange, FlagsAtAndBeyondTheirBounds) {
  const double fs = 150, rfs = 15;
  for (MeasType t : {MeasType::Average, MeasType::Crest, MeasType::CCDF, MeasType::None}) {
    EXPECT_FALSE(forwardOverRange(t, 180, fs));
    EXPECT_TRUE(forwardOverRange(t, 180.001, fs));
    EXPECT_FALSE(forwardOverRangeLit(t, 150, fs));
    EXPECT_TRUE(forwardOverRangeLit(t, 150.001, fs));
  }
  for (MeasType t : {MeasType::Peak, MeasType::Burst}) {
    EXPECT_FALSE(forwardOverRange(t, 486, fs));
    EXPECT_TRUE(forwardOverRange(t, 486.001, fs));
    EXPECT_TRUE(forwardOverRange(t, 850.5, fs));  // the decoder's peak limit
    EXPECT_FALSE(forwardOverRangeLit(t, 405, fs));
    EXPECT_TRUE(forwardOverRangeLit(t, 405.001, fs));
  }
  EXPECT_FALSE(reflectedOverRange(18, rfs));
  EXPECT_TRUE(reflectedOverRange(18.001, rfs));
  EXPECT_FALSE(reflectedOverRangeLit(15, rfs));
  EXPECT_TRUE(reflectedOverRangeLit(15.001, rfs));
  EXPECT_FALSE(peakWindowOverRange(405, fs));
  EXPECT_TRUE(peakWindowOverRange(405.001, fs));
  EXPECT_FALSE(burstWindowOverRange(405, fs));
  EXPECT_TRUE(burstWindowOverRange(405.001, fs));
}

TEST(OverRange, PeakAndBurstWindowFlagsAndLimits) {
  PeakWindowFlags p = peakWindowFlags(405.001, 15.001, 150, 15);
  EXPECT_TRUE(p.peakOver);
  EXPECT_FALSE(p.peakUnder);
  EXPECT_TRUE(p.vswrOver);
  EXPECT_FALSE(p.vswrUnder);
  p = peakWindowFlags(-0.001, -0.001, 150, 15);
  EXPECT_FALSE(p.peakOver);
  EXPECT_TRUE(p.peakUnder);
  EXPECT_FALSE(p.vswrOver);
  EXPECT_TRUE(p.vswrUnder);
  p = peakWindowFlags(0, 0, 150, 15);
  EXPECT_FALSE(p.peakOver || p.peakUnder || p.vswrOver || p.vswrUnder);
  BurstWindowFlags b = burstWindowFlags(405.001, 150);
  EXPECT_TRUE(b.burstOver);
  EXPECT_FALSE(b.burstUnder);
  b = burstWindowFlags(-1, 150);
  EXPECT_FALSE(b.burstOver);
  EXPECT_TRUE(b.burstUnder);

  EXPECT_EQ(limitPeakPower(405, 150), 405);
  EXPECT_DOUBLE_EQ(limitPeakPower(405.001, 150), 850.5);
  EXPECT_EQ(limitBurstPower(405, 150), 405);
  EXPECT_DOUBLE_EQ(limitBurstPower(405.001, 150), 486);
  EXPECT_EQ(limitPeakPower(-5, 150), -5);
}

TEST(PercentOfFullScale, EveryUnit) {
  struct Row {
    U unit;
    double fs, value, percent;
  } rows[] = {
      {U::Rho, 150, 0.25, 25},      {U::VSWR, 150, 1.5, 50},
      {U::VSWR, 1, 1.5, 50},        {U::ReturnLoss, 150, -17.5, 50},
      {U::ReturnLoss, 9, -35, 100}, {U::dBm, 1, 15, 50},
      {U::uW, 0.001, 500, 50},      {U::mW, 2, 500, 25},
      {U::W, 150, 75, 50},          {U::KW, 1500, 0.75, 50},
      {U::W, 150, 300, 200},        {U::W, 150, -15, -10},
      {U::None, 150, 5, 0},         {U::dB, 150, 5, 0},
      {U::AutoW, 150, 5, 0},
  };
  for (const auto& r : rows)
    EXPECT_NEAR(percentOfFullScale(r.unit, r.fs, r.value), r.percent, 1e-4)
        << unitName(r.unit) << " " << r.value;
}

TEST(PercentOfFullScale, BarTruncatesTowardZeroAndClips) {
  struct Row {
    float percent;
    int bar;
  } rows[] = {
      {0, 0},
      {49.99f, 49},
      {50, 50},
      {99.9f, 99},
      {100, 100},
      {250, 100},
      {-0.5f, 0},
      {-50, 0},
      {std::numeric_limits<float>::infinity(), 100},
      {-std::numeric_limits<float>::infinity(), 0},
      {std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const auto& r : rows) EXPECT_EQ(barPosition(r.percent), r.bar) << r.percent;
  // A full scale of zero must not break the bar.
  EXPECT_EQ(barPosition(percentOfFullScale(U::W, 0, 5)), 100);
  EXPECT_EQ(barPosition(percentOfFullScale(U::W, 0, 0)), 0);
  EXPECT_EQ(barPosition(percentOfFullScale(U::W, 1e-300, 1e300)), 100);
}

TEST(Log2Fast, MatchesTheLibraryOverEveryBinadeAndAtTheEdges) {
  // Every binade from the smallest subnormal to the largest float, with
  // mantissas across it, including the split at the square root of two.
  for (int e = -149; e <= 127; ++e)
    for (float m : {1.0f, 1.0000001f, 1.2f, 1.41421354f, 1.41421366f, 1.7f, 1.9999999f}) {
      const float x = std::ldexp(m, e);
      if (!(x > 0) || std::isinf(x)) continue;
      EXPECT_NEAR(log2Fast(x), std::log2(static_cast<double>(x)), 1e-9) << x;
    }
  EXPECT_EQ(log2Fast(0.0f), -INFINITY);
  EXPECT_EQ(log2Fast(INFINITY), INFINITY);
  EXPECT_TRUE(std::isnan(log2Fast(-1.0f)));
  EXPECT_TRUE(std::isnan(log2Fast(NAN)));
}

}  // namespace
}  // namespace zrq::core
