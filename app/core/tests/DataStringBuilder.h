// Builds data strings with the sensor's fixed columns for the tests.
#pragma once

#include <array>
#include <string>

#include "core/DataString.h"

namespace zrq::core::test {

// Field texts 1..11 (index 0..10), each right-aligned in its column.
struct DataFields {
  std::array<std::string, 11> f{"+0.0000E+00", "+2.5000E+01", "+0.0000E+00", "+0.0000E+00",
                                "+0.0000E+00", "+0.0000E+00", " 1",          " 9",
                                "+0.0000E+00", "+0.0000E+00", "+0.0000E+00"};
  std::string extraB = "00";  // the skipped field of layout B

  DataFields& set(int field, std::string text) {
    f[static_cast<std::size_t>(field - 1)] = std::move(text);
    return *this;
  }
};

inline constexpr int kFieldWidth[11] = {11, 12, 11, 11, 11, 11, 2, 2, 11, 11, 11};

inline std::string padded(const std::string& s, int width) {
  return s.size() >= static_cast<std::size_t>(width)
             ? s
             : std::string(static_cast<std::size_t>(width) - s.size(), ' ') + s;
}

inline std::string buildDataString(const DataFields& d, DataStringLayout layout) {
  std::string s;
  for (int i = 0; i < 11; ++i) {
    s += ',';
    s += padded(d.f[static_cast<std::size_t>(i)], kFieldWidth[i]);
    if (i == 5 && layout == DataStringLayout::B) s += "," + padded(d.extraB, 2);
  }
  return s + ",,";
}

}  // namespace zrq::core::test
