#include "SignalModel.h"

#include <algorithm>
#include <cmath>

namespace tks7730sim {
namespace {
constexpr double kPi = 3.14159265358979323846;

uint64_t splitmix(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
}  // namespace

Rng::Rng(uint64_t seed) {
  s_[0] = splitmix(seed);
  s_[1] = splitmix(seed);
}

uint64_t Rng::next() {  // xorshift128+
  uint64_t a = s_[0];
  const uint64_t b = s_[1];
  s_[0] = b;
  a ^= a << 23;
  s_[1] = a ^ b ^ (a >> 17) ^ (b >> 26);
  return s_[1] + b;
}

double Rng::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double Rng::gauss() {
  double u1 = uniform();
  if (u1 < 1e-300) u1 = 1e-300;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * uniform());
}

int Rng::below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }

SignalModel::SignalModel(const SignalParams& p, double fullScaleW, uint64_t seed)
    : p_(p), fullScaleW_(fullScaleW), rng_(seed) {}

double SignalModel::drift(double t) const {
  const double a = p_.driftPercent / 100.0;
  // Two slow, unrelated periods so the drift does not look like a clean sine.
  return 1.0 + a * (0.7 * std::sin(2 * kPi * t / 60.0) + 0.3 * std::sin(2 * kPi * t / 17.0 + 1.0));
}

Reading SignalModel::ideal(const MeasSettings& m, double t, double driftFactor) const {
  Reading r;
  const double duty = std::clamp(p_.dutyPercent, 0.1, 100.0);
  const double filter = std::clamp(m.filterHz, 1.0, 1e7);
  // The video filter smooths the in-burst envelope: a narrow filter sees less
  // of the modulation, so the peak and the CCDF spread shrink with it.
  const double response = filter / (filter + 500.0);
  const double spread = (std::clamp(p_.peakRatio, 1.0, 2.0) - 1.0) * response;
  const double saturation = 3.0 * fullScaleW_;

  r.forwardAvgW = std::max(0.0, p_.forwardAvgW * driftFactor);
  r.dutyPercent = duty;
  r.burstW = r.forwardAvgW * 100.0 / duty;
  r.peakW = r.burstW * (1.0 + spread);
  r.crestFactor = r.forwardAvgW > 0 ? r.peakW / r.forwardAvgW : 0.0;

  // In-burst power spread evenly between the trough and the peak; zero outside bursts.
  const double lo = r.burstW * (1.0 - spread), hi = r.peakW;
  const double limit = m.ccdfLimitW;
  if (r.forwardAvgW <= 0 || limit >= hi)
    r.ccdfPercent = 0.0;
  else if (limit <= lo || hi <= lo)
    r.ccdfPercent = limit < 0 ? 100.0 : duty;
  else
    r.ccdfPercent = duty * (hi - limit) / (hi - lo);

  const double rho = p_.vswr <= 1.0 ? 0.0 : (p_.vswr - 1.0) / (p_.vswr + 1.0);
  r.reflectedW = r.forwardAvgW * rho * rho;
  r.temperatureC = p_.temperatureC + 2.0 * (1.0 - std::exp(-t / 300.0));
  r.offsetForwardW = r.forwardAvgW * std::pow(10.0, 0.1 * m.offsetDb);

  // The head saturates well above full scale.
  r.forwardAvgW = std::min(r.forwardAvgW, saturation);
  r.burstW = std::min(r.burstW, saturation);
  r.reflectedW = std::min(r.reflectedW, saturation);
  r.peakW = std::min(r.peakW, 2.0 * saturation);
  return r;
}

Reading SignalModel::sample(const MeasSettings& m, double t) {
  const double filter = std::clamp(m.filterHz, 1.0, 1e7);
  const double sd = p_.noisePercent / 100.0 * std::sqrt(filter / 4500.0);
  Reading r = ideal(m, t, drift(t) * (1.0 + sd * rng_.gauss()));
  r.reflectedW *= std::max(0.0, 1.0 + sd * rng_.gauss());
  r.temperatureC += 0.05 * rng_.gauss();
  return r;
}

}  // namespace tks7730sim
