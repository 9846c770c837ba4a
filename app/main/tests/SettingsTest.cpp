// Units, offset and CCDF-limit entries, and their commit rules.
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <clocale>
#include <string>

#include "PanelTestSupport.h"

namespace zrq::test {
namespace {

using core::MeasType;
using core::PowerUnit;

TEST_F(PanelTest, ReflectedUnitCyclesThroughAllFive) {
  const PowerUnit order[] = {PowerUnit::Rho, PowerUnit::VSWR,  PowerUnit::ReturnLoss,
                             PowerUnit::dBm, PowerUnit::AutoW, PowerUnit::Rho};
  for (PowerUnit u : order) {
    w->btnRflUnitsClick();
    EXPECT_EQ(w->state.rflUnit, u);
    EXPECT_EQ(w->rflIsPower, u == PowerUnit::dBm || u == PowerUnit::AutoW);
  }
  EXPECT_FALSE(w->state.settingsChanged);
}

TEST_F(PanelTest, ForwardUnitStaysInCrestButTheNoticeIsReArmed) {
  startStreaming();
  stepTo(MeasType::Crest);
  w->outOfRangeNotice.armed = false;
  w->btnFwdUnitsClick();
  EXPECT_EQ(w->state.fwdUnit, PowerUnit::AutoW);
  EXPECT_TRUE(w->outOfRangeNotice.armed);
  stepTo(MeasType::Average);
  w->btnFwdUnitsClick();
  EXPECT_EQ(w->state.fwdUnit, PowerUnit::dBm);
  w->btnFwdUnitsClick();
  EXPECT_EQ(w->state.fwdUnit, PowerUnit::AutoW);
  EXPECT_FALSE(w->state.settingsChanged);
}

struct EntryCase {
  const char* text;
  bool accepted;
  float value;
};

TEST_F(PanelTest, OffsetEntryAcceptsZeroToHundredAndShowsErrorOtherwise) {
  const EntryCase cases[] = {{"100", true, 100}, {"2.5", true, 2.5f},  {" 7 ", true, 7},
                             {"", true, 0},      {"100.01", false, 0}, {"-1", false, 0},
                             {"3dB", false, 0},  {"nan", false, 0},    {"1,5", false, 0},
                             {"Error", false, 0}};
  for (const auto& c : cases) {
    w->state.offsetDb = 42;
    w->outOfRangeNotice.armed = false;
    w->Edit_Offset->setText(c.text);
    w->Edit_OffsetExit();
    EXPECT_TRUE(w->outOfRangeNotice.armed) << c.text;
    if (c.accepted) {
      EXPECT_FLOAT_EQ(w->state.offsetDb, c.value) << c.text;
      EXPECT_NE(w->Edit_Offset->text(), "Error") << c.text;
    } else {
      EXPECT_FLOAT_EQ(w->state.offsetDb, 42) << c.text;
      EXPECT_EQ(w->Edit_Offset->text(), "Error") << c.text;
    }
  }
  EXPECT_FALSE(w->state.settingsChanged);
  w->state.offsetDb = 2.5f;
  w->Edit_OffsetEnter();
  EXPECT_EQ(w->Edit_Offset->text(), "2.5");
}

TEST_F(PanelTest, CcdfLimitEntryAcceptsTwoToFourHundred) {
  const EntryCase cases[] = {{"2", true, 2},     {"400", true, 400}, {"50.5", true, 50.5f},
                             {"1.99", false, 0}, {"450", false, 0},  {"", false, 0},
                             {"abc", false, 0}};
  for (const auto& c : cases) {
    w->state.ccdfLimit = 77;
    w->state.settingsChanged = false;
    w->EditccdfLimit->setText(c.text);
    w->EditccdfLimitKeyPress(13);
    EXPECT_EQ(w->state.settingsChanged, c.accepted) << c.text;
    EXPECT_FLOAT_EQ(w->state.ccdfLimit, c.accepted ? c.value : 77) << c.text;
    if (!c.accepted) {
      EXPECT_EQ(w->EditccdfLimit->text(), "Error") << c.text;
    }
  }
  w->EditccdfLimit->setText("9");
  w->EditccdfLimitKeyPress('9');  // other keys do not commit
  EXPECT_FLOAT_EQ(w->state.ccdfLimit, 77);
  w->state.ccdfLimit = 50;
  w->EditccdfLimitEnter();
  EXPECT_EQ(w->EditccdfLimit->text(), "50");
}

TEST_F(PanelTest, EntriesAndReadOutsIgnoreADecimalCommaLocale) {
  startStreaming();  // the test's own data strings are built in the C locale
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  w->Edit_Offset->setText("2.5");
  w->Edit_OffsetExit();
  EXPECT_FLOAT_EQ(w->state.offsetDb, 2.5f);
  w->Edit_OffsetEnter();
  EXPECT_EQ(w->Edit_Offset->text(), "2.5");
  w->Edit_Offset->setText("3,5");
  w->Edit_OffsetExit();
  EXPECT_EQ(w->Edit_Offset->text(), "Error");
  w->state.offsetDb = 0;
  tick();
  EXPECT_EQ(text(w->fwdDisplay), "100.00");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(PanelTest, EntryButtonsToggleTheirFields) {
  startStreaming();
  w->btnOffsetClick();
  EXPECT_TRUE(w->Edit_Offset->isVisibleTo(w.get()));
  w->btnOffsetClick();
  EXPECT_FALSE(w->Edit_Offset->isVisibleTo(w.get()));
  w->state.settingsChanged = false;
  w->btnCCDFClick();
  EXPECT_TRUE(w->EditccdfLimit->isVisibleTo(w.get()));
  EXPECT_TRUE(w->state.settingsChanged);
  w->btnCCDFClick();
  EXPECT_FALSE(w->EditccdfLimit->isVisibleTo(w.get()));
}

TEST_F(PanelTest, TypingIntoTheShownWindowCommitsOnEnterAndOnLeaving) {
  startStreaming();
  w->show();
  QApplication::setActiveWindow(w.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  w->btnOffsetClick();
  w->Edit_Offset->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(w->Edit_Offset->text(), "0");  // filled from the offset on entry
  w->Edit_Offset->selectAll();
  QTest::keyClicks(w->Edit_Offset, "6");
  QTest::keyClick(w->Edit_Offset, Qt::Key_Return);
  EXPECT_FLOAT_EQ(w->state.offsetDb, 6);
  w->Edit_Offset->selectAll();
  QTest::keyClicks(w->Edit_Offset, "200");
  w->btnType->setFocus();  // leaving the field commits too
  QApplication::processEvents();
  EXPECT_EQ(w->Edit_Offset->text(), "Error");
  EXPECT_FLOAT_EQ(w->state.offsetDb, 6);
  tick();
  EXPECT_EQ(text(w->txtOffset), "6.00 dB");
}

// A modal box takes the focus from the field, and the window takes it back
// when the box closes: neither is the user's move, so neither commits (a
// commit re-arms the notice, which would then come back without end).
TEST_F(PanelTest, FocusTakenByABoxOrAnotherWindowDoesNotCommit) {
  startStreaming();
  w->btnOffsetClick();
  w->Edit_Offset->setText("100");
  w->Edit_OffsetKeyPress(13);
  ASSERT_FLOAT_EQ(w->state.offsetDb, 100);
  auto focusOut = [&](QWidget* field, Qt::FocusReason reason) {
    QFocusEvent out(QEvent::FocusOut, reason);
    QCoreApplication::sendEvent(field, &out);
  };
  msg->onShow = [&](const ui::MsgRequest&) {
    focusOut(w->Edit_Offset, Qt::ActiveWindowFocusReason);
  };
  tick(6);
  EXPECT_EQ(boxes("Out Of Range"), 1);
  focusOut(w->Edit_Offset, Qt::PopupFocusReason);
  tick(2);
  EXPECT_EQ(boxes("Out Of Range"), 1);
  // The user's own move out of the field still commits.
  focusOut(w->Edit_Offset, Qt::TabFocusReason);
  tick();
  EXPECT_EQ(boxes("Out Of Range"), 2);
  msg->onShow = nullptr;

  // The same for the CCDF limit: no commit, so no settings resend.
  w->EditccdfLimit->setText("300");
  w->state.settingsChanged = false;
  focusOut(w->EditccdfLimit, Qt::ActiveWindowFocusReason);
  EXPECT_FALSE(w->state.settingsChanged);
  EXPECT_FLOAT_EQ(w->state.ccdfLimit, 50);
  focusOut(w->EditccdfLimit, Qt::MouseFocusReason);
  EXPECT_TRUE(w->state.settingsChanged);
  EXPECT_FLOAT_EQ(w->state.ccdfLimit, 300);
}

}  // namespace
}  // namespace zrq::test
