// The values a log record carries for one reading: the forward, reflected,
// peak and burst powers limited and offset as the panel shows them, in watts
// and in the selected units, and the two ratios. Pure, like computePanel.
#pragma once

#include "core/PanelValues.h"
#include "core/PowerMath.h"
#include "core/PowerUnit.h"
#include "core/SensorReading.h"

namespace zrq::core {

struct LogValues {
  double fwdAvgW = 0, rflW = 0, peakW = 0, burstW = 0;  // watts, limited and offset
  RangedValue fwdAvg, rfl, peak, burst;                 // in fwdUnit / rflUnit
  double crestFactor = 0, ccdfFactor = 0;
};

// Forward average and reflected power are limited to 1.2 x their full scale;
// the reflected power is offset only when the forward one is not 0. Peak and
// burst are the peak and burst windows' values (see peakWindowPower).
LogValues computeLogValues(const SensorReading& reading, const PanelSettings& settings);

}  // namespace zrq::core
