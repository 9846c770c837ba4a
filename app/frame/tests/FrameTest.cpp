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

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

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

// A call that blocks for a while: the window's timers keep running, the call
// runs on another thread, the wait is said past its threshold and unsaid at
// the end, and the call's exception reaches the caller.
TEST_F(FrameTest, ResponsiveCallKeepsTheEventLoopRunningAndSaysALongWait) {
  int fired = 0;
  QTimer t;
  t.setInterval(10);
  QObject::connect(&t, &QTimer::timeout, [&] { ++fired; });
  t.start();
  std::vector<bool> said;
  zrq::ui::setWaitIndicator([&](bool w) { said.push_back(w); });
  const auto caller = std::this_thread::get_id();
  std::thread::id ranOn;
  zrq::ui::callResponsive([&] {
    ranOn = std::this_thread::get_id();
    std::this_thread::sleep_for(std::chrono::milliseconds(zrq::frame::kWaitSaidAfterMs + 300));
  });
  EXPECT_NE(ranOn, caller);
  EXPECT_GT(fired, 10) << "the event loop must run while the call blocks";
  EXPECT_EQ(said, (std::vector<bool>{true, false}));

  // A quick call is not said; an exception comes through.
  said.clear();
  int result = 0;
  zrq::ui::callResponsive([&] { result = 7; });
  EXPECT_EQ(result, 7);
  EXPECT_TRUE(said.empty());
  EXPECT_THROW(zrq::ui::callResponsive([] { throw std::runtime_error("lost"); }),
               std::runtime_error);

  // Any other thread (the continuous-read thread) calls directly.
  std::thread other([&] {
    const auto self = std::this_thread::get_id();
    std::thread::id inner;
    zrq::ui::callResponsive([&] { inner = std::this_thread::get_id(); });
    EXPECT_EQ(inner, self);
  });
  other.join();
  zrq::ui::setWaitIndicator({});
}

// Without the frame the call runs on the caller's thread, as the headless
// logger needs.
TEST(ResponsiveCall, WithoutAWaitFunctionTheCallRunsDirectly) {
  std::thread::id inner;
  zrq::ui::callResponsive([&] { inner = std::this_thread::get_id(); });
  EXPECT_EQ(inner, std::this_thread::get_id());
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

TEST_F(FrameTest, ScalingGrowsInheritedFontsAndKeepsLabelTextsWhole) {
  QWidget w;
  const double before = w.font().pointSizeF();
  auto* caption = new QLabel("Sample Time Interval", &w);  // no font of its own
  caption->adjustSize();
  // Its box a little short of its text, as rounding leaves it; right-aligned.
  auto* zero = new QLabel("Zero", &w);
  zero->setFont(zrq::frame::designFont("Arial", 9, true));
  zero->adjustSize();
  zero->setGeometry(100, 50, zero->width() - 3, zero->height());
  zero->setAlignment(Qt::AlignRight);
  const int right = zero->geometry().right();
  zrq::frame::scaleChildren(&w, 1.5);
  EXPECT_DOUBLE_EQ(caption->font().pointSizeF(), before * 1.5);
  EXPECT_GE(zero->width(), zero->sizeHint().width());
  EXPECT_NEAR(zero->geometry().right(), right * 1.5, 1.0) << "grown to the left";
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
  EXPECT_EQ(
      zrq::ui::showMessage("Line one\r\nline two\n\rend", "Title", zrq::ui::MsgButtons::OkCancel),
      zrq::ui::MsgResult::Cancel);
  EXPECT_EQ(text, "Line one\nline two\nend");
  EXPECT_EQ(caption, "Title");
  pressLater("No", &text, &caption);
  EXPECT_EQ(zrq::ui::showMessage("q", "c", zrq::ui::MsgButtons::YesNo), zrq::ui::MsgResult::No);
  pressLater("OK", &text, &caption);
  EXPECT_EQ(zrq::ui::showMessage("q", "c"), zrq::ui::MsgResult::Ok);
}

TEST_F(FrameTest, ABoxIsWideEnoughForItsCaption) {
  QString text, caption;
  int width = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    width = box->width();
    box->accept();
  });
  zrq::ui::showMessage("x", "Calibration Failed Again And Again");
  QFont bold = QApplication::font();
  bold.setBold(true);
  // Room for the caption in a bold title font, the title bar's icon and its three buttons.
  EXPECT_GT(width,
            QFontMetrics(bold).horizontalAdvance("Calibration Failed Again And Again") + 100);
}

}  // namespace
