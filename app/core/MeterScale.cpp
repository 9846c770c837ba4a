#include "MeterScale.h"

namespace zrq::core {

namespace {

MeterWrite num(MeterProp p, double v) { return {p, v, {}}; }
MeterWrite text(MeterProp p, std::string s) { return {p, 0, std::move(s)}; }

constexpr const char* kFormat0 = "%.0f";

}  // namespace

MeterWrites forwardMeterWrites(MeasType type, double v, PowerUnit unit) {
  using P = MeterProp;
  const char* word = nullptr;
  double threshold = 0;
  switch (type) {
    case MeasType::None:
      return {text(P::Caption, "")};
    case MeasType::Average:
      word = "Forward";
      threshold = 300;
      break;
    case MeasType::Peak:
      word = "Peak";
      threshold = 500;
      break;
    case MeasType::Burst:
      word = "Burst";
      threshold = 500;
      break;
    default:
      return {};
  }
  const std::string prefix = std::string(word) + " Power In ";
  switch (unit) {
    case PowerUnit::dBm:
      return {num(P::Value, v), text(P::Caption, prefix + "dBm"), num(P::MaximumValue, 500),
              text(P::ValueFormatString, kFormat0), num(P::MinimumValue, 0)};
    case PowerUnit::uW:
    case PowerUnit::mW:
      return {num(P::Value, v), text(P::Caption, prefix + (unit == PowerUnit::uW ? "uW" : "mW")),
              num(P::MaximumValue, 1000), text(P::ValueFormatString, kFormat0),
              num(P::MinimumValue, 0)};
    case PowerUnit::W:
      return {num(P::Value, v), text(P::Caption, prefix + "W"),
              num(P::MaximumValue, v <= threshold ? threshold : 1000), num(P::MinimumValue, 0)};
    case PowerUnit::KW:
      if (v <= 1000)
        return {num(P::Value, v), text(P::Caption, prefix + "KW"), num(P::MaximumValue, 1000),
                text(P::ValueFormatString, kFormat0)};
      return {num(P::Value, v * 0.001), text(P::Caption, prefix + "MegaW"),
              num(P::MaximumValue, 100), text(P::ValueFormatString, kFormat0)};
    default:
      return {};
  }
}

MeterWrites reflectedMeterWrites(PowerUnit unit, double v, double rflFullScale) {
  using P = MeterProp;
  auto row = [](std::string caption, double max, double min, const char* format) {
    return MeterWrites{text(P::Caption, std::move(caption)), num(P::MaximumValue, max),
                       num(P::MinimumValue, min), text(P::ValueFormatString, format)};
  };
  switch (unit) {
    case PowerUnit::None:
      return row("Reflected Power", rflFullScale, 0, kFormat0);
    case PowerUnit::Rho:
      return row("Rho", 1, 0, "%.1f");
    case PowerUnit::VSWR:
      return row("VSWR", 100, 0, kFormat0);
    case PowerUnit::ReturnLoss:
      return row("Return Loss", 0, -100, kFormat0);
    case PowerUnit::dBm:
      return row("Reflected Power In dBm", 500, 0, kFormat0);
    case PowerUnit::uW:
      return row("Reflected Power In uW", 1000, 0, kFormat0);
    case PowerUnit::mW:
      return row("Reflected Power In mW", 1000, 0, kFormat0);
    case PowerUnit::W:
      return row("Reflected Power In W", v <= 10 ? 10 : v <= 100 ? 100 : 1000, 0, kFormat0);
    case PowerUnit::KW:
      if (v <= 1000) return row("Reflected Power In KW", v <= 100 ? 100 : 1000, 0, kFormat0);
      return {num(P::Value, v * 0.001), text(P::Caption, "Reflected Power In MegaW"),
              num(P::MaximumValue, 100), text(P::ValueFormatString, kFormat0)};
    default:
      return {};
  }
}

MeterWrites vswrMeterWrites() {
  using P = MeterProp;
  return {text(P::Caption, "VSWR"), num(P::MaximumValue, 100), num(P::MinimumValue, 0),
          text(P::ValueFormatString, kFormat0)};
}

}  // namespace zrq::core
