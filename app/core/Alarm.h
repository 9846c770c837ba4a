// Limit alarms: one evaluator for every place that watches a quantity (the
// panel, the trend, the log, the service, the remote-control limit commands),
// so an alarm rises and clears by the same rules everywhere.
//
// An alarm rises when the value has stayed beyond a limit for the hold-off
// time. It clears once the value is back inside by the hysteresis; a latching
// alarm also waits to be acknowledged. Acknowledging a standing alarm
// silences it without clearing it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrq::core {

enum class AlarmQuantity : std::uint8_t {
  ForwardAverageW,
  ForwardAverageDbm,
  ForwardPeakW,
  ForwardBurstW,
  CrestFactorDb,
  CcdfPercent,
  ReflectedW,
  Rho,
  Vswr,
  ReturnLossDb,
};
inline constexpr int kAlarmQuantityCount = 10;

// forward_average_w, ..., return_loss_db: the names scripts, topics and
// configuration files use.
std::string_view alarmQuantityName(AlarmQuantity q);
std::optional<AlarmQuantity> alarmQuantityFromName(std::string_view name);
// The unit a value of the quantity is in: "W", "dBm", "dB", "%" or "" (ratios).
std::string_view alarmQuantityUnit(AlarmQuantity q);

// Each quantity of one reading; empty where the measurement type gives none.
using QuantityValues = std::array<std::optional<double>, kAlarmQuantityCount>;

struct AlarmLimits {
  AlarmQuantity quantity = AlarmQuantity::ForwardAverageW;
  std::optional<double> upper, lower;
  double hysteresis = 0;  // in the quantity's unit, >= 0
  std::int64_t holdOffMs = 0;
  bool latching = false;
  // Why these limits cannot be used, or empty.
  std::string problem() const;
  friend bool operator==(const AlarmLimits&, const AlarmLimits&) = default;
};

enum class AlarmSide : std::uint8_t { Upper, Lower };

struct AlarmEvent {
  bool raised = false;  // false: cleared
  AlarmSide side = AlarmSide::Upper;
  double value = 0;  // the value that decided it (the last one, for a clear by acknowledge)
  std::int64_t atMs = 0;
};

class AlarmEvaluator {
 public:
  explicit AlarmEvaluator(AlarmLimits limits = {}) : limits_(limits) {}

  const AlarmLimits& limits() const { return limits_; }
  // New limits start from a clear state.
  void setLimits(const AlarmLimits& limits);

  // One value of the quantity at nowMs (steady clock); the event when the
  // alarm rose or cleared with it.
  std::optional<AlarmEvent> update(double value, std::int64_t nowMs);
  // From a whole reading: a quantity the reading lacks changes nothing but
  // restarts a hold-off in progress.
  std::optional<AlarmEvent> update(const QuantityValues& values, std::int64_t nowMs);
  // Silences a standing alarm; clears a latched one whose condition has gone.
  std::optional<AlarmEvent> acknowledge(std::int64_t nowMs);
  // Back to clear at once, without an event (a user's reset).
  void reset();

  bool active() const { return active_; }
  bool acknowledged() const { return acknowledged_; }
  // Active and not acknowledged: what a sound follows.
  bool sounding() const { return active_ && !acknowledged_; }
  AlarmSide side() const { return side_; }

 private:
  std::optional<AlarmSide> beyond(double value) const;
  bool backInside(double value) const;

  AlarmLimits limits_;
  bool active_ = false;
  bool acknowledged_ = false;
  bool inside_ = true;  // the last value was back inside by the hysteresis
  AlarmSide side_ = AlarmSide::Upper;
  std::optional<std::int64_t> beyondSinceMs_;
  double lastValue_ = 0;
};

// What an event says in the log and on the annunciator:
// "Alarm raised: vswr 2.1 above 1.5", "Alarm cleared: forward_average_w 140 W".
std::string alarmEventText(const AlarmLimits& limits, const AlarmEvent& e);

struct AlarmChange {
  AlarmLimits limits;
  AlarmEvent event;
};

// Every alarm of one sensor, fed the same readings.
class AlarmSet {
 public:
  // New limits start from a clear state.
  void setLimits(const std::vector<AlarmLimits>& limits);
  const std::vector<AlarmEvaluator>& alarms() const { return alarms_; }
  bool empty() const { return alarms_.empty(); }

  std::vector<AlarmChange> update(const QuantityValues& values, std::int64_t nowMs);
  std::vector<AlarmChange> acknowledge(std::int64_t nowMs);
  bool active() const;
  bool sounding() const;

 private:
  std::vector<AlarmEvaluator> alarms_;
};

}  // namespace zrq::core
