#include "CommBridge.h"

#include "PanelAlarms.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "PanelAlarms.h"
#include "RemoteControl.h"
#include "TKS7730Commands.h"
#include "TfrmComm.h"
#include "TfrmMain.h"
#include "TrendRecorder.h"

using zrq::comm::CommTimer;
using zrq::comm::LabelColor;

namespace zrq::app {

CommBridge::CommBridge(TfrmMain& main) : main_(main) {}

zrq::core::InstrumentState& CommBridge::instrument() { return main_.state; }

// Whatever the connection side does to the panel, a parked display tick
// follows it again (in its old rhythm) until it finds nothing left to show.
void CommBridge::clearAllSegments() {
  if (TrendRecorder* t = main_.trend()) t->readsStopped();
  main_.wakeDisplay();
  main_.clearAllSegments();
}
void CommBridge::applyMeasType() {
  main_.wakeDisplay();
  main_.applyMeasType();
}
void CommBridge::resetPortMenu() {
  main_.wakeDisplay();
  main_.resetPortMenu();
}
void CommBridge::updateDisplay() {
  main_.wakeDisplay();
  main_.updateDisplay();
}
void CommBridge::followState() {
  main_.wakeDisplay();
  main_.displayTimerTimer();
}

void CommBridge::setLblComm(LabelColor color, const std::string& text) {
  main_.wakeDisplay();
  main_.setCommLabel(QString::fromStdString(text),
                     color == LabelColor::Red ? "color: red;" : "color: green;");
}

void CommBridge::showDisconnectedCaption() { main_.showDisconnectedCaption(); }

void CommBridge::enableStreamingMenus(bool meterMenuEnabled) {
  main_.Meter1->menuAction()->setEnabled(meterMenuEnabled);
  main_.Logging1->menuAction()->setEnabled(true);
  main_.Window2->menuAction()->setEnabled(true);
}

void CommBridge::disableStreamingMenus() {
  for (QMenu* m : {main_.Meter1, main_.Logging1, main_.Window2}) m->menuAction()->setEnabled(false);
  main_.Logging->hide();
  main_.txtDuty->hide();
}

void CommBridge::setProgressPosition(int position) { main_.ProgressBar1->setValue(position); }
void CommBridge::setProgressMaximum(int maximum) { main_.ProgressBar1->setMaximum(maximum); }
void CommBridge::setZeroCalCaption(const std::string& caption) {
  main_.lblZeroCal->setText(QString::fromStdString(caption));
}
void CommBridge::showZeroCalButton() { main_.btnZeroCal->show(); }

QTimer* CommBridge::timer(CommTimer t) const {
  switch (t) {
    case CommTimer::DataPoll:
      return comm_ ? comm_->dataPollTimer : nullptr;
    case CommTimer::ReadData:
      return main_.readDataTimer;
    case CommTimer::Display:
      return main_.displayTimer;
  }
  return nullptr;
}

void CommBridge::stopTimer(CommTimer t) {
  if (t == CommTimer::ReadData)
    if (TrendRecorder* r = main_.trend()) r->readsStopped();
  if (QTimer* q = timer(t)) q->stop();
}
void CommBridge::startTimer(CommTimer t) {
  main_.wakeDisplay();
  if (QTimer* q = timer(t)) q->start();
}
void CommBridge::setTimerInterval(CommTimer t, int ms) {
  if (QTimer* q = timer(t)) q->setInterval(ms);
}

void CommBridge::setCurrPortName(const std::string& name) {
  if (comm_) comm_->currPortName->setText(QString::fromStdString(name));
}

void CommBridge::portAdded(const std::string& name, int) {
  main_.addPortMenuItem(QString::fromStdString(name));
}

void CommBridge::portHeld(const std::string& name, const std::string& why) {
  main_.addHeldPortMenuItem(QString::fromStdString(name), QString::fromStdString(why));
}

bool CommBridge::offerPortIfFree(const std::string& name) {
  return comm_ && comm_->offerIfFree(name);
}

void CommBridge::closeChildWindows() { main_.closeChildWindows(); }
bool CommBridge::helpFileIsOwn() {
  return main_.helpFile == QCoreApplication::applicationDirPath() + "/ZRQHelp.chm";
}
void CommBridge::sendHelpQuit() {
  if (main_.peers().help) main_.peers().help->quit();
}
bool CommBridge::loggingActive() { return main_.loggingActive(); }
void CommBridge::closeLogFile() { main_.stopLogging(); }
void CommBridge::hideAuxWindows() { main_.closeAuxWindows(); }
void CommBridge::closeMainWindow() { main_.FormClose(); }
void CommBridge::terminateApplication() { QCoreApplication::quit(); }

// ---- CommPeer ----

bool CommBridge::portConnected() const { return comm_ && comm_->connected(); }
bool CommBridge::interrogationAccepted() const {
  return comm_ && comm_->commands().sensorInfo().interrogated;
}
bool CommBridge::settingsAccepted() const { return main_.state.settingsAcked; }
void CommBridge::readSensorData() {
  if (comm_) comm_->readSensorData();
}
bool CommBridge::readZeroCalReply() { return comm_ && comm_->readZeroCalResult(); }
void CommBridge::stopSupervision() {
  if (comm_) comm_->dataPollTimer->stop();
}
void CommBridge::endRun() {
  if (comm_) comm_->endRun();
}
void CommBridge::connectPort(int tag) {
  if (comm_) comm_->connectPort(tag);
}
void CommBridge::disconnect() {
  if (comm_) comm_->disconnect();
}
std::string CommBridge::firmwareVersion() const {
  return comm_ ? comm_->commands().sensorInfo().firmwareVersion : std::string();
}
void CommBridge::showModal() {
  if (!comm_) return;
  comm_->setWindowModality(Qt::ApplicationModal);
  // Over the window it was asked from, not wherever the window system puts it.
  QRect r(QPoint(0, 0), comm_->frameGeometry().size());
  r.moveCenter(main_.frameGeometry().center());
  comm_->move(r.topLeft());
  comm_->show();
}

void CommBridge::readingAccepted() {
  if (TrendRecorder* t = main_.trend()) t->readingAccepted();
  if (PanelAlarms* a = main_.alarms()) a->readingAccepted();
  if (RemoteControl* r = main_.remote()) r->readingAccepted();
}

void CommBridge::zeroCalibrationEnded(bool ok, const std::string& why) {
  if (RemoteControl* r = main_.remote()) r->zeroCalibrationEnded(ok, why);
}

}  // namespace zrq::app
