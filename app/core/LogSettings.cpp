#include "core/LogSettings.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace zrq::core {

int sampleIntervalTicks(LogTimeUnit unit, int n) {
  n = n < kMinSampleTime ? kMinSampleTime : n > kMaxSampleTime ? kMaxSampleTime : n;
  switch (unit) {
    case LogTimeUnit::Minutes:
      return n * 120;
    case LogTimeUnit::Hours:
      return n * 7200;
    default:
      return n * 2;
  }
}

std::optional<double> parseLimitText(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // from_chars would also take "inf", "nan" and hex; only digits, "." and an
  // exponent are a limit.
  if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s.front())) || s.front() == '.'))
    return std::nullopt;
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return negative ? -v : v;
}

double limitRangeMax(LogTrigger t, double fwdFullScale) {
  return t == LogTrigger::Peak || t == LogTrigger::Burst ? 3 * fwdFullScale : fwdFullScale;
}

bool limitInRange(LogTrigger t, double watts, double fwdFullScale) {
  return watts >= 0 && watts <= limitRangeMax(t, fwdFullScale);
}

std::string_view logTriggerName(LogTrigger t) {
  switch (t) {
    case LogTrigger::Reflected:
      return "Reflected";
    case LogTrigger::Peak:
      return "Peak";
    case LogTrigger::Burst:
      return "Burst";
    default:
      return "Forward";
  }
}

}  // namespace zrq::core
