// What the front panel shows for one reading: the per-type quantities of the
// forward and reflected read-outs, their texts, the flags, the bar and the
// secondary texts, and the values of the peak and burst windows. Pure: the
// windows turn the result into labels; this computes nothing they cannot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/MeasType.h"
#include "core/PowerMath.h"
#include "core/PowerUnit.h"
#include "core/ReadingFormat.h"
#include "core/SensorReading.h"

namespace zrq::core {

// The main-window settings the panel arithmetic reads.
struct PanelSettings {
  MeasType measType = MeasType::Average;
  PowerUnit fwdUnit = PowerUnit::AutoW;
  PowerUnit rflUnit = PowerUnit::AutoW;
  double offsetDb = 0;        // 0..100
  double fwdFullScale = 150;  // W
  double rflFullScale = 15;   // W
  double ccdfLimit = 50;      // W
};

// The forward read-out's quantity for a type. `selectedW` is the reading's
// selectedPower with the offset applied. Crest: 10 log10 of the crest factor,
// key dB, decimals of W for the full scale without offset. CCDF: ranged as
// AutoW, a mW result shown in W, no annunciator, decimals of the resulting
// unit without offset. Other types: fwdUnit (AutoW ranges), decimals with
// offset.
struct ForwardQuantity {
  PowerUnit unit = PowerUnit::None;            // unit of `value` (never AutoW)
  PowerUnit annunciatorKey = PowerUnit::None;  // key into mainForwardAnnunciators
  double value = 0;
  int decimals = 0;
};
ForwardQuantity forwardQuantity(MeasType type, PowerUnit fwdUnit, double selectedW,
                                double fwdFullScaleW, double offsetDb);

// The reflected read-out's quantity. Average: power in rflUnit (AutoW ranges)
// when it is a power unit, else the ratio of the offset reflected power against
// the offset selected power, decimals for RFS. Peak: VSWR of the unoffset
// reflected power against fwdAvgPowerClamped, 3 decimals. Other types have no
// reflected read-out (present == false).
struct ReflectedQuantity {
  bool present = false;
  bool isPower = false;
  PowerUnit unit = PowerUnit::None;
  PowerUnit annunciatorKey = PowerUnit::None;
  double value = 0;
  int decimals = 0;
};
ReflectedQuantity reflectedQuantity(MeasType type, PowerUnit rflUnit, const OffsetPowers& powers,
                                    double fwdAvgClampedW, double rflFullScaleW, double offsetDb);

struct PanelView {
  // Forward read-out.
  bool fwdOverRange = false;  // blank without formatting
  bool fwdOverLit = false;    // "Over Range" annunciator
  bool fwdFailed = false;     // limit or formatting failed (the notice case)
  ForwardQuantity fwd;
  std::string fwdText;  // the text or blankText

  // Reflected read-out.
  bool rflOverRange = false;
  bool rflOverLit = false;
  bool rflMayShow = false;
  ReflectedQuantity rfl;
  // nullopt: leave the previous text (Average, not showable). Empty text for
  // types without a reflected read-out.
  std::optional<std::string> rflText;

  // Reflection figures of the offset reflected against the offset selected
  // power (the Average ratios), for tools and logs.
  double rho = 1, vswr = 1, returnLoss = 0;

  float barPercent = 0;  // fwdAvgPowerClamped in fwdUnit against FS
  int bar = 0;

  std::string offsetText, ccdfLimitText, dutyText;

  // Peak window.
  double peakLimited = 0;  // limited and offset, in watts
  PeakWindowFlags peakFlags;
  RangedValue peakValue;
  std::string peakText;
  double peakVswr = 1;
  std::string peakVswrText;
  int peakBar = 0;

  // Burst window.
  double burstLimited = 0;
  BurstWindowFlags burstFlags;
  RangedValue burstValue;
  std::string burstText;  // "NA" in CCDF
  int burstBar = 0;
  std::string burstDutyText;
};

// A raw power field in watts: times 1000 when the scale code is 10 (KW).
double rawPowerInWatts(double raw, std::uint8_t scaleCode);

// The peak and burst windows' powers in watts: the raw field converted with
// the reading's scale code, limited, then offset. The log records the same.
double peakWindowPower(const SensorReading& reading, const PanelSettings& settings);
double burstWindowPower(const SensorReading& reading, const PanelSettings& settings);

// The whole refresh for one reading. The peak and burst windows' powers are
// taken from the raw fields converted to watts with the reading's scale code.
PanelView computePanel(const SensorReading& reading, const PanelSettings& settings);

}  // namespace zrq::core
