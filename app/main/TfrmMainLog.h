// The main window's CSV log writer: the Logging menu's items, the 500 ms log
// tick and the trigger test after each display refresh. The file, the
// triggers and the records are the Qt-free LogSession's; this class joins
// them to the menus, the set-up dialog and the message boxes.
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "PanelPeers.h"
#include "core/LogSession.h"

class QFileDialog;
class TfrmMain;
class TfrmLogFreq;

namespace zrq::app {

inline constexpr const char* kNoLogFileText = "Open log file before\r\nactivating logging.\r\n";
inline constexpr const char* kNoLogFileCaption = "No log file";
inline constexpr const char* kLoggingErrorText = "Error during logging.  Log file deactivated.";
inline constexpr const char* kLoggingErrorCaption = "Logging Error!";
inline constexpr const char* kLogOpenErrorCaption = "Log File Error";
inline constexpr const char* kLogLimitCaption = "Log Trigger Limit";

class TfrmMainLog : public LogPeer {
 public:
  // Both must outlive every use of the writer (the writer may outlive them
  // when only destroyed). Connects the Logging menu and the log tick.
  TfrmMainLog(TfrmMain& main, TfrmLogFreq& setup);
  ~TfrmMainLog() override;
  TfrmMainLog(const TfrmMainLog&) = delete;
  TfrmMainLog& operator=(const TfrmMainLog&) = delete;

  // Answers the save dialog in place of the user (nullopt: Cancel); unset,
  // the dialog runs modally.
  std::function<std::optional<QString>(QFileDialog&)> saveDialogAnswer;

  void LogFile1Click();
  // Logging on or off; a file that cannot be opened is reported and the menu
  // state put back.
  void Active1Click();
  bool openLogFile();
  void log500msTickTimer();
  // What confirming the save dialog with this path does.
  void chooseLogFile(const QString& path);

  // ---- LogPeer ----
  int triggerIndex() const override;
  void checkLogTriggers() override;
  bool active() const override { return session_.active(); }
  void closeLogFile() override;
  bool runSetupDialog() override;
  int sampleTicks() const override;
  void resetSampleTime() override;
  void logEvent(const std::string& text) override;

  const zrq::core::LogSession& session() const { return session_; }

 private:
  void writeFailed();

  TfrmMain& main_;
  TfrmLogFreq& setup_;
  zrq::core::LogSession session_;
  std::vector<QMetaObject::Connection> connections_;
  // The dialog may be gone first (freed with the main window at the end).
  QPointer<TfrmLogFreq> setupAlive_;
};

}  // namespace zrq::app
