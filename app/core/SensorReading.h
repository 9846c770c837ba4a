// The latest decoded data record of the sensor.
//
// One instance lives in the connection window and is overwritten in place by
// every accepted data string (see DataString.h); every display reads the
// current values directly. It is plain data: no lock, no behaviour.
#pragma once

#include <cstdint>

namespace zrq::core {

struct SensorReading {
  // Raw fields. Powers are in watts, or in kilowatts when scaleCode is 10;
  // only the derived values below are ever converted to watts.
  double burstPower = 0;
  float temperature = 25;  // degrees Celsius, as the sensor reports it
  double fwdAvgPower = 0;
  double rflPowerRaw = 0;  // as received; the log writer uses this one
  double peakPower = 0;
  double spareValue = 0;       // carried by the sensor, read by nobody
  int reportedType = 0;        // measurement type in effect in the sensor
  std::uint8_t scaleCode = 0;  // PowerUnit code: 9 watts, 10 kilowatts
  double ccdfFactor = 0;       // a ratio, never scaled
  double crestFactor = 0;      // a ratio, never scaled
  double dutyCycle = 0;

  // Derived: field 4 clamped by the reflected limit and in watts; the displays
  // use it. Written only when a string is accepted, like the other two.
  double rflPower = 0;

  // Derived: the value of the selected measurement type, clamped and in watts
  // (ratios unscaled). The main reading.
  double selectedPower = 0;
  // Derived: forward average power clamped to 1.5 x full scale, in watts; the
  // forward power the reflection figures are computed against.
  double fwdAvgPowerClamped = 0;
};

}  // namespace zrq::core
