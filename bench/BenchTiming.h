// Timing helpers every benchmark shares: a steady clock, durations in
// milliseconds, and the median of repeated runs (robust against the odd
// run a busy machine slows down).
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace zrq::bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace zrq::bench
