#include "core/LogFormat.h"

#include <langinfo.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zrq::core {
namespace {

// The significant digits of a finite, non-zero value (leading digit first, at
// most 17) and the decimal exponent of the first one.
struct Digits {
  bool negative = false;
  char d[24];
  int n = 0;
  int exp = 0;
};

// precision < 0: the shortest text that reads back as the same double, so
// rounding works on the number the sensor sent rather than its binary error.
void splitDigits(double v, int precision, Digits& out) {
  char buf[48];
  auto r = precision < 0
               ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific)
               : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
  const char* p = buf;
  out.negative = *p == '-';
  if (out.negative) ++p;
  out.n = 0;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') out.d[out.n++] = *p;
  ++p;  // 'e'
  const bool negExp = *p == '-';
  ++p;  // the sign is always written
  int e = 0;
  for (; p < r.ptr; ++p) e = e * 10 + (*p - '0');
  out.exp = negExp ? -e : e;
}

// Keeps `keep` significant digits, rounding half away from zero on the
// decimal digits; a carry out of the leading digit makes a new leading "1".
void roundDigits(Digits& x, int keep) {
  if (keep >= x.n) return;
  if (keep < 0) {
    x.n = 0;
    return;
  }
  const bool up = x.d[keep] >= '5';
  x.n = keep;
  if (!up) return;
  int i = keep - 1;
  for (; i >= 0; --i) {
    if (x.d[i] != '9') {
      ++x.d[i];
      break;
    }
    x.d[i] = '0';
  }
  if (i < 0) {  // all nines, or nothing kept
    for (int k = x.n; k > 0; --k) x.d[k] = x.d[k - 1];
    x.d[0] = '1';
    ++x.n;
    ++x.exp;
  }
}

void trimTrailingZeros(Digits& x) {
  while (x.n > 1 && x.d[x.n - 1] == '0') --x.n;
}

bool allZero(const Digits& x) {
  for (int i = 0; i < x.n; ++i)
    if (x.d[i] != '0') return false;
  return true;
}

// "d.dddE<exp>", no trailing zeros, no "+" and no padding in the exponent.
void appendScientific(std::string& out, Digits x) {
  trimTrailingZeros(x);
  char buf[48];
  int k = 0;
  if (x.negative) buf[k++] = '-';
  buf[k++] = x.d[0];
  if (x.n > 1) {
    buf[k++] = '.';
    for (int i = 1; i < x.n; ++i) buf[k++] = x.d[i];
  }
  buf[k++] = 'E';
  auto r = std::to_chars(buf + k, buf + sizeof buf, x.exp);
  out.append(buf, r.ptr);
}

bool appendNonFinite(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NAN";
    return true;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-INF" : "INF";
    return true;
  }
  return false;
}

// Fixed layout of the digits with `decimals` places after the point; the
// digits past the kept ones print as "0".
void appendFixedLayout(std::string& out, const Digits& x, int decimals, bool zero) {
  char buf[400];
  int k = 0;
  if (x.negative && !zero) buf[k++] = '-';
  const int exp = zero ? 0 : x.exp;
  auto digitAt = [&](int pos) {  // the digit at 10^pos
    const int idx = exp - pos;
    return !zero && idx >= 0 && idx < x.n ? x.d[idx] : '0';
  };
  for (int pos = exp > 0 ? exp : 0; pos >= 0; --pos) buf[k++] = digitAt(pos);
  if (decimals > 0) {
    buf[k++] = '.';
    for (int pos = -1; pos >= -decimals; --pos) buf[k++] = digitAt(pos);
  }
  out.append(buf, static_cast<std::size_t>(k));
}

}  // namespace

void appendLogFixed(std::string& out, double value, int sig, int decimals) {
  if (appendNonFinite(out, value)) return;
  sig = sig < 1 ? 1 : sig > 17 ? 17 : sig;
  decimals = decimals < 0 ? 0 : decimals > 30 ? 30 : decimals;
  Digits x;
  if (value == 0) {
    appendFixedLayout(out, x, decimals, true);
    return;
  }
  splitDigits(value, -1, x);
  const int byDecimals = x.exp + 1 + decimals;
  roundDigits(x, sig < byDecimals ? sig : byDecimals);
  const bool zero = allZero(x);
  // Only the integer part decides: with more digits than significant ones the
  // fixed form would have to invent digits.
  if (!zero && x.exp + 1 > sig) {
    appendScientific(out, x);
    return;
  }
  appendFixedLayout(out, x, decimals, zero);
}

void appendLogGeneral(std::string& out, float value) {
  const double v = value;  // the widening is part of the format
  if (appendNonFinite(out, v)) return;
  if (v == 0) {
    out += '0';
    return;
  }
  Digits x;
  splitDigits(v, 14, x);  // 15 significant digits
  trimTrailingZeros(x);
  if (x.exp >= 15 || std::fabs(v) < 0.00001) {
    appendScientific(out, x);
    return;
  }
  // Whole numbers get no point; otherwise exactly the remaining digits.
  const int fracDigits = x.n - (x.exp + 1);
  appendFixedLayout(out, x, fracDigits > 0 ? fracDigits : 0, false);
}

void appendLogFilter(std::string& out, float filterHz) {
  if (filterHz == 4500.0f)
    out += "4.5 KHz";
  else if (filterHz == 400.0f)
    out += "400 KHz";
  else if (filterHz == 10000.0f)
    out += "Full";
  else {
    appendLogGeneral(out, filterHz);
    out += " Hz";
  }
}

void appendLogText(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

LogDateTime LogDateTime::fromTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

LogDateTime LogDateTime::now() { return fromTime(std::time(nullptr)); }

DateOrder regionalDateOrder() {
  const char* fmt = nl_langinfo(D_FMT);
  if (!fmt) return DateOrder::MonthDayYear;
  int d = -1, m = -1, y = -1, pos = 0;
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%' || !p[1]) continue;
    ++p;
    while (*p == 'E' || *p == 'O' || *p == '-' || *p == '_' || *p == '0' || *p == '^') ++p;
    switch (*p) {
      case 'd':
      case 'e':
        d = pos++;
        break;
      case 'm':
      case 'b':
      case 'B':
      case 'h':
        m = pos++;
        break;
      case 'y':
      case 'Y':
      case 'C':
        y = pos++;
        break;
      case 'D':
        return DateOrder::MonthDayYear;  // %m/%d/%y
      case 'F':
        return DateOrder::YearMonthDay;  // %Y-%m-%d
      default:
        break;
    }
    if (!*p) break;
  }
  if (d < 0 || m < 0 || y < 0) return DateOrder::MonthDayYear;
  if (y < m && m < d) return DateOrder::YearMonthDay;
  if (d < m) return DateOrder::DayMonthYear;
  return DateOrder::MonthDayYear;
}

namespace {

char* putInt(char* p, char* end, int v) { return std::to_chars(p, end, v).ptr; }

char* put2(char* p, int v) {
  v = v < 0 ? 0 : v % 100;
  *p++ = static_cast<char>('0' + v / 10);
  *p++ = static_cast<char>('0' + v % 10);
  return p;
}

}  // namespace

void appendLogDate(std::string& out, const LogDateTime& t, DateOrder order) {
  char buf[48];
  char* p = buf;
  char* end = buf + sizeof buf;
  int parts[3];
  switch (order) {
    case DateOrder::DayMonthYear:
      parts[0] = t.day;
      parts[1] = t.month;
      parts[2] = t.year;
      break;
    case DateOrder::YearMonthDay:
      parts[0] = t.year;
      parts[1] = t.month;
      parts[2] = t.day;
      break;
    default:
      parts[0] = t.month;
      parts[1] = t.day;
      parts[2] = t.year;
      break;
  }
  for (int i = 0; i < 3; ++i) {
    if (i) *p++ = '/';
    p = putInt(p, end, parts[i]);
  }
  out.append(buf, p);
}

void appendLogTime(std::string& out, const LogDateTime& t) {
  char buf[16];
  char* p = put2(buf, t.hour);
  *p++ = ':';
  p = put2(p, t.minute);
  *p++ = ':';
  p = put2(p, t.second);
  out.append(buf, p);
}

std::string logFixed(double value, int sig, int decimals) {
  std::string s;
  appendLogFixed(s, value, sig, decimals);
  return s;
}

std::string logGeneral(float value) {
  std::string s;
  appendLogGeneral(s, value);
  return s;
}

}  // namespace zrq::core
