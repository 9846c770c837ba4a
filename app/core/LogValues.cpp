#include "core/LogValues.h"

#include <algorithm>

#include "core/PowerMath.h"

namespace zrq::core {

LogValues computeLogValues(const SensorReading& r, const PanelSettings& s) {
  LogValues l;
  const MeasType type = s.measType;
  l.fwdAvgW = applyOffset(type, s.offsetDb, std::min(r.fwdAvgPowerClamped, 1.2 * s.fwdFullScale));
  l.rflW = std::min(r.rflPower, 1.2 * s.rflFullScale);
  if (l.fwdAvgW != 0) l.rflW = applyOffset(type, s.offsetDb, l.rflW);
  l.fwdAvg = powerInUnit(s.fwdUnit, l.fwdAvgW);
  l.rfl = powerInUnit(s.rflUnit, l.rflW);
  l.peakW = peakWindowPower(r, s);
  l.burstW = burstWindowPower(r, s);
  l.peak = powerInUnit(s.fwdUnit, l.peakW);
  l.burst = powerInUnit(s.fwdUnit, l.burstW);
  l.crestFactor = r.crestFactor;
  l.ccdfFactor = r.ccdfFactor;
  return l;
}

}  // namespace zrq::core
