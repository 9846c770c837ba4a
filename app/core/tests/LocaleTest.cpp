#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/DataString.h"
#include "core/ReadingFormat.h"
#include "DataStringBuilder.h"

namespace zrq::core {
namespace {

// Each registration must really run under the locale it names (the
// decimal-comma one under a decimal-comma locale), or the other tests would
// prove nothing.
TEST(Locale, EachRegistrationRunsUnderTheLocaleItNames) {
  const char* want = std::getenv("ZRQ_EXPECT_DECIMAL_COMMA");
  const bool comma = want && std::strcmp(want, "1") == 0;
  ASSERT_STREQ(std::localeconv()->decimal_point, comma ? "," : ".")
      << "de_DE.UTF-8 is missing (scripts/deps.sh installs it)";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", 1.5);
  EXPECT_STREQ(buf, comma ? "1,50" : "1.50");
}

TEST(Locale, NumbersParseAndPrintWithAPointWhateverTheLocale) {
  SensorReading r;
  bool changed = false;
  auto s = test::buildDataString(test::DataFields().set(3, "+1.2500E+01").set(2, "-1.5"),
                                 DataStringLayout::A);
  ASSERT_EQ(decodeDataString(s, DecodeInputs{}, r, changed).outcome, DecodeOutcome::Accepted);
  EXPECT_DOUBLE_EQ(r.fwdAvgPower, 12.5);
  EXPECT_FLOAT_EQ(r.temperature, -1.5f);
  EXPECT_EQ(formatReading(12.5, 2).value(), "12.50");
  EXPECT_EQ(offsetText(MeasType::Average, 3), "3.00 dB");
  EXPECT_EQ(dutyText(MeasType::Burst, 12.5), "12.5");

  // A decimal comma is not a number in the data string.
  auto comma = test::buildDataString(test::DataFields().set(3, "1,5"), DataStringLayout::A);
  EXPECT_NE(decodeDataString(comma, DecodeInputs{}, r, changed).outcome, DecodeOutcome::Accepted);
}

}  // namespace
}  // namespace zrq::core
