// Power arithmetic of the displays: conversions, automatic ranges, reflection
// figures, offset, decimals, over-range flags and full-scale percentages.
// Pure functions; powers are in watts unless a unit says otherwise.
#pragma once

#include "core/MeasType.h"
#include "core/PowerUnit.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace zrq::core {

// ---- Conversion ----------------------------------------------------------

// Log results never go below these floors. A power of zero or less (no RF, or
// a reading just below zero after a zero calibration) reads as the floor,
// which is finite, inside the display limits and plainly "no power".
inline constexpr double kDbmFloor = -99.99;
inline constexpr double kDbFloor = kDbmFloor - 30.0;  // the same power in dB(W)

// dB: 10 log10 P; dBm: 10 log10 (1000 P); uW, mW, W, KW: scaled; other codes 0.
double convertPower(PowerUnit unit, double watts);

// log2 of a positive finite float to within 1e-9, computed here rather than
// by the C library: its log2f is built for the newer vector instructions, and
// called from this code after Qt's own vector code it costs some 40 times
// as much (the processor switches instruction states on every call). Used
// where a log is taken per pixel column. Zero, negative, infinite and NaN
// arguments go to std::log2. Defined below, inline: it must be compiled
// with its caller's instructions.
inline double log2Fast(float x);

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

inline double log2Fast(float x) {
  std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
  int exponent = static_cast<int>(bits >> 23) - 127;
  if (exponent == 128 || static_cast<std::int32_t>(bits) <= 0) return std::log2(x);
  if (exponent == -127) {  // subnormal: scaled into the normal range first
    bits = std::bit_cast<std::uint32_t>(x * 8388608.0f);
    exponent = static_cast<int>(bits >> 23) - 127 - 23;
  }
  double m = std::bit_cast<float>((bits & 0x7FFFFFu) | 0x3F800000u);  // [1, 2)
  if (m > 1.4142135623730951) m *= 0.5, ++exponent;
  // log2 m = 2/ln2 atanh t, t = (m - 1) / (m + 1), |t| < 0.172: the series to t^11.
  const double t = (m - 1) / (m + 1), t2 = t * t;
  const double series =
      1 + t2 * (1.0 / 3 + t2 * (1.0 / 5 + t2 * (1.0 / 7 + t2 * (1.0 / 9 + t2 * (1.0 / 11)))));
  return exponent + 2.8853900817779268 * t * series;
}

}  // namespace zrq::core
