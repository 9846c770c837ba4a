// The peak and burst windows: their controls, and what the main window's
// display update writes to them.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QProgressBar>
#include <algorithm>

#include "DisplayWindows.h"
#include "PanelTestSupport.h"

using namespace zrq;
using core::MeasType;
using core::PowerUnit;
using test::PaintCounter;

namespace {

class DisplayWindows : public test::PanelTest {
 protected:
  void SetUp() override {
    // Design sizes: the offscreen screen is not 1024 pixels wide.
    ::setenv("ZRQ_SCREEN_SCALE", "1", 1);
    PanelTest::SetUp();
    pk = new TfrmdisplayPeak(w.get());
    pk->setMainWindow(w.get());
    bu = new TfrmdisplayBurst(w.get());
    app::PanelPeers p;
    p.comm = &comm;
    p.log = &log;
    p.fwdMeter = &fwdMeter;
    p.rflMeter = &rflMeter;
    p.peak = pk;
    p.burst = bu;
    w->setPeers(p);
  }
  // The lit labels of a window among these names, left to right, as one text.
  static std::string reading(TDisplayWindow* win, std::initializer_list<const char*> names) {
    std::vector<QLabel*> lit;
    for (const char* n : names) {
      QLabel* l = win->label(n);
      EXPECT_NE(l, nullptr) << n;
      if (l && l->isVisibleTo(win)) lit.push_back(l);
    }
    std::sort(lit.begin(), lit.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
    std::string s;
    for (QLabel* l : lit) s += l->text().toStdString();
    return s;
  }
  static bool shown(TDisplayWindow* win, const char* name) {
    QLabel* l = win->label(name);
    EXPECT_NE(l, nullptr) << name;
    return l && l->isVisibleTo(win);
  }
  void fwdUnitTo(PowerUnit u) {
    for (int i = 0; i < 3 && w->state.fwdUnit != u; ++i) w->btnFwdUnitsClick();
    ASSERT_EQ(w->state.fwdUnit, u);
  }

  TfrmdisplayPeak* pk = nullptr;
  TfrmdisplayBurst* bu = nullptr;
};

const std::initializer_list<const char*> kPeakUnits = {"segPdb", "segPm", "segPW", "segPuW",
                                                       "segPKW"};
const std::initializer_list<const char*> kBurstUnits = {"segBdb", "segBm", "segBW", "segBuW",
                                                        "segBKW"};

}  // namespace

TEST_F(DisplayWindows, ControlsAsDesignedBeforeTheFirstTick) {
  EXPECT_FALSE(pk->isVisible());
  EXPECT_FALSE(bu->isVisible());
  EXPECT_EQ(pk->windowTitle(), "Peak Power");
  EXPECT_EQ(bu->windowTitle(), "Burst Power");
  EXPECT_EQ(pk->peakDisplay->text(), "-0.0000");
  EXPECT_EQ(pk->vswrDisplay->text(), "-0.0000");
  EXPECT_EQ(bu->burstDisplay->text(), "-0.0000");
  EXPECT_EQ(bu->txtBDuty->text(), "");
  // Border width 5 around the content.
  EXPECT_EQ(pk->peakDisplay->geometry(), QRect(61, 5, 151, 49));
  EXPECT_EQ(bu->txtBDuty->geometry(), QRect(165, 79, 47, 33));
  // Annunciators at their design places, never narrower than their text.
  QLabel* segpeak = pk->label("segpeak");
  EXPECT_EQ(segpeak->pos(), QPoint(117, 62));
  EXPECT_GE(segpeak->width(), std::max(23, segpeak->sizeHint().width()));
  EXPECT_EQ(bu->label("segBKW")->pos(), QPoint(185, 63));
  EXPECT_EQ(pk->size(), QSize(235, 165));
  EXPECT_EQ(bu->size(), QSize(235, 156));
  EXPECT_EQ(pk->peakDisplay->font().pixelSize(), 35);
  EXPECT_EQ(pk->vswrDisplay->font().pixelSize(), 29);
  EXPECT_TRUE(pk->vswrDisplay->font().fixedPitch());
  EXPECT_EQ(bu->txtBDuty->font().pixelSize(), 21);
  EXPECT_TRUE(pk->peakDisplay->alignment() & Qt::AlignRight);
  EXPECT_TRUE(bu->label("segBdutyCycle")->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(pk->ProgressBar2->toolTip(), "Indicates Input Peak Power As % Full Scale");
  EXPECT_EQ(bu->ProgressBar3->toolTip(), "Indicates Burst Power As % Full Scale");
  EXPECT_EQ(pk->label("segPuW")->text(), QString::fromUtf8("\u00b5W"));
  for (const char* n : {"segFwdPeak"}) EXPECT_TRUE(shown(pk, n)) << n;
  for (const char* n : {"segBFwd", "segBBurst", "segBdutyCycle", "txtBDuty"})
    EXPECT_TRUE(shown(bu, n)) << n;
  for (const char* n :
       {"segPover", "segPunder", "segRflV", "segVover", "segVunder", "segpeak", "segPOffset",
        "segPdb", "segPm", "segPW", "segPuW", "segPKW", "segPRVSWR", "segPRR"})
    EXPECT_FALSE(shown(pk, n)) << n;
  for (const char* n :
       {"segBover", "segBunder", "segBOffset2", "segBdb", "segBm", "segBW", "segBuW", "segBKW"})
    EXPECT_FALSE(shown(bu, n)) << n;
  // Every annunciator code of the two windows reaches its own label.
  for (const auto& e : app::segmentTable()) {
    if (e.host == app::SegmentHost::Peak) {
      EXPECT_EQ(pk->segment(e.code), pk->label(e.name));
    } else if (e.host == app::SegmentHost::Burst) {
      EXPECT_EQ(bu->segment(e.code), bu->label(e.name));
    }
  }
  EXPECT_EQ(pk->segment(app::SegmentCode::segFwd), nullptr);
}

TEST_F(DisplayWindows, OpenedFromTheMenusTheyShowTheNextTicksValues) {
  startStreaming({.fwd = 100, .rfl = 1, .peak = 150, .burst = 80, .duty = 37.5});
  w->PeakPower2Click();
  w->BurstPower2Click();
  EXPECT_TRUE(pk->isVisible());
  EXPECT_TRUE(bu->isVisible());
  EXPECT_EQ(pk->screen(), w->screen());
  tick();
  EXPECT_NE(pk->peakDisplay->text(), "-0.0000");
  EXPECT_TRUE(shown(pk, "segpeak"));
  EXPECT_EQ(reading(pk, kPeakUnits), "W");
  EXPECT_EQ(reading(pk, {"segPRVSWR", "segPRR"}), "VSWR");
  EXPECT_EQ(reading(bu, kBurstUnits), "W");
  EXPECT_GT(pk->ProgressBar2->value(), 0);
  EXPECT_GT(bu->ProgressBar3->value(), 0);
  EXPECT_FALSE(bu->txtBDuty->text().isEmpty());
}

TEST_F(DisplayWindows, UnitPairsReadDbmInPeakAndMilliwattsInBurst) {
  startStreaming({.fwd = 100, .rfl = 1, .peak = 150, .burst = 0.08});
  tick();
  EXPECT_EQ(reading(bu, kBurstUnits), "mW");
  fwdUnitTo(PowerUnit::dBm);
  tick();
  EXPECT_EQ(reading(pk, kPeakUnits), "dBm");
  EXPECT_EQ(reading(bu, kBurstUnits), "dBm");
}

TEST_F(DisplayWindows, OverAndUnderRangeLabels) {
  startStreaming({.fwd = 100, .rfl = 1, .peak = 500, .burst = -1});  // peak above 2.7 FS
  tick();
  EXPECT_TRUE(shown(pk, "segPover"));
  EXPECT_FALSE(shown(pk, "segPunder"));
  EXPECT_EQ(pk->peakDisplay->text(), "- - - - -");
  EXPECT_TRUE(shown(bu, "segBunder"));
  EXPECT_FALSE(shown(bu, "segBover"));
  receive({.fwd = 100, .rfl = 1, .peak = -1, .burst = 500});
  tick();
  EXPECT_FALSE(shown(pk, "segPover"));
  EXPECT_TRUE(shown(pk, "segPunder"));
  EXPECT_TRUE(shown(bu, "segBover"));
  EXPECT_FALSE(shown(bu, "segBunder"));
  EXPECT_EQ(bu->burstDisplay->text(), "- - - - -");
}

TEST_F(DisplayWindows, BurstWindowReadsNaAndHidesInCcdf) {
  startStreaming();
  w->BurstPower2Click();
  tick();
  ASSERT_TRUE(bu->isVisible());
  stepTo(MeasType::Burst);
  stepTo(MeasType::Crest);
  stepTo(MeasType::CCDF);
  tick();
  EXPECT_EQ(bu->burstDisplay->text(), "NA");
  EXPECT_EQ(bu->txtBDuty->text(), "NA");
  EXPECT_FALSE(bu->isVisible());
  EXPECT_FALSE(shown(bu, "segBOffset2"));
}

// A label is repainted only when its text changes.
TEST_F(DisplayWindows, UnchangedValuesRepaintNothing) {
  startStreaming({.fwd = 100, .rfl = 1, .peak = 150, .burst = 80});
  w->PeakPower2Click();
  w->BurstPower2Click();
  tick();
  QApplication::processEvents();
  PaintCounter peakPaints, burstPaints, barPaints;
  pk->peakDisplay->installEventFilter(&peakPaints);
  bu->burstDisplay->installEventFilter(&burstPaints);
  pk->ProgressBar2->installEventFilter(&barPaints);
  tick(3);
  QApplication::processEvents();
  EXPECT_EQ(peakPaints.paints, 0);
  EXPECT_EQ(burstPaints.paints, 0);
  EXPECT_EQ(barPaints.paints, 0);

  receive({.fwd = 100, .rfl = 1, .peak = 120, .burst = 60});
  tick();
  QApplication::processEvents();
  EXPECT_GT(peakPaints.paints, 0);
  EXPECT_GT(burstPaints.paints, 0);
}

namespace {

// The peak and burst windows open beside the panel, never over its read-outs.
TEST(DisplayWindowPlace, BesideThePanelOnItsScreen) {
  const QSize frame(210, 180);
  const QRect wide(0, 0, 1920, 1080);
  struct Case {
    const char* what;
    QRect panel, screen;
    int slot;
    QPoint at;
  } cases[] = {
      {"room on the right", QRect(100, 100, 400, 436), wide, 0, QPoint(508, 100)},
      {"the second window below the first", QRect(100, 100, 400, 436), wide, 1, QPoint(508, 288)},
      {"panel at the right edge: left of it", QRect(1500, 100, 400, 436), wide, 0,
       QPoint(1282, 100)},
      {"kept on the screen's height", QRect(100, 900, 400, 170), wide, 1, QPoint(508, 900)},
      {"no room either side: centred", QRect(50, 50, 500, 400), QRect(0, 0, 600, 800), 0,
       QPoint(195, 310)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QPoint at = TDisplayWindow::besidePanel(c.panel, frame, c.screen, c.slot);
    EXPECT_EQ(at, c.at);
    const QRect placed(at, frame);
    EXPECT_TRUE(c.screen.contains(placed));
    if (c.screen.width() >= c.panel.width() + 2 * frame.width() + 16) {
      EXPECT_FALSE(placed.intersects(c.panel));
    }
  }
}

}  // namespace
