// Log formats against independent read-backs: a fixed or scientific text
// reads back within its rounding, general within 15 digits, a record keeps its
// 21 comma-terminated fields, and an accepted limit text is what strtod reads.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/LogRecord.h"
#include "core/LogSettings.h"

using namespace zrq::core;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

double readBack(const std::string& s) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);  // the fuzzer runs in the C locale
  check(end && *end == '\0');
  return v;
}

void fixedReadsBack(double v, int p, int d) {
  const std::string s = logFixed(v, p, d);
  if (!std::isfinite(v)) return;
  const double back = readBack(s);
  if (!std::isfinite(back)) {  // rounded past the largest double: "2E308"
    check(std::fabs(v) > 1e307);
    return;
  }
  if (s.find('E') == std::string::npos) {
    const auto dot = s.find('.');
    check(d == 0 ? dot == std::string::npos : s.size() - dot - 1 == static_cast<std::size_t>(d));
  }
  const double mag = std::fabs(v) > 0 ? std::floor(std::log10(std::fabs(v))) : 0;
  const double step = std::max(std::pow(10.0, -d), std::pow(10.0, mag - p + 1));
  check(std::fabs(back - v) <= 0.5 * step * (1 + 1e-9) + std::fabs(v) * 1e-15);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  double v;
  float f;
  std::memcpy(&v, data, 8);
  std::memcpy(&f, data + 8, 4);
  const int p = 1 + data[size - 1] % 17;
  const int d = data[size - 2] % 11;
  fixedReadsBack(v, p, d);
  fixedReadsBack(v, 5, 6);

  if (std::isfinite(f)) {
    const double back = readBack(logGeneral(f));
    check(std::fabs(back - static_cast<double>(f)) <= std::fabs(static_cast<double>(f)) * 1e-14);
  }

  LogRecordInput in;
  in.measType = data[size - 3] % 7;
  in.fwdAvgPower = v;
  in.rflPowerRaw = static_cast<double>(f);
  in.offsetDb = f;
  in.temperature = f;
  in.peakW = -v;
  in.dutyCycle = v;
  in.scaleCode = data[size - 4];
  const std::string line = buildLogRecord(in);
  check(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
  check(line.find('\n') == line.size() - 1);
  const auto commas = static_cast<int>(std::count(line.begin(), line.end(), ','));
  check(commas == (in.measType >= 1 && in.measType <= 5 ? 21 : 10));

  const std::string text(reinterpret_cast<const char*>(data) + 12, size - 12);
  if (auto lim = parseLimitText(text)) {
    check(std::isfinite(*lim));
    std::string t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    std::size_t start = t.find_first_not_of(" \t");
    check(start != std::string::npos);
    check(readBack(t.substr(start)) == *lim);
  }
  return 0;
}
