// Number, date and time texts of the CSV log, whatever the process locale.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "core/LogFormat.h"

namespace zrq::core {
namespace {

struct FixedRow {
  double value;
  int sig, decimals;
  const char* text;
};

// Each run must really run under the locale it names (the decimal-comma one
// under such a locale), or the point in every expected text below would
// prove nothing.
TEST(LogLocale, EachRunHasTheDecimalPointOfItsLocale) {
  const char* want = std::getenv("ZRQ_EXPECT_DECIMAL_COMMA");
  const bool comma = want && std::string(want) == "1";
  ASSERT_STREQ(std::localeconv()->decimal_point, comma ? "," : ".");
  EXPECT_EQ(logFixed(1.5, 5, 2), "1.50");
  EXPECT_EQ(logGeneral(0.5f), "0.5");
}

TEST(LogFixed, SignificantDigitsOrDecimalsWhicheverIsCoarser) {
  const FixedRow rows[] = {
      // fixed(5, 6): powers, dBm, temperature, factors
      {450, 5, 6, "450.000000"},
      {0.123456789, 5, 6, "0.123460"},  // 5 significant digits, padded to 6 decimals
      {12345.678, 5, 6, "12346.000000"},
      {99.2155, 5, 6, "99.216000"},   // ties of the decimal text round away from zero
      {0.0000004, 5, 6, "0.000000"},  // below the last decimal
      {0.0000005, 5, 6, "0.000001"},
      {-0.0000004, 5, 6, "0.000000"},  // no "-0.000000"
      {-12.345678, 5, 6, "-12.346000"},
      {-99.99, 5, 6, "-99.990000"},
      {0, 5, 6, "0.000000"},
      {25, 5, 6, "25.000000"},
      {99999.4, 5, 6, "99999.000000"},
      {9.999996, 5, 6, "10.000000"},  // the carry moves the point
      // fixed(2, 3): rho
      {0.1, 2, 3, "0.100"},
      {0.12345, 2, 3, "0.120"},
      {0.125, 2, 3, "0.130"},
      {1, 2, 3, "1.000"},
      {0.0004, 2, 3, "0.000"},
      {0.0005, 2, 3, "0.001"},
      // fixed(3, 3): VSWR
      {1.2222222, 3, 3, "1.220"},
      {1.5, 3, 3, "1.500"},
      {12.3456, 3, 3, "12.300"},
      {999.4, 3, 3, "999.000"},
      // fixed(5, 2): return loss
      {-20, 5, 2, "-20.00"},
      {-13.979400, 5, 2, "-13.98"},
      {-35, 5, 2, "-35.00"},
      {0, 5, 2, "0.00"},
      // duty cycle: two decimals, no limit on significant digits
      {80, 17, 2, "80.00"},
      {12.345, 17, 2, "12.35"},
      {33.333333, 17, 2, "33.33"},
      {0.004, 17, 2, "0.00"},
      {100, 17, 2, "100.00"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(logFixed(r.value, r.sig, r.decimals), r.text)
        << r.value << " fixed(" << r.sig << "," << r.decimals << ")";
}

TEST(LogFixed, ScientificWhenTheIntegerPartHasMoreDigitsThanSignificantOnes) {
  const FixedRow rows[] = {
      {123456, 5, 6, "1.2346E5"}, {100000, 5, 6, "1E5"},
      {99999.6, 5, 6, "1E5"},  // rounds up into a sixth integer digit
      {-150000, 5, 6, "-1.5E5"},  {1e20, 5, 6, "1E20"},
      {1234, 3, 3, "1.23E3"},  // a VSWR of a near-total reflection
      {999.6, 3, 3, "1E3"},       {12.5, 1, 3, "1E1"},
      {123.456, 2, 3, "1.2E2"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(logFixed(r.value, r.sig, r.decimals), r.text)
        << r.value << " fixed(" << r.sig << "," << r.decimals << ")";
  // Fixed stays fixed right up to the limit.
  EXPECT_EQ(logFixed(99999.49, 5, 6), "99999.000000");
  EXPECT_EQ(logFixed(999.4, 3, 3), "999.000");
}

TEST(LogFixed, NonFiniteValuesAreMarkedNotNumbers) {
  EXPECT_EQ(logFixed(std::numeric_limits<double>::quiet_NaN(), 5, 6), "NAN");
  EXPECT_EQ(logFixed(std::numeric_limits<double>::infinity(), 5, 6), "INF");
  EXPECT_EQ(logFixed(-std::numeric_limits<double>::infinity(), 5, 6), "-INF");
}

TEST(LogGeneral, A32BitFloatWidenedAndWrittenWithUpTo15Digits) {
  const std::pair<float, const char*> rows[] = {
      {0.0f, "0"},
      {3.0f, "3"},
      {50.0f, "50"},
      {0.1f, "0.100000001490116"},
      {1.5f, "1.5"},
      {2.5f, "2.5"},
      {-3.0f, "-3"},
      {100.0f, "100"},
      {0.3f, "0.300000011920929"},
      {12.34f, "12.3400001525879"},
      {0.00001f, "9.99999974737875E-6"},  // below 0.00001 after widening
      {0.0001f, "0.0000999999974737875"},
      {1e15f, "999999986991104"},      // 15 integer digits: still fixed
      {1e16f, "1.00000002725642E16"},  // 17 digits: scientific
      {1e20f, "1.00000002004088E20"},
      {16777216.0f, "16777216"},
  };
  for (const auto& [v, text] : rows) EXPECT_EQ(logGeneral(v), text) << v;
  std::string out = "x";
  appendLogGeneral(out, 3.0f);
  EXPECT_EQ(out, "x3");  // appends
}

TEST(LogFilterText, TheThreeFilterChoicesAndAnythingElseAsANumber) {
  auto text = [](float hz) {
    std::string s;
    appendLogFilter(s, hz);
    return s;
  };
  EXPECT_EQ(text(4500), "4.5 KHz");
  EXPECT_EQ(text(400), "400 KHz");
  EXPECT_EQ(text(10000), "Full");
  EXPECT_EQ(text(1000), "1000 Hz");
  EXPECT_EQ(text(0), "0 Hz");
}

TEST(LogText, FieldsThatWouldBreakTheRecordAreQuoted) {
  auto text = [](std::string_view t) {
    std::string s;
    appendLogText(s, t);
    return s;
  };
  EXPECT_EQ(text("12345"), "12345");
  EXPECT_EQ(text(""), "");
  EXPECT_EQ(text("A 12"), "A 12");
  EXPECT_EQ(text("12,345"), "\"12,345\"");
  EXPECT_EQ(text("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(text("a\r\nb"), "\"a\r\nb\"");
}

TEST(LogDateTime, SlashAndColonSeparatorsInEveryOrder) {
  const LogDateTime t{2026, 12, 8, 7, 5, 9};
  auto date = [&](DateOrder o) {
    std::string s;
    appendLogDate(s, t, o);
    return s;
  };
  EXPECT_EQ(date(DateOrder::MonthDayYear), "12/8/2026");
  EXPECT_EQ(date(DateOrder::DayMonthYear), "8/12/2026");
  EXPECT_EQ(date(DateOrder::YearMonthDay), "2026/12/8");
  std::string s;
  appendLogTime(s, t);
  EXPECT_EQ(s, "07:05:09");
  s.clear();
  appendLogTime(s, LogDateTime{2026, 1, 1, 23, 59, 0});
  EXPECT_EQ(s, "23:59:00");
}

TEST(LogDateTime, FromTimeBreaksDownLocalTime) {
  // Noon on a date far from any daylight-saving change in every zone.
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 0;
  tm.tm_mday = 15;
  tm.tm_hour = 12;
  tm.tm_min = 34;
  tm.tm_sec = 56;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  EXPECT_EQ(LogDateTime::fromTime(t), (LogDateTime{2026, 1, 15, 12, 34, 56}));
}

TEST(LogDateTime, RegionalOrderFollowsTheTimeLocale) {
  const std::string saved = std::setlocale(LC_TIME, nullptr);
  std::setlocale(LC_TIME, "C");
  EXPECT_EQ(regionalDateOrder(), DateOrder::MonthDayYear);  // %m/%d/%y
  if (std::setlocale(LC_TIME, "de_DE.UTF-8")) {
    EXPECT_EQ(regionalDateOrder(), DateOrder::DayMonthYear);  // %d.%m.%Y
  }
  std::setlocale(LC_TIME, saved.c_str());
}

}  // namespace
}  // namespace zrq::core
