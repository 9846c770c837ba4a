// Power arithmetic of the displays: conversions, automatic ranges, reflection
// figures, offset, decimals, over-range flags and full-scale percentages.
// Pure functions; powers are in watts unless a unit says otherwise.
#pragma once

#include "core/MeasType.h"
#include "core/PowerUnit.h"

namespace zrq::core {

// ---- Conversion ----------------------------------------------------------

// Log results never go below these floors. A power of zero or less (no RF, or
// a reading just below zero after a zero calibration) reads as the floor,
// which is finite, inside the display limits and plainly "no power".
inline constexpr double kDbmFloor = -99.99;
inline constexpr double kDbFloor = kDbmFloor - 30.0;  // the same power in dB(W)

// dB: 10 log10 P; dBm: 10 log10 (1000 P); uW, mW, W, KW: scaled; other codes 0.
double convertPower(PowerUnit unit, double watts);

struct RangedValue {
  PowerUnit unit = PowerUnit::None;
  double value = 0;
  friend bool operator==(const RangedValue&, const RangedValue&) = default;
};

// uW below 1 mW, mW below 1 W, W below 1000 W, else KW (each bound belongs to
// the upper range). A negative power (and NaN) gives 0 uW.
RangedValue autoRangePower(double watts);

// autoRangePower for AutoW, convertPower for any other unit.
RangedValue powerInUnit(PowerUnit unit, double watts);

// ---- Reflection ----------------------------------------------------------

// rho = sqrt(Pr / Pf) when both are positive, else 1.0; never above 1.0 (a
// reflected power above the forward one is total reflection). Rho: rho;
// VSWR: (1 + rho) / (1 - rho), 1.0 at rho 1; ReturnLoss: 20 log10 rho
// (<= 0), -35.0 at rho 0. Other units 0.
double reflectionRho(double reflectedW, double forwardW);
double reflectionRatio(PowerUnit unit, double reflectedW, double forwardW);
// The same figures from a rho already computed (a stored one).
double ratioOfRho(PowerUnit unit, double rho);

inline constexpr double kReturnLossAtZeroRho = -35.0;

// ---- Offset --------------------------------------------------------------

// 10^(0.1 offsetDb).
double offsetFactor(double offsetDb);
// The offset acts only when offsetDb > 0 and in Average, Peak and Burst.
bool offsetApplies(MeasType type, double offsetDb);
// `power` times the offset factor where the offset applies and power != 0.
double applyOffset(MeasType type, double offsetDb, double power);

struct OffsetPowers {
  double selected = 0;           // selected forward power, offset
  double reflected = 0;          // reflected power, offset when selected != 0
  double reflectedUnoffset = 0;  // reflected power before the offset (Peak VSWR)
};
// Offsets the selected power, then the reflected one when the selected power
// (after its own step) is not 0.
OffsetPowers applyOffset(MeasType type, double offsetDb, double selectedW, double reflectedW);

// ---- Decimals ------------------------------------------------------------

// 0..5 decimals for a unit on a sensor of full scale `fullScaleW` (watts,
// whatever the unit); the full scale is raised by the offset when offsetDb > 0.
// Rho, VSWR 3; ReturnLoss, dBm 2; uW/mW/W/KW by full scale; others 0.
int displayDecimals(PowerUnit unit, double offsetDb, double fullScaleW);

// ---- Over-range flags (powers after the reading's clamps, before offset) --

// Blank the forward read-out: selectedPower > 1.2 FS (Average, Crest, CCDF and
// any other code), > 3.24 FS (Peak, Burst).
bool forwardOverRange(MeasType type, double selectedW, double fwdFullScaleW);
// Blank the reflected read-out: rflPower > 1.2 RFS.
bool reflectedOverRange(double reflectedW, double rflFullScaleW);
// Blank the peak / burst window value: > 2.7 FS.
bool peakWindowOverRange(double peakW, double fwdFullScaleW);
bool burstWindowOverRange(double burstW, double fwdFullScaleW);

// "Over Range" annunciators of the main window: forward lit above FS (Average,
// Crest, CCDF, other codes) or above 2.7 FS (Peak, Burst); reflected above RFS.
bool forwardOverRangeLit(MeasType type, double selectedW, double fwdFullScaleW);
bool reflectedOverRangeLit(double reflectedW, double rflFullScaleW);

// Peak window annunciators (segPover, segPunder, segVover, segVunder).
struct PeakWindowFlags {
  bool peakOver = false;   // peakPower > 2.7 FS
  bool peakUnder = false;  // peakPower < 0
  bool vswrOver = false;   // rflPower > RFS
  bool vswrUnder = false;  // rflPower < 0
};
PeakWindowFlags peakWindowFlags(double peakW, double reflectedW, double fwdFullScaleW,
                                double rflFullScaleW);

// Burst window annunciators (segBover, segBunder).
struct BurstWindowFlags {
  bool burstOver = false;   // burstPower > 2.7 FS
  bool burstUnder = false;  // burstPower < 0
};
BurstWindowFlags burstWindowFlags(double burstW, double fwdFullScaleW);

// Peak and burst windows' own limiting, applied before anything uses the
// values (logging included): above 2.7 FS a peak becomes 5.67 FS, a burst 3.24 FS.
double limitPeakPower(double peakW, double fwdFullScaleW);
double limitBurstPower(double burstW, double fwdFullScaleW);

// ---- Bars ----------------------------------------------------------------

// Percentage of full scale of a value already in `unit` (not clamped):
// Rho v*100; VSWR (v-1)*100; ReturnLoss -v/35*100; dBm v / (10 log10 (1000 FS))
// * 100; uW/mW/W/KW against FS in that unit; other units 0.
float percentOfFullScale(PowerUnit unit, double fullScaleW, double value);

// The bar position: the percentage truncated toward zero, clipped to 0..100
// (NaN gives 0).
int barPosition(float percent);

}  // namespace zrq::core
