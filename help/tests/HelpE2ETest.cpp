// The program's help from the user's side: Help > ZRQ Help and F1 open the
// real viewer (libhhctrl.so beside the program) on the real ZRQHelp.chm.
// With ZRQ_HELP_SHOTS=DIR it also saves pictures of the viewer there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "QtTestApp.h"
#include "HelpContexts.h"
#include "HtmlHelpEngine.h"
#include "PanelAlarms.h"
#include "TfrmAbout.h"
#include "TfrmAlarms.h"
#include "TfrmFilterValue.h"
#include "TfrmMain.h"
#include "TfrmMainHelp.h"
#include "ThbAppHelpSocket.h"
#include "uiface/MsgBox.h"

namespace {

using zrq::test::qt::ensureApplication;

QMainWindow* viewer() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("ZRQHelpViewer") && w->isVisible())
      return static_cast<QMainWindow*>(w);
  return nullptr;
}

std::string topicShown() {
  auto* v = viewer();
  auto* b = v ? v->findChild<QTextBrowser*>(QStringLiteral("topic")) : nullptr;
  return b ? b->source().path().toStdString() : std::string();
}

void shot(const char* name) {
  const QByteArray dir = qgetenv("ZRQ_HELP_SHOTS");
  if (dir.isEmpty() || !viewer()) return;
  QMainWindow* v = viewer();
  v->resize(1000, 680);
  QTest::qWait(200);  // let the window system map and paint it
  const QString file = QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name);
  ASSERT_TRUE(v->grab().save(file)) << file.toStdString();
  std::printf("screenshot: %s\n", file.toLocal8Bit().constData());
}

class ProgramHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureApplication();
    main = std::make_unique<TfrmMain>();
    main->displayTimer->stop();
    about = new TfrmAbout(main.get());
    filter = new TfrmFilterValue(main.get(), main.get());
    main->setDialogs(filter, about);
    help = std::make_unique<zrq::app::MainHelp>(*main);
    zrq::app::PanelPeers peers;
    peers.help = help.get();
    main->setPeers(peers);
    main->show();
  }
  void TearDown() override {
    if (!main->shutDown()) main->FormClose();
    main.reset();
    help.reset();
  }
  zrq::ui::ScopedScriptedMessageBoxes boxes;
  std::unique_ptr<TfrmMain> main;
  TfrmAbout* about = nullptr;
  TfrmFilterValue* filter = nullptr;
  std::unique_ptr<zrq::app::MainHelp> help;
};

}  // namespace

TEST_F(ProgramHelp, MenuOpensContentsAtDefaultTopic) {
  ASSERT_EQ(main->helpFile, QCoreApplication::applicationDirPath() + "/ZRQHelp.chm");
  EXPECT_EQ(viewer(), nullptr);
  main->BXTToolHelp1->trigger();
  ASSERT_NE(viewer(), nullptr) << "no viewer after Help > ZRQ Help";
  EXPECT_EQ(topicShown(), "/index.htm");
  EXPECT_EQ(viewer()->findChild<QTabWidget*>(QStringLiteral("tabs"))->currentIndex(), 0);
  EXPECT_TRUE(boxes.shown().empty());
  // Shutting down tells the viewer to quit.
  main->FormClose();
  EXPECT_EQ(viewer(), nullptr);
}

TEST_F(ProgramHelp, F1OpensEachWindowsTopic) {
  QTest::keyClick(main.get(), Qt::Key_F1);
  ASSERT_NE(viewer(), nullptr);
  EXPECT_EQ(topicShown(), "/front_panel.htm");
  shot("help-topic.png");
  about->show();
  QTest::keyClick(about, Qt::Key_F1);
  EXPECT_EQ(topicShown(), "/about.htm");
  filter->show();
  QTest::keyClick(filter, Qt::Key_F1);
  EXPECT_EQ(topicShown(), "/filter.htm");
  EXPECT_EQ(zrq::app::MainHelp::contextOf("frmComm"), zrq::help::HC_CONNECTION_WINDOW);
  EXPECT_EQ(zrq::app::MainHelp::contextOf("frmLogFreq"), 63);
  EXPECT_EQ(zrq::app::MainHelp::contextOf("frmdisplayBurst"), 71);
  // Other keys are left alone.
  QTest::keyClick(main.get(), Qt::Key_F2);
  EXPECT_EQ(topicShown(), "/filter.htm");
  // In a modal dialog: its topic, in a viewer the dialog does not block.
  main->setAlarms(new zrq::app::PanelAlarms(*main));
  main->Alarms1->trigger();  // Window > Alarms...
  auto* alarms = main->findChild<TfrmAlarms*>();
  ASSERT_TRUE(alarms && alarms->isVisible());
  QTest::keyClick(alarms, Qt::Key_F1);
  EXPECT_EQ(topicShown(), "/trend.htm");
  EXPECT_EQ(QApplication::activeModalWidget(), viewer());
  viewer()->close();
  alarms->reject();
}

TEST_F(ProgramHelp, SearchTabFromTheSocket) {
  help->socket().HHDefaultSearchQuery = "zero calibration";
  help->socket().ShowSearchTab();
  ASSERT_NE(viewer(), nullptr);
  auto* edit = viewer()->findChild<QLineEdit*>(QStringLiteral("searchEdit"));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text().toStdString(), "zero calibration");
  QTest::keyClick(edit, Qt::Key_Return);
  auto* results = viewer()->findChild<QListWidget*>(QStringLiteral("searchResults"));
  ASSERT_GE(results->count(), 1);
  bool zeroPage = false;
  for (int i = 0; i < results->count(); ++i)
    zeroPage |= results->item(i)->data(Qt::UserRole).toString() == QLatin1String("/zero_cal.htm");
  EXPECT_TRUE(zeroPage);
  for (int i = 0; i < results->count(); ++i)
    if (results->item(i)->data(Qt::UserRole).toString() == QLatin1String("/zero_cal.htm"))
      emit results->itemActivated(results->item(i));
  EXPECT_EQ(topicShown(), "/zero_cal.htm");
  shot("help-search.png");
}

TEST_F(ProgramHelp, IndexTabFromTheSocket) {
  help->socket().HHDefaultIndexKeyword = "ze";
  help->socket().ShowIndexTab();
  ASSERT_NE(viewer(), nullptr);
  auto* list = viewer()->findChild<QListWidget*>(QStringLiteral("indexList"));
  ASSERT_NE(list, nullptr);
  QStringList shown;
  for (int i = 0; i < list->count(); ++i) {
    const QString k = list->item(i)->text();
    EXPECT_EQ(list->item(i)->isHidden(), !k.startsWith(QLatin1String("ze"), Qt::CaseInsensitive))
        << k.toStdString();
    if (!list->item(i)->isHidden()) shown << k;
  }
  EXPECT_TRUE(shown.contains(QStringLiteral("zero")));
  EXPECT_TRUE(shown.contains(QStringLiteral("zero calibration")));
  EXPECT_LT(shown.size(), list->count());
  auto* edit = viewer()->findChild<QLineEdit*>(QStringLiteral("indexEdit"));
  QTest::keyClicks(edit, "ro c");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(topicShown(), "/zero_cal.htm");
  shot("help-index.png");
}
