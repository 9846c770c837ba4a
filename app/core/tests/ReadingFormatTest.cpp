#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/ReadingFormat.h"

namespace zrq::core {
namespace {

using U = PowerUnit;

struct FormatRow {
  double value;
  int decimals;
  std::optional<std::string> text;
};

TEST(FormatReading, FiveSignificantDigitsThenFixedDecimals) {
  const FormatRow rows[] = {
      {123.456789, 2, "123.46"},
      {12345.678, 2, "12346.00"},  // digits past the fifth print as 0
      {0.123456, 5, "0.12346"},
      {1.23456, 5, "1.23460"},
      {1.23456, 1, "1.2"},
      {1.25, 1, "1.3"},  // ties round away from zero
      {1.35, 1, "1.4"},  // 1.35000000000000008882 in binary
      {0.125, 2, "0.13"},
      {2.5, 0, "3"},
      {-2.5, 0, "-3"},
      {1.2345, 3, "1.235"},  // 1.23449999999999993072 in binary
      {0, 2, "0.00"},
      {0, 0, "0"},
      {7, 0, "7"},
      {0.006, 2, "0.01"},
      {0.004, 2, "0.00"},
      {-0.004, 2, "0.00"},  // no "-0.00"
      {-0.0, 3, "0.000"},
      {-20, 2, "-20.00"},
      {999.9, 0, "1000"},
      {9.99996, 5, "10.00000"},  // rounding moves the point
      {0.000123456, 5, "0.00012"},
      {12.3456789, 3, "12.346"},
      {1e-300, 5, "0.00000"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(formatReading(r.value, r.decimals), r.text) << r.value << "/" << r.decimals;
}

TEST(FormatReading, FailsWhenTheIntegerPartNeedsMoreThanFiveDigits) {
  const FormatRow rows[] = {
      {99999, 0, "99999"},
      {99999, 5, "99999.00000"},
      {99999.4, 2, "99999.00"},
      {-99999, 2, "-99999.00"},
      {99999.5, 0, std::nullopt},  // rounds to 100000
      {99999.6, 3, std::nullopt},
      {100000, 0, std::nullopt},
      {-150000, 0, std::nullopt},
      {-150000, 5, std::nullopt},
      {1e300, 2, std::nullopt},
      {std::numeric_limits<double>::infinity(), 2, std::nullopt},
      {-std::numeric_limits<double>::infinity(), 2, std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), 2, std::nullopt},
  };
  for (const auto& r : rows)
    EXPECT_EQ(formatReading(r.value, r.decimals), r.text) << r.value << "/" << r.decimals;
}

TEST(FormatReading, DecimalsOutsideZeroToFiveAreClamped) {
  EXPECT_EQ(formatReading(1.5, -3), "2");
  EXPECT_EQ(formatReading(1.5, 9), "1.50000");
}

TEST(DisplayLimits, ForwardDbmStopsAt145OthersAt99999) {
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Forward, U::dBm, 145.0, 2), "145.00");
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Forward, U::dBm, 145.01, 2), std::nullopt);
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Forward, U::W, 145.01, 2), "145.01");
  for (ValueDisplay d : {ValueDisplay::Forward, ValueDisplay::Reflected, ValueDisplay::PeakValue,
                         ValueDisplay::PeakVswr, ValueDisplay::BurstValue}) {
    EXPECT_TRUE(withinDisplayLimit(d, U::W, 99999.0));
    EXPECT_FALSE(withinDisplayLimit(d, U::W, 99999.01));
    EXPECT_TRUE(withinDisplayLimit(d, U::W, -1e9));  // negatives fail only in formatting
    EXPECT_FALSE(withinDisplayLimit(d, U::W, std::nan("")));
    EXPECT_EQ(formatDisplayValue(d, U::W, -1e9, 2), std::nullopt);
  }
  // Only the forward display has the dBm limit.
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Reflected, U::dBm, 150, 2), "150.00");
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Reflected, U::W, 99999.0, 0), "99999");
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Reflected, U::W, 99999.4, 0), std::nullopt);
  EXPECT_EQ(formatDisplayValue(ValueDisplay::Forward, U::W, 99999.0, 2), "99999.00");
  EXPECT_EQ(displayTextOrBlank(ValueDisplay::Forward, U::W, 1e6, 2), "- - - - -");
  EXPECT_EQ(displayTextOrBlank(ValueDisplay::Forward, U::W, 1.5, 2), "1.50");
}

TEST(SecondaryTexts, OffsetCcdfLimitAndDuty) {
  EXPECT_EQ(offsetText(MeasType::Average, 3), "3.00 dB");
  EXPECT_EQ(offsetText(MeasType::Peak, 12.345), "12.35 dB");
  EXPECT_EQ(offsetText(MeasType::Burst, 100), "100.00 dB");
  EXPECT_EQ(offsetText(MeasType::Average, 1.23456), "1.23 dB");
  EXPECT_EQ(offsetText(MeasType::Crest, 3), "");
  EXPECT_EQ(offsetText(MeasType::CCDF, 3), "");
  EXPECT_EQ(offsetText(MeasType::Average, 0), "");

  EXPECT_EQ(ccdfLimitText(MeasType::CCDF, 50), "50.00 W");
  EXPECT_EQ(ccdfLimitText(MeasType::CCDF, 123.456), "123.50 W");  // four significant digits
  EXPECT_EQ(ccdfLimitText(MeasType::CCDF, 0), "");
  EXPECT_EQ(ccdfLimitText(MeasType::Average, 50), "");
  EXPECT_EQ(ccdfLimitText(MeasType::CCDF, 123456),
            "123456 W");  // too long for 4 digits: still a number

  EXPECT_EQ(dutyText(MeasType::Burst, 12.5), "12.5");
  EXPECT_EQ(dutyText(MeasType::Burst, 0.1), "0.1");
  EXPECT_EQ(dutyText(MeasType::Burst, 100), "100");
  EXPECT_EQ(dutyText(MeasType::Average, 12.5), "");
  EXPECT_EQ(burstWindowDutyText(MeasType::Average, 12.5), "12.5");
  EXPECT_EQ(burstWindowDutyText(MeasType::Burst, 12.5), "12.5");
  EXPECT_EQ(burstWindowDutyText(MeasType::CCDF, 12.5), "NA");
  EXPECT_EQ(blankText, "- - - - -");
}

}  // namespace
}  // namespace zrq::core
