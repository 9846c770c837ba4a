// The trend window's view over a recorded store: span, pause, scroll back
// and the panel's power unit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <chrono>
#include <memory>
#include <numeric>

#include "PanelTestSupport.h"
#include "TrendRecorder.h"
#include "TrendWindow.h"

using namespace zrq;
using core::TrendChannel;
using core::TrendQuantity;

namespace {

constexpr std::int64_t kMinute = 60'000, kHour = 60 * kMinute;

class TrendWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureApplication();
    recorder = std::make_unique<app::TrendRecorder>(state);
    window = std::make_unique<TfrmTrend>(*recorder);
    now = std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::system_clock::now().time_since_epoch())
              .count();
    t = now - 2 * kHour;
    record(2 * kHour);  // two hours, one reading a second
    window->show();
  }

  void record(std::int64_t forMs) {
    for (const std::int64_t end = t + forMs; t < end; t += 1000) {
      core::TrendSample s;
      s.values.fill(core::kTrendNone);
      s.timeMs = t;
      s.function = 1;
      s[TrendChannel::ForwardAverage] = 100;
      recorder->store().push(s);
    }
    emit recorder->appended();
  }

  // One reading stepMs after the last, forward average on a 100..118 W saw tooth.
  void pushWave(int i, std::int64_t stepMs = 1000) {
    core::TrendSample s;
    s.values.fill(core::kTrendNone);
    s.timeMs = t += stepMs;
    s.function = 1;
    s[TrendChannel::ForwardAverage] = static_cast<float>(100 + (i % 7) * 3);
    recorder->store().push(s);
    emit recorder->appended();
  }

  std::int64_t newest() const {
    const core::TrendStore& s = recorder->store();
    return s.timeAt(s.size() - 1);
  }
  std::pair<std::int64_t, std::int64_t> shown() const {
    window->plot->grab();  // draws what is due
    return window->plot->shownRange().value();
  }

  core::InstrumentState state;
  std::unique_ptr<app::TrendRecorder> recorder;
  std::unique_ptr<TfrmTrend> window;
  std::int64_t now = 0, t = 0;
};

TEST_F(TrendWindow, SpansEndAtTheNewestReadingAndAllShowsEveryReading) {
  struct Row {
    int index;
    std::int64_t spanMs;
  } rows[] = {{0, kMinute}, {1, 10 * kMinute}, {2, kHour}};
  for (const Row& r : rows) {
    window->cmbSpan->setCurrentIndex(r.index);
    const auto [from, to] = shown();
    // Whole columns: the span rounds down to a multiple of the plot's width.
    EXPECT_NEAR(static_cast<double>(to - from), static_cast<double>(r.spanMs), r.spanMs * 0.01)
        << r.index;
    // Following, the view moves on in steps of 1/40 of its width.
    EXPECT_GT(to, newest()) << r.index;
    EXPECT_LE(to - newest(), r.spanMs / 40 + r.spanMs / 100) << r.index;
  }
  window->cmbSpan->setCurrentIndex(5);  // All
  const auto [from, to] = shown();
  EXPECT_LE(from, recorder->store().timeAt(0));
  EXPECT_GT(to, newest());
}

TEST_F(TrendWindow, PauseHoldsTheViewAndTheScrollBarMovesItBack) {
  window->cmbSpan->setCurrentIndex(1);  // 10 min
  EXPECT_FALSE(window->scrollBack->isEnabled());
  window->btnPause->click();
  const auto held = shown();
  record(5 * kMinute);
  EXPECT_EQ(shown(), held);
  ASSERT_TRUE(window->scrollBack->isEnabled());
  // The bar stands where the view was held, five minutes before the newest reading.
  EXPECT_EQ(window->scrollBack->value(), window->scrollBack->maximum() - 300);

  // One step a second: an hour back.
  window->scrollBack->setValue(window->scrollBack->value() - 3600);
  EXPECT_NEAR(static_cast<double>(shown().second), static_cast<double>(held.second - kHour), 2000);

  window->btnPause->click();  // follows the newest reading again
  EXPECT_GT(shown().second, newest());
  EXPECT_FALSE(window->scrollBack->isEnabled());
}

TEST_F(TrendWindow, PowersFollowThePanelsUnit) {
  state.fwdUnit = core::PowerUnit::dBm;
  record(1000);
  EXPECT_EQ(window->plot->unitText(TrendQuantity::ForwardAverage), "dBm");
  EXPECT_NEAR(window->plot->display(TrendQuantity::ForwardAverage, 100), 50, 1e-9);
  state.fwdUnit = core::PowerUnit::AutoW;
  record(1000);
  EXPECT_EQ(window->plot->unitText(TrendQuantity::Reflected), "W");
  EXPECT_EQ(window->plot->unitText(TrendQuantity::Vswr), "");
}

TEST_F(TrendWindow, ALimitSetOnALaneIsDrawnInItEvenAboveTheData) {
  auto redRows = [&] {
    const QImage img = window->plot->grab().toImage();
    const QRect lane = window->plot->laneRect(TrendQuantity::ForwardAverage);
    int rows = 0;
    for (int y = lane.top(); y <= lane.bottom(); ++y)
      for (int x = lane.left(); x <= lane.right(); ++x)
        if (img.pixel(x, y) == qRgb(220, 0, 0)) {
          ++rows;
          break;
        }
    return rows;
  };
  EXPECT_EQ(redRows(), 0);
  window->plot->setLimits(TrendQuantity::ForwardAverage, std::nullopt, 500.0);  // data at 100 W
  EXPECT_EQ(redRows(), 1);
}

// Readings drawn one at a time, moving the average hold and the view, leave
// the same picture as drawing everything afresh.
TEST_F(TrendWindow, DrawingReadingByReadingEqualsAFullRedraw) {
  window->cmbSpan->setCurrentIndex(0);  // 1 min: the view moves on often
  auto push = [&](int i) { pushWave(i); };
  int i = 0;
  for (; i < 60; ++i) push(i);  // the lane's range: every value to come
  window->plot->grab();
  const auto redraws = window->plot->fullRedraws();
  for (; i < 210; ++i) {
    push(i);
    if (i % 10 == 0) window->plot->grab();
  }
  const QImage step = window->plot->grab().toImage();
  EXPECT_EQ(window->plot->fullRedraws(), redraws);  // no reading drew everything
  // Laid out again: the axes, the holds' texts and the data all drawn afresh.
  window->plot->setQuantities(window->plot->quantities());
  EXPECT_EQ(step, window->plot->grab().toImage());
}

// Painted as a user's screen gets it, readings coming faster than the plot
// paints: at most one paint every 200 ms, each a sliver of the plot, and
// together they leave the picture that drawing everything afresh gives.
TEST_F(TrendWindow, WhatReachesTheScreenReadingByReadingIsTheWholePicture) {
  window->cmbSpan->setCurrentIndex(1);  // 10 min: readings ten a second share columns
  int i = 0;
  for (; i < 60; ++i) pushWave(i, 100);
  QTest::qWait(300);
  struct Paints : QObject {
    std::vector<qint64> areas;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) {
        qint64 a = 0;
        for (const QRect& r : static_cast<QPaintEvent*>(e)->region())
          a += static_cast<qint64>(r.width()) * r.height();
        areas.push_back(a);
      }
      return false;
    }
  } paints;
  window->plot->installEventFilter(&paints);
  QElapsedTimer clock;
  clock.start();
  for (; i < 120; ++i) {
    pushWave(i, 100);
    QTest::qWait(20);
  }
  QTest::qWait(300);  // the last changes' paint is due
  window->plot->removeEventFilter(&paints);
  ASSERT_GE(paints.areas.size(), 2u);
  EXPECT_LE(paints.areas.size(), static_cast<std::size_t>(clock.elapsed() / 200 + 2));
  const qint64 plotArea = static_cast<qint64>(window->plot->width()) * window->plot->height();
  const qint64 total = std::accumulate(paints.areas.begin(), paints.areas.end(), qint64{0});
  EXPECT_LT(total / 60, plotArea / 200) << paints.areas.size() << " paints, " << total << " px";

  const QRect at(window->plot->mapTo(window.get(), QPoint(0, 0)), window->plot->size());
  const QImage screen = window->screen()
                            ->grabWindow(window->winId(), at.x(), at.y(), at.width(), at.height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
  window->plot->setQuantities(window->plot->quantities());
  EXPECT_EQ(screen, window->plot->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

TEST_F(TrendWindow, AReadingBeyondTheLanesRangeWidensItAtOnce) {
  window->cmbSpan->setCurrentIndex(1);  // 10 min: the newest column is not the view's last
  auto push = [&](float w) {
    core::TrendSample s;
    s.values.fill(core::kTrendNone);
    s.timeMs = t += 1000;
    s.function = 1;
    s[TrendChannel::ForwardAverage] = w;
    recorder->store().push(s);
    emit recorder->appended();
  };
  for (int i = 0; i < 60; ++i) push(100 + static_cast<float>(i % 5));
  window->plot->grab();
  push(300);
  const QImage step = window->plot->grab().toImage();
  window->plot->setQuantities(window->plot->quantities());
  EXPECT_EQ(step, window->plot->grab().toImage());
}

}  // namespace
