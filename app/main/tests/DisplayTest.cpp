// What the panel shows per connection state and measurement type.
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include <cstdlib>
#include <set>

#include "PanelTestSupport.h"
#include "SegmentTable.h"

using zrq::core::CommState;

namespace zrq::test {
namespace {

using core::MeasType;
using core::PowerUnit;

bool menuOn(QMenu* m) { return m->menuAction()->isEnabled(); }

// Disconnected, a tick that changes nothing repaints nothing and restyles
// nothing: the panel can sit idle for days at no cost.
TEST_F(PanelTest, IdleTicksWhileDisconnectedRepaintAndRestyleNothing) {
  struct Counter : QObject {
    int paints = 0, styles = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      if (e->type() == QEvent::StyleChange) ++styles;
      return false;
    }
  } counter;
  w->show();
  tick(3);  // the change to "No Connection" is drawn once
  QApplication::processEvents();
  ASSERT_EQ(text(w->lblComm), "No Connection");
  QWidget* client = w->centralWidget();
  for (QWidget* c : client->findChildren<QWidget*>()) c->installEventFilter(&counter);
  client->installEventFilter(&counter);
  for (int i = 0; i < 10; ++i) {
    w->displayTimerTimer();
    QApplication::processEvents();
  }
  EXPECT_EQ(counter.paints, 0);
  EXPECT_EQ(counter.styles, 0);
  EXPECT_EQ(text(w->lblComm), "No Connection");
  EXPECT_TRUE(w->lblComm->isVisible());
}

// Streaming a reading that does not change, a tick repaints nothing, in
// every type: only read-outs, annunciators and bars whose content changed are
// drawn again.
TEST_F(PanelTest, TicksOfAnUnchangedReadingRepaintNothing) {
  struct Counter : QObject {
    int paints = 0;
    std::set<std::string> painted;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() == QEvent::Paint) {
        ++paints;
        painted.insert(o->objectName().toStdString());
      }
      return false;
    }
  } counter;
  w->show();
  const Powers p;
  startStreaming(p);
  QWidget* client = w->centralWidget();
  for (QWidget* c : client->findChildren<QWidget*>()) c->installEventFilter(&counter);
  client->installEventFilter(&counter);
  for (MeasType type :
       {MeasType::Average, MeasType::Peak, MeasType::Burst, MeasType::Crest, MeasType::CCDF}) {
    w->state.measType = type;
    receive(p);
    tick(3);  // the change of type is drawn
    QApplication::processEvents();
    counter.paints = 0;
    counter.painted.clear();
    for (int i = 0; i < 5; ++i) {
      receive(p);
      w->displayTimerTimer();
      QApplication::processEvents();
    }
    std::string names;
    for (const auto& n : counter.painted) names += n + " ";
    EXPECT_EQ(counter.paints, 0) << core::measTypeName(type) << ": " << names;
  }
}

TEST_F(PanelTest, BeforeTheFirstTickOnlyTheFixedAnnunciatorsShow) {
  EXPECT_EQ(text(w->fwdDisplay), "-0.0000");
  EXPECT_EQ(text(w->rflDisplay), "-0.0000");
  int litCount = 0;
  for (const auto& e : app::segmentTable()) {
    if (e.host != app::SegmentHost::Main) continue;
    if (lit(e.name)) {
      ++litCount;
      const std::string n = e.name;
      EXPECT_TRUE(n == "segFwd" || n == "segRfl" || n == "segbOffset" || n == "segCcdfLimit") << n;
    }
  }
  EXPECT_EQ(litCount, 4);
  EXPECT_FALSE(w->btnZeroCal->isEnabled());
  EXPECT_FALSE(w->Edit_Offset->isVisibleTo(w.get()));
  EXPECT_FALSE(w->EditccdfLimit->isVisibleTo(w.get()));
}

TEST_F(PanelTest, StartWithoutSensorDarkensThePanelAndSaysNoConnection) {
  tick();
  EXPECT_TRUE(lit("segNoSensor"));
  EXPECT_TRUE(lit("lblComm"));
  EXPECT_EQ(text(w->lblComm), "No Connection");
  EXPECT_TRUE(w->lblComm->styleSheet().contains("red"));
  EXPECT_EQ(w->state.measType, MeasType::None);
  for (QPushButton* b : {w->btnType, w->tbnTypeDown, w->btnFwdUnits, w->btnRflUnits, w->btnOffset,
                         w->btnFilter, w->btnCCDF, w->btnZeroCal})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_FALSE(menuOn(w->Meter1));
  EXPECT_FALSE(menuOn(w->Logging1));
  EXPECT_FALSE(menuOn(w->Window2));
  EXPECT_TRUE(menuOn(w->File1));
  EXPECT_TRUE(menuOn(w->Setup1));
  EXPECT_TRUE(menuOn(w->Help1));
  EXPECT_EQ(text(w->fwdDisplay), "");
  EXPECT_EQ(w->ProgressBar1->value(), 0);
  for (const char* n : {"segFwd", "segRfl", "segbOffset", "segCcdfLimit", "segFAvg"})
    EXPECT_FALSE(lit(n)) << n;
}

TEST_F(PanelTest, FirstDataStringArrangesAverage) {
  startStreaming();
  for (const char* n : {"segFAvg", "segRAvg", "segFwdUnits", "segRflUnits", "segMeasType",
                        "segFilter", "segbOffset", "segFwd", "segRfl", "segFW", "segRW"})
    EXPECT_TRUE(lit(n)) << n;
  for (const char* n : {"segNoSensor", "segPeak", "segCcdfLimit", "segFover", "segRover",
                        "segOffset", "segdutyCycle"})
    EXPECT_FALSE(lit(n)) << n;
  EXPECT_EQ(text(w->fwdDisplay), "100.00");  // W, 2 decimals on a 150 W sensor
  EXPECT_EQ(text(w->rflDisplay), "1.000");   // W, 3 decimals on its 15 W full scale
  EXPECT_EQ(w->ProgressBar1->value(), 66);
  EXPECT_FALSE(lit("lblComm"));
  for (QPushButton* b : {w->btnType, w->tbnTypeDown, w->btnFwdUnits, w->btnRflUnits, w->btnOffset,
                         w->btnFilter, w->btnZeroCal})
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_FALSE(w->btnCCDF->isEnabled());
  EXPECT_TRUE(menuOn(w->Meter1) && menuOn(w->Logging1) && menuOn(w->Window2));
  EXPECT_TRUE(w->Reflected1->isEnabled());
  EXPECT_TRUE(w->BurstPower2->isEnabled());
  EXPECT_GT(log.checks, 0);
}

TEST_F(PanelTest, UnitsLightTheirPairsAndSwitchCleanly) {
  startStreaming();
  w->state.rflUnit = PowerUnit::VSWR;
  w->rflIsPower = false;
  tick();
  EXPECT_EQ(text(w->rflDisplay), "1.222");
  EXPECT_TRUE(lit("segRVSWR") && lit("segRR"));
  EXPECT_FALSE(lit("segRfl"));
  EXPECT_FALSE(lit("segRW"));
  w->btnRflUnitsClick();  // Return Loss shares the R
  tick();
  EXPECT_EQ(text(w->rflDisplay), "-20.00");
  EXPECT_TRUE(lit("segRR") && lit("segRRL"));
  EXPECT_FALSE(lit("segRVSWR"));
  w->btnRflUnitsClick();  // dBm
  tick();
  EXPECT_EQ(text(w->rflDisplay), "30.00");
  EXPECT_TRUE(lit("segRdb") && lit("segRm") && lit("segRfl"));
  EXPECT_FALSE(lit("segRR") || lit("segRRL"));

  w->btnFwdUnitsClick();  // AutoW -> dBm
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "50.00");
  EXPECT_TRUE(lit("segFdb") && lit("segFm"));
  EXPECT_FALSE(lit("segFW"));
  EXPECT_EQ(w->ProgressBar1->value(), 96);  // 50 of 51.76 dBm (150 W)
  w->btnFwdUnitsClick();                    // back to AutoW, ranging down to mW
  receive({.fwd = 0.5, .rfl = 0.0005});
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "500");
  EXPECT_TRUE(lit("segFm") && lit("segFW"));
  EXPECT_FALSE(lit("segFdb"));
}

TEST_F(PanelTest, ReflectedOverRangeDarkensItsLabelsButKeepsTheNumber) {
  startStreaming();
  receive({.fwd = 100, .rfl = 20});  // above 1.2 x 15 W
  tick();
  EXPECT_TRUE(lit("segRover"));
  EXPECT_FALSE(lit("segRfl"));
  EXPECT_FALSE(lit("segRflUnits"));
  EXPECT_EQ(text(w->rflDisplay), "1.000");
  receive({.fwd = 100, .rfl = 2});
  tick();
  EXPECT_FALSE(lit("segRover"));
  EXPECT_TRUE(lit("segRfl") && lit("segRflUnits"));
  EXPECT_EQ(text(w->rflDisplay), "2.000");
}

TEST_F(PanelTest, ForwardOverRangeBlanksAndWarnsOnlyWithAMeterOpen) {
  startStreaming();
  receive({.fwd = 200, .rfl = 1});  // above 1.2 x 150 W
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "- - - - -");
  EXPECT_TRUE(lit("segFover"));
  EXPECT_EQ(boxes("Out Of Range"), 0);

  w->Forward1Click();
  tick();
  EXPECT_FALSE(fwdMeter.shown);
  EXPECT_EQ(boxes("Out Of Range"), 1);
  EXPECT_EQ(msg->shown().back().text, app::kOutOfRangeText);

  w->Forward1Click();  // reopened: hidden again, but the notice stays disarmed
  tick();
  EXPECT_FALSE(fwdMeter.shown);
  EXPECT_EQ(boxes("Out Of Range"), 1);

  w->btnFwdUnitsClick();  // re-arms (and steps to dBm)
  w->Forward1Click();
  tick();
  EXPECT_EQ(boxes("Out Of Range"), 2);

  receive({.fwd = 160, .rfl = 1});  // lit but still shown: between FS and 1.2 FS
  w->Forward1Click();
  tick();
  EXPECT_TRUE(lit("segFover"));
  EXPECT_NE(text(w->fwdDisplay), "- - - - -");
  EXPECT_TRUE(fwdMeter.shown);
  EXPECT_GT(fwdMeter.updates, 0);
}

TEST_F(PanelTest, UnformattableForwardValueWarnsOnceUntilTheOffsetIsCommitted) {
  startStreaming();
  w->state.offsetDb = 100;  // 100 W x 1e10 cannot be shown
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "- - - - -");
  EXPECT_EQ(boxes("Out Of Range"), 1);
  tick(3);
  EXPECT_EQ(boxes("Out Of Range"), 1);
  w->Edit_Offset->setText("100");
  w->Edit_OffsetKeyPress(13);
  tick();
  EXPECT_EQ(boxes("Out Of Range"), 2);
  w->Edit_Offset->setText("3");
  w->Edit_OffsetKeyPress(13);
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "199.53");
  EXPECT_EQ(text(w->txtOffset), "3.00 dB");
  EXPECT_TRUE(lit("segOffset") && lit("segOffset2"));
  EXPECT_EQ(boxes("Out Of Range"), 2);
}

// Timers keep firing while a modal box is up; a real box runs them nested.
struct TickingBoxes : ui::MessageBoxes {
  TfrmMain* w = nullptr;
  int shown = 0;
  ui::MsgResult show(const ui::MsgRequest&) override {
    ++shown;
    w->displayTimerTimer();
    w->displayTimerTimer();
    return ui::MsgResult::Ok;
  }
};

TEST_F(PanelTest, TicksUnderTheOpenNoticeNeitherRepeatItNorLeaveStaleTexts) {
  startStreaming();
  TickingBoxes ticking;
  ticking.w = w.get();
  ui::setMessageBoxes(&ticking);
  w->state.offsetDb = 100;
  tick();
  EXPECT_EQ(ticking.shown, 1);
  EXPECT_EQ(text(w->fwdDisplay), "- - - - -");
  w->state.offsetDb = 0;
  w->rearmOutOfRangeNotice();
  tick();
  EXPECT_EQ(ticking.shown, 1);
  EXPECT_EQ(text(w->fwdDisplay), "100.00");
  ui::setMessageBoxes(msg.get());
}

TEST_F(PanelTest, PeakShowsVswrWhateverTheReflectedUnit) {
  startStreaming();
  stepTo(MeasType::Peak);
  EXPECT_EQ(text(w->fwdDisplay), "150.00");
  EXPECT_EQ(text(w->rflDisplay), "1.222");
  EXPECT_TRUE(lit("segPeak") && lit("segRVSWR") && lit("segRR"));
  EXPECT_FALSE(lit("segFAvg") || lit("segRfl") || lit("segRflUnits") || lit("segRAvg"));
  EXPECT_TRUE(w->btnRflUnits->isEnabled());
  EXPECT_FALSE(w->btnOffset->isEnabled());
  EXPECT_TRUE(w->Reflected1->isEnabled());
  // Peak window fed from the same tick.
  EXPECT_EQ(peak.value, "150.00");
  EXPECT_EQ(peak.second, "1.222");
  EXPECT_EQ(peak.bar, 33);
  EXPECT_TRUE(peak.lit("segpeak") && peak.lit("segPW") && peak.lit("segPRVSWR"));
  w->Reflected1Click();
  tick();
  EXPECT_EQ(rflMeter.caption, "VSWR");
  EXPECT_NEAR(rflMeter.value, 1.2222, 1e-3);
}

TEST_F(PanelTest, BurstShowsTheDutyCycleAndNoReflectedValue) {
  startStreaming();
  w->Reflected1Click();
  stepTo(MeasType::Burst);
  EXPECT_EQ(text(w->fwdDisplay), "80.00");
  EXPECT_EQ(text(w->rflDisplay), "");
  EXPECT_EQ(text(w->txtDuty), "37.5");
  EXPECT_TRUE(lit("segdutyCycle") && lit("txtDuty") && lit("segBurst"));
  EXPECT_FALSE(rflMeter.shown);
  EXPECT_FALSE(w->Reflected1->isEnabled());
  EXPECT_EQ(burst.value, "80.00");
  EXPECT_EQ(burst.second, "37.5");
  EXPECT_TRUE(burst.lit("segBW"));
}

TEST_F(PanelTest, CrestShowsDecibelsAndLocksTheUnitControls) {
  startStreaming();
  w->Forward1Click();
  stepTo(MeasType::Crest);
  EXPECT_EQ(text(w->fwdDisplay), "3.98");  // 10 log10 2.5
  EXPECT_TRUE(lit("segFdb"));
  EXPECT_FALSE(lit("segFm") || lit("segFW") || lit("segFwdUnits") || lit("segbOffset"));
  EXPECT_FALSE(lit("txtDuty"));
  EXPECT_FALSE(w->btnFwdUnits->isEnabled());
  EXPECT_FALSE(w->btnRflUnits->isEnabled());
  EXPECT_FALSE(w->Meter1->menuAction()->isEnabled());
  EXPECT_TRUE(w->BurstPower2->isEnabled());
  EXPECT_FALSE(fwdMeter.shown);
}

TEST_F(PanelTest, CcdfShowsTheLimitAndNoUnit) {
  startStreaming();
  burst.shown = true;
  stepTo(MeasType::CCDF);
  EXPECT_EQ(text(w->fwdDisplay), "0.25");  // 250 mW shown in W
  for (const char* n : {"segFdb", "segFm", "segFW", "segFuW", "segFKW"}) EXPECT_FALSE(lit(n)) << n;
  EXPECT_TRUE(lit("segCcdf") && lit("segCcdfLimit") && lit("lblLimit") && lit("txtccdfLimit"));
  EXPECT_EQ(text(w->txtccdfLimit), "50.00 W");
  EXPECT_TRUE(w->btnCCDF->isEnabled());
  EXPECT_FALSE(w->btnOffset->isEnabled());
  EXPECT_FALSE(w->BurstPower2->isEnabled());
  EXPECT_EQ(burst.value, "NA");
  EXPECT_EQ(burst.second, "NA");
  EXPECT_FALSE(burst.shown);
  stepTo(MeasType::Average);
  EXPECT_FALSE(lit("lblLimit") || lit("txtccdfLimit") || lit("segCcdfLimit"));
  EXPECT_EQ(text(w->fwdDisplay), "100.00");
}

TEST_F(PanelTest, LosingTheConnectionResetsTheTypeButKeepsTheUnits) {
  startStreaming();
  stepTo(MeasType::Peak);
  w->btnFwdUnitsClick();
  comm.connected = comm.interrogated = comm.settingsOk = false;
  w->state.commState = CommState::NoConnection;
  tick();
  EXPECT_EQ(w->state.measType, MeasType::None);
  EXPECT_TRUE(lit("segNoSensor"));
  EXPECT_FALSE(lit("segPeak"));
  EXPECT_FALSE(w->btnType->isEnabled());
  EXPECT_EQ(text(w->lblComm), "No Connection");
  tick(2);  // stays dark, no second set-up
  EXPECT_TRUE(lit("segNoSensor"));

  comm.connected = comm.interrogated = comm.settingsOk = true;
  w->state.commState = CommState::Streaming;
  w->state.measType = MeasType::Average;
  receive(last);
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Average);
  EXPECT_EQ(w->state.fwdUnit, PowerUnit::dBm);
  EXPECT_EQ(text(w->fwdDisplay), "50.00");
  tick();
  EXPECT_FALSE(lit("segNoSensor"));
  EXPECT_FALSE(lit("lblComm"));
}

TEST_F(PanelTest, ConnectionLabelFollowsPortAndSettingsReplies) {
  tick();
  w->state.commState = CommState::Connecting;
  comm.connected = true;  // port open, sensor not yet answering
  w->lblComm->setText("  Connecting");
  tick();
  EXPECT_EQ(text(w->lblComm), "  Connecting");  // left as the connect step set it
  EXPECT_TRUE(lit("segNoSensor"));
  w->state.commState = CommState::Streaming;
  receive({});
  tick(2);
  EXPECT_TRUE(lit("lblComm")) << "still shown until the settings are acknowledged";
  comm.settingsOk = true;
  tick();
  EXPECT_FALSE(lit("lblComm"));
}

TEST_F(PanelTest, ZeroCalibrationTicksAdvanceTheBarAndBlinkThenCollectTheReply) {
  startStreaming();
  log.closes = 0;
  w->Active1->setChecked(true);
  log.on = true;
  w->state.savedMeasType = w->state.measType;
  w->state.measType = MeasType::None;
  w->state.commState = CommState::ZeroCal;
  w->applyMeasType();
  EXPECT_FALSE(w->File1->menuAction()->isEnabled());
  EXPECT_FALSE(w->Setup1->menuAction()->isEnabled());
  EXPECT_EQ(log.closes, 1);
  EXPECT_FALSE(w->Active1->isChecked());
  w->state.zeroCalRequested = true;
  w->ProgressBar1->setMaximum(180);
  tick();
  EXPECT_EQ(w->ProgressBar1->value(), 1);
  EXPECT_EQ(text(w->lblZeroCal), "");
  tick();
  EXPECT_EQ(w->ProgressBar1->value(), 2);
  EXPECT_EQ(text(w->lblZeroCal), "Zero");
  tick(158);
  EXPECT_EQ(w->ProgressBar1->value(), 160);
  EXPECT_EQ(comm.zeroCalReads, 0);
  tick();
  EXPECT_EQ(w->ProgressBar1->value(), 180);
  EXPECT_EQ(comm.zeroCalReads, 1);
  EXPECT_FALSE(w->state.zeroCalRequested);
  EXPECT_EQ(boxes("Calibration Error"), 0);
}

// The unit tables name labels by component name; each must be in the segment
// table of the window it lights, or that unit would light nothing.
TEST(SegmentTable, EveryUnitAnnunciatorNameHasACode) {
  using H = app::SegmentHost;
  const struct {
    const core::AnnunciatorTable* table;
    H host;
  } tables[] = {{&core::mainForwardAnnunciators, H::Main},
                {&core::mainReflectedAnnunciators, H::Main},
                {&core::peakValueAnnunciators, H::Peak},
                {&core::peakVswrAnnunciators, H::Peak},
                {&core::burstAnnunciators, H::Burst}};
  int names = 0;
  for (const auto& t : tables)
    for (const auto& labels : t.table->byCode)
      for (std::string_view n : {labels.first, labels.second}) {
        if (n.empty()) continue;
        ++names;
        const app::SegmentCode c = app::segmentCodeOf(t.host, n);
        ASSERT_NE(c, app::SegmentCode::None) << n;
        EXPECT_EQ(app::findSegment(c)->name, n);
      }
  EXPECT_GT(names, 20);
  EXPECT_EQ(app::segmentCodeOf(H::Main, "segPover"), app::SegmentCode::None);  // wrong window
}

// At every screen scale the longest offset and CCDF-limit texts fit their
// labels, and the limit's value does not cover its "CCDF Limit" label.
TEST_F(PanelTest, SettingTextsFitTheirLongestValuesAtEveryScale) {
  const char* saved = std::getenv("ZRQ_SCREEN_SCALE");
  const std::string keep = saved ? saved : "";
  for (const char* scale : {"0.78", "1", "1.37", "1.875"}) {
    ::setenv("ZRQ_SCREEN_SCALE", scale, 1);
    TfrmMain m;
    m.txtOffset->setText("100.00 dB");
    m.txtccdfLimit->setText("400.00 W");
    for (QLabel* l : {m.txtOffset, m.txtccdfLimit, m.lblLimit})
      EXPECT_GE(l->contentsRect().width(), l->fontMetrics().horizontalAdvance(l->text()))
          << scale << " " << l->objectName().toStdString();
    EXPECT_GE(m.txtccdfLimit->x(), m.lblLimit->geometry().right()) << scale;
    const QWidget* glass = m.txtccdfLimit->parentWidget();
    EXPECT_LE(m.txtccdfLimit->geometry().right(), glass->contentsRect().right()) << scale;
  }
  if (saved)
    ::setenv("ZRQ_SCREEN_SCALE", keep.c_str(), 1);
  else
    ::unsetenv("ZRQ_SCREEN_SCALE");
}

// Beyond the plain panel: two seconds without an accepted reading while
// streaming dims the read-outs and says "No Data" until the next one.
TEST_F(PanelTest, ReadOutsWithoutAReadingForTwoSecondsShowNoData) {
  startStreaming();
  w->state.lastReadingMs = nowMs;
  nowMs += 2000;
  tick();
  EXPECT_FALSE(w->showingStale());
  EXPECT_FALSE(lit("lblComm"));
  nowMs += 1;
  tick();
  EXPECT_TRUE(w->showingStale());
  EXPECT_TRUE(lit("lblComm"));
  EXPECT_EQ(text(w->lblComm), "No Data");
  EXPECT_NE(w->lblComm->styleSheet().indexOf("#c07000"), -1);
  EXPECT_FALSE(w->fwdDisplay->styleSheet().isEmpty());
  EXPECT_EQ(text(w->fwdDisplay), "100.00");  // the last value stays, dimmed
  tick(3);
  EXPECT_TRUE(w->showingStale());

  w->state.lastReadingMs = nowMs;  // a line is accepted
  tick();
  EXPECT_FALSE(w->showingStale());
  EXPECT_FALSE(lit("lblComm"));
  EXPECT_TRUE(w->fwdDisplay->styleSheet().isEmpty());

  // Not streaming: never "No Data".
  nowMs += 10000;
  comm.connected = comm.interrogated = false;
  w->state.commState = CommState::NoConnection;
  tick();
  EXPECT_FALSE(w->showingStale());
  EXPECT_EQ(text(w->lblComm), "No Connection");
}

TEST_F(PanelTest, SegmentCodesAddressTheirLabelsOnEveryWindow) {
  for (const auto& e : app::segmentTable()) {
    QLabel* l = w->segmentLabel(e.code);
    ASSERT_NE(l, nullptr) << e.name;
    EXPECT_EQ(l->objectName().toStdString(), e.name);
    w->segmentOn(e.code);
    EXPECT_TRUE(l->isVisibleTo(l->window()));
  }
  EXPECT_EQ(w->segmentLabel(static_cast<app::SegmentCode>(0x0201)), nullptr);
  EXPECT_EQ(w->segmentLabel(static_cast<app::SegmentCode>(0x3008)), nullptr);
  w->segmentOn(static_cast<app::SegmentCode>(0x0201));  // names nothing: no effect, no crash
  w->clearAllSegments();
  for (const auto& e : app::segmentTable())
    EXPECT_FALSE(w->segmentLabel(e.code)->isVisibleTo(w->segmentLabel(e.code)->window())) << e.name;
  EXPECT_EQ(text(w->fwdDisplay), "");
  EXPECT_FALSE(lit("lblLimit"));
}

}  // namespace
}  // namespace zrq::test
