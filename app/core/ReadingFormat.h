// Texts of the value displays: number formatting with its limits, the blank
// text and the secondary texts (offset, CCDF limit, duty cycle).
// Locale-independent: "." is the decimal point whatever the process locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/MeasType.h"
#include "core/PowerUnit.h"

namespace zrq::core {

// Shown by a value display that has no valid value.
inline constexpr std::string_view blankText = "- - - - -";

inline constexpr int kReadingDigits = 5;  // significant digits of a reading

// Fixed-point text of `value` with `decimals` (0..5; clamped) digits after the
// point, rounded to at most 5 significant digits (later digits print as "0").
// Fails (nullopt) when the integer part needs more than 5 digits, or for NaN
// and infinities. A result that rounds to zero carries no minus sign.
std::optional<std::string> formatReading(double value, int decimals);

// The same with another number of significant digits (1..17).
std::optional<std::string> formatFixed(double value, int significantDigits, int decimals);

// The value displays and their limits, tested before formatting.
enum class ValueDisplay {
  Forward,     // dBm: fails above 145.0; other units above 99999.0
  Reflected,   // above 99999.0
  PeakValue,   // peak window value, above 99999.0
  PeakVswr,    // peak window VSWR, above 99999.0
  BurstValue,  // burst window value, above 99999.0
};

inline constexpr double kForwardDbmLimit = 145.0;
inline constexpr double kDisplayLimit = 99999.0;

// False when `value` exceeds the display's limit (or is NaN). Negative values
// pass here and fail only in formatReading.
bool withinDisplayLimit(ValueDisplay display, PowerUnit unit, double value);

// The limit test followed by formatReading.
std::optional<std::string> formatDisplayValue(ValueDisplay display, PowerUnit unit, double value,
                                              int decimals);

// The text of a read-out: formatDisplayValue, or blankText when it fails.
std::string displayTextOrBlank(ValueDisplay display, PowerUnit unit, double value, int decimals);

// "3.00 dB" when offsetDb != 0 and the type is Average, Peak or Burst, else "".
std::string offsetText(MeasType type, double offsetDb);
// "50.00 W" when ccdfLimit != 0 and the type is CCDF, else "".
std::string ccdfLimitText(MeasType type, double ccdfLimitW);
// The duty cycle in shortest general notation in Burst, else "".
std::string dutyText(MeasType type, double dutyCycle);
// The burst window's duty text: "NA" in CCDF, the duty cycle in every other type.
std::string burstWindowDutyText(MeasType type, double dutyCycle);

// Shortest round-trip text of a number ("12.5", "0.001", "1e+20").
std::string shortestText(double value);

}  // namespace zrq::core
