#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "QtTestApp.h"
#include "AppStatus.h"
#include "DevComInterface.h"
#include "QtCommViews.h"
#include "RecordingHost.h"
#include "TKS7730Commands.h"
#include "TfrmComm.h"
#include "USB/TKS7730Stats.h"

using namespace zrq::comm;

namespace {

using zrq::test::qt::ensureApplication;

QStringList memoLines(QPlainTextEdit* memo) {
  return memo->toPlainText().split('\n', Qt::SkipEmptyParts);
}

TEST(CommWindow, HasItsComponentsAndCaption) {
  ensureApplication();
  test::RecordingHost host;
  TfrmComm w(host, nullptr, TfrmComm::kNoDiscovery);
  EXPECT_EQ(w.windowTitle(), "TKS7730 Communications Test vBeta8 - (ASCII)");
  EXPECT_EQ(w.openButton->text(), "Open");
  EXPECT_EQ(w.initButton->text(), "Init Sensor");
  EXPECT_EQ(w.getReadingButton->text(), "Get Reading");
  EXPECT_EQ(w.contRdCheckBox->text(), "Continious");
  EXPECT_FALSE(w.contRdCheckBox->isChecked());
  EXPECT_TRUE(w.portComboBox->isEditable());
  EXPECT_TRUE(w.statusMemo->isReadOnly());
  EXPECT_EQ(w.statusMemo->focusPolicy(), Qt::NoFocus);
  EXPECT_FALSE(w.dataPollTimer->isActive());
  EXPECT_EQ(w.dataPollTimer->interval(), 500);
  EXPECT_EQ(w.currPortName->text(), "currPortName");
  for (const char* name : {"currPortName", "portComboBox", "openButton", "closeButton",
                           "purgeButton", "initButton", "getReadingButton", "logRdCheckBox",
                           "contRdCheckBox", "statsStringGrid", "statusMemo", "dataPollTimer"})
    EXPECT_NE(w.findChild<QObject*>(name), nullptr) << name;
  // Ten grid rows: the header and nine port rows.
  EXPECT_EQ(w.statsStringGrid->columnCount(), 6);
  EXPECT_EQ(w.statsStringGrid->rowCount(), 9);
  EXPECT_EQ(w.statsStringGrid->horizontalHeaderItem(0)->text(), "Port Name");
  EXPECT_EQ(w.statsStringGrid->horizontalHeaderItem(5)->text(), "Total Fails");
}

TEST(CommWindow, TheStatisticsGridShowsEveryColumnWithoutScrolling) {
  ensureApplication();
  test::RecordingHost host;
  TfrmComm w(host, nullptr, TfrmComm::kNoDiscovery);
  w.commands().addPort(PortType::Serial, "/dev/ttyUSB0", -1);
  w.flushViews();
  w.show();
  QApplication::processEvents();
  QHeaderView* h = w.statsStringGrid->horizontalHeader();
  const int last = w.statsStringGrid->columnCount() - 1;
  EXPECT_LE(h->sectionPosition(last) + h->sectionSize(last),
            w.statsStringGrid->viewport()->width());
  EXPECT_GE(h->sectionSize(last), h->fontMetrics().horizontalAdvance("Total Fails"));
  EXPECT_FALSE(w.statsStringGrid->horizontalScrollBar()->isVisible());
}

TEST(CommWindow, SaysOnceWhyTheConnectionLogIsOff) {
  ensureApplication();
  const std::string saved = std::getenv("ZRQ_LOG_DIR") ? std::getenv("ZRQ_LOG_DIR") : "";
  const std::string dir = saved + "/window-log-off-" + std::to_string(::getpid());
  ::mkdir(dir.c_str(), 0700);
  ::chmod(dir.c_str(), 0777);
  ::setenv("ZRQ_LOG_DIR", dir.c_str(), 1);
  test::RecordingHost host;
  {
    TfrmComm w(host, nullptr, TfrmComm::kNoDiscovery);
    w.flushViews();
    const QStringList off = memoLines(w.statusMemo).filter("TKS7730ComTest.log is off");
    ASSERT_EQ(off.size(), 1) << w.statusMemo->toPlainText().toStdString();
    EXPECT_TRUE(off[0].contains("writable by others")) << off[0].toStdString();
  }
  ::setenv("ZRQ_LOG_DIR", saved.c_str(), 1);
  ::rmdir(dir.c_str());
}

TEST(CommWindow, PortRowsAndGrowthShowInTheTable) {
  ensureApplication();
  test::RecordingHost host;
  TfrmComm w(host, nullptr, TfrmComm::kNoDiscovery);
  for (int i = 1; i <= 10; ++i)
    ASSERT_NE(w.commands().addPort(PortType::Serial, "COM" + std::to_string(i), -1), nullptr);
  EXPECT_EQ(w.statsStringGrid->rowCount(), 10);  // grid rows 0..10
  EXPECT_EQ(w.statsStringGrid->item(9, 0)->text(), "COM10");
  EXPECT_EQ(w.statsStringGrid->item(0, 1)->text(), "CLOSED");
  EXPECT_EQ(w.statsStringGrid->item(0, 3)->text(), "0.00%");
  w.stats().showCounts(1, 200, 5);
  EXPECT_EQ(w.statsStringGrid->item(0, 3)->text(), "97.50%");
  EXPECT_EQ(host.count("portAdded COM10 9"), 1);
}

TEST(CommWindow, LinesFromOtherThreadsArriveInOrder) {
  ensureApplication();
  QPlainTextEdit memo;
  memo.show();
  QtStatusMemo view(&memo);
  AppStatus status(&view);
  status.add("ui 1");
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) status.add("worker " + std::to_string(i));
  });
  worker.join();
  EXPECT_EQ(memoLines(&memo).size(), 1);  // not yet handed over
  status.add("ui 2");                     // drains what waited first
  QApplication::processEvents();
  const QStringList lines = memoLines(&memo);
  ASSERT_EQ(lines.size(), 52);
  EXPECT_EQ(lines.front(), "ui 1");
  for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[i + 1], QString("worker %1").arg(i));
  EXPECT_EQ(lines.back(), "ui 2");
  status.clear();
  EXPECT_TRUE(memo.toPlainText().isEmpty());
}

TEST(CommWindow, LinesSaidWhileHiddenAppearInOrderWhenShown) {
  ensureApplication();
  QPlainTextEdit memo;
  memo.setMaximumBlockCount(3);
  QtStatusMemo view(&memo);
  AppStatus status(&view);
  for (int i = 0; i < 5; ++i) status.add("line " + std::to_string(i));
  EXPECT_TRUE(memo.toPlainText().isEmpty());
  memo.show();
  EXPECT_EQ(memoLines(&memo), QStringList({"line 2", "line 3", "line 4"}));
  status.add("line 5");
  EXPECT_EQ(memoLines(&memo).back(), "line 5");
  memo.hide();
  status.add("after");
  status.clear();
  status.add("fresh");
  view.flush();
  EXPECT_EQ(memoLines(&memo), QStringList({"fresh"}));
}

TEST(CommWindow, CellsFromOtherThreadsKeepTheLastWrite) {
  ensureApplication();
  QTableWidget table(9, 6);
  QtStatsGrid grid(&table);
  TKS7730Stats stats(&grid);
  const int row = stats.addPortRow("COM1");
  std::thread worker([&] { stats.showStatus(row, "CONT RD"); });
  worker.join();
  stats.showStatus(row, "INIT");
  QApplication::processEvents();
  EXPECT_EQ(table.item(0, 1)->text(), "INIT");
}

TEST(CommWindow, ButtonsActOnTheSelectedPortOrOnAll) {
  ensureApplication();
  test::RecordingHost host;
  TfrmComm w(host, nullptr, TfrmComm::kNoDiscovery);
  w.commands().addPort(PortType::Serial, "COM1", -1);
  w.commands().addPort(PortType::Serial, "COM2", -1);
  w.portComboBox->addItem("COM1");
  w.portComboBox->addItem("COM2");
  w.portComboBox->setCurrentText("COM2");
  EXPECT_EQ(w.currPortName->text(), "COM2");
  EXPECT_EQ(w.commands().selectedPort(), w.commands().getPort(1));
  w.purgeButton->click();
  w.flushViews();
  EXPECT_TRUE(memoLines(w.statusMemo).contains("COM2--> \tCannot purge - port is not open!"));
  EXPECT_FALSE(memoLines(w.statusMemo).contains("COM1--> \tCannot purge - port is not open!"));
  w.portComboBox->setEditText("All Ports");
  EXPECT_EQ(w.currPortName->text(), "All Ports");
  EXPECT_EQ(w.commands().selectedPort(), nullptr);
  w.initButton->click();
  w.flushViews();
  EXPECT_TRUE(memoLines(w.statusMemo).contains("COM1--> \tCannot init - port is not open!"));
  EXPECT_TRUE(memoLines(w.statusMemo).contains("COM2--> \tCannot get SN - port is not open!"));
  w.logRdCheckBox->click();
  EXPECT_TRUE(w.commands().getPort(0)->logRd() && w.commands().getPort(1)->logRd());
  w.closeButton->click();
  EXPECT_FALSE(w.logRdCheckBox->isChecked());
}

TEST(CommWindow, MemoKeepsTheLatestLinesOnly) {
  ensureApplication();
  test::RecordingHost host;
  TfrmComm w(host, nullptr, TfrmComm::kNoDiscovery);
  for (int i = 0; i < 2500; ++i) w.appStatus().add("line " + std::to_string(i));
  w.flushViews();
  EXPECT_LE(w.statusMemo->blockCount(), 2000);
  EXPECT_EQ(memoLines(w.statusMemo).back(), "line 2499");
}

}  // namespace
