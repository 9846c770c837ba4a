// The log set-up dialog as a person uses it: captions, hints, what is shown
// for each event and trigger, the refusals, the limit edits and OK / Cancel.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "QtTestApp.h"
#include "TfrmLogFreq.h"
#include "uiface/MsgBox.h"

namespace {

using zrq::core::LogEvent;
using zrq::core::LogTimeUnit;
using zrq::core::LogTrigger;
using zrq::core::MeasType;

using zrq::test::qt::ensureApplication;

class LogFreqTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureApplication();
    ::setenv("ZRQ_SCREEN_SCALE", "1", 1);
    dlg = std::make_unique<TfrmLogFreq>();
    dlg->measTypeSource = [this] { return type; };
    dlg->fwdFullScaleSource = [this] { return fullScale; };
    dlg->storeIntervalTicks = [this](int t) { stored = t; };
  }
  void TearDown() override { ::unsetenv("ZRQ_SCREEN_SCALE"); }

  QStringList items(QGroupBox* box) const {
    QStringList l;
    for (auto* b : box->findChildren<QRadioButton*>()) l << b->text();
    return l;
  }
  bool shown(QWidget* w) const { return w->isVisibleTo(dlg.get()); }
  // Shown and active, so that clicks land and focus moves raise their events.
  void showActive() {
    dlg->show();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  }

  zrq::ui::ScopedScriptedMessageBoxes boxes;
  std::unique_ptr<TfrmLogFreq> dlg;
  MeasType type = MeasType::Average;
  double fullScale = 150;
  int stored = -1;
};

TEST_F(LogFreqTest, ControlsCaptionsHintsAndInitialState) {
  EXPECT_EQ(dlg->windowTitle(), "Logging Trigger Event Set Up");
  EXPECT_EQ(dlg->rgrpTime->title(), "Sample Time Interval");
  EXPECT_EQ(items(dlg->rgrpTime), (QStringList{"Seconds", "Minutes", "Hours"}));
  EXPECT_EQ(dlg->timeIndex(), 0);
  EXPECT_EQ(dlg->cspinLogSampleTime->value(), 1);
  EXPECT_EQ(dlg->cspinLogSampleTime->minimum(), 1);
  EXPECT_EQ(dlg->cspinLogSampleTime->maximum(), 60);
  auto* spinText = dlg->cspinLogSampleTime->findChild<QLineEdit*>();
  ASSERT_NE(spinText, nullptr);
  EXPECT_TRUE(spinText->isReadOnly()) << "typing disabled";
  EXPECT_EQ(dlg->triggerRadioGroup->title(), "Trigger");
  EXPECT_EQ(dlg->triggerRadioGroup->toolTip(), "Select Log File Trigger ");
  EXPECT_EQ(items(dlg->triggerRadioGroup), (QStringList{"Forward", "Reflected", "Peak", "Burst"}));
  EXPECT_EQ(dlg->triggerIndex(), 0);
  EXPECT_EQ(dlg->eventRadioGroup->title(), "Event");
  EXPECT_EQ(dlg->eventRadioGroup->toolTip(), "Select Log File Event");
  EXPECT_EQ(items(dlg->eventRadioGroup),
            (QStringList{"Sample Time", "Sample Time Whenever Trigger Above Limit",
                         "First And Last Occurrence Of Trigger Above Limit",
                         "Sample Time Whenever Trigger Below Limit",
                         "First And Last Occurrence Of Trigger Below Limit"}));
  EXPECT_EQ(dlg->eventIndex(), 0);
  const std::pair<QLineEdit*, const char*> hints[] = {
      {dlg->forwardLimit, "Enter Forward Display Limit Trigger In Watts"},
      {dlg->reflectedLimit, "Enter Reflected Display Trigger Limit In Watts"},
      {dlg->peakLimit, "Enter Peak Limit Trigger In Watts"},
      {dlg->burstLimit, "Enter Burst Trigger Limit In Watts"}};
  for (auto [e, hint] : hints) {
    EXPECT_EQ(e->text(), "0");
    EXPECT_EQ(e->toolTip(), hint);
  }
  EXPECT_EQ(dlg->fwdTriggerLimit->text(), "Forward Trigger Limit In Watts");
  EXPECT_EQ(dlg->rflTriggerLimit->text(), "Reflected  Trigger Limit In Watts");
  EXPECT_EQ(dlg->peakTriggerLimit->text(), "Peak Trigger Limit In Watts");
  EXPECT_EQ(dlg->burstTriggerLimit->text(), "Burst Trigger Limit In Watts");
  EXPECT_EQ(dlg->btnOK->text(), "OK");
  EXPECT_EQ(dlg->btnCancel->text(), "Cancel");
  EXPECT_TRUE(dlg->btnCancel->isDefault());
  EXPECT_EQ(dlg->font().family(), "Arial");

  const auto s = dlg->settings();
  EXPECT_EQ(s.event, LogEvent::SampleTime);
  EXPECT_EQ(s.trigger, LogTrigger::Forward);
  EXPECT_EQ(s.timeUnit, LogTimeUnit::Seconds);
  EXPECT_EQ(s.sampleTime, 1);
  EXPECT_EQ(s.limitTexts[2], "0");
  EXPECT_EQ(dlg->intervalTicks(), 2);
}

TEST_F(LogFreqTest, VisibilityForEveryEventAndTrigger) {
  QLineEdit* edits[] = {dlg->forwardLimit, dlg->reflectedLimit, dlg->peakLimit, dlg->burstLimit};
  QLabel* labels[] = {dlg->fwdTriggerLimit, dlg->rflTriggerLimit, dlg->peakTriggerLimit,
                      dlg->burstTriggerLimit};
  for (int e = 0; e < 5; ++e) {
    for (int t = 0; t < 4; ++t) {
      dlg->clickEvent(e);
      dlg->clickTrigger(t);
      ASSERT_EQ(dlg->eventIndex(), e);
      ASSERT_EQ(dlg->triggerIndex(), t);
      for (int i = 0; i < 4; ++i) {
        const bool want = e != 0 && i == t;
        EXPECT_EQ(shown(edits[i]), want) << "event " << e << " trigger " << t << " edit " << i;
        EXPECT_EQ(shown(labels[i]), want) << "event " << e << " trigger " << t << " label " << i;
      }
      const bool sample = e == 0 || e == 1 || e == 3;
      EXPECT_EQ(shown(dlg->cspinLogSampleTime), sample) << e;
      EXPECT_EQ(shown(dlg->rgrpTime), sample) << e;
    }
  }
  // The same rule when the dialog is shown.
  dlg->clickEvent(4);
  dlg->clickTrigger(2);
  dlg->peakLimit->hide();
  dlg->show();
  EXPECT_TRUE(dlg->peakLimit->isVisible());
  EXPECT_FALSE(dlg->forwardLimit->isVisible());
  EXPECT_FALSE(dlg->rgrpTime->isVisible());
  dlg->hide();
}

TEST_F(LogFreqTest, BurstTriggerIsRefusedWhileCcdfIsDisplayed) {
  type = MeasType::CCDF;
  showActive();
  dlg->clickEvent(1);
  dlg->clickTrigger(2);  // Peak is fine
  ASSERT_EQ(dlg->triggerIndex(), 2);
  QTest::mouseClick(dlg->triggerRadioGroup->findChildren<QRadioButton*>()[3], Qt::LeftButton, {},
                    QPoint(6, 10));
  EXPECT_EQ(dlg->triggerIndex(), 2) << "the previous trigger stays";
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].caption, "Burst Trigger Not Available");
  EXPECT_EQ(boxes.shown()[0].text,
            "The burst trigger is not available when CCDF is displayed\n\rChange power display "
            "type to select burst trigger");
  EXPECT_TRUE(dlg->peakLimit->isVisibleTo(dlg.get()));
  EXPECT_FALSE(dlg->burstLimit->isVisibleTo(dlg.get()));

  type = MeasType::Crest;  // any other type takes it
  dlg->clickTrigger(3);
  EXPECT_EQ(dlg->triggerIndex(), 3);
  EXPECT_EQ(boxes.shown().size(), 1u);
  EXPECT_TRUE(dlg->burstLimit->isVisibleTo(dlg.get()));
}

TEST_F(LogFreqTest, AnEmptiedLimitBoxReadsZero) {
  dlg->clickEvent(1);
  dlg->reflectedLimit->setText("12.5");
  dlg->reflectedLimit->clear();
  EXPECT_EQ(dlg->reflectedLimit->text(), "0");
  dlg->peakLimit->setText("3");
  dlg->peakLimit->selectAll();
  QTest::keyClick(dlg->peakLimit, Qt::Key_Backspace);
  EXPECT_EQ(dlg->peakLimit->text(), "0");
  EXPECT_EQ(dlg->settings().limitTexts[2], "0");
}

TEST_F(LogFreqTest, EnterInTheForwardAndPeakBoxesHidesThemAndConverts) {
  showActive();
  dlg->clickEvent(2);
  dlg->forwardLimit->setFocus();
  QTest::keyClicks(dlg->forwardLimit, "25");
  EXPECT_TRUE(boxes.shown().empty()) << "other keys do nothing there";
  EXPECT_EQ(dlg->forwardLimit->text(), "025");
  QTest::keyClick(dlg->forwardLimit, Qt::Key_Return);
  EXPECT_FALSE(dlg->forwardLimit->isVisible());
  EXPECT_TRUE(dlg->isVisible()) << "Enter does not close the dialog";
  EXPECT_TRUE(boxes.shown().empty());
  dlg->clickEvent(2);  // the next event click shows it again
  EXPECT_TRUE(dlg->forwardLimit->isVisible());

  dlg->clickTrigger(2);
  dlg->peakLimit->setText("abc");
  boxes.clear();
  QTest::keyClick(dlg->peakLimit, Qt::Key_Enter);
  EXPECT_FALSE(dlg->peakLimit->isVisible());
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].text, "'abc' is not a valid floating point value");
  EXPECT_EQ(dlg->peakLimit->text(), "abc") << "the text stays as typed";
  dlg->hide();
}

TEST_F(LogFreqTest, ReflectedAndBurstBoxesConvertOnEveryKey) {
  showActive();
  dlg->clickEvent(1);
  dlg->clickTrigger(1);
  dlg->reflectedLimit->setFocus();
  dlg->reflectedLimit->setText("1");
  QTest::keyClicks(dlg->reflectedLimit, "0x");  // "1" and "10" before each key: fine
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(dlg->reflectedLimit->text(), "10x");
  QTest::keyClicks(dlg->reflectedLimit, "yz");  // "10x", "10xy": each reported
  EXPECT_EQ(boxes.shown().size(), 2u);
  EXPECT_EQ(dlg->reflectedLimit->text(), "10xyz");
  QTest::keyClick(dlg->reflectedLimit, Qt::Key_Backspace);
  EXPECT_EQ(boxes.shown().size(), 3u);
  QTest::keyClick(dlg->reflectedLimit, Qt::Key_Tab);  // one box, from the exit
  EXPECT_EQ(boxes.shown().size(), 4u);
  EXPECT_TRUE(dlg->isVisible());

  dlg->clickTrigger(3);
  dlg->burstLimit->setFocus();
  dlg->burstLimit->setText("1,5");  // a decimal comma is no number here
  boxes.clear();
  QTest::keyClick(dlg->burstLimit, Qt::Key_Return);
  EXPECT_EQ(boxes.shown().size(), 1u);
  EXPECT_TRUE(dlg->isVisible()) << "Enter does not close the dialog";
  EXPECT_TRUE(dlg->burstLimit->isVisible());
  dlg->hide();
}

TEST_F(LogFreqTest, LeavingALimitBoxConvertsAndMarksAnOutOfRangeLimitWithoutLosingIt) {
  showActive();
  dlg->clickEvent(3);
  dlg->forwardLimit->setFocus(Qt::OtherFocusReason);
  dlg->forwardLimit->setText("200");  // above the 150 W full scale
  dlg->btnOK->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_TRUE(dlg->forwardLimit->property("outOfRange").toBool());
  EXPECT_NE(dlg->forwardLimit->toolTip().indexOf("outside 0 to 150 W"), -1);
  EXPECT_EQ(dlg->forwardLimit->text(), "200");
  EXPECT_EQ(dlg->settings().limitTexts[0], "200");

  dlg->forwardLimit->setFocus(Qt::OtherFocusReason);
  dlg->forwardLimit->setText("100");
  dlg->btnOK->setFocus(Qt::TabFocusReason);
  EXPECT_FALSE(dlg->forwardLimit->property("outOfRange").toBool());
  EXPECT_EQ(dlg->forwardLimit->toolTip(), "Enter Forward Display Limit Trigger In Watts");

  // Peak and burst allow three times the full scale; the scale is read live.
  fullScale = 1000;
  EXPECT_TRUE(dlg->limitExit(dlg->peakLimit));
  dlg->peakLimit->setText("2999");
  EXPECT_TRUE(dlg->limitExit(dlg->peakLimit));
  EXPECT_FALSE(dlg->peakLimit->property("outOfRange").toBool());
  dlg->peakLimit->setText("3001");
  EXPECT_TRUE(dlg->limitExit(dlg->peakLimit));
  EXPECT_TRUE(dlg->peakLimit->property("outOfRange").toBool());
  dlg->reflectedLimit->setText("-1");
  EXPECT_TRUE(dlg->limitExit(dlg->reflectedLimit));
  EXPECT_TRUE(dlg->reflectedLimit->property("outOfRange").toBool());

  dlg->forwardLimit->setFocus(Qt::OtherFocusReason);
  dlg->forwardLimit->setText("x");
  dlg->btnOK->setFocus(Qt::MouseFocusReason);
  ASSERT_EQ(boxes.shown().size(), 1u);
  EXPECT_EQ(boxes.shown()[0].text, "'x' is not a valid floating point value");
  dlg->hide();
}

TEST_F(LogFreqTest, SampleTimeOutsideOneToSixtyIsResetWithAMessage) {
  dlg->setSampleTime(30);
  EXPECT_EQ(dlg->cspinLogSampleTime->value(), 30);
  EXPECT_TRUE(boxes.shown().empty());
  for (int bad : {0, 61, -5}) {
    boxes.clear();
    dlg->setSampleTime(bad);
    EXPECT_EQ(dlg->cspinLogSampleTime->value(), 1) << bad;
    ASSERT_EQ(boxes.shown().size(), 1u) << bad;
    EXPECT_EQ(boxes.shown()[0].text, "Sample time must be between 1 and 60");
    EXPECT_EQ(boxes.shown()[0].caption, "Entry error");
  }
}

TEST_F(LogFreqTest, SampleIntervalInTicks) {
  const std::tuple<int, int, int> rows[] = {{0, 1, 2},     {0, 60, 120}, {1, 1, 120},
                                            {1, 30, 3600}, {2, 1, 7200}, {2, 60, 432000}};
  for (auto [unit, n, ticks] : rows) {
    dlg->clickTime(unit);
    dlg->setSampleTime(n);
    EXPECT_EQ(dlg->intervalTicks(), ticks) << unit << " " << n;
  }
  showActive();
  QTest::mouseClick(dlg->rgrpTime->findChildren<QRadioButton*>()[1], Qt::LeftButton, {},
                    QPoint(6, 10));
  EXPECT_EQ(dlg->settings().timeUnit, LogTimeUnit::Minutes);
}

TEST_F(LogFreqTest, OkStoresTheIntervalCancelKeepsTheChangesWithoutStoringIt) {
  QTimer::singleShot(0, dlg.get(), [this] {
    dlg->clickTime(2);
    dlg->setSampleTime(60);
    dlg->btnOK->click();
  });
  EXPECT_EQ(dlg->exec(), QDialog::Accepted);
  EXPECT_EQ(stored, 432000);

  stored = -1;
  QTimer::singleShot(0, dlg.get(), [this] {
    dlg->clickEvent(2);
    dlg->clickTrigger(1);
    dlg->setSampleTime(5);
    dlg->btnCancel->click();
  });
  EXPECT_EQ(dlg->exec(), QDialog::Rejected);
  EXPECT_EQ(stored, -1) << "Cancel does not recompute the interval";
  // The new event and trigger are in force anyway.
  const auto s = dlg->settings();
  EXPECT_EQ(s.event, LogEvent::FirstLastAboveLimit);
  EXPECT_EQ(s.trigger, LogTrigger::Reflected);
  EXPECT_EQ(s.sampleTime, 5);
  EXPECT_EQ(dlg->eventIndex(), 2);

  // Escape is Cancel too.
  QTimer::singleShot(0, dlg.get(), [this] { QTest::keyClick(dlg.get(), Qt::Key_Escape); });
  EXPECT_EQ(dlg->exec(), QDialog::Rejected);
}

TEST_F(LogFreqTest, ScalesControlsAndWindowByTheScreenFactor) {
  const QSize base = dlg->size();
  const QRect okBase = dlg->btnOK->geometry();
  ::setenv("ZRQ_SCREEN_SCALE", "1.25", 1);
  TfrmLogFreq big;
  EXPECT_EQ(big.width(), static_cast<int>(base.width() * 1.25f));
  EXPECT_EQ(big.height(), static_cast<int>(base.height() * 1.25f));
  EXPECT_EQ(big.btnOK->geometry().width(), qRound(okBase.width() * 1.25));
  EXPECT_EQ(big.btnOK->geometry().x(), qRound(okBase.x() * 1.25));
  ::setenv("ZRQ_SCREEN_SCALE", "0.7", 1);  // 0.7f is not 0.7: the window truncates it
  TfrmLogFreq small;
  EXPECT_EQ(small.width(), static_cast<int>(base.width() * 0.7f));
  EXPECT_EQ(small.height(), static_cast<int>(base.height() * 0.7f));
}

}  // namespace
