// The connection window: a communications test window (one or all ports:
// open, close, purge, init, readings) that also owns the connection
// controller the main window drives. Normally never shown.
#pragma once

#include <QWidget>

#include <memory>

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
class TKS7730Commands;
class TKS7730Stats;

class TfrmComm : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* CAPTION = "TKS7730 Communications Test vBeta8 - (ASCII)";
  static constexpr const char* ALL_PORTS = "All Ports";

  // host must outlive the window.
  explicit TfrmComm(CommHost& host, QWidget* parent = nullptr);
  ~TfrmComm() override;

  TKS7730Commands& commands() { return *commands_; }
  TKS7730Stats& stats() { return *p_stats_; }
  AppStatus& appStatus() { return *p_appStatus_; }
  // Hands every line and cell written from other threads to the widgets now.
  void flushViews();

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

 private:
  template <typename Fn>
  void forEachTarget(Fn fn);
  void FormCreate();

  CommHost& host_;
  std::unique_ptr<QtStatsGrid> grid_;
  std::unique_ptr<QtStatusMemo> memo_;
  std::unique_ptr<TKS7730Stats> p_stats_;
  std::unique_ptr<AppStatus> p_appStatus_;
  std::unique_ptr<TKS7730Commands> commands_;
};

}  // namespace zrq::comm
