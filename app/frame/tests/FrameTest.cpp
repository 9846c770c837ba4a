#include "QtTestApp.h"
#include "frame/Fonts.h"
#include "frame/Frame.h"
#include "frame/QtMessageBoxes.h"
#include "frame/Scaling.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using zrq::test::qt::ensureApplication;

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureApplication();
    zrq::frame::installFrame();
  }
  void TearDown() override { zrq::frame::uninstallFrame(); }
};

TEST_F(FrameTest, DelayKeepsTimersRunningAndWaitsAtLeastItsTime) {
  int fired = 0;
  QTimer t;
  t.setInterval(5);
  QObject::connect(&t, &QTimer::timeout, [&] { ++fired; });
  t.start();
  QElapsedTimer clock;
  clock.start();
  zrq::ui::delayMs(60);
  EXPECT_GE(clock.elapsed(), 55);
  EXPECT_GT(fired, 2) << "the event loop must run during a delay";
}

TEST_F(FrameTest, HeavyFacesResolveToAnInstalledFamily) {
  QFont black = zrq::frame::designFont("Arial Black", 24);
  QFontInfo bi(black);
  EXPECT_EQ(bi.family(), "Liberation Sans");
  EXPECT_GE(bi.weight(), static_cast<int>(QFont::Bold));
  EXPECT_EQ(black.pixelSize(), 32);  // 24 pt at 96 dpi
  QFontInfo si(zrq::frame::designFont("MS Sans Serif", 8));
  EXPECT_EQ(si.family(), "Liberation Sans");
}

TEST_F(FrameTest, ScalingMovesResizesAndGrowsFontsOfEveryChild) {
  QWidget w;
  auto* outer = new QWidget(&w);
  outer->setGeometry(10, 20, 100, 40);
  auto* inner = new QLabel("x", outer);
  inner->setGeometry(4, 6, 30, 10);
  inner->setFont(zrq::frame::designFont("Arial", 9));  // 12 px
  zrq::frame::scaleChildren(&w, 1.5);
  EXPECT_EQ(outer->geometry(), QRect(15, 30, 150, 60));
  EXPECT_EQ(inner->geometry(), QRect(6, 9, 45, 15));
  EXPECT_EQ(inner->font().pixelSize(), 18);
}

TEST_F(FrameTest, ScaleFactorFollowsOverrideOrScreenWidth) {
  qputenv("ZRQ_SCREEN_SCALE", "1.25");
  EXPECT_DOUBLE_EQ(zrq::frame::screenScale(), 1.25);
  qputenv("ZRQ_SCREEN_SCALE", "bogus");
  const double s = zrq::frame::screenScale();
  qunsetenv("ZRQ_SCREEN_SCALE");
  EXPECT_DOUBLE_EQ(s, QGuiApplication::primaryScreen()->geometry().width() / 1024.0);
}

// Presses the button with the given text on the modal box once it is up.
void pressLater(const QString& text, QString* seenText, QString* seenCaption) {
  QTimer::singleShot(0, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    *seenText = box->text();
    *seenCaption = box->windowTitle();
    for (QAbstractButton* b : box->buttons())
      if (b->text().remove('&') == text) b->click();
  });
}

TEST_F(FrameTest, RealBoxesReturnThePressedButtonAndShowCleanLines) {
  QString text, caption;
  pressLater("Cancel", &text, &caption);
  EXPECT_EQ(zrq::ui::showMessage("Line one\r\nline two\n\rend", "Title",
                                 zrq::ui::MsgButtons::OkCancel),
            zrq::ui::MsgResult::Cancel);
  EXPECT_EQ(text, "Line one\nline two\nend");
  EXPECT_EQ(caption, "Title");
  pressLater("No", &text, &caption);
  EXPECT_EQ(zrq::ui::showMessage("q", "c", zrq::ui::MsgButtons::YesNo), zrq::ui::MsgResult::No);
  pressLater("OK", &text, &caption);
  EXPECT_EQ(zrq::ui::showMessage("q", "c"), zrq::ui::MsgResult::Ok);
}

}  // namespace
