// Number, date and time texts of the CSV log. Locale-independent: "." is the
// decimal point, "/" and ":" the date and time separators, whatever the
// process locale. Every function appends to `out`, so a whole record is built
// in one buffer without temporary strings.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace zrq::core {

// fixed(p, d): rounded to p significant digits but to no more than d digits
// after the point (the coarser wins), written with exactly d decimals,
// zero-padded, "-" for negatives (never "-0.00"). When the rounded integer
// part has more than p digits the value is written in scientific notation
// instead: up to p significant digits, no trailing zeros, "E", the exponent
// ("1.2346E5", "-2E-7"). NaN and infinities read "NAN", "INF", "-INF".
void appendLogFixed(std::string& out, double value, int significantDigits, int decimals);

// general: the value as a 32-bit float widened to double, up to 15 significant
// digits, no trailing zeros, no point for whole numbers; scientific ("1E20",
// "1.5E-6") when the integer part has more than 15 digits or the magnitude is
// below 0.00001. So 0.1f reads 0.100000001490116 and 3 reads 3.
void appendLogGeneral(std::string& out, float value);

// Field 7: 4500 "4.5 KHz", 400 "400 KHz", 10000 "Full"; any other value is
// written as its general text followed by " Hz", so nothing is lost.
void appendLogFilter(std::string& out, float filterHz);

// A text field as stored, but quoted (with inner quotes doubled) when it holds
// a comma, a quote, a CR or a LF, so it cannot break the record's fields.
void appendLogText(std::string& out, std::string_view text);

// One reading of the clock, broken down in local time.
struct LogDateTime {
  int year = 2000, month = 1, day = 1;  // month 1..12
  int hour = 0, minute = 0, second = 0;

  static LogDateTime fromTime(std::time_t t);  // local time
  static LogDateTime now();
  friend bool operator==(const LogDateTime&, const LogDateTime&) = default;
};

// Order of the short date; the separator is always "/".
enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

// The order of the user's regional short date (LC_TIME), MonthDayYear when it
// cannot be told.
DateOrder regionalDateOrder();

// Short date with a four-digit year: "12/8/2026" (MDY), "8/12/2026" (DMY),
// "2026/12/8" (YMD); month and day without leading zeros.
void appendLogDate(std::string& out, const LogDateTime& t, DateOrder order);
// Long time, 24-hour, always two digits: "07:05:09".
void appendLogTime(std::string& out, const LogDateTime& t);

// Conveniences for tests and tools.
std::string logFixed(double value, int significantDigits, int decimals);
std::string logGeneral(float value);

}  // namespace zrq::core
