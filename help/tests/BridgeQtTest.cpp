// The Qt side of the bridge: window handles, F1 contexts, the per-window socket.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include "QtTestApp.h"
#include "QtHelpPlatform.h"
#include "RecordingEngine.h"
#include "ThbFormHelpSocket.h"

using namespace hb;

namespace {

using zrq::test::qt::ensureApplication;

std::vector<HhRecord> requests() {
  std::vector<HhRecord> out;
  for (const auto& r : hhrec_calls())
    if (r.command != HH_GET_WIN_TYPE && r.command != HH_SET_WIN_TYPE) out.push_back(r);
  return out;
}

class BridgeQt : public ::testing::Test {
 protected:
  void SetUp() override {
    hhrec_reset();
    HelpPlatform::setCurrent(&platform);
    HelpTarget::application().HelpFile = "/opt/zrq/app.chm";
    appSocket = std::make_unique<ThbAppHelpSocket>(HelpTarget::application(), engine);
    appSocket->ShowWarning = false;
    appSocket->HHAliases.Strings = {"30=front_panel.htm", "44=filter.htm"};
    HelpKeyFilter::install();
  }
  void TearDown() override {
    appSocket.reset();
    HelpPlatform::setCurrent(nullptr);
  }
  QApplication& a = ensureApplication();
  HtmlHelpEngine engine{HB_RECORDER_PATH};
  QtHelpPlatform platform;
  std::unique_ptr<ThbAppHelpSocket> appSocket;
};

}  // namespace

TEST_F(BridgeQt, WindowHandlesAndWorkArea) {
  QWidget w;
  EXPECT_TRUE(platform.isWindow(QtHelpPlatform::handleOf(&w)));
  EXPECT_EQ(QtHelpPlatform::widgetOf(QtHelpPlatform::handleOf(&w)), &w);
  uintptr_t gone = 0;
  {
    QWidget tmp;
    gone = QtHelpPlatform::handleOf(&tmp);
  }
  EXPECT_FALSE(platform.isWindow(gone));
  EXPECT_TRUE(platform.isWindow(platform.desktopWindow()));
  const HbRect r = platform.workArea();
  EXPECT_GT(r.right - r.left, 0);
  EXPECT_GT(r.bottom - r.top, 0);
}

TEST_F(BridgeQt, F1SendsTheNearestContext) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* plain = new QLineEdit;
  auto* own = new QLineEdit;
  layout->addWidget(plain);
  layout->addWidget(own);
  setHelpContext(&window, 30);
  setHelpContext(own, 44);
  EXPECT_EQ(helpContextOf(plain), 30);
  EXPECT_EQ(helpContextOf(own), 44);
  window.show();
  QTest::keyClick(own, Qt::Key_F1);
  QTest::keyClick(plain, Qt::Key_F1);
  auto calls = requests();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].text, "filter.htm");
  EXPECT_EQ(calls[1].text, "front_panel.htm");
  EXPECT_EQ(calls[1].file, "/opt/zrq/app.chm");
  // Shift+F1 and a window without a context do nothing.
  QTest::keyClick(plain, Qt::Key_F1, Qt::ShiftModifier);
  QWidget bare;
  bare.show();
  QTest::keyClick(&bare, Qt::Key_F1);
  EXPECT_EQ(requests().size(), 2u);
}

TEST_F(BridgeQt, FormSocketTakesItsWindowsRequests) {
  auto form = std::make_unique<QWidget>();
  setHelpContext(form.get(), 63);
  form->setProperty("HelpFile", QStringLiteral("/opt/zrq/form.chm"));
  auto* socket = new ThbFormHelpSocket(form.get(), engine);
  socket->socket().ShowWarning = false;
  socket->socket().HHAliases.Strings = {"63=log_setup.htm"};
  socket->target().HelpFile = "/opt/zrq/form.chm";
  EXPECT_EQ(HelpKeyFilter::targetOf(form.get()), &socket->target());
  form->show();
  hhrec_reset();
  QTest::keyClick(form.get(), Qt::Key_F1);
  auto calls = requests();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].command, HH_DISPLAY_TOPIC);
  EXPECT_EQ(calls[0].text, "log_setup.htm");
  EXPECT_EQ(calls[0].file, "/opt/zrq/form.chm");
  // The window is the HTML Help windows' owner.
  EXPECT_EQ(calls[0].caller, QtHelpPlatform::handleOf(form.get()));
  // Gone with its window: the application's socket answers again.
  form.reset();
  QWidget other;
  setHelpContext(&other, 30);
  other.show();
  hhrec_reset();
  QTest::keyClick(&other, Qt::Key_F1);
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_EQ(requests()[0].file, "/opt/zrq/app.chm");
}
