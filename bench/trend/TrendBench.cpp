// trend_bench: what drawing the trend costs, against a baseline measured in
// the same run, in a 1920 x 600 window over a 24 h store (864,000 readings,
// ten a second, noise, steps and spikes).
//
//   floor     one cached 1920 x 600 image drawn into a 1920 x 600 target
//   full      the whole window drawn again: lanes, grid and every column of
//             the span from the store, with the columns' reduction already
//             cached (a unit or lane change) and computed afresh from all
//             readings (the window first shown); 2 lanes (the default) and 7
//   reading   one new reading: stored, its column reduced and drawn, and the
//             changed part of the window painted; at the 24 h span (a column
//             is 50 s, so the view moves on every ~500 readings, included)
//             and at the 1 min span (the view moves on with every reading)
//   memory    the store's bytes, reductions included
//
// Goals: full redraw <= 8 ms and <= 10 x the floor (2 and 7 lanes); one new
// reading <= 0.2 ms; the store <= 40 MB. Runs on the offscreen platform unless QT_QPA_PLATFORM
// says otherwise.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchTiming.h"
#include "TrendPlot.h"
#include "core/TrendStore.h"

using zrq::core::TrendChannel;
using zrq::core::TrendQuantity;
using zrq::core::TrendSample;

namespace {

using zrq::bench::Clock;

constexpr std::int64_t kDayMs = 24 * 3600 * 1000;

// Median over rounds of the mean time of one call in a batch, in milliseconds.
template <typename F>
double timeIt(F&& f, int rounds, int batch) {
  std::vector<double> t;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) f(i);
    t.push_back(zrq::bench::ms(Clock::now() - t0) / batch);
  }
  return zrq::bench::median(std::move(t));
}

class Signal {
 public:
  TrendSample next(std::int64_t t) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    const double noise = static_cast<double>(state_ >> 11) / 9007199254740992.0 - 0.5;
    ++n_;
    const double level = (n_ / 36000) % 2 ? 100 : 60;  // a step every hour
    const double fwd = n_ % 10007 == 0 ? level * 100 : level * (1 + 0.02 * noise);
    TrendSample s;
    s.values.fill(zrq::core::kTrendNone);
    s.timeMs = t;
    s.function = 1;
    s[TrendChannel::ForwardAverage] = static_cast<float>(fwd);
    s[TrendChannel::Peak] = static_cast<float>(fwd * 1.6);
    s[TrendChannel::Burst] = static_cast<float>(fwd * 1.2);
    s[TrendChannel::Reflected] = static_cast<float>(fwd * 0.04);
    s[TrendChannel::Rho] = static_cast<float>(0.2 + 0.01 * noise);
    s[TrendChannel::Temperature] = 28;
    return s;
  }

 private:
  std::uint64_t state_ = 1;
  std::uint64_t n_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  zrq::core::TrendStore store;
  Signal signal;
  const std::int64_t start = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count() -
                             kDayMs;
  std::int64_t t = start;
  for (std::size_t i = 0; i < zrq::core::TrendStore::kDayCapacity; ++i, t += 100)
    store.push(signal.next(t));

  TrendPlot plot;
  plot.setStore(&store);
  plot.resize(1920, 600);
  plot.setPowerUnit(zrq::core::PowerUnit::dBm);
  plot.setSpan(kDayMs);
  QImage target(1920, 600, QImage::Format_ARGB32_Premultiplied);

  // Floor: the same window from one cached image.
  plot.setQuantities({TrendQuantity::ForwardAverage, TrendQuantity::Vswr});
  const QImage cached = plot.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const double floor = timeIt(
      [&](int) {
        QPainter p(&target);
        p.drawImage(QPoint(0, 0), cached);
      },
      41, 50);

  struct Lanes {
    const char* name;
    std::vector<TrendQuantity> q;
  } lanes[] = {
      {"2 lanes", {TrendQuantity::ForwardAverage, TrendQuantity::Vswr}},
      {"7 lanes",
       {TrendQuantity::ForwardAverage, TrendQuantity::Peak, TrendQuantity::Burst,
        TrendQuantity::Crest, TrendQuantity::Reflected, TrendQuantity::Vswr,
        TrendQuantity::ReturnLoss}},
  };
  std::printf("trend in a 1920 x 600 window, 24 h store of %zu readings (ms, median):\n",
              store.size());
  std::printf("  floor: one cached image                          %8.3f\n", floor);
  std::vector<double> fullCached;  // per row of lanes
  for (const Lanes& l : lanes) {
    plot.setQuantities(l.q);
    const double cachedRedraw = timeIt(
        [&](int) {
          plot.refresh();
          plot.render(&target);
        },
        21, 5);
    const double freshRedraw = timeIt(
        [&](int) {
          store.dropReductions();
          plot.refresh();
          plot.render(&target);
        },
        11, 2);
    const double repaint = timeIt([&](int) { plot.render(&target); }, 21, 5);
    std::printf("  repaint, %s, nothing new                     %8.3f  (x%.1f the floor)\n", l.name,
                repaint, repaint / floor);
    fullCached.push_back(cachedRedraw);
    std::printf("  full redraw, %s, reduction cached         %8.3f  (x%.1f the floor)\n", l.name,
                cachedRedraw, cachedRedraw / floor);
    std::printf("  full redraw, %s, reduction from 864,000   %8.3f  (x%.1f the floor)\n", l.name,
                freshRedraw, freshRedraw / floor);
  }

  // New readings into the shown window, each painted as the event loop
  // paints it: not five times a second as the window does, every time.
  plot.setQuantities(lanes[0].q);
  plot.setPaintInterval(0);
  plot.show();
  QApplication::processEvents();
  auto reading = [&](int) {
    t += 100;
    store.push(signal.next(t));
    plot.readingAdded();
    QApplication::processEvents();
  };
  const int redrawsBefore = plot.fullRedraws();
  const double day = timeIt(reading, 11, 1000);
  const int redrawsDay = plot.fullRedraws() - redrawsBefore;
  plot.setSpan(60'000);
  QApplication::processEvents();
  const double minute = timeIt(reading, 11, 200);
  std::printf("  one new reading, 24 h span (mean of 1000)        %8.4f  (%d full redraws in %d)\n",
              day, redrawsDay, 11 * 1000);
  std::printf("  one new reading, 1 min span (mean of 200)        %8.4f\n", minute);
  const double mb = static_cast<double>(store.memoryBytes()) / 1e6;
  std::printf("  store, reductions included                       %8.1f MB\n", mb);

  auto fullMet = [&](double ms) { return ms <= 8 && ms / floor <= 10; };
  const bool full = fullMet(fullCached[0]) && fullMet(fullCached[1]);
  const bool one = day <= 0.2;
  const bool memory = mb <= 40;
  std::printf("  goal: full redraw (cached) <= 8 ms and <= 10 x floor: 2 lanes %s, 7 lanes %s\n",
              fullMet(fullCached[0]) ? "met" : "NOT met",
              fullMet(fullCached[1]) ? "met" : "NOT met");
  std::printf("  goal: one new reading (24 h span) <= 0.2 ms: %s\n", one ? "met" : "NOT met");
  std::printf("  goal: store <= 40 MB: %s\n", memory ? "met" : "NOT met");
  return full && one && memory ? 0 : 1;
}
