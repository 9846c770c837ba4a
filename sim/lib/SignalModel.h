#pragma once
// A pulsed transmitter as the sensor head sees it. Every figure of one reading is
// derived from the same burst model, so crest factor and CCDF agree with the powers.

#include "SensorConfig.h"

#include <cstdint>

namespace tks7730sim {

// One measurement, powers in watts.
struct Reading {
  double burstW = 0;
  double temperatureC = 0;
  double forwardAvgW = 0;
  double reflectedW = 0;
  double peakW = 0;
  double offsetForwardW = 0;  // forward average with the G offset applied
  double ccdfPercent = 0;     // share of time the envelope is above the CCDF limit
  double crestFactor = 0;     // peak over average, a power ratio
  double dutyPercent = 0;
};

// Deterministic for a given seed: a splitmix-fed xorshift and our own Gaussian,
// so the sequence does not depend on the standard library's distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed);
  uint64_t next();
  double uniform();  // [0, 1)
  double gauss();    // mean 0, deviation 1
  int below(int n);  // [0, n)

 private:
  uint64_t s_[2];
};

class SignalModel {
 public:
  SignalModel(const SignalParams& p, double fullScaleW, uint64_t seed);

  // t: seconds since power-up.
  Reading sample(const MeasSettings& m, double t);

  // The noiseless figures for given settings and drift factor; tests check the
  // consistency rules on them.
  Reading ideal(const MeasSettings& m, double t, double driftFactor) const;
  double drift(double t) const;
  // A new transmitter power from now on (the power script's steps).
  void setForwardAvgW(double w) { p_.forwardAvgW = w; }
  double forwardAvgW() const { return p_.forwardAvgW; }

 private:
  SignalParams p_;
  double fullScaleW_;
  Rng rng_;
};

}  // namespace tks7730sim
