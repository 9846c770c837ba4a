// The connection window: a communications test window (one or all ports:
// open, close, purge, init, readings) that also owns the connection
// controller the main window drives. Normally never shown.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "core/SensorReading.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace zrq::comm {

class AppStatus;
class CommHost;
class DevComInterface;
class QtStatsGrid;
class QtStatusMemo;
class SensorSession;
class TKS7730Commands;
class TKS7730Stats;
enum class PortType : std::uint8_t;

class TfrmComm : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kCaption = "TKS7730 Communications Test vBeta8 - (ASCII)";
  static constexpr const char* kAllPorts = "All Ports";

  // host must outlive the window. Ports are discovered at creation unless
  // kNoDiscovery is given (window tests that add their own ports).
  static constexpr bool kNoDiscovery = false;
  explicit TfrmComm(CommHost& host, QWidget* parent = nullptr, bool discoverPorts = true);
  ~TfrmComm() override;

  TKS7730Commands& commands();
  SensorSession& session() { return *session_; }
  TKS7730Stats& stats() { return *p_stats_; }
  AppStatus& appStatus() { return *p_appStatus_; }
  // Hands every line and cell written from other threads to the widgets now.
  void flushViews();

  // Discovers the ports once: serial candidates, then the attached USB
  // sensors (7730USB1, ...). A second call only says it already ran.
  void getCommPorts();
  // A serial port discovery found held by another program, offered once it
  // is free; true when it is.
  bool offerIfFree(const std::string& name);
  // The main window's side, through the session's rule for requests made
  // while a sequence waits.
  void connectPort(int portNum);
  void disconnect();
  bool connected() const;
  // At shutdown: supervision stops and no sequence step runs any more.
  void endRun();
  bool readZeroCalResult();
  // readDataTimer's work: one data line fetched and handled.
  void readSensorData();
  void pktDataString(const std::string& text);

  QLabel* currPortName;
  QComboBox* portComboBox;
  QPushButton* openButton;
  QPushButton* closeButton;
  QPushButton* purgeButton;
  QPushButton* initButton;
  QPushButton* getReadingButton;
  QCheckBox* logRdCheckBox;
  QCheckBox* contRdCheckBox;
  QTableWidget* statsStringGrid;
  QPlainTextEdit* statusMemo;
  QTimer* dataPollTimer;

 public slots:
  void portComboBoxChange();
  void openButtonClick();
  void closeButtonClick();
  void purgeButtonClick();
  void initButtonClick();
  void getReadingButtonClick();
  void logRdCheckBoxClick();
  void contRdCheckBoxClick();
  void dataPollTimerTimer();

 private:
  void addPortToWindow(PortType type, const std::string& name, int usbDevIndex);
  // The device manager's handle, closed with the window rather than left to
  // the library's clean-up at process exit.
  void closeDevMngr();
  template <typename Fn>
  void forEachTarget(Fn fn);
  void FormCreate(bool discoverPorts);

  CommHost& host_;
  std::unique_ptr<QtStatsGrid> grid_;
  std::unique_ptr<QtStatusMemo> memo_;
  std::unique_ptr<TKS7730Stats> p_stats_;
  std::unique_ptr<AppStatus> p_appStatus_;
  std::unique_ptr<SensorSession> session_;
};

}  // namespace zrq::comm
