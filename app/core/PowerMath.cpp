#include "core/PowerMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zrq::core {

double convertPower(PowerUnit unit, double p) {
  switch (unit) {
    case PowerUnit::dB:
      return p > 0 ? std::max(10.0 * std::log10(p), kDbFloor) : kDbFloor;
    case PowerUnit::dBm:  // + 30 rather than log10(1000 P), which overflows for huge P
      return p > 0 ? std::max(10.0 * std::log10(p) + 30.0, kDbmFloor) : kDbmFloor;
    case PowerUnit::uW:
      return p * 1000000.0;
    case PowerUnit::mW:
      return p * 1000.0;
    case PowerUnit::W:
      return p;
    case PowerUnit::KW:
      return p * 0.001;
    default:
      return 0;
  }
}

RangedValue autoRangePower(double p) {
  if (!(p >= 0)) return {PowerUnit::uW, 0.0};
  PowerUnit u = p < 0.001    ? PowerUnit::uW
                : p < 1.0    ? PowerUnit::mW
                : p < 1000.0 ? PowerUnit::W
                             : PowerUnit::KW;
  return {u, convertPower(u, p)};
}

RangedValue powerInUnit(PowerUnit unit, double watts) {
  if (unit == PowerUnit::AutoW) return autoRangePower(watts);
  return {unit, convertPower(unit, watts)};
}

double reflectionRho(double pr, double pf) {
  pr = pr > 0 ? pr : 0;
  pf = pf > 0 ? pf : 0;
  if (!(pf > 0 && pr > 0)) return 1.0;
  return std::min(std::sqrt(pr / pf), 1.0);
}

double reflectionRatio(PowerUnit unit, double pr, double pf) {
  return ratioOfRho(unit, reflectionRho(pr, pf));
}

double ratioOfRho(PowerUnit unit, double rho) {
  switch (unit) {
    case PowerUnit::Rho:
      return rho;
    case PowerUnit::VSWR:
      return rho == 1.0 ? 1.0 : (1.0 + rho) / (1.0 - rho);
    case PowerUnit::ReturnLoss:
      return rho > 0 ? 20.0 * std::log10(rho) : kReturnLossAtZeroRho;
    default:
      return 0;
  }
}

double offsetFactor(double offsetDb) { return std::pow(10.0, 0.1 * offsetDb); }

bool offsetApplies(MeasType type, double offsetDb) {
  return offsetDb > 0 && measTypeShowsPower(type);
}

double applyOffset(MeasType type, double offsetDb, double power) {
  if (!offsetApplies(type, offsetDb) || power == 0) return power;
  return power * offsetFactor(offsetDb);
}

OffsetPowers applyOffset(MeasType type, double offsetDb, double selectedW, double reflectedW) {
  OffsetPowers o{selectedW, reflectedW, reflectedW};
  if (!offsetApplies(type, offsetDb)) return o;
  const double k = offsetFactor(offsetDb);
  if (o.selected != 0) o.selected *= k;
  if (o.selected != 0) o.reflected *= k;
  return o;
}

namespace {

// Decimals by full scale: 0 at or above the first bound, one more per bound
// passed, 5 below the last.
int decimalsFor(double fs, const double (&bounds)[5]) {
  for (int i = 0; i < 5; ++i)
    if (fs >= bounds[i]) return i;
  return 5;
}

}  // namespace

int displayDecimals(PowerUnit unit, double offsetDb, double fullScaleW) {
  const double fs = offsetDb > 0 ? fullScaleW * offsetFactor(offsetDb) : fullScaleW;
  static const double uW[5] = {0.009, 0.0009, 0.00009, 0.000009, 0.0000009};
  static const double mW[5] = {9.9, 0.9, 0.09, 0.009, 0.0009};
  static const double W[5] = {9999.9, 999.9, 99.9, 9.9, 0.9};
  static const double KW[5] = {9999999.9, 999999.9, 99999.9, 9999.9, 999.9};
  switch (unit) {
    case PowerUnit::Rho:
    case PowerUnit::VSWR:
      return 3;
    case PowerUnit::ReturnLoss:
    case PowerUnit::dBm:
      return 2;
    case PowerUnit::uW:
      return decimalsFor(fs, uW);
    case PowerUnit::mW:
      return decimalsFor(fs, mW);
    case PowerUnit::W:
      return decimalsFor(fs, W);
    case PowerUnit::KW:
      return decimalsFor(fs, KW);
    default:
      return 0;
  }
}

bool forwardOverRange(MeasType type, double selectedW, double fs) {
  const bool peakLike = type == MeasType::Peak || type == MeasType::Burst;
  return selectedW > (peakLike ? 3.24 : 1.2) * fs;
}

bool reflectedOverRange(double reflectedW, double rfs) { return reflectedW > 1.2 * rfs; }
bool peakWindowOverRange(double peakW, double fs) { return peakW > 2.7 * fs; }
bool burstWindowOverRange(double burstW, double fs) { return burstW > 2.7 * fs; }

bool forwardOverRangeLit(MeasType type, double selectedW, double fs) {
  const bool peakLike = type == MeasType::Peak || type == MeasType::Burst;
  return selectedW > (peakLike ? 2.7 : 1.0) * fs;
}

bool reflectedOverRangeLit(double reflectedW, double rfs) { return reflectedW > rfs; }

PeakWindowFlags peakWindowFlags(double peakW, double reflectedW, double fs, double rfs) {
  return {peakW > 2.7 * fs, peakW<0, reflectedW> rfs, reflectedW < 0};
}

BurstWindowFlags burstWindowFlags(double burstW, double fs) {
  return {burstW > 2.7 * fs, burstW < 0};
}

double limitPeakPower(double peakW, double fs) { return peakW > 2.7 * fs ? 5.67 * fs : peakW; }
double limitBurstPower(double burstW, double fs) { return burstW > 2.7 * fs ? 3.24 * fs : burstW; }

float percentOfFullScale(PowerUnit unit, double fs, double v) {
  double p = 0;
  switch (unit) {
    case PowerUnit::Rho:
      p = v * 100.0;
      break;
    case PowerUnit::VSWR:
      p = (v - 1.0) * 100.0;
      break;
    case PowerUnit::ReturnLoss:
      p = -v / 35.0 * 100.0;
      break;
    case PowerUnit::dBm:
      p = v / (10.0 * std::log10(1000.0 * fs)) * 100.0;
      break;
    case PowerUnit::uW:
      p = v / (fs * 1000000.0) * 100.0;
      break;
    case PowerUnit::mW:
      p = v / (fs * 1000.0) * 100.0;
      break;
    case PowerUnit::W:
      p = v / fs * 100.0;
      break;
    case PowerUnit::KW:
      p = v / (0.001 * fs) * 100.0;
      break;
    default:
      p = 0;
      break;
  }
  // Keep a huge finite percentage from overflowing the float conversion.
  constexpr double kMax = std::numeric_limits<float>::max();
  if (p > kMax) return std::numeric_limits<float>::infinity();
  if (p < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(p);
}

int barPosition(float percent) {
  if (!(percent > 0)) return 0;  // negative and NaN
  if (percent >= 100.0f) return 100;
  return static_cast<int>(percent);
}

}  // namespace zrq::core
