#include "core/ReadingFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zrq::core {
namespace {

// The shortest round-trip decimal of a finite value: its significant digits
// (leading digit first, no point) and the decimal exponent of the first one.
// Rounding from this text rounds the number the sensor sent, so "1.25" to one
// decimal is 1.3 even though the double is a binary tie.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exp = 0;
};

Decimal shortestDecimal(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  Decimal d;
  if (!s.empty() && s.front() == '-') {
    d.negative = true;
    s.remove_prefix(1);
  }
  const auto e = s.find('e');
  for (char c : s.substr(0, e))
    if (c != '.') d.digits += c;
  auto expText = s.substr(e + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), d.exp);
  return d;
}

// Keeps `n` significant digits, rounding half away from zero; n <= 0 keeps
// only what a carry into the next place produces.
void roundTo(Decimal& d, int n) {
  if (n >= static_cast<int>(d.digits.size())) return;
  if (n < 0) {
    d.digits.clear();
    return;
  }
  const bool up = d.digits[static_cast<std::size_t>(n)] >= '5';
  d.digits.resize(static_cast<std::size_t>(n));
  if (!up) return;
  int i = n - 1;
  for (; i >= 0; --i) {
    char& c = d.digits[static_cast<std::size_t>(i)];
    if (c != '9') {
      ++c;
      break;
    }
    c = '0';
  }
  if (i < 0) {  // all nines (or nothing kept): the carry makes a new leading 1
    d.digits.insert(d.digits.begin(), '1');
    ++d.exp;
  }
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
  Decimal d;
  if (value != 0) {
    d = shortestDecimal(value);
    roundTo(d, std::min(sig, d.exp + 1 + decimals));
  }
  const bool zero = allZero(d.digits);
  // The integer part alone decides: more digits than significant ones would
  // switch to exponent notation, whatever the number of decimals.
  if (!zero && d.exp + 1 > sig) return std::nullopt;
  return layOutFixed(d.negative && !zero, d.digits, zero ? 0 : d.exp, decimals);
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
