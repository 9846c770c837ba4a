// Joins the main window and the connection window: the connection side sees
// the main window through CommHost, the main window sees the connection side
// through CommPeer.
// Both sides read and write the main window's one InstrumentState in place.
#pragma once

#include <QPointer>

#include "CommHost.h"
#include "PanelPeers.h"

class QTimer;
class TfrmMain;
namespace zrq::comm {
class TfrmComm;
}

namespace zrq::app {

class CommBridge : public zrq::comm::CommHost, public CommPeer {
 public:
  // main must outlive the bridge; attach the connection window once it exists.
  explicit CommBridge(TfrmMain& main);
  void attach(zrq::comm::TfrmComm* comm) { comm_ = comm; }

  // ---- CommHost ----
  zrq::core::InstrumentState& instrument() override;
  void clearAllSegments() override;
  void applyMeasType() override;
  void resetPortMenu() override;
  void updateDisplay() override;
  void followState() override;
  void setLblComm(zrq::comm::LabelColor color, const std::string& text) override;
  void showDisconnectedCaption() override;
  void enableStreamingMenus(bool meterMenuEnabled) override;
  void disableStreamingMenus() override;
  void setProgressPosition(int position) override;
  void setProgressMaximum(int maximum) override;
  void setZeroCalCaption(const std::string& caption) override;
  void showZeroCalButton() override;
  void stopTimer(zrq::comm::CommTimer timer) override;
  void startTimer(zrq::comm::CommTimer timer) override;
  void setTimerInterval(zrq::comm::CommTimer timer, int ms) override;
  void setCurrPortName(const std::string& name) override;
  void portAdded(const std::string& name, int index) override;
  void portHeld(const std::string& name, const std::string& why) override;
  void closeChildWindows() override;
  bool helpFileIsOwn() override;
  void sendHelpQuit() override;
  bool loggingActive() override;
  void closeLogFile() override;
  void hideAuxWindows() override;
  void closeMainWindow() override;
  void terminateApplication() override;
  void readingAccepted() override;
  void zeroCalibrationEnded(bool ok, const std::string& why) override;

  // ---- CommPeer ----
  bool portConnected() const override;
  bool interrogationAccepted() const override;
  bool settingsAccepted() const override;
  void readSensorData() override;
  bool readZeroCalReply() override;
  void stopSupervision() override;
  void endRun() override;
  void connectPort(int tag) override;
  void disconnect() override;
  std::string firmwareVersion() const override;
  void showModal() override;
  bool offerPortIfFree(const std::string& name) override;

 private:
  QTimer* timer(zrq::comm::CommTimer t) const;

  TfrmMain& main_;
  QPointer<zrq::comm::TfrmComm> comm_;
};

}  // namespace zrq::app
