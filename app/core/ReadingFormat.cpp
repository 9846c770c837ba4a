#include "core/ReadingFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zrq::core {
namespace {

// Decimal exponent of the leading digit of a finite, non-zero value, taken
// from the shortest round-trip text so it is exact.
int decimalExponent(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* e = std::find(buf, r.ptr, 'e');
  int exp = 0;
  std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), r.ptr, exp);
  return exp;
}

// Fixed text of `digits` (the significant digits, leading digit at decimal
// exponent `exp`) with `decimals` places after the point.
std::string layOutFixed(bool negative, std::string_view digits, int exp, int decimals) {
  std::string intPart, frac;
  for (int pos = std::max(exp, 0); pos >= -decimals; --pos) {
    const int idx = exp - pos;  // index into digits of the digit at 10^pos
    const char d = idx >= 0 && idx < static_cast<int>(digits.size()) ? digits[idx] : '0';
    (pos >= 0 ? intPart : frac) += d;
  }
  std::string out = negative ? "-" : "";
  out += intPart;
  if (decimals > 0) out += "." + frac;
  return out;
}

bool allZero(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c < '1' || c > '9'; });
}

}  // namespace

std::optional<std::string> formatFixed(double value, int sig, int decimals) {
  if (!std::isfinite(value)) return std::nullopt;
  decimals = std::clamp(decimals, 0, 17);
  sig = std::clamp(sig, 1, 17);
  char buf[400];
  std::string text;
  if (value == 0 || decimalExponent(value) + 1 + decimals <= sig) {
    // The decimals keep no more significant digits than allowed: plain
    // correctly rounded fixed notation.
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return std::nullopt;
    text.assign(buf, r.ptr);
  } else {
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, sig - 1);
    if (r.ec != std::errc()) return std::nullopt;
    std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    const bool negative = s.front() == '-';
    if (negative) s.remove_prefix(1);
    const auto e = s.find('e');
    std::string digits;
    for (char c : s.substr(0, e))
      if (c != '.') digits += c;
    int exp = 0;
    auto expText = s.substr(e + 1);
    if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
    std::from_chars(expText.data(), expText.data() + expText.size(), exp);
    text = layOutFixed(negative, digits, exp, decimals);
  }
  // The integer part alone decides: more digits than significant ones would
  // switch to exponent notation, whatever the number of decimals.
  const std::size_t start = text.front() == '-' ? 1 : 0;
  const std::size_t point = std::min(text.find('.'), text.size());
  if (point - start > static_cast<std::size_t>(sig)) return std::nullopt;
  if (start == 1 && allZero(text)) text.erase(0, 1);
  return text;
}

std::optional<std::string> formatReading(double value, int decimals) {
  return formatFixed(value, kReadingDigits, std::clamp(decimals, 0, 5));
}

bool withinDisplayLimit(ValueDisplay display, PowerUnit unit, double value) {
  if (std::isnan(value)) return false;
  const double limit =
      display == ValueDisplay::Forward && unit == PowerUnit::dBm ? kForwardDbmLimit : kDisplayLimit;
  return value <= limit;
}

std::optional<std::string> formatDisplayValue(ValueDisplay display, PowerUnit unit, double value,
                                              int decimals) {
  if (!withinDisplayLimit(display, unit, value)) return std::nullopt;
  return formatReading(value, decimals);
}

std::string displayTextOrBlank(ValueDisplay display, PowerUnit unit, double value, int decimals) {
  auto t = formatDisplayValue(display, unit, value, decimals);
  return t ? *t : std::string(blankText);
}

std::string shortestText(double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

namespace {

// Two decimals, at most four significant digits; a value too large for that
// still reads as a number rather than nothing.
std::string settingText(double value, std::string_view suffix) {
  auto t = formatFixed(value, 4, 2);
  return (t ? *t : shortestText(value)) + std::string(suffix);
}

}  // namespace

std::string offsetText(MeasType type, double offsetDb) {
  if (offsetDb == 0 || !measTypeShowsPower(type)) return {};
  return settingText(offsetDb, " dB");
}

std::string ccdfLimitText(MeasType type, double ccdfLimitW) {
  if (ccdfLimitW == 0 || type != MeasType::CCDF) return {};
  return settingText(ccdfLimitW, " W");
}

std::string dutyText(MeasType type, double dutyCycle) {
  return type == MeasType::Burst ? shortestText(dutyCycle) : std::string();
}

std::string burstWindowDutyText(MeasType type, double dutyCycle) {
  return type == MeasType::CCDF ? std::string("NA") : shortestText(dutyCycle);
}

}  // namespace zrq::core
