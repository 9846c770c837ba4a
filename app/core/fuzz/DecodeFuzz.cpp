// Feeds arbitrary bytes to the data string decoder under every measurement
// type, then pushes whatever it produced through the panel arithmetic and
// formatting; the first eight bytes are also tried as a raw double.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/DataString.h"
#include "core/PanelValues.h"
#include "core/PowerMath.h"
#include "core/ReadingFormat.h"

namespace {

using namespace zrq::core;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// A formatted reading is a plain fixed-point number of at most five integer
// digits, or nothing.
void checkReadingText(const std::optional<std::string>& t, int decimals) {
  if (!t) return;
  check(!t->empty());
  std::size_t i = (*t)[0] == '-' ? 1 : 0;
  std::size_t intDigits = 0;
  for (; i < t->size() && (*t)[i] != '.'; ++i, ++intDigits) check((*t)[i] >= '0' && (*t)[i] <= '9');
  check(intDigits >= 1 && intDigits <= 5);
  const std::size_t frac = i < t->size() ? t->size() - i - 1 : 0;
  check(static_cast<int>(frac) == decimals);
}

void checkFinite(const SensorReading& r) {
  for (double v : {r.burstPower, r.fwdAvgPower, r.rflPowerRaw, r.rflPower, r.peakPower,
                   r.spareValue, r.ccdfFactor, r.crestFactor, r.dutyCycle, r.selectedPower,
                   r.fwdAvgPowerClamped, static_cast<double>(r.temperature)})
    check(std::isfinite(v));
}

void panel(const SensorReading& r, MeasType type) {
  for (PowerUnit fwd : forwardUnitCycle) {
    for (PowerUnit rfl : reflectedUnitCycle) {
      for (double offset : {0.0, 10.0, 100.0}) {
        PanelSettings s;
        s.measType = type;
        s.fwdUnit = fwd;
        s.rflUnit = rfl;
        s.offsetDb = offset;
        PanelView v = computePanel(r, s);
        check(v.bar >= 0 && v.bar <= 100);
        check(v.fwd.decimals >= 0 && v.fwd.decimals <= 5);
        check(!v.fwdText.empty());
      }
    }
  }
}

void numbers(double x) {
  for (int d = 0; d <= 5; ++d) checkReadingText(formatReading(x, d), d);
  for (int u = 0; u < kPowerUnitCodes; ++u) {
    const auto unit = static_cast<PowerUnit>(u);
    const double c = convertPower(unit, x);
    if (std::isfinite(x) && (unit == PowerUnit::dB || unit == PowerUnit::dBm))
      check(std::isfinite(c));
    const int d = displayDecimals(unit, x, x);
    check(d >= 0 && d <= 5);
    (void)barPosition(percentOfFullScale(unit, x, c));
    (void)reflectionRatio(unit, x, 1.0);
  }
  const RangedValue r = autoRangePower(x);
  check(r.unit == PowerUnit::uW || r.unit == PowerUnit::mW || r.unit == PowerUnit::W ||
        r.unit == PowerUnit::KW);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (int t = 0; t <= 6; ++t) {
    DecodeInputs in;
    in.measType = static_cast<MeasType>(t);
    in.featureMask = t % 2 ? 0x13DF : 0x03DF;
    in.zeroCalRequested = t == 6;
    SensorReading r;
    bool changed = false;
    const DecodeResult res = decodeDataString(text, in, r, changed);
    check(changed == (res.outcome == DecodeOutcome::TypeMismatch));
    check((res.outcome == DecodeOutcome::ConversionError) == (res.errorField != 0));
    checkFinite(r);
    if (res.accepted()) panel(r, in.measType);
  }
  if (size >= sizeof(double)) {
    double x;
    std::memcpy(&x, data, sizeof x);
    numbers(x);
  }
  return 0;
}
