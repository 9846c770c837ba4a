#include "LabelFormat.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>

namespace zrq::meter {

namespace {

// At most two digits: keeps every label far below the formatting buffer.
bool skipNumber(std::string_view f, size_t& i) {
  size_t digits = 0;
  while (i < f.size() && f[i] >= '0' && f[i] <= '9' && digits < 3) {
    ++i;
    ++digits;
  }
  return digits <= 2;
}

locale_t cLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

}  // namespace

bool isSafeLabelFormat(std::string_view f) {
  int conversions = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '\0') return false;
    if (f[i] != '%') continue;
    ++i;
    if (i < f.size() && f[i] == '%') continue;
    while (i < f.size() && std::strchr("-+ #0", f[i]) && f[i] != '\0') ++i;
    if (!skipNumber(f, i)) return false;
    if (i < f.size() && f[i] == '.') {
      ++i;
      if (!skipNumber(f, i)) return false;
    }
    if (i < f.size() && f[i] == 'l') ++i;
    if (i >= f.size() || f[i] == '\0' || !std::strchr("fFeEgGaA", f[i])) return false;
    ++conversions;
  }
  return conversions == 1;
}

std::string formatLabel(std::string_view fmt, double value) {
  const std::string f =
      isSafeLabelFormat(fmt) ? std::string(fmt) : std::string(kFallbackLabelFormat);
  // The largest double in "%99.99f" is about 410 characters, plus the literal text.
  std::string out(f.size() + 512, '\0');
  const locale_t loc = cLocale();
  const locale_t old = loc ? uselocale(loc) : static_cast<locale_t>(nullptr);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(out.data(), out.size(), f.c_str(), value);
#pragma GCC diagnostic pop
  if (loc) uselocale(old);
  out.resize(n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), out.size() - 1));
  return out;
}

Rgb toRgb(OleColor c) {
  static const uint32_t kSystem[31] = {
      0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
      0x000000, 0x000000, 0xB4B4B4, 0xF4F7FC, 0xABABAB, 0x3399FF, 0xFFFFFF, 0xF0F0F0,
      0xA0A0A0, 0x6D6D6D, 0x000000, 0x434E54, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
      0xFFFFE1, 0xB5B5B5, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x3399FF, 0xF0F0F0};
  if ((c.value >> 24) == 0x80) {
    const uint32_t index = c.value & 0xFFFFFF;
    const uint32_t rgb = index < 31 ? kSystem[index] : 0;
    return {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
  }
  return {uint8_t(c.value), uint8_t(c.value >> 8), uint8_t(c.value >> 16)};
}

}  // namespace zrq::meter
