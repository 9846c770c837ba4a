#include "core/PanelValues.h"

namespace zrq::core {
namespace {

// A peak or burst window's text: blank while its raw power is over range.
std::string windowText(bool overRange, ValueDisplay display, const RangedValue& value,
                       double offsetDb, double fs) {
  if (overRange) return std::string(blankText);
  return displayTextOrBlank(display, value.unit, value.value,
                            displayDecimals(value.unit, offsetDb, fs));
}

}  // namespace

double rawPowerInWatts(double raw, std::uint8_t scaleCode) {
  return scaleCode == unitCode(PowerUnit::KW) ? raw * 1000.0 : raw;
}

ForwardQuantity forwardQuantity(MeasType type, PowerUnit fwdUnit, double selectedW, double fs,
                                double offsetDb) {
  ForwardQuantity q;
  if (type == MeasType::Crest) {
    q.unit = PowerUnit::dB;
    q.annunciatorKey = PowerUnit::dB;
    q.value = convertPower(PowerUnit::dB, selectedW);
    q.decimals = displayDecimals(PowerUnit::W, 0, fs);
  } else if (type == MeasType::CCDF) {
    RangedValue r = autoRangePower(selectedW);
    if (r.unit == PowerUnit::mW) r = {PowerUnit::W, r.value * 0.001};
    q.unit = r.unit;
    q.annunciatorKey = PowerUnit::None;
    q.value = r.value;
    q.decimals = displayDecimals(r.unit, 0, fs);
  } else {
    const RangedValue r = powerInUnit(fwdUnit, selectedW);
    q.unit = r.unit;
    q.annunciatorKey = r.unit;
    q.value = r.value;
    q.decimals = displayDecimals(r.unit, offsetDb, fs);
  }
  return q;
}

ReflectedQuantity reflectedQuantity(MeasType type, PowerUnit rflUnit, const OffsetPowers& p,
                                    double fwdAvgClampedW, double rfs, double offsetDb) {
  ReflectedQuantity q;
  if (type == MeasType::Average) {
    q.present = true;
    q.isPower = isPowerUnit(rflUnit);
    if (q.isPower) {
      const RangedValue r = powerInUnit(rflUnit, p.reflected);
      q.unit = r.unit;
      q.value = r.value;
    } else {
      q.unit = rflUnit;
      q.value = reflectionRatio(rflUnit, p.reflected, p.selected);
    }
    q.annunciatorKey = q.unit;
    q.decimals = displayDecimals(q.unit, offsetDb, rfs);
  } else if (type == MeasType::Peak) {
    q.present = true;
    q.unit = q.annunciatorKey = PowerUnit::VSWR;
    q.value = reflectionRatio(PowerUnit::VSWR, p.reflectedUnoffset, fwdAvgClampedW);
    q.decimals = 3;
  }
  return q;
}

double peakWindowPower(const SensorReading& r, const PanelSettings& s) {
  return applyOffset(s.measType, s.offsetDb,
                     limitPeakPower(rawPowerInWatts(r.peakPower, r.scaleCode), s.fwdFullScale));
}

double burstWindowPower(const SensorReading& r, const PanelSettings& s) {
  return applyOffset(s.measType, s.offsetDb,
                     limitBurstPower(rawPowerInWatts(r.burstPower, r.scaleCode), s.fwdFullScale));
}

PanelView computePanel(const SensorReading& r, const PanelSettings& s) {
  PanelView v;
  const MeasType type = s.measType;
  const double fs = s.fwdFullScale, rfs = s.rflFullScale;

  v.fwdOverRange = forwardOverRange(type, r.selectedPower, fs);
  v.fwdOverLit = forwardOverRangeLit(type, r.selectedPower, fs);
  v.rflOverRange = reflectedOverRange(r.rflPower, rfs);
  v.rflOverLit = reflectedOverRangeLit(r.rflPower, rfs);
  const bool rflIsPower = isPowerUnit(s.rflUnit);
  v.rflMayShow = rflIsPower ? !v.rflOverRange : !v.fwdOverRange && !v.rflOverRange;

  const OffsetPowers p = applyOffset(type, s.offsetDb, r.selectedPower, r.rflPower);

  v.fwd = forwardQuantity(type, s.fwdUnit, p.selected, fs, s.offsetDb);
  if (v.fwdOverRange) {
    v.fwdText = blankText;
  } else if (auto t = formatDisplayValue(ValueDisplay::Forward, v.fwd.unit, v.fwd.value,
                                         v.fwd.decimals)) {
    v.fwdText = *t;
  } else {
    v.fwdFailed = true;
    v.fwdText = blankText;
  }

  v.rfl = reflectedQuantity(type, s.rflUnit, p, r.fwdAvgPowerClamped, rfs, s.offsetDb);
  if (!v.rfl.present) {
    v.rflText = std::string();
  } else if (v.rflMayShow) {
    v.rflText =
        displayTextOrBlank(ValueDisplay::Reflected, v.rfl.unit, v.rfl.value, v.rfl.decimals);
  } else if (type == MeasType::Peak) {
    v.rflText = std::string(blankText);
  }  // Average, not showable: the read-out keeps its previous text.

  v.rho = reflectionRatio(PowerUnit::Rho, p.reflected, p.selected);
  v.vswr = reflectionRatio(PowerUnit::VSWR, p.reflected, p.selected);
  v.returnLoss = reflectionRatio(PowerUnit::ReturnLoss, p.reflected, p.selected);

  const RangedValue bar = powerInUnit(s.fwdUnit, r.fwdAvgPowerClamped);
  v.barPercent = percentOfFullScale(bar.unit, fs, bar.value);
  v.bar = barPosition(v.barPercent);

  v.offsetText = offsetText(type, s.offsetDb);
  v.ccdfLimitText = ccdfLimitText(type, s.ccdfLimit);
  v.dutyText = dutyText(type, r.dutyCycle);

  // The peak and burst windows work from raw fields, which are in kilowatts
  // when the sensor says so.
  const double peakW = rawPowerInWatts(r.peakPower, r.scaleCode);
  v.peakFlags = peakWindowFlags(peakW, r.rflPower, fs, rfs);
  v.peakLimited = peakWindowPower(r, s);
  v.peakValue = powerInUnit(s.fwdUnit, v.peakLimited);
  v.peakText = windowText(peakWindowOverRange(peakW, fs), ValueDisplay::PeakValue, v.peakValue,
                          s.offsetDb, fs);
  v.peakVswr = reflectionRatio(PowerUnit::VSWR, r.rflPower, r.fwdAvgPowerClamped);
  v.peakVswrText = displayTextOrBlank(ValueDisplay::PeakVswr, PowerUnit::VSWR, v.peakVswr, 3);
  v.peakBar = barPosition(percentOfFullScale(v.peakValue.unit, 3 * fs, v.peakValue.value));

  const double burstW = rawPowerInWatts(r.burstPower, r.scaleCode);
  v.burstFlags = burstWindowFlags(burstW, fs);
  v.burstLimited = burstWindowPower(r, s);
  v.burstValue = powerInUnit(s.fwdUnit, v.burstLimited);
  if (type == MeasType::CCDF) {
    v.burstText = "NA";
    v.burstFlags.burstOver = false;
  } else {
    v.burstText = windowText(burstWindowOverRange(burstW, fs), ValueDisplay::BurstValue,
                             v.burstValue, s.offsetDb, fs);
  }
  v.burstBar = barPosition(percentOfFullScale(v.burstValue.unit, 3 * fs, v.burstValue.value));
  v.burstDutyText = burstWindowDutyText(type, r.dutyCycle);
  return v;
}

}  // namespace zrq::core
