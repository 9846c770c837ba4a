#pragma once
// The fixed-column data string the sensor streams, in both layouts.

#include "SensorConfig.h"
#include "SignalModel.h"

#include <string>

namespace tks7730sim {

// Sign, one digit, '.', `decimals` digits, 'E', sign, two digits: always
// 7 + decimals characters. Independent of the process locale.
std::string formatReal(double v, int decimals);

struct DataFields {
  Reading reading;  // powers in the unit of scaleCode
  int reportedType = 1;
  int scaleCode = 9;
  int unit = 11;  // echoed in layout B's extra field
};

// The data string without the leading "D" and the trailing carriage return.
// Layout A is 117 characters with ",," at 116; layout B is 120 with ",," at 119.
std::string formatDataString(const DataFields& f, Layout layout);

// Real fields (1-6, 9-11) and field 7 as [first, width] 0-based, for the fault
// that spoils one field.
struct FieldSpan {
  int pos;
  int width;
};
FieldSpan fieldSpan(int field, Layout layout);

}  // namespace tks7730sim
