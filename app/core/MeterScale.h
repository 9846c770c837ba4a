// What the meter windows write to their meters on a display tick: the
// caption, scale and format chosen from the measurement type, the unit and
// the value, as an ordered list of property writes.
#pragma once

#include <string>
#include <vector>

#include "MeasType.h"
#include "PowerUnit.h"

namespace zrq::core {

enum class MeterProp { Value, Caption, MaximumValue, MinimumValue, ValueFormatString };

struct MeterWrite {
  MeterProp prop;
  double number = 0;  // Value, MaximumValue, MinimumValue
  std::string text;   // Caption, ValueFormatString
  friend bool operator==(const MeterWrite&, const MeterWrite&) = default;
};

using MeterWrites = std::vector<MeterWrite>;

// Forward meter: value v in its display unit. Type 0 empties the caption;
// Crest, CCDF and units without a row change nothing.
MeterWrites forwardMeterWrites(MeasType type, double v, PowerUnit unit);

// Reflected meter (Average): v is the value already written as Value;
// rflFullScale is the scale of the unit None.
MeterWrites reflectedMeterWrites(PowerUnit unit, double v, double rflFullScale);

// Reflected meter in Peak: the fixed VSWR scale.
MeterWrites vswrMeterWrites();

}  // namespace zrq::core
