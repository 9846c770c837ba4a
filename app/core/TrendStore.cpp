#include "core/TrendStore.h"

#include <algorithm>

#include "core/PowerMath.h"

namespace zrq::core {

namespace {

// Six spans and a resize or two: older widths are dropped.
constexpr std::size_t kMaxCaches = 8;
constexpr std::int64_t kMaxOffset = 0xFFFF'FFFFLL;

TrendChannel channelOf(TrendQuantity q) {
  switch (q) {
    case TrendQuantity::ForwardAverage:
      return TrendChannel::ForwardAverage;
    case TrendQuantity::Peak:
      return TrendChannel::Peak;
    case TrendQuantity::Burst:
      return TrendChannel::Burst;
    case TrendQuantity::Crest:
      return TrendChannel::Crest;
    case TrendQuantity::Reflected:
      return TrendChannel::Reflected;
    case TrendQuantity::Vswr:
    case TrendQuantity::ReturnLoss:
      break;
  }
  return TrendChannel::Rho;
}

float fromChannel(TrendQuantity q, float v) {
  if (std::isnan(v)) return v;
  if (q == TrendQuantity::Vswr) return static_cast<float>(ratioOfRho(PowerUnit::VSWR, v));
  if (q == TrendQuantity::ReturnLoss)
    return static_cast<float>(ratioOfRho(PowerUnit::ReturnLoss, v));
  return v;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

void merge(TrendColumn& col, float v, bool joined) {
  if (col.empty()) {
    col.min = col.max = col.first = col.last = v;
    col.joined = joined;
    return;
  }
  col.min = std::min(col.min, v);
  col.max = std::max(col.max, v);
  col.last = v;
}

}  // namespace

float trendValue(TrendQuantity q, const TrendSample& s) { return fromChannel(q, s[channelOf(q)]); }

TrendStore::TrendStore(std::size_t capacity, std::int64_t gapMs)
    : capacity_(std::max<std::size_t>(capacity, 1)), gapMs_(gapMs) {
  times_.reset(new std::uint32_t[capacity_]);
  flags_.reset(new std::uint8_t[capacity_]);
  for (auto& v : values_) v.reset(new float[capacity_]);
}

float TrendStore::value(TrendQuantity q, std::size_t i) const {
  return fromChannel(q, channel(i, static_cast<int>(channelOf(q))));
}

bool TrendStore::joins(TrendQuantity q, std::size_t i) const {
  return i > 0 && !gapAt(i) && !std::isnan(value(q, i - 1));
}

TrendSample TrendStore::at(std::size_t i) const {
  TrendSample s;
  const std::size_t p = slot(i);
  s.timeMs = base_ + times_[p];
  s.function = flags_[p] & ~kGapFlag;
  s.gapBefore = flags_[p] & kGapFlag;
  for (int c = 0; c < kTrendChannels; ++c) s.values[c] = values_[c][p];
  return s;
}

std::size_t TrendStore::lowerBound(std::int64_t timeMs) const {
  std::size_t lo = 0, hi = size_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (timeAt(mid) < timeMs)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

std::size_t TrendStore::nearest(std::int64_t timeMs) const {
  if (size_ == 0) return 0;
  const std::size_t i = lowerBound(timeMs);
  if (i == size_) return size_ - 1;
  if (i > 0 && timeMs - timeAt(i - 1) <= timeAt(i) - timeMs) return i - 1;
  return i;
}

void TrendStore::rebase(std::int64_t timeMs) {
  // Only after weeks of running: the kept readings are shifted to a newer base.
  if (size_ == 0 || timeMs - timeAt(0) > kMaxOffset) {
    // Nothing kept is close enough to the new reading to share a base with it.
    size_ = start_ = 0;
    caches_.clear();
    base_ = timeMs;
    return;
  }
  const std::int64_t newBase = timeAt(0);
  const auto shift = static_cast<std::uint32_t>(newBase - base_);
  for (std::size_t i = 0; i < size_; ++i) times_[slot(i)] -= shift;
  base_ = newBase;
}

void TrendStore::push(TrendSample s) {
  bool gap = s.gapBefore || gapPending_;
  gapPending_ = false;
  if (size_ > 0) {
    const std::int64_t newest = timeAt(size_ - 1);
    if (s.timeMs < newest) {
      s.timeMs = newest;
      gap = true;
    } else if (s.timeMs - newest > gapMs_) {
      gap = true;
    }
  } else {
    base_ = s.timeMs;
  }
  if (s.timeMs - base_ > kMaxOffset) rebase(s.timeMs);

  if (size_ == capacity_) {
    // The oldest reading goes: columns that counted it are recomputed on use.
    const std::int64_t old = timeAt(0);
    for (auto& [width, c] : caches_)
      c.staleBefore = std::max(c.staleBefore, floorDiv(old, width) + 1);
    start_ = slot(1);
    --size_;
    ++overwritten_;
  }
  const std::size_t p = slot(size_);
  ++size_;
  times_[p] = static_cast<std::uint32_t>(s.timeMs - base_);
  flags_[p] = static_cast<std::uint8_t>((s.function & ~kGapFlag) | (gap ? kGapFlag : 0));
  for (int c = 0; c < kTrendChannels; ++c) values_[c][p] = s.values[c];

  for (int q = 0; q < kTrendQuantities; ++q) {
    const float v = value(static_cast<TrendQuantity>(q), size_ - 1);
    if (std::isnan(v)) continue;
    TrendHold& h = holds_[q];
    h.min = h.count ? std::min<double>(h.min, v) : v;
    h.max = h.count ? std::max<double>(h.max, v) : v;
    h.sum += v;
    ++h.count;
  }
  addToCaches(size_ - 1);
}

void TrendStore::resetHolds() { holds_.fill(TrendHold{}); }

void TrendStore::addToCaches(std::size_t i) {
  const std::int64_t t = timeAt(i);
  for (auto& [width, c] : caches_) {
    const std::int64_t k = floorDiv(t, width) - c.first;
    if (k < 0 || k >= c.count) continue;
    for (int q = 0; q < kTrendQuantities; ++q) {
      if (!c.valid[q]) continue;
      const auto tq = static_cast<TrendQuantity>(q);
      const float v = value(tq, i);
      if (!std::isnan(v)) merge(c.cols[q][static_cast<std::size_t>(k)], v, joins(tq, i));
    }
  }
}

// Readings are walked as runs of contiguous slots, so that the inner loops
// are plain array scans: a fresh 24 h reduction is what the first view costs.
void TrendStore::fill(Cache& c, TrendQuantity q, std::int64_t widthMs, std::int64_t from,
                      std::int64_t to) {
  from = std::max(from, c.first);
  to = std::min(to, c.first + c.count);
  if (from >= to) return;
  auto& cols = c.cols[static_cast<int>(q)];
  const float* values = values_[static_cast<int>(channelOf(q))].get();
  std::size_t i = lowerBound(from * widthMs);
  for (std::int64_t k = from; k < to; ++k) {
    TrendColumn& col = cols[static_cast<std::size_t>(k - c.first)];
    col = TrendColumn{};
    const std::int64_t end = (k + 1) * widthMs - base_;  // as a stored offset
    while (i < size_) {
      const std::size_t p = slot(i);
      const std::size_t run = std::min(size_ - i, capacity_ - p);
      std::size_t n = 0;
      while (n < run && std::int64_t{times_[p + n]} < end) ++n;
      if (n > 0) mergeRun(col, q, i, values + p, n);
      i += n;
      if (n < run) break;
    }
  }
}

void TrendStore::mergeRun(TrendColumn& col, TrendQuantity q, std::size_t i, const float* v,
                          std::size_t n) const {
  const bool derived = q == TrendQuantity::Vswr || q == TrendQuantity::ReturnLoss;
  std::size_t j = 0;
  if (col.empty()) {
    while (j < n && std::isnan(v[j])) ++j;
    if (j == n) return;
    col.min = col.max = col.first = col.last = fromChannel(q, v[j]);
    col.joined = joins(q, i + j);
    ++j;
  }
  // NaN compares false, so a missing value never wins.
  float lo = col.min, hi = col.max;
  if (derived) {
    for (; j < n; ++j) {
      const float x = fromChannel(q, v[j]);
      lo = x < lo ? x : lo;
      hi = x > hi ? x : hi;
    }
  } else {
    for (; j < n; ++j) {
      lo = v[j] < lo ? v[j] : lo;
      hi = v[j] > hi ? v[j] : hi;
    }
  }
  col.min = lo;
  col.max = hi;
  for (std::size_t e = n; e-- > 0;)
    if (!std::isnan(v[e])) {
      col.last = fromChannel(q, v[e]);
      break;
    }
}

std::span<const TrendColumn> TrendStore::reduce(TrendQuantity q, std::int64_t widthMs,
                                                std::int64_t firstColumn, int count) {
  if (widthMs < 1 || count <= 0) return {};
  Cache& c = caches_[widthMs];
  c.used = ++uses_;
  if (caches_.size() > kMaxCaches) {
    auto lru = std::min_element(caches_.begin(), caches_.end(), [](const auto& a, const auto& b) {
      return a.second.used < b.second.used;
    });
    caches_.erase(lru);
  }
  if (c.count != count) {
    c.count = count;
    c.first = firstColumn;
    c.valid.fill(false);
  }
  if (firstColumn != c.first) {
    const std::int64_t d = firstColumn - c.first;
    if (d >= count || -d >= count) c.valid.fill(false);
    const std::int64_t oldFirst = c.first;
    c.first = firstColumn;
    for (int v = 0; v < kTrendQuantities; ++v) {
      if (!c.valid[v]) continue;
      auto& cols = c.cols[v];
      if (d > 0) {
        std::move(cols.begin() + d, cols.end(), cols.begin());
        fill(c, static_cast<TrendQuantity>(v), widthMs, oldFirst + count, firstColumn + count);
      } else {
        std::move_backward(cols.begin(), cols.end() + d, cols.end());
        fill(c, static_cast<TrendQuantity>(v), widthMs, firstColumn, oldFirst);
      }
    }
  }
  if (c.staleBefore > c.first) {
    for (int v = 0; v < kTrendQuantities; ++v)
      if (c.valid[v]) fill(c, static_cast<TrendQuantity>(v), widthMs, c.first, c.staleBefore);
  }
  c.staleBefore = std::numeric_limits<std::int64_t>::min();
  const int qi = static_cast<int>(q);
  if (!c.valid[qi]) {
    c.cols[qi].assign(static_cast<std::size_t>(count), TrendColumn{});
    fill(c, q, widthMs, firstColumn, firstColumn + count);
    c.valid[qi] = true;
  }
  return c.cols[qi];
}

std::size_t TrendStore::memoryBytes() const {
  std::size_t n = capacity_ * (sizeof(std::uint32_t) + 1 + kTrendChannels * sizeof(float));
  for (const auto& [width, c] : caches_) {
    n += sizeof(Cache);
    for (const auto& cols : c.cols) n += cols.capacity() * sizeof(TrendColumn);
  }
  return n;
}

std::optional<TrendLimitLines> trendLimitLines(const AlarmLimits& limits, bool powersInDbm) {
  using Q = AlarmQuantity;
  TrendLimitLines l;
  enum { Same, WattsIn, DbmIn } in = Same;
  switch (limits.quantity) {
    case Q::ForwardAverageW:
      l.quantity = TrendQuantity::ForwardAverage, in = WattsIn;
      break;
    case Q::ForwardAverageDbm:
      l.quantity = TrendQuantity::ForwardAverage, in = DbmIn;
      break;
    case Q::ForwardPeakW:
      l.quantity = TrendQuantity::Peak, in = WattsIn;
      break;
    case Q::ForwardBurstW:
      l.quantity = TrendQuantity::Burst, in = WattsIn;
      break;
    case Q::ReflectedW:
      l.quantity = TrendQuantity::Reflected, in = WattsIn;
      break;
    case Q::CrestFactorDb:
      l.quantity = TrendQuantity::Crest;
      break;
    case Q::Vswr:
      l.quantity = TrendQuantity::Vswr;
      break;
    case Q::ReturnLossDb:
      l.quantity = TrendQuantity::ReturnLoss;
      break;
    case Q::CcdfPercent:
    case Q::Rho:
      return std::nullopt;
  }
  auto shown = [&](std::optional<double> v) -> std::optional<double> {
    if (!v) return v;
    if (in == WattsIn && powersInDbm) {
      if (*v <= 0) return std::nullopt;  // below any dBm the lane can show
      return 10 * std::log10(*v) + 30;
    }
    if (in == DbmIn && !powersInDbm) return std::pow(10.0, (*v - 30) / 10);
    return v;
  };
  l.lower = shown(limits.lower);
  l.upper = shown(limits.upper);
  return l;
}

}  // namespace zrq::core
