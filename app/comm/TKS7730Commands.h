// The connection sequences and reply handlers of the connection window:
// start-up, connecting a port, re-establishing the stream, the zero
// calibration result, and what the application knows about the sensor.
// Qt-free; the window holds one instance and forwards to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DevComInterface.h"

namespace zrq::comm {

class AppStatus;
class CommHost;
class TKS7730Stats;

struct SensorInfo {
  std::string firmwareVersion;
  bool interrogated = false;
  bool calibrationAcked = false;
  bool settingsConfirmed = false;
  bool streamReady = false;
};

class TKS7730Commands : public SensorReplyHandler {
 public:
  static constexpr int kCalibrationRefusalLimit = 20;
  static constexpr int kSettingsRefusalLimit = 6;

  // All three must outlive the object.
  TKS7730Commands(CommHost& host, TKS7730Stats& stats, AppStatus& status);
  ~TKS7730Commands() override;

  // The port list (discovery order; the index is the combo box index and the
  // Comm menu tag). addPort returns null after reporting a failure.
  DevComInterface* addPort(PortType type, const std::string& name, int usbDevIndex);
  DevComInterface* getPort(int index) const;
  int portCount() const;
  DevComInterface* selectedPort() const { return p_devInt_; }
  void selectPort(DevComInterface* devInt) { p_devInt_ = devInt; }
  void setDevMngr(ZervDComDLL::DeviceHandle h) { hDevMngr_ = h; }
  ZervDComDLL::DeviceHandle devMngr() const { return hDevMngr_; }
  // Creates a library handle for the port and opens it; nothing when the port
  // is missing or already open.
  void openPort(DevComInterface* devInt);
  bool connected() const { return connected_; }

  SensorInfo& sensorInfo() { return info_; }
  const SensorInfo& sensorInfo() const { return info_; }
  int calibrationRefusals() const { return calibrationRefusals_; }
  int settingsRefusals() const { return settingsRefusals_; }
  // Set once a fatal close has run: no sequence sends anything afterwards.
  bool fatallyClosed() const { return fatalClosed_; }
  // The program is shutting down: a sequence waiting in the event loop sends
  // nothing more once it resumes.
  void endRun() { runEnded_ = true; }
  // A request made while a sequence waits supersedes it: once resumed it
  // sends and shows nothing more.
  void beginSequence() { running_ = generation_; }
  void supersede() { ++generation_; }
  bool ended() const {
    return fatalClosed_ || runEnded_ || running_ != generation_ || (stopCheck_ && stopCheck_());
  }
  // A program without an event loop says here whether a stop was asked for
  // (a signal): every step asks, so no sequence outlives the request.
  void setStopCheck(std::function<bool()> check) { stopCheck_ = std::move(check); }

  // Reply handlers: true when the reply is accepted.
  bool pktInterrogateResponse(const std::string& reply) override;
  bool pktConfigResponse(const std::string& reply) override;
  bool pktTypeResponse(const std::string& reply) override;
  bool pktZeroCalResponse(const std::string& reply) override;
  std::string settingsCommand() override;
  void serialNumberRead(const std::string& serialNumber) override;

  bool startUp();
  void connectPort(int portNum);
  void reconnect();
  bool readZeroCalResult();
  void disconnect();

  // Reports of the window's own library calls (no port prefix).
  void reportLibError(ZervDComDLL::DeviceHandle h, const char* label);
  void reportException(const ZervDComExc& exc);

 private:
  void purgeSelected();
  void connectionLostDisplay();
  void fatalClose(const char* caption, const char* text);
  bool openAndStartUp();

  CommHost& host_;
  TKS7730Stats& stats_;
  AppStatus& status_;
  mutable std::recursive_mutex portListLock_;
  std::vector<std::unique_ptr<DevComInterface>> ports_;
  DevComInterface* p_devInt_ = nullptr;
  ZervDComDLL::DeviceHandle hDevMngr_ = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
  bool connected_ = false;
  bool fatalClosed_ = false;
  bool runEnded_ = false;
  std::function<bool()> stopCheck_;
  std::uint64_t generation_ = 0;
  std::uint64_t running_ = 0;
  SensorInfo info_;
  int calibrationRefusals_ = 0;
  int settingsRefusals_ = 0;
};

}  // namespace zrq::comm
