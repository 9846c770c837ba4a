// Label texts and colours of the meter, free of Qt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "MeterProperties.h"

namespace zrq::meter {

inline constexpr const char* kFallbackLabelFormat = "%.1f";

// True when fmt is literal text (with "%%") around exactly one floating
// conversion: flags "-+ #0", width and precision up to 99, an optional 'l',
// one of "fFeEgGaA". Anything else would hand the double to the wrong
// conversion or read arguments that are not there.
bool isSafeLabelFormat(std::string_view fmt);

// The value formatted with fmt (or with "%.1f" when fmt is not safe), always
// with "." as the decimal point, whatever the process locale.
std::string formatLabel(std::string_view fmt, double value);

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(Rgb, Rgb) = default;
};
// 0x00BBGGRR to its channels; a system colour (high byte 0x80) through the
// standard colour scheme.
Rgb toRgb(OleColor c);

}  // namespace zrq::meter
