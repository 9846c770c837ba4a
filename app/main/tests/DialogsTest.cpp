// Filter dialog, About window and the menu bar as a person finds them.
#include <QCoreApplication>
#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdlib>

#include "PanelTestSupport.h"
#include "TfrmLogFreq.h"
#include "frame/Version.h"

using zrq::core::CommState;

namespace zrq::test {
namespace {

TEST_F(PanelTest, FilterChoiceSetsTheFilterAndAsksForASettingsResend) {
  EXPECT_FLOAT_EQ(w->state.filterHz, 4500);
  EXPECT_EQ(filter->itemIndex(), 0);
  EXPECT_EQ(filter->windowTitle(), "Select");
  EXPECT_EQ(filter->RadioGroup1->title(), "Select Filter Value");
  const std::pair<int, float> cases[] = {{2, 10000}, {1, 400}, {0, 4500}};
  for (auto [index, hz] : cases) {
    w->state.settingsChanged = false;
    w->btnFilterClick();
    EXPECT_TRUE(filter->isVisible());
    filter->setItemIndex(index);
    filter->btnAboutOK->click();
    EXPECT_FLOAT_EQ(w->state.filterHz, hz);
    EXPECT_TRUE(w->state.settingsChanged);
    EXPECT_FALSE(filter->isVisible());
  }
  filter->setItemIndex(-1);  // nothing chosen: the filter stays
  w->state.filterHz = 400;
  filter->btnAboutOKClick();
  EXPECT_FLOAT_EQ(w->state.filterHz, 400);
  w->btnFilterClick();
  w->btnFilterClick();  // second click hides it again
  EXPECT_FALSE(filter->isVisible());
}

TEST_F(PanelTest, AboutShowsVersionAndDateWithTheFirmwareLineHidden) {
  EXPECT_EQ(about->windowTitle(), "7730  ZRQ");
  EXPECT_EQ(about->lblVersion->text(), "Version: X.X.X.X");
  QTimer::singleShot(0, about, [this] {
    EXPECT_TRUE(about->isVisible());
    about->btnAboutOK->click();
  });
  w->About1Click();
  EXPECT_EQ(about->result(), QDialog::Accepted);
  EXPECT_EQ(about->lblVersion->text(), "V3.1.4.3");
  EXPECT_EQ(about->lblDate->text(), "05/10/2004");
  EXPECT_EQ(about->lbl7730->text(), "7730 Firmware Version 1.07");
  EXPECT_FALSE(about->lbl7730->isVisibleTo(about));
  for (QLabel* l : about->lblLegal) EXPECT_FALSE(l->text().isEmpty());

  int opened = 0;
  about->Button1->click();  // no connection window yet: nothing happens
  about->showConnectionWindow = [&] { ++opened; };
  about->Button1->click();
  EXPECT_EQ(opened, 1);
}

// On the test screen (800 x 600: the height step shrinks more than the width
// step, as on 1024 x 768) every text stays whole inside the window, OK sits
// below the last line and the hidden button can still be clicked.
TEST_F(PanelTest, AboutClipsNoTextWhereTheScreenIsLessTallThanWide) {
  ASSERT_FALSE(std::getenv("ZRQ_SCREEN_SCALE"));
  TfrmAbout a;
  a.prepare("1.40");
  a.lbl7730->show();
  const QRect inside = a.rect();
  for (QLabel* l : a.findChildren<QLabel*>()) {
    const std::string name = l->objectName().toStdString();
    EXPECT_GE(l->width(), l->sizeHint().width()) << name;
    EXPECT_TRUE(inside.contains(l->geometry())) << name;
  }
  EXPECT_GT(a.lblDate->x(), a.lblVersion->x() + a.lblVersion->width()) << "date over version";
  EXPECT_GE(a.btnAboutOK->y(), a.lblLegal[4]->y() + a.lblLegal[4]->height());
  EXPECT_TRUE(inside.contains(a.btnAboutOK->geometry()));
  EXPECT_GE(a.Button1->width(), 2);
  EXPECT_GE(a.Button1->height(), 2);
}

// On a wide screen the texts grow with their boxes, the buttons' too, and
// About is no larger than what it holds.
TEST_F(PanelTest, AboutAndLogSetUpScaleTheirTextsWithTheirBoxes) {
  auto px = [](QWidget* w) { return QFontInfo(w->font()).pixelSize(); };
  ::setenv("ZRQ_SCREEN_SCALE", "1", 1);
  TfrmLogFreq plain;
  ::setenv("ZRQ_SCREEN_SCALE", "1.875", 1);
  TfrmAbout a;
  TfrmLogFreq setUp;
  ::unsetenv("ZRQ_SCREEN_SCALE");
  EXPECT_GT(px(a.btnAboutOK), px(plain.btnOK) * 3);  // by width and again by height
  EXPECT_GT(px(setUp.btnOK), px(plain.btnOK) * 1.7);
  const QList<QRadioButton*> radios = setUp.findChildren<QRadioButton*>();
  const QList<QRadioButton*> plainRadios = plain.findChildren<QRadioButton*>();
  ASSERT_EQ(radios.size(), plainRadios.size());
  for (int i = 0; i < radios.size(); ++i)
    EXPECT_GT(px(radios[i]), px(plainRadios[i]) * 1.7) << radios[i]->text().toStdString();
  int right = 0;
  for (QLabel* l : a.findChildren<QLabel*>()) right = std::max(right, l->geometry().right());
  const int okBottom = a.btnAboutOK->geometry().bottom();
  EXPECT_LT(a.width() - right, a.btnAboutOK->width()) << "empty right part";
  EXPECT_LT(a.height() - okBottom, a.btnAboutOK->height()) << "empty lower part";
}

TEST_F(PanelTest, AboutsHiddenButtonOpensTheConnectionWindow) {
  ASSERT_EQ(comm.modalShows, 0);
  about->Button1->click();
  EXPECT_EQ(comm.modalShows, 1);
}

TEST_F(PanelTest, MenuBarHasItsItemsCaptionsHintsAndInitialStates) {
  QStringList captions;
  for (QAction* a : w->menuBar()->actions()) captions << a->text();
  EXPECT_EQ(captions, (QStringList{"&File", "&Meter", "&Logging", "&Comm", "&Window", "&Help"}));
  auto items = [](QMenu* m) {
    QStringList l;
    for (QAction* a : m->actions()) l << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return l;
  };
  EXPECT_EQ(items(w->File1), QStringList{"E&xit"});
  EXPECT_EQ(items(w->Meter1), (QStringList{"&Forward", "&Reflected"}));
  EXPECT_EQ(items(w->Logging1), (QStringList{"&Active?", "-", "S&et Up", "L&og File..."}));
  EXPECT_EQ(items(w->Window2),
            (QStringList{"&PeakPower", "&Burst Power", "&Trend", "-", "&Alarms..."}));
  EXPECT_EQ(items(w->Help1), (QStringList{"&ZRQ Help", "-", "A&bout"}));
  EXPECT_EQ(w->LogFile1->toolTip(), "Use .csv extension to log directly to MS Excel");
  EXPECT_EQ(w->BXTToolHelp1->toolTip(), "Help File");
  EXPECT_TRUE(w->File1->menuAction()->isEnabled());
  EXPECT_FALSE(w->Meter1->menuAction()->isEnabled());
  EXPECT_FALSE(w->Logging1->menuAction()->isEnabled());
  EXPECT_TRUE(w->Setup1->menuAction()->isEnabled());
  EXPECT_FALSE(w->Window2->menuAction()->isEnabled());
  EXPECT_TRUE(w->Help1->menuAction()->isEnabled());
  EXPECT_EQ(w->windowTitle(), "7730 ZRQ V3.1.4.3");
  EXPECT_EQ(w->btnType->toolTip(), "Display Next Power Type");
  EXPECT_EQ(w->ProgressBar1->toolTip(), "Indicates Input Average Power As % Full Scale");

  QAction* a = w->addPortMenuItem("COM1");
  QAction* b = w->addPortMenuItem("/dev/ttyUSB0");
  EXPECT_EQ(a->data().toInt(), 0);
  EXPECT_EQ(b->data().toInt(), 1);
  EXPECT_EQ(items(w->Setup1),
            (QStringList{"COM1", "/dev/ttyUSB0", "-", "&Remote Control...", "&New Window"}));
  EXPECT_TRUE(w->helpFile.endsWith("/ZRQHelp.chm"));
}

TEST_F(PanelTest, NewWindowStartsAnotherPanelJustRightOfThisOne) {
  QString program;
  QStringList args;
  w->startProgram = [&](const QString& p, const QStringList& a) {
    program = p;
    args = a;
    return true;
  };
  w->move(40, 30);
  w->NewWindow1->trigger();
  EXPECT_EQ(program, QCoreApplication::applicationFilePath());
  const QRect f = w->frameGeometry();
  EXPECT_EQ(args,
            (QStringList{"--beside", QStringLiteral("%1,%2").arg(f.right() + 1).arg(f.top())}));
}

TEST_F(PanelTest, ResetPortMenuReleasesEveryPortAndDarkensThePanel) {
  QAction* a = w->addPortMenuItem("COM1");
  QAction* b = w->addPortMenuItem("COM2");
  startStreaming();
  a->setChecked(true);
  b->setEnabled(false);
  w->setWindowTitle("COM1 SN 1234");
  about->lbl7730->show();
  w->resetPortMenu();
  EXPECT_FALSE(a->isChecked());
  EXPECT_TRUE(b->isEnabled());
  EXPECT_EQ(w->state.commState, CommState::NoConnection);
  EXPECT_EQ(w->windowTitle(), "7730 ZRQ V3.1.4.3");
  EXPECT_FALSE(about->lbl7730->isVisibleTo(about));
  comm.connected = comm.interrogated = comm.settingsOk = false;
  tick();
  EXPECT_TRUE(lit("segNoSensor"));
  EXPECT_EQ(text(w->lblComm), "No Connection");
  EXPECT_FALSE(w->btnType->isEnabled());
}

TEST_F(PanelTest, ReadDataTimerFetchesThroughTheConnectionWindow) {
  EXPECT_FALSE(w->readDataTimer->isActive());
  EXPECT_EQ(w->readDataTimer->interval(), 600);
  EXPECT_EQ(w->displayTimer->interval(), 250);
  EXPECT_EQ(w->log500msTick->interval(), 500);
  w->readDataTimerTimer();
  EXPECT_EQ(comm.readCalls, 1);
}

}  // namespace
}  // namespace zrq::test
