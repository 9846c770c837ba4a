// Power over time: every accepted reading in a fixed-size ring, the min, max
// and average hold per quantity, and the reduction of a time range to one
// min/max pair per pixel column that the trend window draws.
//
// One store lives as long as the program streams, whether or not a window
// shows it; it is used on one thread only. Memory never grows past what the
// constructor takes (memoryBytes()).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <memory>
#include <span>
#include <vector>

#include "core/Alarm.h"

namespace zrq::core {

// What one reading keeps: powers in watts after the panel's limits and
// offset, crest factor in dB, CCDF in percent, rho, temperature in degrees C.
enum class TrendChannel : std::uint8_t {
  ForwardAverage,
  Peak,
  Burst,
  Crest,
  Ccdf,
  Reflected,
  Rho,
  Temperature,
};
inline constexpr int kTrendChannels = 8;

// What the window plots. VSWR and return loss are derived from rho, as the
// panel derives them.
enum class TrendQuantity : std::uint8_t {
  ForwardAverage,
  Peak,
  Burst,
  Crest,
  Reflected,
  Vswr,
  ReturnLoss,
};
inline constexpr int kTrendQuantities = 7;

// True for the quantities that are powers (shown in the panel's dBm or watts).
constexpr bool trendIsPower(TrendQuantity q) {
  return q == TrendQuantity::ForwardAverage || q == TrendQuantity::Peak ||
         q == TrendQuantity::Burst || q == TrendQuantity::Reflected;
}

inline constexpr float kTrendNone = std::numeric_limits<float>::quiet_NaN();

struct TrendSample {
  std::int64_t timeMs = 0;    // system clock, ms since the epoch
  std::uint8_t function = 0;  // the measurement type the sensor reported (1..5)
  // No reading was accepted between the previous one and this: the line breaks.
  bool gapBefore = false;
  std::array<float, kTrendChannels> values{};  // kTrendNone: not in this reading

  float& operator[](TrendChannel c) { return values[static_cast<int>(c)]; }
  float operator[](TrendChannel c) const { return values[static_cast<int>(c)]; }
};

// A quantity of a reading; NaN when the reading does not give it.
float trendValue(TrendQuantity q, const TrendSample& s);

// An alarm's limits as lines on a trend lane, in the lane's display unit
// (dBm or watts for powers); empty when no lane shows the quantity.
struct TrendLimitLines {
  TrendQuantity quantity = TrendQuantity::ForwardAverage;
  std::optional<double> lower, upper;
};
std::optional<TrendLimitLines> trendLimitLines(const AlarmLimits& limits, bool powersInDbm);

struct TrendHold {
  double min = std::numeric_limits<double>::quiet_NaN();
  double max = std::numeric_limits<double>::quiet_NaN();
  double sum = 0;
  std::uint64_t count = 0;
  double average() const {
    return count ? sum / static_cast<double>(count) : std::numeric_limits<double>::quiet_NaN();
  }
};

// The readings of one pixel column for one quantity. Empty columns have NaN
// everywhere. `joined`: the column's first value continues the line of the
// reading before it (no gap between, and that reading gave the quantity).
struct TrendColumn {
  float min = kTrendNone, max = kTrendNone, first = kTrendNone, last = kTrendNone;
  bool joined = false;
  bool empty() const { return std::isnan(min); }
};

class TrendStore {
 public:
  // 24 h at ten readings a second.
  static constexpr std::size_t kDayCapacity = 864'000;

  // capacity >= 1. A reading more than gapMs after the one before starts a
  // new line (a stall the stream supervision has not reported yet).
  explicit TrendStore(std::size_t capacity = kDayCapacity, std::int64_t gapMs = 3000);

  // Appends a reading, overwriting the oldest when full. Times never run
  // backwards in the store: an earlier time (the clock was set back) is taken
  // as the newest time so far, and the line breaks there.
  void push(TrendSample s);
  // The connection left streaming (disconnect, zero calibration): the next
  // reading starts a new line, however soon it comes.
  void markGap() { gapPending_ = true; }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  // Readings lost to the ring since the start.
  std::uint64_t overwritten() const { return overwritten_; }
  // i = 0 is the oldest reading kept; i < size().
  TrendSample at(std::size_t i) const;
  std::int64_t timeAt(std::size_t i) const { return base_ + times_[slot(i)]; }
  // Index of the first reading at or after timeMs (size() when none).
  std::size_t lowerBound(std::int64_t timeMs) const;
  // The reading nearest in time to timeMs; size() when the store is empty.
  std::size_t nearest(std::int64_t timeMs) const;

  const TrendHold& hold(TrendQuantity q) const { return holds_[static_cast<int>(q)]; }
  // Starts every hold again from the next reading.
  void resetHolds();

  // Columns [firstColumn, firstColumn + count) of widthMs each: column k holds
  // the readings with k * widthMs <= time < (k + 1) * widthMs. Every reading of
  // a column counts, so a single spike always shows. Results are cached per
  // width: asking again after new readings, or one column further on, costs
  // only the columns that changed. The span stays valid until the next call.
  std::span<const TrendColumn> reduce(TrendQuantity q, std::int64_t widthMs,
                                      std::int64_t firstColumn, int count);

  // Frees the cached reductions: nothing shows them (the window closed), so
  // no reading need keep them up to date.
  void dropReductions() { caches_.clear(); }

  // Bytes the store holds on the heap, reduction caches included.
  std::size_t memoryBytes() const;

 private:
  struct Cache {
    std::int64_t first = 0;
    int count = 0;
    std::int64_t staleBefore = std::numeric_limits<std::int64_t>::min();  // column index
    std::array<std::vector<TrendColumn>, kTrendQuantities> cols;
    std::array<bool, kTrendQuantities> valid{};
    std::uint64_t used = 0;  // for dropping the least recently used width
  };

  std::size_t slot(std::size_t i) const {
    const std::size_t p = start_ + i;
    return p >= capacity_ ? p - capacity_ : p;
  }
  float channel(std::size_t i, int c) const { return values_[c][slot(i)]; }
  float value(TrendQuantity q, std::size_t i) const;
  bool gapAt(std::size_t i) const { return flags_[slot(i)] & kGapFlag; }
  bool joins(TrendQuantity q, std::size_t i) const;
  void fill(Cache& c, TrendQuantity q, std::int64_t widthMs, std::int64_t from, std::int64_t to);
  void mergeRun(TrendColumn& col, TrendQuantity q, std::size_t i, const float* v,
                std::size_t n) const;
  void addToCaches(std::size_t i);
  void rebase(std::int64_t timeMs);

  static constexpr std::uint8_t kGapFlag = 0x80;

  std::size_t capacity_;
  std::int64_t gapMs_;
  std::size_t start_ = 0, size_ = 0;
  std::uint64_t overwritten_ = 0;
  // Times as ms after base_: half the bytes of absolute times.
  std::int64_t base_ = 0;
  // Left uninitialised: the pages cost memory only once readings reach them.
  std::unique_ptr<std::uint32_t[]> times_;
  std::unique_ptr<std::uint8_t[]> flags_;  // function | kGapFlag
  std::array<std::unique_ptr<float[]>, kTrendChannels> values_;
  bool gapPending_ = true;
  std::array<TrendHold, kTrendQuantities> holds_{};
  std::map<std::int64_t, Cache> caches_;  // by column width
  std::uint64_t uses_ = 0;
};

}  // namespace zrq::core
