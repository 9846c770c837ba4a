#include "DataString.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tks7730sim {

std::string formatReal(double v, int decimals) {
  if (!std::isfinite(v)) v = 0.0;
  // Keep the exponent at two digits so the field width never changes.
  if (std::fabs(v) < 1e-99) v = 0.0;
  if (std::fabs(v) >= 9.9e99) v = std::copysign(9.9e99, v);
  char buf[64];
  auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, decimals);
  std::string digits(buf, res.ptr);  // e.g. 1.0000e+02
  const auto e = digits.find('e');
  std::string mant = digits.substr(0, e);
  std::string exp = digits.substr(e + 1);  // +02 / -05
  char esign = exp[0];
  std::string edigits = exp.substr(1);
  while (edigits.size() < 2) edigits.insert(edigits.begin(), '0');
  std::string out;
  out += std::signbit(v) && v != 0.0 ? '-' : '+';
  out += mant;
  out += 'E';
  out += esign;
  out += edigits;
  return out;
}

namespace {
std::string int2(int v) {
  if (v < -9) v = -9;
  if (v > 99) v = 99;
  std::string s = std::to_string(v);
  return s.size() < 2 ? " " + s : s;
}
}  // namespace

std::string formatDataString(const DataFields& f, Layout layout) {
  const Reading& r = f.reading;
  std::string s;
  s.reserve(124);
  s += ',' + formatReal(r.burstW, 4);
  s += ',' + formatReal(r.temperatureC, 5);  // the one 12-character field
  s += ',' + formatReal(r.forwardAvgW, 4);
  s += ',' + formatReal(r.reflectedW, 4);
  s += ',' + formatReal(r.peakW, 4);
  s += ',' + formatReal(r.offsetForwardW, 4);
  if (layout == Layout::B) s += ',' + int2(f.unit);
  s += ',' + int2(f.reportedType);
  s += ',' + int2(f.scaleCode);
  s += ',' + formatReal(r.ccdfPercent, 4);
  s += ',' + formatReal(r.crestFactor, 4);
  s += ',' + formatReal(r.dutyPercent, 4);
  s += ",,";
  return s;
}

FieldSpan fieldSpan(int field, Layout layout) {
  const int shift = layout == Layout::B ? 3 : 0;
  switch (field) {
    case 1:
      return {1, 11};
    case 2:
      return {13, 12};
    case 3:
      return {26, 11};
    case 4:
      return {38, 11};
    case 5:
      return {50, 11};
    case 6:
      return {62, 11};
    case 7:
      return {74 + shift, 2};
    case 8:
      return {77 + shift, 2};
    case 9:
      return {80 + shift, 11};
    case 10:
      return {92 + shift, 11};
    case 11:
      return {104 + shift, 11};
    default:
      return {0, 0};
  }
}

}  // namespace tks7730sim
