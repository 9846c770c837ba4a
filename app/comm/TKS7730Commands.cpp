#include "TKS7730Commands.h"

#include "AppStatus.h"
#include "CommAssert.h"
#include "CommHost.h"
#include "SensorProtocol.h"
#include "USB/TKS7730Stats.h"
#include "uiface/Delay.h"
#include "uiface/MsgBox.h"

namespace zrq::comm {

using core::CommState;

namespace {
constexpr const char* kUnit = "comm";
constexpr const char* kNoConnection = "No Connection";
constexpr const char* kCannotConnect = "Cannot Connect";
constexpr const char* kCloseAndRetry = "Close ZRQ check cables and retry";

void showUntilOk(const char* text, const char* caption) { ui::showUntilOk(text, caption); }
}  // namespace

TKS7730Commands::TKS7730Commands(CommHost& host, TKS7730Stats& stats, AppStatus& status)
    : host_(host), stats_(stats), status_(status) {}

TKS7730Commands::~TKS7730Commands() {
  std::lock_guard<std::recursive_mutex> lock(portListLock_);
  ports_.clear();
}

DevComInterface* TKS7730Commands::addPort(PortType type, const std::string& name, int usbDevIndex) {
  try {
    const int row = stats_.addPortRow(name);
    auto devInt =
        std::make_unique<DevComInterface>(type, name, row, &stats_, &status_, usbDevIndex);
    devInt->setReplyHandler(this);
    DevComInterface* raw = devInt.get();
    std::lock_guard<std::recursive_mutex> lock(portListLock_);
    host_.portAdded(name, static_cast<int>(ports_.size()));
    ports_.push_back(std::move(devInt));
    return raw;
  } catch (const std::exception&) {
    status_.add("Unable to add:" + name + " to the port list!");
    return nullptr;
  }
}

DevComInterface* TKS7730Commands::getPort(int index) const {
  std::lock_guard<std::recursive_mutex> lock(portListLock_);
  if (index < 0 || index >= static_cast<int>(ports_.size())) return nullptr;
  return ports_[static_cast<std::size_t>(index)].get();
}

int TKS7730Commands::portCount() const {
  std::lock_guard<std::recursive_mutex> lock(portListLock_);
  return static_cast<int>(ports_.size());
}

void TKS7730Commands::reportException(const ZervDComExc& exc) {
  status_.add("Exception caught while using the comm DLL:" + exc.message());
}

void TKS7730Commands::reportLibError(ZervDComDLL::DeviceHandle h, const char* label) {
  std::string msg = std::string(label) + " failed!";
  try {
    if (h == ZervDComDLL::INVALID_DEV_COMM_HANDLE) {
      msg += "INVALID_DEV_COMM_HANDLE";
    } else {
      char16_t buf[256] = {};
      if (ZervDComDLL::translateLastErr(h, ZervDComDLL::getLastErr(h), buf, 256, 1)) {
        buf[255] = 0;
        msg += "Error msg and debug info:" + toNarrow(buf);
      } else {
        msg += "Unable to translate error!";
      }
    }
  } catch (const ZervDComExc& exc) {
    status_.add(msg);
    reportException(exc);
    return;
  }
  status_.add(msg);
}

void TKS7730Commands::openPort(DevComInterface* devInt) {
  if (!devInt || devInt->isOpen()) return;
  ZervDComDLL::DeviceHandle h = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
  try {
    const std::u16string name = toWide(devInt->portName());
    if (devInt->portType() == PortType::Serial) {
      if (!ZervDComDLL::createSerialPort(&h, name.c_str(), 1024, 1024, 1))
        h = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
    } else {
      ZRQ_COMM_ASSERT(hDevMngr_ != ZervDComDLL::INVALID_DEV_COMM_HANDLE,
                      "hDevMngr_ != ZervDComDLL::INVALID_DEV_COMM_HANDLE", kUnit);
      if (!ZervDComDLL::createTKS7730USB(hDevMngr_, devInt->usbDevIndex(), &h, 1024))
        h = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
    }
  } catch (const ZervDComExc& exc) {
    reportException(exc);
    h = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
  }
  if (h == ZervDComDLL::INVALID_DEV_COMM_HANDLE) {
    status_.add("Unable to create a handle for" + devInt->portName());
    return;
  }
  devInt->open(h);
}

void TKS7730Commands::purgeSelected() {
  if (p_devInt_) p_devInt_->purge();
}

std::string TKS7730Commands::settingsCommand() {
  const core::InstrumentState& m = host_.instrument();
  return protocol::buildSettingsCommand(static_cast<std::uint8_t>(core::measTypeCode(m.measType)),
                                        m.offsetDb, m.filterHz, core::unitCode(m.fwdUnit),
                                        m.ccdfLimit);
}

void TKS7730Commands::serialNumberRead(const std::string& serialNumber) {
  host_.instrument().sensorSerial = serialNumber;
}

void TKS7730Commands::connectionLostDisplay() {
  host_.clearAllSegments();
  host_.instrument().commState = CommState::NoConnection;
  host_.applyMeasType();
  host_.resetPortMenu();
  host_.setLblComm(LabelColor::Red, kNoConnection);
}

void TKS7730Commands::fatalClose(const char* caption, const char* text) {
  showUntilOk(text, caption);
  fatalClosed_ = true;
  host_.closeChildWindows();
  if (host_.helpFileIsOwn()) host_.sendHelpQuit();
  if (host_.loggingActive()) host_.closeLogFile();
  host_.hideAuxWindows();
  host_.closeMainWindow();
  host_.terminateApplication();
}

bool TKS7730Commands::pktInterrogateResponse(const std::string& reply) {
  const protocol::InterrogationReply r = protocol::parseInterrogation(reply);
  if (!r.modelOk) {
    purgeSelected();
    return false;
  }
  if (r.notCalibrated) {
    fatalClose("Sensor Not Calibrated",
               "The 7730 sensor is not calibrated\r\nThe ZRQ Application will close");
    return false;
  }
  if (auto v = protocol::normaliseVersion(r.versionField)) info_.firmwareVersion = *v;
  if (!protocol::versionPasses(info_.firmwareVersion)) {
    host_.stopTimer(CommTimer::DataPoll);
    host_.stopTimer(CommTimer::ReadData);
    host_.stopTimer(CommTimer::Display);
    fatalClose("7730 Update Required",
               "ZRQ requires 7730 firmware version\r\n1.30 or higher. Or firmware "
               "version\r\n1.40 or higher for USB support.\r\nZRQ Application will close");
    return false;
  }
  info_.interrogated = true;
  return true;
}

bool TKS7730Commands::pktConfigResponse(const std::string& reply) {
  const auto ack = protocol::parseCalibration(reply);
  if (!ack) {
    purgeSelected();
    return false;
  }
  core::InstrumentState& m = host_.instrument();
  if (*ack) {
    info_.calibrationAcked = true;
    m.calibrationOk = true;
    calibrationRefusals_ = 0;
    return true;
  }
  if (++calibrationRefusals_ < kCalibrationRefusalLimit) {
    info_.calibrationAcked = false;
    m.calibrationOk = false;
    return false;
  }
  ui::showMessage("Calibration Error!", "Error");
  info_.streamReady = false;
  info_.interrogated = false;
  info_.calibrationAcked = false;
  m.commState = CommState::NoConnection;
  return false;
}

bool TKS7730Commands::pktTypeResponse(const std::string& reply) {
  const auto ack = protocol::parseSettings(reply);
  if (!ack) {
    purgeSelected();
    return false;
  }
  core::InstrumentState& m = host_.instrument();
  if (*ack) {
    m.fwdFullScale = 150;
    m.rflFullScale = 150 / m.rflFullScaleDivisor;
    m.settingsAcked = true;
    info_.settingsConfirmed = true;
    settingsRefusals_ = 0;
    host_.enableStreamingMenus(m.measType != core::MeasType::Crest &&
                               m.measType != core::MeasType::CCDF);
    host_.stopTimer(CommTimer::DataPoll);
    host_.stopTimer(CommTimer::ReadData);
    info_.streamReady = true;
    m.commState = CommState::Streaming;
    host_.setTimerInterval(CommTimer::DataPoll, 500);
    host_.startTimer(CommTimer::DataPoll);
    host_.startTimer(CommTimer::ReadData);
    return true;
  }
  if (++settingsRefusals_ < kSettingsRefusalLimit) {
    m.settingsAcked = false;
    info_.settingsConfirmed = false;
    return false;
  }
  ui::showMessage("Configuration Error!", "Error");
  info_.streamReady = false;
  info_.interrogated = false;
  info_.settingsConfirmed = false;
  m.commState = CommState::NoConnection;
  return false;
}

bool TKS7730Commands::pktZeroCalResponse(const std::string& reply) {
  const auto code = protocol::parseZeroCalResult(reply);
  if (!code) {
    purgeSelected();
    return false;
  }
  core::InstrumentState& m = host_.instrument();
  try {
    host_.setProgressPosition(0);
    host_.setZeroCalCaption("");
    m.zeroCalRequested = false;
    host_.stopTimer(CommTimer::DataPoll);
    host_.stopTimer(CommTimer::ReadData);
    host_.stopTimer(CommTimer::Display);
    const protocol::MessageText box = protocol::zeroCalMessage(*code);
    host_.zeroCalibrationEnded(*code == 0, box.caption);
    showUntilOk(box.text, box.caption);
    m.commState = CommState::Streaming;
    m.measType = m.savedMeasType;
    m.zeroCalDone = true;
    host_.setProgressPosition(0);
    host_.setZeroCalCaption("");
    host_.showZeroCalButton();
    if (p_devInt_) p_devInt_->startDataStream();
    host_.setTimerInterval(CommTimer::DataPoll, 500);
    host_.startTimer(CommTimer::DataPoll);
    host_.startTimer(CommTimer::ReadData);
    host_.setTimerInterval(CommTimer::Display, 300);
    host_.startTimer(CommTimer::Display);
    host_.applyMeasType();
    host_.updateDisplay();
    host_.setProgressMaximum(100);
  } catch (const std::exception&) {
    m.zeroCalDone = false;
    ui::showMessage("Zero calibration failed.\r\nOriginal zero calibration constants restored",
                    "Calibration Failed");
    host_.setProgressMaximum(100);
  }
  return true;
}

bool TKS7730Commands::startUp() {
  if (ended()) return false;
  host_.stopTimer(CommTimer::ReadData);
  purgeSelected();
  auto step = [&](bool (DevComInterface::*command)()) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (!p_devInt_ || ended()) return false;
      if ((p_devInt_->*command)()) return true;
    }
    return false;
  };
  if (step(&DevComInterface::interrogate) && step(&DevComInterface::assertCalibration) &&
      step(&DevComInterface::setFilterAndType))
    return true;
  // After a fatal close or a shutdown the application is ending: nothing more
  // is shown or sent.
  if (ended()) return false;
  connectionLostDisplay();
  showUntilOk("Check cables and retry", kCannotConnect);
  disconnect();
  return false;
}

bool TKS7730Commands::openAndStartUp() {
  openPort(p_devInt_);
  connected_ = true;
  if (ended()) return false;
  if (startUp()) return true;
  if (ended()) return false;
  host_.instrument().commState = CommState::NoConnection;
  host_.resetPortMenu();
  disconnect();
  return false;
}

void TKS7730Commands::connectPort(int portNum) {
  ZRQ_COMM_ASSERT(portNum >= 0, "portNum >= 0", kUnit);
  p_devInt_ = getPort(portNum);
  ZRQ_COMM_ASSERT(p_devInt_ != nullptr, "p_devInt", kUnit);
  host_.setCurrPortName(p_devInt_->portName());
  if (!openAndStartUp()) return;
  // The serial number is read only when the stored one is "?", which only a
  // close sets: hence the second connect.
  disconnect();
  ui::delayMs(50);
  // The waits run the event loop: the user may have closed the program.
  if (ended() || !openAndStartUp()) return;

  purgeSelected();
  core::InstrumentState& m = host_.instrument();
  int failures = 0;
  while (!p_devInt_->readSerialNumber()) {
    purgeSelected();
    ui::delayMs(50);
    if (ended()) return;
    host_.setLblComm(LabelColor::Green, "  Connecting");
    if (++failures == 4) {
      host_.setLblComm(LabelColor::Red, kNoConnection);
      m.commState = CommState::Connecting;
      host_.applyMeasType();
      host_.resetPortMenu();
      showUntilOk(kCloseAndRetry, kCannotConnect);
      break;
    }
  }
  if (ended()) return;
  purgeSelected();
  p_devInt_->setFilterAndType();
  purgeSelected();
  p_devInt_->startDataStream();
}

void TKS7730Commands::reconnect() {
  if (!p_devInt_ || ended()) return;
  purgeSelected();
  const bool stopped = p_devInt_->stopDataStream();
  // The replies are awaited with the window alive: the program may be ending.
  if (ended()) return;
  if (!stopped) {
    disconnect();
    connectionLostDisplay();
    showUntilOk("Communication problem check cables", "Communication Error 6");
    disconnect();
  }
  bool ok = false;
  for (int attempt = 0; attempt < 4 && !ok && !ended(); ++attempt)
    ok = p_devInt_->assertCalibration();
  if (ended()) return;
  if (!ok) {
    connectionLostDisplay();
    showUntilOk(kCloseAndRetry, kCannotConnect);
    disconnect();
    return;
  }
  ok = false;
  for (int attempt = 0; attempt < 4 && !ok && !ended(); ++attempt)
    ok = p_devInt_->setFilterAndType();
  if (ended()) return;
  if (!ok) {
    host_.setLblComm(LabelColor::Red, kNoConnection);
    showUntilOk(kCloseAndRetry, kCannotConnect);
    return;
  }
  purgeSelected();
  p_devInt_->startDataStream();
}

bool TKS7730Commands::readZeroCalResult() {
  if (!p_devInt_) return false;
  return pktZeroCalResponse(p_devInt_->readZeroResult());
}

void TKS7730Commands::disconnect() {
  info_.streamReady = false;
  info_.interrogated = false;
  info_.settingsConfirmed = false;
  if (connected_) {
    if (p_devInt_) {
      p_devInt_->purge();
      p_devInt_->stopDataStream();
      p_devInt_->close();
    }
    connected_ = false;
  }
  host_.setLblComm(LabelColor::Red, kNoConnection);
  host_.showDisconnectedCaption();
}

}  // namespace zrq::comm
