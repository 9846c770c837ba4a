#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/TrendStore.h"

namespace zrq::core {
namespace {

using Q = TrendQuantity;
constexpr std::int64_t kT0 = 1'796'000'000'000;  // a December 2026 morning, ms

TrendSample reading(std::int64_t t, float fwdW, float rho = 0.1f) {
  TrendSample s;
  s.values.fill(kTrendNone);
  s.timeMs = t;
  s.function = 1;
  s[TrendChannel::ForwardAverage] = fwdW;
  s[TrendChannel::Rho] = rho;
  return s;
}

TEST(TrendStore, RingKeepsTheNewestAndForgetsWhatItOverwrote) {
  TrendStore store(4);
  const std::int64_t width = 1000;
  for (int i = 0; i < 4; ++i) store.push(reading(kT0 + i * 100, i == 0 ? 50.f : 1.f));
  // The spike is in the cached column; it must go with its reading.
  EXPECT_EQ(store.reduce(Q::ForwardAverage, width, kT0 / width, 1)[0].max, 50.f);
  for (int i = 4; i < 6; ++i) store.push(reading(kT0 + i * 100, 2.f));
  EXPECT_EQ(store.size(), 4u);
  EXPECT_EQ(store.overwritten(), 2u);
  EXPECT_EQ(store.at(0).timeMs, kT0 + 200);
  EXPECT_EQ(store.at(3).timeMs, kT0 + 500);
  const TrendColumn col = store.reduce(Q::ForwardAverage, width, kT0 / width, 1)[0];
  EXPECT_EQ(col.max, 2.f);
  EXPECT_EQ(col.min, 1.f);
  EXPECT_LE(store.memoryBytes(), 4u * 37u + 4096u);
}

TEST(TrendStore, LineBreaksWhereNoReadingWasAccepted) {
  struct Row {
    const char* what;
    std::int64_t dt;      // after the previous reading
    bool markGap;         // the connection left streaming before it
    float previousValue;  // the quantity in the previous reading
    bool gapBefore, joined;
  } rows[] = {
      {"next reading", 600, false, 1.f, false, true},
      {"stall longer than the gap time", 3001, false, 1.f, true, false},
      {"left streaming", 600, true, 1.f, true, false},
      {"clock set back", -5000, false, 1.f, true, false},
      {"quantity missing before", 600, false, kTrendNone, false, false},
  };
  for (const Row& r : rows) {
    TrendStore store(16, 3000);
    store.push(reading(kT0, 1.f));
    store.push(reading(kT0 + 600, r.previousValue));
    if (r.markGap) store.markGap();
    store.push(reading(kT0 + 600 + r.dt, 3.f));
    EXPECT_EQ(store.at(2).gapBefore, r.gapBefore) << r.what;
    EXPECT_GE(store.at(2).timeMs, store.at(1).timeMs) << r.what;
    if (r.dt < 0) continue;  // shares its time, and so its column, with the reading before
    // Columns of 1 ms: the last reading alone in its column.
    const auto cols = store.reduce(Q::ForwardAverage, 1, store.at(2).timeMs, 1);
    EXPECT_EQ(cols[0].last, 3.f) << r.what;
    EXPECT_EQ(cols[0].joined, r.joined) << r.what;
  }
}

TEST(TrendStore, HoldsMinMaxAndAverageSinceTheReset) {
  TrendStore store(16);
  store.push(reading(kT0, 100.f));  // before the reset: forgotten
  store.resetHolds();
  EXPECT_TRUE(std::isnan(store.hold(Q::ForwardAverage).average()));
  const float watts[] = {2.f, 8.f, kTrendNone, 5.f};
  for (int i = 0; i < 4; ++i) store.push(reading(kT0 + 100 * (i + 1), watts[i], 0.5f));
  const TrendHold& h = store.hold(Q::ForwardAverage);
  EXPECT_EQ(h.min, 2);
  EXPECT_EQ(h.max, 8);
  EXPECT_DOUBLE_EQ(h.average(), 5);
  EXPECT_EQ(h.count, 3u);
  // Derived from rho as the panel derives it: rho 0.5 is VSWR 3, return loss -6.02 dB.
  EXPECT_NEAR(store.hold(Q::Vswr).max, 3.0, 1e-6);
  EXPECT_NEAR(store.hold(Q::ReturnLoss).min, -6.0206, 1e-4);
  EXPECT_EQ(store.hold(Q::Peak).count, 0u);
}

TEST(TrendStore, SpikeShowsInItsColumnAtEverySpan) {
  constexpr std::int64_t kDay = 24 * 3600 * 1000;
  TrendStore store;  // 24 h at ten a second
  const std::int64_t spikeAt = kT0 + kDay / 2 + 34'500;
  for (std::int64_t t = kT0; t < kT0 + kDay; t += 100)
    store.push(reading(t, t == spikeAt ? 100.f : 1.f));  // +20 dB
  EXPECT_EQ(store.size(), TrendStore::kDayCapacity);
  EXPECT_LE(store.memoryBytes(), 40u * 1000 * 1000);
  const int columns = 1920;
  const std::int64_t newest = store.at(store.size() - 1).timeMs;
  for (std::int64_t spanMs : {std::int64_t{60'000}, std::int64_t{600'000}, std::int64_t{3'600'000},
                              8 * std::int64_t{3'600'000}, kDay}) {
    const std::int64_t width = std::max<std::int64_t>(1, spanMs / columns);
    // The span ending at the spike, so every span holds it.
    const std::int64_t first = spikeAt / width - columns + 1;
    const auto cols = store.reduce(Q::ForwardAverage, width, first, columns);
    ASSERT_EQ(cols.size(), static_cast<std::size_t>(columns));
    EXPECT_EQ(cols.back().max, 100.f) << spanMs;
    if (width > 100) {
      EXPECT_EQ(cols.back().min, 1.f) << spanMs;  // neighbours share the column
    }
    int spikes = 0;
    for (const TrendColumn& c : cols) spikes += c.max == 100.f;
    EXPECT_EQ(spikes, 1) << spanMs;
  }
  // The whole store ("All").
  const std::int64_t width = (newest - kT0) / columns + 1;
  int spikes = 0;
  for (const TrendColumn& c : store.reduce(Q::ForwardAverage, width, kT0 / width, columns + 1))
    spikes += c.max == 100.f;
  EXPECT_EQ(spikes, 1);
}

// The cached columns, moved on and fed reading by reading, must equal the
// columns computed afresh.
TEST(TrendStore, CachedReductionMatchesAFreshOne) {
  TrendStore live(200), fresh(200);
  const std::int64_t width = 250;
  const int columns = 40;
  auto view = [&](TrendStore& s, Q q) {
    const std::int64_t first = s.at(s.size() - 1).timeMs / width - columns + 1;
    const auto cols = s.reduce(q, width, first, columns);
    return std::vector<TrendColumn>(cols.begin(), cols.end());
  };
  for (int i = 0; i < 600; ++i) {
    TrendSample s =
        reading(kT0 + i * 70 + 4000 * (i / 97), static_cast<float>((i * 37) % 11), (i % 13) / 13.f);
    if (i % 50 == 7) s[TrendChannel::ForwardAverage] = kTrendNone;
    live.push(s);
    if (i % 3 == 0) {
      view(live, Q::ForwardAverage);
      view(live, Q::ReturnLoss);
    }
  }
  for (std::size_t i = 0; i < live.size(); ++i) {
    TrendSample s = live.at(i);
    s.gapBefore = s.gapBefore && i > 0;
    fresh.push(s);
  }
  for (Q q : {Q::ForwardAverage, Q::ReturnLoss}) {
    const auto a = view(live, q), b = view(fresh, q);
    for (int k = 0; k < columns; ++k) {
      const bool same =
          (a[k].empty() && b[k].empty()) || (a[k].min == b[k].min && a[k].max == b[k].max &&
                                             a[k].first == b[k].first && a[k].last == b[k].last);
      EXPECT_TRUE(same) << "quantity " << static_cast<int>(q) << " column " << k;
      if (k > 0) {
        EXPECT_EQ(a[k].joined, b[k].joined) << "column " << k;
      }
    }
  }
}

// A limit in watts is drawn in dBm on a dBm lane and the other way round; a
// quantity without a lane draws nothing.
TEST(TrendLimitLines, FollowTheLanesUnit) {
  AlarmLimits l;
  l.upper = 100;
  l.lower = 0;
  auto lines = trendLimitLines(l, true);
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->quantity, TrendQuantity::ForwardAverage);
  EXPECT_NEAR(*lines->upper, 50, 1e-9);
  EXPECT_FALSE(lines->lower);  // 0 W is below every dBm
  l.quantity = AlarmQuantity::ForwardAverageDbm;
  l.upper = 40;
  lines = trendLimitLines(l, false);
  EXPECT_NEAR(*lines->upper, 10, 1e-9);
  l.quantity = AlarmQuantity::Rho;
  EXPECT_FALSE(trendLimitLines(l, true));
}

}  // namespace
}  // namespace zrq::core
