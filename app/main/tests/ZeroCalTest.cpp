// The Zero button and the calibration ticks with recording peers: which
// questions are asked, what a Cancel leaves alone, how the panel goes dark,
// the progress per tick and both ends of the calibration.
#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <utility>

#include "PanelTestSupport.h"

using zrq::core::CommState;
using zrq::core::MeasType;
using zrq::ui::MsgButtons;
using zrq::ui::MsgResult;

namespace zrq::test {
namespace {

constexpr const char* kCheck = "Do not interrupt calibration.";
constexpr const char* kConfirm = "Confirm Calibration";
constexpr const char* kCorrupt = "Calibration Error";

struct CalComm : FakeComm {
  int supervisionStops = 0;
  // What the reply handling of the connection side does when the reply is good.
  std::function<void()> onReply;
  void stopSupervision() override { ++supervisionStops; }
  bool readZeroCalReply() override {
    const bool ok = FakeComm::readZeroCalReply();
    if (ok && onReply) onReply();
    return ok;
  }
};

// Answers every box with OK after running `during` once: the display may
// change under a modal question.
struct InterruptingBoxes : ui::ScriptedMessageBoxes {
  std::function<void()> during;
  MsgResult show(const ui::MsgRequest& r) override {
    if (during) std::exchange(during, nullptr)();
    return ScriptedMessageBoxes::show(r);
  }
};

class ZeroCalTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    app::PanelPeers p = w->peers();
    p.comm = &cal;
    w->setPeers(p);
    cal.connected = cal.interrogated = cal.settingsOk = true;
    startStreaming();
  }

  void startLogging() {
    w->Active1->setChecked(true);
    log.on = true;
  }

  // Nothing of the calibration has happened.
  void expectUntouched() {
    EXPECT_EQ(w->state.commState, CommState::Streaming);
    EXPECT_EQ(w->state.measType, MeasType::Average);
    EXPECT_FALSE(w->state.zeroCalRequested);
    EXPECT_EQ(cal.supervisionStops, 0);
    EXPECT_TRUE(w->btnZeroCal->isVisibleTo(w.get()));
    EXPECT_TRUE(w->btnZeroCal->isEnabled());
    EXPECT_EQ(text(w->fwdDisplay), "100.00");
    EXPECT_TRUE(lit("segFAvg"));
    EXPECT_TRUE(w->Meter1->menuAction()->isEnabled());
    EXPECT_TRUE(w->File1->menuAction()->isEnabled());
    tick();  // the stream carries on
    EXPECT_EQ(w->state.commState, CommState::Streaming);
    EXPECT_EQ(text(w->fwdDisplay), "100.00");
  }

  // The connection side starting the calibration with the next data line.
  void commandSent() { w->ProgressBar1->setMaximum(180); }

  CalComm cal;
};

TEST_F(ZeroCalTest, WithNothingOpenOnlyTheFirstQuestionIsAskedAndThePanelGoesDark) {
  w->btnZeroCal->click();
  ASSERT_EQ(boxes(kCheck), 1);
  EXPECT_EQ(msg->shown()[0].text,
            "Check that the operating temperature is stable \r\nand that no RF power is applied "
            "to the sensor.\r\n");
  EXPECT_EQ(msg->shown()[0].buttons, MsgButtons::OkCancel);
  EXPECT_EQ(boxes(kConfirm), 0);
  EXPECT_EQ(msg->shown().size(), 1u);

  EXPECT_EQ(w->state.commState, CommState::ZeroCal);
  EXPECT_TRUE(w->state.zeroCalRequested);
  EXPECT_EQ(w->state.savedMeasType, MeasType::Average);
  EXPECT_EQ(w->state.measType, MeasType::None);
  EXPECT_EQ(cal.supervisionStops, 1);
  EXPECT_FALSE(w->btnZeroCal->isVisibleTo(w.get()));
  for (QMenu* m : {w->Meter1, w->Logging1, w->Window2, w->File1, w->Setup1})
    EXPECT_FALSE(m->menuAction()->isEnabled()) << m->objectName().toStdString();
  for (QPushButton* b : {w->btnType, w->tbnTypeDown, w->btnFwdUnits, w->btnRflUnits, w->btnOffset,
                         w->btnFilter, w->btnCCDF})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  for (const char* l :
       {"segFwd", "segRfl", "segFAvg", "segRAvg", "segFW", "segRW", "segMeasType", "segFilter",
        "segFwdUnits", "segRflUnits", "segbOffset", "segCcdfLimit", "Logging", "txtDuty"})
    EXPECT_FALSE(lit(l)) << l;
  EXPECT_EQ(text(w->fwdDisplay), "");
  EXPECT_EQ(text(w->rflDisplay), "");
  EXPECT_EQ(w->ProgressBar1->value(), 0);
  EXPECT_EQ(log.closes, 0);

  // A second click (the button is hidden, but a queued click may still come).
  w->btnZeroCalClick();
  EXPECT_EQ(msg->shown().size(), 1u);
}

TEST_F(ZeroCalTest, CancelAtTheFirstQuestionChangesNothing) {
  fwdMeter.shown = true;
  startLogging();
  msg->answer(MsgResult::Cancel);
  w->btnZeroCal->click();
  EXPECT_EQ(boxes(kCheck), 1);
  EXPECT_EQ(boxes(kConfirm), 0);
  EXPECT_TRUE(fwdMeter.shown);
  EXPECT_EQ(log.closes, 0);
  EXPECT_TRUE(w->Active1->isChecked());
  expectUntouched();
}

TEST_F(ZeroCalTest, CancelAtTheSecondQuestionChangesNothing) {
  fwdMeter.shown = true;
  startLogging();
  msg->answer(MsgResult::Ok);
  msg->answer(MsgResult::Cancel);
  w->btnZeroCal->click();
  EXPECT_EQ(boxes(kCheck), 1);
  ASSERT_EQ(boxes(kConfirm), 1);
  EXPECT_TRUE(fwdMeter.shown);
  EXPECT_EQ(log.closes, 0);
  EXPECT_TRUE(w->Active1->isChecked());
  EXPECT_TRUE(w->loggingActive());
  expectUntouched();
}

TEST_F(ZeroCalTest, LoggingOrAnyDisplayWindowAsksTheSecondQuestionAndIsClosed) {
  w->btnZeroCal->click();  // nothing open: one question
  ASSERT_EQ(boxes(kConfirm), 0);

  struct Case {
    const char* what;
    std::function<void()> open;
    std::function<bool()> stillOpen;
  } cases[] = {
      {"log", [&] { startLogging(); },
       [&] { return w->loggingActive() || w->Active1->isChecked(); }},
      {"log without the menu's check", [&] { log.on = true; }, [&] { return w->loggingActive(); }},
      {"forward meter", [&] { fwdMeter.shown = true; }, [&] { return fwdMeter.shown; }},
      {"reflected meter", [&] { rflMeter.shown = true; }, [&] { return rflMeter.shown; }},
      {"peak window", [&] { peak.shown = true; }, [&] { return peak.shown; }},
      {"burst window", [&] { burst.shown = true; }, [&] { return burst.shown; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Back to streaming, as after a completed calibration.
    w->state.zeroCalRequested = false;
    w->state.commState = CommState::Streaming;
    w->state.measType = MeasType::Average;
    w->btnZeroCal->show();
    tick();
    msg->clear();
    const int closesBefore = log.closes;
    c.open();
    w->btnZeroCal->click();
    EXPECT_EQ(boxes(kCheck), 1);
    ASSERT_EQ(boxes(kConfirm), 1);
    EXPECT_EQ(msg->shown()[1].text,
              "Any open power display windows, meters\r\nor log files will be closed.");
    EXPECT_EQ(msg->shown()[1].buttons, MsgButtons::OkCancel);
    EXPECT_TRUE(w->state.zeroCalRequested);
    EXPECT_FALSE(c.stillOpen());
    EXPECT_FALSE(w->Active1->isChecked());
    const bool wasLog = std::string(c.what).rfind("log", 0) == 0;
    EXPECT_EQ(log.closes, closesBefore + (wasLog ? 1 : 0));
  }
}

TEST_F(ZeroCalTest, AConnectionLostUnderTheQuestionStartsNoCalibration) {
  InterruptingBoxes boxesWithLoss;
  ui::setMessageBoxes(&boxesWithLoss);
  boxesWithLoss.during = [&] {
    cal.connected = false;
    w->state.commState = CommState::NoConnection;
  };
  w->btnZeroCal->click();
  ui::setMessageBoxes(msg.get());
  EXPECT_EQ(boxesWithLoss.count(kCheck), 1);
  EXPECT_FALSE(w->state.zeroCalRequested);
  EXPECT_EQ(w->state.commState, CommState::NoConnection);
  EXPECT_EQ(cal.supervisionStops, 0);
  tick(200);  // no countdown runs into the fatal path
  EXPECT_EQ(cal.zeroCalReads, 0);
  EXPECT_EQ(boxesWithLoss.count(kCorrupt) + boxes(kCorrupt), 0);
}

TEST_F(ZeroCalTest, ProgressStepsOncePerTickWithTheLabelBlinkingThenTheReplyIsRead) {
  w->btnZeroCal->click();
  commandSent();
  cal.onReply = [&] {
    // What the reply handling does (the connection side's own tests cover it).
    w->state.zeroCalRequested = false;
    w->state.commState = CommState::Streaming;
    w->state.measType = w->state.savedMeasType;
    w->btnZeroCal->show();
    w->ProgressBar1->setMaximum(100);
    w->lblZeroCal->clear();
  };
  QString previousLabel = w->lblZeroCal->text();
  for (int i = 1; i <= 160; ++i) {
    tick();
    ASSERT_EQ(w->ProgressBar1->value(), i);
    ASSERT_NE(w->lblZeroCal->text(), previousLabel) << "tick " << i;
    ASSERT_TRUE(w->lblZeroCal->text() == "Zero" || w->lblZeroCal->text().isEmpty());
    previousLabel = w->lblZeroCal->text();
  }
  EXPECT_EQ(cal.zeroCalReads, 0);
  EXPECT_EQ(w->ProgressBar1->maximum(), 180);
  // The 161st tick: the bar full, the reply read now.
  bool barFullWhenRead = false;
  auto handle = cal.onReply;
  cal.onReply = [&] {
    barFullWhenRead = w->ProgressBar1->value() == 180;
    handle();
  };
  tick();
  EXPECT_EQ(cal.zeroCalReads, 1);
  EXPECT_TRUE(barFullWhenRead);
  EXPECT_FALSE(w->state.zeroCalRequested);
  EXPECT_EQ(boxes(kCorrupt), 0);
  EXPECT_FALSE(w->shutDown());

  // Streaming again: the panel comes back in the saved type.
  receive(last);
  tick();
  EXPECT_EQ(w->state.measType, MeasType::Average);
  EXPECT_TRUE(lit("segFAvg"));
  EXPECT_TRUE(lit("segFwdUnits"));
  EXPECT_EQ(text(w->fwdDisplay), "100.00");
  EXPECT_TRUE(w->btnZeroCal->isEnabled());
  EXPECT_TRUE(w->btnZeroCal->isVisibleTo(w.get()));
}

TEST_F(ZeroCalTest, TheLimitFollowsTheDisplayInterval) {
  // After a calibration the display runs at 300 ms: 40 s are 133 ticks.
  w->displayTimer->setInterval(300);
  w->btnZeroCal->click();
  commandSent();
  tick(133);
  EXPECT_EQ(w->ProgressBar1->value(), 133);
  EXPECT_EQ(cal.zeroCalReads, 0);
  tick();
  EXPECT_EQ(cal.zeroCalReads, 1);
}

TEST_F(ZeroCalTest, NoValidReplyEndsTheRunAfterTheErrorIsAcknowledged) {
  QWidget* child = new QWidget(w.get(), Qt::Window);
  child->show();
  w->displayTimer->start();
  w->btnZeroCal->click();
  commandSent();
  cal.zeroCalReplyOk = false;
  msg->clear();
  msg->answer(MsgResult::Cancel);  // the box closed without OK comes back
  tick(161);
  EXPECT_EQ(cal.zeroCalReads, 1);
  ASSERT_EQ(boxes(kCorrupt), 2);
  EXPECT_EQ(msg->shown().back().text,
            "Calibration values may be\r\ncorrupt. ZRQ Application will\r\nclose. An attempt "
            "will be made\r\nto restore the original values\r\nafter power is removed then\r\n"
            "reapplied to the 7730 sensor.");
  EXPECT_EQ(msg->shown().back().buttons, MsgButtons::Ok);
  EXPECT_FALSE(w->state.zeroCalRequested);
  EXPECT_EQ(cal.disconnects, 1);
  EXPECT_FALSE(child->isVisible());
  EXPECT_TRUE(w->shutDown());
  EXPECT_FALSE(w->displayTimer->isActive());
  EXPECT_EQ(boxes("Zero Calibration"), 0) << "no close question once the calibration is over";
}

TEST_F(ZeroCalTest, ClosingDuringTheCalibrationAsksAndNoKeepsItRunning) {
  w->btnZeroCal->click();
  commandSent();
  tick(10);
  msg->answer(MsgResult::No);
  EXPECT_FALSE(w->FormCloseQuery());
  ASSERT_EQ(boxes("Zero Calibration"), 1);
  EXPECT_EQ(msg->shown().back().buttons, MsgButtons::YesNo);
  EXPECT_FALSE(w->shutDown());
  EXPECT_EQ(cal.disconnects, 0);
  tick();
  EXPECT_EQ(w->ProgressBar1->value(), 11);  // still counting
  EXPECT_TRUE(w->state.zeroCalRequested);

  msg->answer(MsgResult::Yes);
  EXPECT_TRUE(w->FormCloseQuery());
  EXPECT_EQ(boxes("Zero Calibration"), 2);
  EXPECT_TRUE(w->shutDown());
  EXPECT_EQ(cal.disconnects, 1);
}

}  // namespace
}  // namespace zrq::test
