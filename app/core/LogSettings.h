// What the log set-up dialog holds, as plain data the log writer reads at
// every display tick: the event, the trigger quantity, the sample time and the
// four limit texts exactly as typed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zrq::core {

// Indexes of the dialog's "Event" radio group.
enum class LogEvent : std::uint8_t {
  SampleTime = 0,
  SampleTimeAboveLimit = 1,
  FirstLastAboveLimit = 2,
  SampleTimeBelowLimit = 3,
  FirstLastBelowLimit = 4,
};
inline constexpr int kLogEvents = 5;

// Indexes of the dialog's "Trigger" radio group.
enum class LogTrigger : std::uint8_t { Forward = 0, Reflected = 1, Peak = 2, Burst = 3 };
inline constexpr int kLogTriggers = 4;

// Indexes of "Sample Time Interval".
enum class LogTimeUnit : std::uint8_t { Seconds = 0, Minutes = 1, Hours = 2 };

inline constexpr int kMinSampleTime = 1;
inline constexpr int kMaxSampleTime = 60;
inline constexpr int kLogTickMs = 500;

// Sample time N in 500 ms ticks: N x 2 (seconds), x 120 (minutes), x 7200
// (hours); 1 s to 60 h. N is clamped to 1..60.
int sampleIntervalTicks(LogTimeUnit unit, int sampleTime);

struct LogSettings {
  LogEvent event = LogEvent::SampleTime;
  LogTrigger trigger = LogTrigger::Forward;
  LogTimeUnit timeUnit = LogTimeUnit::Seconds;
  int sampleTime = 1;  // 1..60
  // Forward, reflected, peak, burst limit texts in watts, as typed.
  std::array<std::string, kLogTriggers> limitTexts{"0", "0", "0", "0"};

  int intervalTicks() const { return sampleIntervalTicks(timeUnit, sampleTime); }
  const std::string& limitText(LogTrigger t) const {
    return limitTexts[static_cast<std::size_t>(t)];
  }
};

// Events 1 and 3 log at the sample time; 2 and 4 ignore it.
constexpr bool eventUsesSampleTime(LogEvent e) {
  return e != LogEvent::FirstLastAboveLimit && e != LogEvent::FirstLastBelowLimit;
}
// Every event but 0 watches a limit.
constexpr bool eventUsesLimit(LogEvent e) { return e != LogEvent::SampleTime; }

// A limit text as a number of watts: optional blanks around an optional sign,
// digits with "." as the decimal point, an optional exponent ("1.5", "-2",
// "+3e2", ".5", "5."). Nothing for anything else (a decimal comma, "1.2.3",
// "abc", an empty text, "inf", "nan"), whatever the process locale.
std::optional<double> parseLimitText(std::string_view text);

// Allowed limit range in watts: forward and reflected 0 to the forward full
// scale, peak and burst 0 to 3 x the forward full scale.
double limitRangeMax(LogTrigger t, double fwdFullScale);
bool limitInRange(LogTrigger t, double watts, double fwdFullScale);

// Names as the dialog captions them: "Forward", "Reflected", "Peak", "Burst".
std::string_view logTriggerName(LogTrigger t);

}  // namespace zrq::core
