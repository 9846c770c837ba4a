#pragma once
// What one simulated sensor is: its identity, its protocol timing and the
// transmitter it measures. Plain values so options, tests and the engine share them.

#include <cstdint>
#include <string>
#include <vector>

#include "PowerScript.h"

namespace tks7730sim {

enum class Layout { A, B };

// The transmitter in front of the sensor.
struct SignalParams {
  double forwardAvgW = 100.0;  // forward average power
  double dutyPercent = 80.0;   // share of time inside a burst
  double peakRatio = 1.6;      // in-burst peak over in-burst average, 1..2
  double vswr = 1.5;           // load mismatch that sets the reflected power
  double temperatureC = 28.0;  // head temperature at power-up
  double driftPercent = 2.0;   // slow drift of the transmitter, peak amplitude
  double noisePercent = 0.5;   // reading noise at the default 4500 Hz filter
};

struct SensorConfig {
  std::string firmware = "1.40";  // exactly 4 characters in the interrogation reply
  bool calibrated = true;
  std::string serialNumber = "12345";
  int bannerCount = 1;  // first commands after power-up answered with the banner
  Layout layout = Layout::A;
  double fullScaleW = 150.0;
  bool kilowatt = false;         // power fields in kW, scale code 10
  int intervalMs = 100;          // data line period while streaming
  int zeroTimeMs = 8000;         // how long a zero calibration takes
  std::string zeroResult = "0";  // result code of the zero calibration, 1-2 characters
  SignalParams signal;
  uint64_t seed = 1;
  std::vector<PowerStep> powerSteps;  // --power-script: steps after the stream starts
};

// What the G command sets. Defaults are what the sensor runs with at power-up.
struct MeasSettings {
  int type = 1;  // 1 Average .. 5 CCDF
  double offsetDb = 0.0;
  double filterHz = 4500.0;
  int unit = 11;  // forward display unit code
  double ccdfLimitW = 50.0;
};

}  // namespace tks7730sim
