#include "remote/TrendRecord.h"

#include <cmath>
#include <optional>

#include "core/PowerMath.h"
#include "remote/RemoteValues.h"

namespace zrq::remote {

using core::TrendChannel;

namespace {

float stored(const std::optional<double>& v) {
  return v ? static_cast<float>(*v) : core::kTrendNone;
}

std::optional<double> given(float v) {
  if (std::isnan(v)) return std::nullopt;
  return v;
}

}  // namespace

core::TrendSample trendSampleOf(const core::InstrumentState& s, std::int64_t timeMs) {
  const scpi::Reading r = readingOf(s, 0, {});
  core::TrendSample out;
  out.timeMs = timeMs;
  out.function = static_cast<std::uint8_t>(r.function);
  out[TrendChannel::ForwardAverage] = stored(r.forwardAverageW);
  out[TrendChannel::Peak] = stored(r.forwardPeakW);
  out[TrendChannel::Burst] = stored(r.forwardBurstW);
  out[TrendChannel::Crest] = stored(r.crestFactorDb);
  out[TrendChannel::Ccdf] = stored(r.ccdfPercent);
  out[TrendChannel::Reflected] = stored(r.reflectedW);
  out[TrendChannel::Rho] = stored(r.rho);
  out[TrendChannel::Temperature] = static_cast<float>(r.temperatureC);
  return out;
}

scpi::Reading readingOf(const core::TrendSample& s) {
  scpi::Reading r;
  r.time = isoLocalTime(s.timeMs);
  r.function = s.function >= 1 && s.function <= 5 ? static_cast<scpi::Function>(s.function)
                                                  : scpi::Function::Average;
  r.forwardAverageW = given(s[TrendChannel::ForwardAverage]);
  r.forwardPeakW = given(s[TrendChannel::Peak]);
  r.forwardBurstW = given(s[TrendChannel::Burst]);
  r.crestFactorDb = given(s[TrendChannel::Crest]);
  r.ccdfPercent = given(s[TrendChannel::Ccdf]);
  r.reflectedW = given(s[TrendChannel::Reflected]);
  r.rho = given(s[TrendChannel::Rho]);
  if (r.rho) {
    r.vswr = core::ratioOfRho(core::PowerUnit::VSWR, *r.rho);
    r.returnLossDb = core::ratioOfRho(core::PowerUnit::ReturnLoss, *r.rho);
  }
  const float temperature = s[TrendChannel::Temperature];
  r.temperatureC = std::isnan(temperature) ? 0 : temperature;
  return r;
}

std::size_t writeTrendCsv(std::ostream& out, const core::TrendStore& store, std::int64_t fromMs,
                          std::int64_t toMs) {
  out << scpi::kAllFieldsHeader << '\n';
  std::size_t n = 0;
  for (std::size_t i = store.lowerBound(fromMs); i < store.size() && store.timeAt(i) < toMs; ++i) {
    out << scpi::allFields(readingOf(store.at(i))) << '\n';
    ++n;
  }
  return n;
}

}  // namespace zrq::remote
