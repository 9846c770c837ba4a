// The measurement type code shared by the data string, the main window's
// selected type and the settings command.
#pragma once

#include <cstdint>

namespace zrq::core {

// 0 is not a sensor type: the main window uses it while no sensor is streaming.
// Codes outside 0..5 can arrive in a data string and are kept as they are.
enum class MeasType : std::uint8_t {
  None = 0,
  Average = 1,
  Peak = 2,
  Burst = 3,
  Crest = 4,
  CCDF = 5,
};

constexpr int measTypeCode(MeasType t) { return static_cast<int>(t); }

// Average, Peak and Burst show a power; Crest and CCDF show a ratio.
constexpr bool measTypeShowsPower(MeasType t) {
  return t == MeasType::Average || t == MeasType::Peak || t == MeasType::Burst;
}

// "Average", "Peak", ... ; "None" for 0 and "Unknown" for any other code.
const char* measTypeName(MeasType t);

}  // namespace zrq::core
