#include "TfrmMainLog.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>

#include "TfrmLogFreq.h"
#include "TfrmMain.h"
#include "core/PanelValues.h"
#include "uiface/MsgBox.h"

namespace zrq::app {

TfrmMainLog::TfrmMainLog(TfrmMain& main, TfrmLogFreq& setup)
    : main_(main), setup_(setup), setupAlive_(&setup) {
  setup_.measTypeSource = [this] { return main_.state.measType; };
  setup_.fwdFullScaleSource = [this] { return static_cast<double>(main_.state.fwdFullScale); };
  setup_.storeIntervalTicks = [this](int ticks) { session_.triggers().setInterval(ticks); };
  session_.triggers().setInterval(setup_.intervalTicks());
  connections_.push_back(
      QObject::connect(main_.LogFile1, &QAction::triggered, &main_, [this] { LogFile1Click(); }));
  // A checkable action has already flipped when it fires: put it back, the
  // handler decides.
  connections_.push_back(
      QObject::connect(main_.Active1, &QAction::triggered, &main_, [this](bool checked) {
        main_.Active1->setChecked(!checked);
        Active1Click();
      }));
  connections_.push_back(QObject::connect(main_.log500msTick, &QTimer::timeout, &main_,
                                          [this] { log500msTickTimer(); }));
}

TfrmMainLog::~TfrmMainLog() {
  for (const QMetaObject::Connection& c : connections_) QObject::disconnect(c);
  if (!setupAlive_) return;
  setup_.measTypeSource = nullptr;
  setup_.fwdFullScaleSource = nullptr;
  setup_.storeIntervalTicks = nullptr;
}

void TfrmMainLog::LogFile1Click() {
  QFileDialog& dlg = *main_.dlgSaveLog;
  std::optional<QString> path;
  if (saveDialogAnswer) {
    path = saveDialogAnswer(dlg);
  } else if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) {
    path = dlg.selectedFiles().constFirst();
  }
  if (path && !path->isEmpty()) chooseLogFile(*path);
}

void TfrmMainLog::chooseLogFile(const QString& path) {
  session_.choose(path.toStdString(), setup_.intervalTicks());
}

void TfrmMainLog::Active1Click() {
  if (session_.active() || main_.Active1->isChecked()) {
    main_.Active1->setChecked(false);
    main_.log500msTick->stop();
    main_.Logging->hide();
    closeLogFile();
    main_.logTickCounter = 0;
    return;
  }
  if (!session_.chosen()) {
    ui::showMessage(kNoLogFileText, kNoLogFileCaption);
    return;
  }
  main_.Active1->setChecked(true);
  main_.log500msTick->start();
  main_.Logging->show();
  const zrq::core::LogFileResult r = session_.activate();
  if (r) {
    main_.logTickCounter = session_.triggers().tickCount();
    return;
  }
  // Nothing would be written: say so and put the menu state back.
  main_.Active1->setChecked(false);
  main_.log500msTick->stop();
  main_.Logging->hide();
  ui::showMessage("The log file could not be opened; logging is off.\r\n" + r.message,
                  kLogOpenErrorCaption, ui::MsgButtons::Ok, ui::MsgIcon::Error);
}

bool TfrmMainLog::openLogFile() { return session_.activate().ok; }

void TfrmMainLog::closeLogFile() {
  session_.close();
  main_.logTickCounter = 0;
  // Callers without a display tick to follow (a lost connection) leave no
  // tick counting for nothing.
  main_.log500msTick->stop();
}

void TfrmMainLog::log500msTickTimer() {
  session_.sampleTick();
  main_.logTickCounter = session_.triggers().tickCount();
}

void TfrmMainLog::checkLogTriggers() {
  if (!session_.active()) {
    session_.clearLatches();
    main_.Logging->hide();
    main_.LogFile1->setEnabled(true);
    main_.log500msTick->stop();
  }
  if (!session_.active()) return;
  main_.LogFile1->setEnabled(false);

  // From the state itself, as zrq-log computes it, not from what the display cached.
  const zrq::core::LogTickResult r =
      session_.tick(setup_.settings(), main_.state, zrq::core::logSnapshot(main_.state),
                    zrq::core::LogDateTime::now(), zrq::core::regionalDateOrder(), main_.clockMs());
  main_.logTickCounter = session_.triggers().tickCount();
  if (r.error) writeFailed();
  if (r.badLimit) ui::showNotice(r.badLimit->message, kLogLimitCaption);
}

void TfrmMainLog::writeFailed() {
  // State first: ticks keep running under the modal box.
  closeLogFile();
  main_.Active1->setChecked(false);
  main_.Logging->hide();
  ui::showNotice(kLoggingErrorText, kLoggingErrorCaption);
}

void TfrmMainLog::logEvent(const std::string& text) {
  if (!session_.active()) return;
  const zrq::core::LogTickResult r = session_.logEvent(main_.state, zrq::core::LogDateTime::now(),
                                                       zrq::core::regionalDateOrder(), text);
  if (r.error) writeFailed();
}

int TfrmMainLog::triggerIndex() const { return setup_.triggerIndex(); }

bool TfrmMainLog::runSetupDialog() {
  const bool ok = setup_.exec() == QDialog::Accepted;
  if (ok) session_.setupConfirmed(setup_.intervalTicks());
  return ok;
}

int TfrmMainLog::sampleTicks() const { return session_.triggers().intervalTicks(); }

void TfrmMainLog::resetSampleTime() { setup_.setSampleTime(1); }

}  // namespace zrq::app
