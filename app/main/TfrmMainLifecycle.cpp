// Activation notice, the Comm menu's port items, the remaining menu actions
// and the orderly end of the run.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QCoreApplication>
#include <QTimer>
#include <exception>

#include "TfrmAbout.h"
#include "TfrmMain.h"
#include "RemoteControl.h"
#include "TfrmRemote.h"
#include "frame/Version.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;

namespace {

constexpr const char* kNoticeCaption = "Select port from Comm menu.";
constexpr const char* kZeroCalCloseText =
    "Closing the ZRQ application\r\nnow may corrupt the 7730\r\ncalibration constants.\r\nDo "
    "you want the ZRQ to close?\r\n";

}  // namespace

void TfrmMain::setAuxWindows(QWidget* fwdMeter, QWidget* rflMeter, QWidget* peak, QWidget* burst) {
  auxWindows_[0] = fwdMeter;
  auxWindows_[1] = rflMeter;
  auxWindows_[2] = peak;
  auxWindows_[3] = burst;
}

void TfrmMain::setTrend(zrq::app::TrendRecorder* recorder, QWidget* window) {
  trend_ = recorder;
  trendWindow_ = window;
}

// ---- Activation ---------------------------------------------------------

void TfrmMain::trackActivation() {
  // The notice belongs to the main window becoming the active one of our
  // windows (at the first show, or coming back from a meter window), not to
  // the application regaining focus or a message box closing over it.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget*) {
    QWidget* now = QApplication::activeWindow();
    if (!now) return;
    QWidget* before = lastActive_;
    lastActive_ = now;
    if (now != this || before == this) return;
    if (activated_ && (!before || qobject_cast<QMessageBox*>(before))) return;
    activated_ = true;
    QTimer::singleShot(0, this, [this] {
      if (!shutDown_) FormActivate();
    });
  });
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The first notice belongs to the start, whether or not the window manager
  // makes this window the active one (it may keep focus elsewhere, or a box
  // may come first).
  if (!activated_)
    QTimer::singleShot(0, this, [this] {
      if (!activated_ && !shutDown_) FormActivate();
    });
}

void TfrmMain::FormActivate() {
  activated_ = true;
  if (peers_.comm && peers_.comm->portConnected()) return;
  if (zrq::ui::showMessage(zrq::frame::kOwnershipNotice, kNoticeCaption,
                           zrq::ui::MsgButtons::OkCancel) != zrq::ui::MsgResult::Ok) {
    shutdown();
    return;
  }
  setCommLabel("No Connection", "color: red;");
}

// ---- Comm menu ------------------------------------------------------------

QAction* TfrmMain::portMenuItem(const QString& portName) const {
  for (QAction* a : portMenuItems())
    if (a->objectName() == portName) return a;
  return nullptr;
}

QList<QAction*> TfrmMain::portMenuItems() const {
  QList<QAction*> ports = Setup1->actions();
  ports = ports.mid(0, ports.indexOf(remoteSeparator_));
  for (QAction* held : heldPortItems_) ports.removeOne(held);
  return ports;
}

void TfrmMain::setConnectedCaptions(const QString& caption) {
  setWindowTitle(caption);
  for (const QPointer<QWidget>& w : auxWindows_)
    if (w) w->setWindowTitle(caption);
  zrq::ui::setApplicationTitle(caption.toStdString());
}

void TfrmMain::showDisconnectedCaption() {
  setWindowTitle(QString::fromLatin1(zrq::frame::kDisconnectedCaption));
  zrq::ui::setApplicationTitle(zrq::frame::kAppTitle);
}

void TfrmMain::Setup1ItemsClick(QAction* item) {
  if (!item) return;
  const QString portName = item->objectName();
  if (!item->isChecked()) {
    for (QAction* a : portMenuItems()) a->setEnabled(false);
    item->setChecked(true);
    item->setEnabled(true);
    state.commState = CommState::NoConnection;
    prevCommState = CommState::Connecting;
    wakeDisplay();
    setCommLabel("  Connecting", "color: red;");
    applyMeasType();
    if (peers_.comm) peers_.comm->connectPort(item->data().toInt());
    // The connect may have ended the run (fatal close, window closed meanwhile).
    if (shutDown_) return;
    if (peers_.comm && peers_.comm->portConnected()) {
      setConnectedCaptions(portName + QStringLiteral(" SN ") +
                           QString::fromStdString(state.sensorSerial));
      // A device path gives its last part: "Log/dev/ttyUSB0.csv" is no file name.
      const QString shortName = portName.section(QLatin1Char('/'), -1);
      dlgSaveLog->selectFile(QStringLiteral("Log") + shortName + QStringLiteral(".csv"));
      if (aboutWindow_) aboutWindow_->lbl7730->show();
    }
    return;
  }
  item->setChecked(false);
  for (QAction* a : portMenuItems()) a->setEnabled(true);
  stopLogging();  // a log belongs to the connection it was started on
  if (peers_.comm) peers_.comm->disconnect();
  showDisconnectedCaption();
  if (aboutWindow_) aboutWindow_->lbl7730->hide();
}

// ---- Other menu actions ---------------------------------------------------

void TfrmMain::SetUp2Click() {
  if (!peers_.log) return;
  try {
    if (peers_.log->runSetupDialog()) logTickCounter = peers_.log->sampleTicks() - 1;
  } catch (const std::exception&) {
    peers_.log->resetSampleTime();
    zrq::ui::showMessage("An entry error was encoutered.", "Time Entry Error");
  }
}

void TfrmMain::setRemote(zrq::app::RemoteControl* remote) {
  remote_ = remote;
  RemoteControl1->setEnabled(remote != nullptr);
  if (!remote) return;
  connect(remote, &zrq::app::RemoteControl::clientsChanged, this, &TfrmMain::showRemoteClients);
  showRemoteClients(remote->clients());
}

void TfrmMain::RemoteControl1Click() {
  if (!remote_) return;
  TfrmRemote dialog(*remote_, this);
  dialog.exec();
}

void TfrmMain::NewWindow1Click() {
  const QRect f = frameGeometry();
  const QStringList args{QStringLiteral("--beside"),
                         QStringLiteral("%1,%2").arg(f.right() + 1).arg(f.top())};
  const QString program = QCoreApplication::applicationFilePath();
  const bool started =
      startProgram ? startProgram(program, args) : QProcess::startDetached(program, args);
  if (!started)
    zrq::ui::showNotice("Another ZRQ window could not be started (" + program.toStdString() + ").",
                        "New Window");
}

void TfrmMain::showRemoteClients(int count) {
  lblRemote->setVisible(count > 0);
  lblRemote->setToolTip(count == 1
                            ? QStringLiteral("1 script is connected (Comm, Remote Control...)")
                            : QStringLiteral("%1 scripts are connected (Comm, Remote "
                                             "Control...)")
                                  .arg(count));
}

void TfrmMain::BXTToolHelp1Click() {
  if (peers_.help) peers_.help->showTopic(helpFile.toStdString(), "TApplication_HelpJump");
}

void TfrmMain::Exit1Click() {
  closeChildWindows();
  if (peers_.comm) peers_.comm->disconnect();
  shutdown();
}

// ---- End of the run -------------------------------------------------------

void TfrmMain::closeChildWindows() {
  const QObjectList kids = children();
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    auto* w = qobject_cast<QWidget*>(*it);
    if (w && w->isWindow() && w->isVisible()) w->close();
  }
}

void TfrmMain::closeAuxWindows() {
  for (const QPointer<QWidget>& w : auxWindows_) {
    if (w && w->isVisible()) {
      w->hide();
      w->close();
    }
  }
}

void TfrmMain::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  closeChildWindows();
  if (peers_.help && helpFile == QCoreApplication::applicationDirPath() + "/ZRQHelp.chm")
    peers_.help->quit();
  stopLogging();
  closeAuxWindows();
  for (QTimer* t : {displayTimer, readDataTimer, log500msTick}) t->stop();
  if (peers_.comm) peers_.comm->endRun();
  closing_ = true;
  close();
  QCoreApplication::quit();
}

bool TfrmMain::FormCloseQuery() {
  if (state.zeroCalRequested &&
      zrq::ui::showMessage(kZeroCalCloseText, "Zero Calibration", zrq::ui::MsgButtons::YesNo) ==
          zrq::ui::MsgResult::No)
    return false;
  stopLogging();
  if (peers_.comm && peers_.comm->portConnected()) peers_.comm->disconnect();
  shutdown();
  return true;
}

void TfrmMain::FormClose() {
  stopLogging();
  shutdown();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // shutdown() closes the window itself: that close is already decided.
  if (closing_ || FormCloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}
