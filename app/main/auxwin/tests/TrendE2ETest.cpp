// The trend window end to end: the real panel and connection windows,
// libZervDCom.so and tks7730-sim stepping its power by script and pausing its
// stream once. The picture is left in artefacts/trend-steps-gap.png
// (AUXWIN_SHOTS names another folder).
#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

#include "QtE2E.h"
#include "QtEventually.h"
#include "TrendRecorder.h"
#include "TrendWindow.h"
#include "scpi/Instrument.h"
#include "uiface/MsgBox.h"

using zrq::core::TrendQuantity;

namespace {

QString shotDir() {
  if (const char* d = std::getenv("AUXWIN_SHOTS")) return QString::fromLocal8Bit(d);
  const char* bin = std::getenv("ZRQ_BIN_DIR");
  return (bin ? QString::fromLocal8Bit(bin) + "/.." : QDir::tempPath()) + "/artefacts";
}

class TrendE2E : public zrq::test::qt::AppWindowsE2E {
 protected:
  void SetUp() override {
    ZRQ_QT_E2E_SETUP();
    const std::string script = QDir::tempPath().toStdString() + "/trend-e2e-power.txt";
    // 20 W, a spike of about one of the panel's reads, 80 W, 40 W; the stream
    // pauses 5 s at 10 s.
    std::ofstream(script) << "0 20\n4000 140\n4700 80\n7000 40\n";
    sim = std::make_unique<zrq::comm::test::SimProcess>(
        std::vector<std::string>{"--power-script", script, "--noise", "0", "--drift", "0",
                                 "--fault", "stall,at=10000,for=5000"});
    ASSERT_TRUE(sim->ok()) << sim->error();
    ::setenv("ZRQ_SERIAL_PORTS", sim->serialPath().c_str(), 1);
    createWindows();
    zrq::app::PanelPeers peers;
    peers.comm = bridge.get();
    main->setPeers(peers);
    recorder = new zrq::app::TrendRecorder(main->state, main);
    trend = new TfrmTrend(*recorder, main);
    main->setTrend(recorder, trend);
    main->show();
    QDir().mkpath(shotDir());
  }

  void TearDown() override {
    destroyWindows();
    sim.reset();
  }

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  std::unique_ptr<zrq::comm::test::SimProcess> sim;
  zrq::app::TrendRecorder* recorder = nullptr;
  TfrmTrend* trend = nullptr;
};

}  // namespace

TEST_F(TrendE2E, ShowsThePowerStepsAndTheGapOfADropout) {
  QAction* port = main->portMenuItem(QString::fromStdString(sim->serialPath()));
  ASSERT_NE(port, nullptr);
  main->Setup1ItemsClick(port);
  ASSERT_TRUE(
      zrq::test::qt::eventually([&] { return main->Meter1->menuAction()->isEnabled(); }, 8000));
  main->Trend1->trigger();
  ASSERT_TRUE(trend->isVisible());
  trend->cmbSpan->setCurrentIndex(0);  // 1 min

  const zrq::core::TrendStore& store = recorder->store();
  // Past the stall, with readings after it.
  ASSERT_TRUE(zrq::test::qt::eventually(
      [&] {
        for (std::size_t i = 1; i < store.size(); ++i)
          if (store.at(i).gapBefore && store.size() - i > 5) return true;
        return false;
      },
      30000))
      << store.size() << " readings";

  // The steps, in order, at the panel's pace.
  std::vector<float> levels;
  std::size_t gap = 0;
  for (std::size_t i = 0; i < store.size(); ++i) {
    const zrq::core::TrendSample s = store.at(i);
    if (s.gapBefore && i > 0) gap = i;
    const float w = s[zrq::core::TrendChannel::ForwardAverage];
    if (levels.empty() || std::abs(w - levels.back()) > 5) levels.push_back(w);
  }
  ASSERT_EQ(levels.size(), 4u);
  EXPECT_NEAR(levels[0], 20, 1);
  EXPECT_NEAR(levels[1], 140, 5);
  EXPECT_NEAR(levels[2], 80, 3);
  EXPECT_NEAR(levels[3], 40, 1);
  ASSERT_GT(gap, 0u);
  EXPECT_GE(store.timeAt(gap) - store.timeAt(gap - 1), 4000);

  // The picture: the line is drawn on both sides of the gap and not inside it.
  QTest::qWait(300);
  const QImage img = trend->plot->grab().toImage();
  EXPECT_TRUE(img.save(shotDir() + "/trend-steps-gap.png"));
  const QRect lane = trend->plot->laneRect(TrendQuantity::ForwardAverage);
  const QRgb line = TrendPlot::colorOf(TrendQuantity::ForwardAverage).rgb();
  auto drawn = [&](int x) {
    for (int y = lane.top(); y <= lane.bottom(); ++y)
      if (img.pixel(x * img.width() / trend->plot->width(),
                    y * img.height() / trend->plot->height()) == line)
        return true;
    return false;
  };
  const auto before = trend->plot->xOf(store.timeAt(gap - 1));
  const auto after = trend->plot->xOf(store.timeAt(gap));
  ASSERT_TRUE(before && after);
  EXPECT_TRUE(drawn(*before));
  EXPECT_TRUE(drawn(*after));
  int blank = 0;
  for (int x = *before + 2; x <= *after - 2; ++x) blank += !drawn(x);
  EXPECT_EQ(blank, *after - *before - 3);

  // The cursor reads the reading nearest to it.
  trend->plot->setCursorTime(store.timeAt(gap) + 20);
  EXPECT_EQ(trend->plot->cursorReading(), gap);
  EXPECT_TRUE(trend->lblCursor->text().startsWith(
      QDateTime::fromMSecsSinceEpoch(store.timeAt(gap)).toString("yyyy-MM-dd HH:mm:ss.zzz")))
      << trend->lblCursor->text().toStdString();
  EXPECT_TRUE(trend->lblCursor->text().contains("Forward average 40.000 W"))
      << trend->lblCursor->text().toStdString();

  // The shown span as CSV: the FETCh:ALL? header and one line per reading.
  const QString csv = QDir::tempPath() + "/trend-e2e.csv";
  std::string why;
  ASSERT_TRUE(trend->exportCsv(csv, &why)) << why;
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = f.readAll().split('\n');
  EXPECT_EQ(lines[0].toStdString(), zrq::scpi::kAllFieldsHeader);
  const auto range = trend->plot->shownRange();
  ASSERT_TRUE(range);
  EXPECT_EQ(static_cast<std::size_t>(lines.size() - 2),
            store.lowerBound(range->second) - store.lowerBound(range->first));
  // A file that cannot be written is refused with a reason.
  EXPECT_FALSE(trend->exportCsv("/nonexistent/trend.csv", &why));
  EXPECT_FALSE(why.empty());

  // The picture as shown, with its line.
  const QString png = QDir::tempPath() + "/trend-e2e.png";
  ASSERT_TRUE(trend->exportPng(png, &why)) << why;
  const QImage saved(png);
  EXPECT_EQ(saved.size(), trend->plot->grab().size());
  int linePixels = 0;
  for (int y = lane.top(); y <= lane.bottom(); ++y)
    linePixels += saved.pixel(*after * saved.width() / trend->plot->width(),
                              y * saved.height() / trend->plot->height()) == line;
  EXPECT_GT(linePixels, 0);
  why.clear();
  EXPECT_FALSE(trend->exportPng("/nonexistent/trend.png", &why));
  EXPECT_FALSE(why.empty());
}
