#include "core/Alarm.h"

#include <cmath>
#include <charconv>

namespace zrq::core {

namespace {
struct QuantityInfo {
  std::string_view name;
  std::string_view unit;
};
constexpr std::array<QuantityInfo, kAlarmQuantityCount> kInfo{{
    {"forward_average_w", "W"},
    {"forward_average_dbm", "dBm"},
    {"forward_peak_w", "W"},
    {"forward_burst_w", "W"},
    {"crest_factor_db", "dB"},
    {"ccdf_percent", "%"},
    {"reflected_w", "W"},
    {"rho", ""},
    {"vswr", ""},
    {"return_loss_db", "dB"},
}};
}  // namespace

std::string_view alarmQuantityName(AlarmQuantity q) {
  return kInfo[static_cast<std::size_t>(q)].name;
}

std::string_view alarmQuantityUnit(AlarmQuantity q) {
  return kInfo[static_cast<std::size_t>(q)].unit;
}

std::optional<AlarmQuantity> alarmQuantityFromName(std::string_view name) {
  for (std::size_t i = 0; i < kInfo.size(); ++i)
    if (kInfo[i].name == name) return static_cast<AlarmQuantity>(i);
  return std::nullopt;
}

std::string AlarmLimits::problem() const {
  if (!upper && !lower) return "neither an upper nor a lower limit is set";
  if ((upper && !std::isfinite(*upper)) || (lower && !std::isfinite(*lower)))
    return "a limit is not a finite number";
  if (upper && lower && *lower > *upper) return "the lower limit is above the upper limit";
  if (!std::isfinite(hysteresis) || hysteresis < 0) return "the hysteresis must be 0 or more";
  if (holdOffMs < 0) return "the hold-off time must be 0 ms or more";
  return {};
}

void AlarmEvaluator::setLimits(const AlarmLimits& limits) {
  limits_ = limits;
  reset();
}

void AlarmEvaluator::reset() {
  active_ = acknowledged_ = false;
  inside_ = true;
  beyondSinceMs_.reset();
}

std::optional<AlarmSide> AlarmEvaluator::beyond(double value) const {
  if (limits_.upper && value > *limits_.upper) return AlarmSide::Upper;
  if (limits_.lower && value < *limits_.lower) return AlarmSide::Lower;
  return std::nullopt;
}

bool AlarmEvaluator::backInside(double value) const {
  const double h = limits_.hysteresis;
  return (!limits_.upper || value <= *limits_.upper - h) &&
         (!limits_.lower || value >= *limits_.lower + h);
}

std::optional<AlarmEvent> AlarmEvaluator::update(double value, std::int64_t nowMs) {
  if (std::isnan(value)) {
    beyondSinceMs_.reset();
    return std::nullopt;
  }
  lastValue_ = value;
  const std::optional<AlarmSide> b = beyond(value);
  if (!active_) {
    if (!b) {
      beyondSinceMs_.reset();
      return std::nullopt;
    }
    // Crossing to the other limit restarts the hold-off.
    if (!beyondSinceMs_ || side_ != *b) beyondSinceMs_ = nowMs;
    side_ = *b;
    if (nowMs - *beyondSinceMs_ < limits_.holdOffMs) return std::nullopt;
    active_ = true;
    acknowledged_ = false;
    inside_ = false;
    return AlarmEvent{true, side_, value, nowMs};
  }
  inside_ = !b && backInside(value);
  if (!inside_ || (limits_.latching && !acknowledged_)) return std::nullopt;
  active_ = acknowledged_ = false;
  beyondSinceMs_.reset();
  return AlarmEvent{false, side_, value, nowMs};
}

std::optional<AlarmEvent> AlarmEvaluator::update(const QuantityValues& values, std::int64_t nowMs) {
  const std::optional<double>& v = values[static_cast<std::size_t>(limits_.quantity)];
  if (!v) {
    beyondSinceMs_.reset();
    return std::nullopt;
  }
  return update(*v, nowMs);
}

std::optional<AlarmEvent> AlarmEvaluator::acknowledge(std::int64_t nowMs) {
  if (!active_) return std::nullopt;
  acknowledged_ = true;
  if (!limits_.latching || !inside_) return std::nullopt;
  active_ = acknowledged_ = false;
  beyondSinceMs_.reset();
  return AlarmEvent{false, side_, lastValue_, nowMs};
}

namespace {
// Six significant digits with "." whatever the locale: the text goes into
// comma-separated logs.
void appendValue(std::string& out, double v, std::string_view unit) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  out.append(buf, r.ec == std::errc() ? r.ptr : buf);
  if (!unit.empty()) {
    out += ' ';
    out += unit;
  }
}
}  // namespace

std::string alarmEventText(const AlarmLimits& limits, const AlarmEvent& e) {
  const std::string_view unit = alarmQuantityUnit(limits.quantity);
  std::string t = e.raised ? "Alarm raised: " : "Alarm cleared: ";
  t += alarmQuantityName(limits.quantity);
  t += ' ';
  appendValue(t, e.value, unit);
  if (!e.raised) return t;
  const bool up = e.side == AlarmSide::Upper;
  const std::optional<double>& limit = up ? limits.upper : limits.lower;
  t += up ? " above " : " below ";
  appendValue(t, limit.value_or(0), unit);
  return t;
}

void AlarmSet::setLimits(const std::vector<AlarmLimits>& limits) {
  alarms_.clear();
  for (const AlarmLimits& l : limits) alarms_.emplace_back(l);
}

std::vector<AlarmChange> AlarmSet::update(const QuantityValues& values, std::int64_t nowMs) {
  std::vector<AlarmChange> changes;
  for (AlarmEvaluator& a : alarms_)
    if (const std::optional<AlarmEvent> e = a.update(values, nowMs))
      changes.push_back({a.limits(), *e});
  return changes;
}

std::vector<AlarmChange> AlarmSet::acknowledge(std::int64_t nowMs) {
  std::vector<AlarmChange> changes;
  for (AlarmEvaluator& a : alarms_)
    if (const std::optional<AlarmEvent> e = a.acknowledge(nowMs))
      changes.push_back({a.limits(), *e});
  return changes;
}

bool AlarmSet::active() const {
  for (const AlarmEvaluator& a : alarms_)
    if (a.active()) return true;
  return false;
}

bool AlarmSet::sounding() const {
  for (const AlarmEvaluator& a : alarms_)
    if (a.sounding()) return true;
  return false;
}

}  // namespace zrq::core
