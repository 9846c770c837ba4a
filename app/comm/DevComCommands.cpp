// The sensor commands of DevComInterface.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "AppStatus.h"
#include "ComTestLog.h"
#include "DevComInterface.h"
#include "SensorProtocol.h"
#include "USB/TKS7730Stats.h"

namespace zrq::comm {

namespace {
unsigned len(const char* s) { return static_cast<unsigned>(std::strlen(s)); }

std::string localDateTime() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%m/%d/%y %H:%M:%S", &tm);
  return buf;
}
}  // namespace

bool DevComInterface::interrogate() {
  std::string reply = sendCommandText(protocol::kCmdInterrogate, len(protocol::kCmdInterrogate), 1,
                                      "Interrogation");
  return handler_ ? handler_->pktInterrogateResponse(reply) : false;
}

bool DevComInterface::assertCalibration() {
  std::string reply = sendCommandText(protocol::kCmdCalibration, len(protocol::kCmdCalibration), 1,
                                      "Calibration assertion");
  return handler_ ? handler_->pktConfigResponse(reply) : false;
}

bool DevComInterface::setFilterAndType() {
  const std::string cmd =
      handler_ ? handler_->settingsCommand() : protocol::defaultSettingsCommand();
  std::string reply = sendCommandText(cmd.data(), static_cast<unsigned>(cmd.size()), 1,
                                      "Filter and measurement type");
  return handler_ ? handler_->pktTypeResponse(reply) : false;
}

bool DevComInterface::zeroCalibrate() {
  std::string reply =
      sendCommandText(protocol::kCmdZero, len(protocol::kCmdZero), 1, "ZeroCalibration");
  return handler_ ? handler_->pktZeroCalResponse(reply) : false;
}

void DevComInterface::startDataStream() {
  write(protocol::kCmdStartStream, len(protocol::kCmdStartStream));
}

bool DevComInterface::stopDataStream() {
  return sendCommand(protocol::kCmdStopStream, len(protocol::kCmdStopStream), 1,
                     "Stop data stream");
}

void DevComInterface::sendZero() { write(protocol::kCmdZero, len(protocol::kCmdZero)); }

std::string DevComInterface::readDataLine() {
  char buf[256] = {};
  unsigned n = 0;
  readData(buf, 255, &n, 0);
  return std::string(buf, n);
}

bool DevComInterface::readDataLines(std::vector<std::string>& lines) {
  // A line is far shorter; more without a line end is noise.
  constexpr std::size_t kMaxCarry = 1024;
  char chunk[512];
  bool ok = true;
  // Bounded: a sensor cannot send faster than this drains it.
  for (int calls = 0; calls < 64; ++calls) {
    unsigned got = 0;
    ok = guarded([&] {
      if (ZervDComDLL::readInBuff(hDev_.load(), chunk, sizeof chunk, &got)) return true;
      reportLibError("readInBuff())");
      return false;
    });
    if (!ok || got == 0) break;
    lineCarry_.append(chunk, std::min<std::size_t>(got, sizeof chunk));
    if (got < sizeof chunk) break;
  }
  std::size_t from = 0;
  for (;;) {
    const std::size_t d = lineCarry_.find('D', from);
    if (d == std::string::npos) {
      from = lineCarry_.size();
      break;
    }
    const std::size_t cr = lineCarry_.find('\r', d);
    if (cr == std::string::npos) {
      from = d;
      break;
    }
    // As readDataLine gives it: after the D, through the CR.
    lines.emplace_back(lineCarry_, d + 1, cr - d);
    from = cr + 1;
  }
  lineCarry_.erase(0, from);
  if (lineCarry_.size() > kMaxCarry) lineCarry_.clear();
  return ok;
}

std::string DevComInterface::readZeroResult() {
  char buf[256] = {};
  unsigned n = 0;
  bool ok = portType_ == PortType::Serial ? readData(buf, 255, &n, 10) : readLine(buf, 255, &n);
  if (ok) purge();
  return std::string(buf, n);
}

bool DevComInterface::readSerialNumber() {
  if (!isOpen()) {
    status("Cannot get SN - port is not open!");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(snMutex_);
    if (serialNumber_ != "?") return false;
    serialNumber_.clear();
  }
  status("Reading the sensor's serial number...");
  write(protocol::kCmdSerialNumber, len(protocol::kCmdSerialNumber));
  std::string buf(1024, '\0');
  unsigned n = 0;
  if (!readLine(buf.data(), 1023, &n)) {
    // Back to "?" so that the caller's next attempt asks the sensor again.
    {
      std::lock_guard<std::mutex> lock(snMutex_);
      serialNumber_.assign(1, '?');
    }
    status("Failed to get the serial number!");
    return false;
  }
  const std::string sn = protocol::serialNumberFromReply(buf.substr(0, n));
  {
    std::lock_guard<std::mutex> lock(snMutex_);
    serialNumber_ = sn;
  }
  if (handler_) handler_->serialNumberRead(sn);
  p_stats_->showSerialNumber(statsRow_, sn.c_str());
  status("Received SN:" + sn);
  return true;
}

void DevComInterface::init() {
  if (!isOpen()) {
    status("Cannot init - port is not open!");
    return;
  }
  if (initPassed()) {
    status("Sensor already initialized.");
    return;
  }
  try {
    setInitPassed(false);
    status("Initializing the 7730...");
    status("Interrogating the sensor...");
    sendCommand(protocol::kCmdInterrogate, len(protocol::kCmdInterrogate), 1, "Interrogation");
    status("Checking calibration status...");
    sendCommand(protocol::kCmdCalibration, len(protocol::kCmdCalibration), 1,
                "Calibration assertion");
    status("Setting default filter and measurement type...");
    const std::string g = protocol::defaultSettingsCommand();
    sendCommand(g.data(), static_cast<unsigned>(g.size()), 1, "Filter and measurement type");
    status("Initialization complete.");
    // "INIT" first: setting the flag wakes the continuous-read thread, whose
    // "CONT RD" must not be overwritten.
    p_stats_->showStatus(statsRow_, PortStatus::Init);
    setInitPassed(true);
  } catch (const std::exception&) {
    status("Initialization failed!");
  }
}

void DevComInterface::contReadStep() {
  if (!initPassed() || !isOpen()) return;
  bool success = false;
  for (int attempt = 1; attempt <= 3 && !success; ++attempt) {
    if (attempt > 1 && stop_.load() != 0 && isOpen())
      return;  // the port is closing: no further attempt
    char buf[256] = {};
    unsigned n = 0;
    write(protocol::kCmdReadTest, len(protocol::kCmdReadTest));
    if (readLine(buf, 255, &n)) {
      totalReads_.fetch_add(1);
      success = true;
      if (logRd()) {
        char line[512];
        std::snprintf(line, sizeof line, "%s--> \tRd(%d) [%d bytes]: %s\n", portName_.c_str(),
                      static_cast<int>(totalReads_.load()), static_cast<int>(n),
                      std::string(buf, n).c_str());
        ComTestLog::write(line);
      }
    } else {
      p_appStatus_->addf(
          "%s--> \tRead attempt %d failed on %s -- (%d) bytes in the failed "
          "response: %s",
          portName_.c_str(), attempt, localDateTime().c_str(), static_cast<int>(n),
          std::string(buf, n).c_str());
      totalFails_.fetch_add(1);
    }
  }
  if (!success) {
    p_stats_->showStatus(statsRow_, PortStatus::ComErr);
    setCommErr(true);
    return;
  }
  p_stats_->showCounts(statsRow_, totalReads_.load(), totalFails_.load());
}

}  // namespace zrq::comm
