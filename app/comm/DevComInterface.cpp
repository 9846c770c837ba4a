#include "DevComInterface.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "AppStatus.h"
#include "CommAssert.h"
#include "uiface/Delay.h"
#include "PortDoctor.h"
#include "SensorProtocol.h"
#include "USB/TKS7730Stats.h"

namespace zrq::comm {

namespace {
constexpr const char* kUnit = "DevComInterface";
constexpr unsigned kPurgeAll = 15;  // abort and clear both directions
constexpr int kWriteTimeoutMs = 3000;
constexpr int kReadTimeoutMs = 2000;
// The library's code for a line longer than the buffer it is read into.
constexpr int kLineLongerThanBuffer = 10;
// An over-long line is given up past this much text (a minute of a fast line).
constexpr std::size_t kOverlongLineLimit = 1 << 20;
}  // namespace

DevComInterface::DevComInterface(PortType type, const std::string& portName, int statsRow,
                                 TKS7730Stats* stats, AppStatus* appStatus, int usbDevIndex)
    : portType_(type),
      portName_(portName.substr(0, 259)),
      widePortName_(toWide(portName_)),
      statsRow_(statsRow),
      p_stats_(stats),
      p_appStatus_(appStatus),
      usbDevIndex_(usbDevIndex) {
  ZRQ_COMM_ASSERT(stats != nullptr, "p_stats != NULL", kUnit);
  ZRQ_COMM_ASSERT(appStatus != nullptr, "p_appStatus != NULL", kUnit);
}

DevComInterface::~DevComInterface() {
  try {
    close();
  } catch (...) {
  }
}

bool DevComInterface::guarded(const std::function<bool()>& fn) {
  try {
    return fn();
  } catch (const ZervDComExc& exc) {
    reportException(exc);
    return false;
  }
}

void DevComInterface::status(const std::string& text) {
  p_appStatus_->add(portName_ + "--> \t" + text);
}

void DevComInterface::reportException(const ZervDComExc& exc) {
  status("Exception caught while using the comm DLL:" + exc.message());
}

void DevComInterface::reportLibError(const char* label) {
  std::string msg = std::string(label) + " failed!";
  const DeviceHandle h = hDev_.load();
  if (h == ZervDComDLL::INVALID_DEV_COMM_HANDLE) {
    msg += "INVALID_DEV_COMM_HANDLE";
  } else {
    char16_t buf[256] = {};
    const int code = ZervDComDLL::getLastErr(h);
    if (ZervDComDLL::translateLastErr(h, code, buf, 256, 1)) {
      buf[255] = 0;
      msg += "Error msg and debug info:" + toNarrow(buf);
    } else {
      msg += "Unable to translate error!";
    }
  }
  status(msg);
}

std::string DevComInterface::serialNumber() const {
  std::lock_guard<std::mutex> lock(snMutex_);
  return serialNumber_;
}

bool DevComInterface::isOpen() const {
  return hDev_.load() != ZervDComDLL::INVALID_DEV_COMM_HANDLE;
}

void DevComInterface::open(DeviceHandle h) {
  ZRQ_COMM_ASSERT(h != ZervDComDLL::INVALID_DEV_COMM_HANDLE,
                  "hDev != ZervDComDLL::INVALID_DEV_COMM_HANDLE", kUnit);
  ZRQ_COMM_ASSERT(hDev_.load() == ZervDComDLL::INVALID_DEV_COMM_HANDLE,
                  "hDev_ == ZervDComDLL::INVALID_DEV_COMM_HANDLE", kUnit);
  hDev_.store(h);
  bool ok = guarded([&] {
    if (portType_ == PortType::Serial) {
      if (ZervDComDLL::openSerialPort(h, 9600, 8, 1, 0, 0)) return true;
      reportLibError("openSerialPort()");
      return false;
    }
    if (portType_ == PortType::USB) {
      if (usbDevIndex_ == -1) {
        status("Cannot open - invalid device info index!");
        return false;
      }
      if (ZervDComDLL::openTKS7730USB(h)) return true;
      reportLibError("openTKS7730USB()");
      return false;
    }
    assertionFailed("portType_ is serial or USB", kUnit, __LINE__);
  });
  if (ok) {
    p_stats_->showStatus(statsRow_, PortStatus::Open);
    p_stats_->showSerialNumber(statsRow_, "?");
    totalReads_.store(0);
    totalFails_.store(0);
    p_stats_->showCounts(statsRow_, 0, 0);
    startThread();
    status("Open.");
    return;
  }
  // A half-open connection (a USB sensor whose start-up failed) would keep its
  // device lock inside the library; the handle is closed so a retry can open.
  try {
    ZervDComDLL::close(h);
  } catch (const ZervDComExc&) {
  }
  hDev_.store(ZervDComDLL::INVALID_DEV_COMM_HANDLE);
  p_stats_->showStatus(statsRow_, PortStatus::Error);
  doctor::report(*p_appStatus_, portType_ == PortType::Serial
                                    ? doctor::diagnosePortAccess(portName_)
                                    : doctor::diagnoseSensors());
}

void DevComInterface::close() {
  stopThread();
  initPassed_.store(0);
  contRd_.store(0);
  {
    std::lock_guard<std::mutex> lock(snMutex_);
    serialNumber_.assign(1, '?');
  }
  const DeviceHandle h = hDev_.load();
  if (h == ZervDComDLL::INVALID_DEV_COMM_HANDLE) return;
  guarded([&] { return ZervDComDLL::close(h) != 0; });
  hDev_.store(ZervDComDLL::INVALID_DEV_COMM_HANDLE);
  p_stats_->showStatus(statsRow_, PortStatus::Closed);
  status("Closed.");
}

void DevComInterface::purge() {
  if (!isOpen()) {
    status("Cannot purge - port is not open!");
    return;
  }
  lineCarry_.clear();
  guarded([&] {
    if (!ZervDComDLL::purge(hDev_.load(), kPurgeAll)) {
      reportLibError("purge()");
      return false;
    }
    status("Buffers cleared and I/O operations canceled.");
    setCommErr(false);
    return true;
  });
}

void DevComInterface::write(const char* cmd, unsigned len) {
  ZRQ_COMM_ASSERT(cmd != nullptr, "p_cmdStr != NULL", kUnit);
  guarded([&] {
    unsigned written = 0;
    int ok = 0;
    ui::callResponsive(
        [&] { ok = ZervDComDLL::write(hDev_.load(), cmd, len, &written, kWriteTimeoutMs); });
    if (ok) return true;
    reportLibError("write()");
    return false;
  });
}

// A sensor still streaming (left so by a program that ended without stopping
// it) puts data lines, which end in a bare CR, ahead of the reply; on a 9600
// baud line a purge often lands mid-line. The reply is what follows the last
// bare CR.
unsigned DevComInterface::dropStreamTail(char* buf, unsigned n) {
  unsigned start = 0;
  for (unsigned i = 0; i + 1 < n; ++i)
    if (buf[i] == '\r' && buf[i + 1] != '\n') start = i + 1;
  if (start == 0) return n;
  std::memmove(buf, buf + start, n - start);
  return n - start;
}

bool DevComInterface::readLine(char* buf, unsigned bufSize, unsigned* bytesRead) {
  ZRQ_COMM_ASSERT(buf != nullptr, "p_respBuf != NULL", kUnit);
  ZRQ_COMM_ASSERT(bytesRead != nullptr, "p_bytesRead != NULL", kUnit);
  *bytesRead = 0;
  return guarded([&] {
    unsigned got = 0;
    int ok = 0;
    ui::callResponsive(
        [&] { ok = ZervDComDLL::readLine(hDev_.load(), buf, bufSize, &got, kReadTimeoutMs); });
    *bytesRead = dropStreamTail(buf, std::min(got, bufSize));
    if (ok) return true;
    if (ZervDComDLL::getLastErr(hDev_.load()) == kLineLongerThanBuffer &&
        readOverlongLine(buf, bufSize, bytesRead))
      return true;
    reportLibError("readLine()");
    return false;
  });
}

// Seconds of a streaming sensor's CR-ended data lines ahead of a reply (a stop
// that went unanswered leaves the stream running) make the text up to the
// reply's LF longer than any buffer, and the library keeps it. The reply is
// still there: the text is taken in pieces, keeping what follows its last
// bare CR. Only stream lines can follow a reply; callers purge them anyway.
bool DevComInterface::readOverlongLine(char* buf, unsigned bufSize, unsigned* bytesRead) {
  std::string tail;
  char chunk[1024];
  for (std::size_t total = 0; total < kOverlongLineLimit;) {
    unsigned got = 0;
    if (!ZervDComDLL::readInBuff(hDev_.load(), chunk, sizeof chunk, &got) || got == 0) return false;
    total += got;
    tail.append(chunk, got);
    const std::size_t lf = tail.find('\n');
    if (lf != std::string::npos) tail.resize(lf + 1);
    // (A CR at the very end may be the first half of a CR LF: it is kept.)
    tail.resize(dropStreamTail(tail.data(), static_cast<unsigned>(tail.size())));
    if (lf == std::string::npos) continue;
    if (tail.size() >= bufSize) return false;
    std::memcpy(buf, tail.data(), tail.size());
    *bytesRead = static_cast<unsigned>(tail.size());
    return true;
  }
  return false;
}

bool DevComInterface::readData(char* buf, unsigned bufSize, unsigned* bytesRead, unsigned count) {
  ZRQ_COMM_ASSERT(buf != nullptr, "p_respBuf != NULL", kUnit);
  ZRQ_COMM_ASSERT(bytesRead != nullptr, "p_bytesRead != NULL", kUnit);
  *bytesRead = 0;
  if (count > 0) {
    ZRQ_COMM_ASSERT(count <= bufSize, "count <= bufSz", kUnit);
    return guarded([&] {
      unsigned got = 0;
      int ok = 0;
      ui::callResponsive(
          [&] { ok = ZervDComDLL::read(hDev_.load(), buf, count, &got, kReadTimeoutMs); });
      *bytesRead = std::min(got, count);
      if (ok) return true;
      reportLibError("read()");
      return false;
    });
  }

  // A data line: skip to the first 'D', then collect through the CR. Each
  // phase has kDataLineAttempts attempts, one per byte taken. What has
  // arrived is taken in as few library calls as the data allows (one when
  // the line is there), never waiting: a look that finds nothing spends the
  // phase's remaining attempts, as they would only look at the same empty
  // buffer again.
  lastFetchCalls_.store(0);
  bool result = true;
  char chunk[2 * kDataLineAttempts];  // as much as both phases can take
  unsigned have = 0, used = 0;        // bytes in chunk, bytes of them taken
  // 1: bytes have arrived; 0: none have; -1: the call failed.
  auto look = [&] {
    have = used = 0;
    unsigned got = 0;
    lastFetchCalls_.fetch_add(1);
    const bool ok = guarded([&] {
      if (ZervDComDLL::readInBuff(hDev_.load(), chunk, sizeof chunk, &got)) return true;
      reportLibError("readInBuff())");
      return false;
    });
    if (!ok) {
      result = false;
      return -1;
    }
    have = std::min<unsigned>(got, sizeof chunk);
    return have > 0 ? 1 : 0;
  };
  auto phase = [&](char until) {
    std::string text;
    int attempts = 0;
    while (attempts < kDataLineAttempts && (text.empty() || text.back() != until)) {
      ++attempts;
      if (used == have) {
        const int looked = look();
        if (looked == 0) attempts = kDataLineAttempts;  // nothing there
        if (looked <= 0) break;
      }
      text.push_back(chunk[used++]);
    }
    return std::make_pair(text, attempts);
  };
  phase('D');
  auto [line, attempts] = phase('\r');
  purge();
  ZRQ_COMM_ASSERT(line.size() <= bufSize, "len <= bufSz", kUnit);
  std::memcpy(buf, line.data(), line.size());
  *bytesRead = static_cast<unsigned>(line.size());
  if (attempts >= kDataLineAttempts) purge();
  return result;
}

std::string DevComInterface::exchangeLine(const char* cmd, unsigned len, bool* ok, unsigned* got) {
  // Room for the data lines a streaming sensor may still send ahead of the
  // reply (a whole second of a 9600-baud line); readLine keeps only the reply.
  std::string buf(1024, '\0');
  write(cmd, len);
  *ok = readLine(buf.data(), 1023, got);
  buf.resize(*got);
  return buf;
}

std::optional<std::string> DevComInterface::exchangePastBanner(const char* cmd, unsigned len,
                                                               const char* label,
                                                               bool* readFailed) {
  static const std::string banner = protocol::kBanner;
  *readFailed = false;
  int resends = 0;
  for (;;) {
    bool ok = false;
    unsigned n = 0;
    std::string reply = exchangeLine(cmd, len, &ok, &n);
    if (!ok) {
      *readFailed = true;
      return std::nullopt;
    }
    if (n == banner.size()) {
      // A reply of the banner's length may be the banner: the sensor answers
      // a command with it while it is still waking up.
      if (++resends == 3) return std::nullopt;
      if (reply == banner) continue;
    }
    p_appStatus_->addf("%s--> \t%s passed. Resp (%d) bytes: %s", portName_.c_str(), label,
                       static_cast<int>(n), reply.c_str());
    return reply;
  }
}

bool DevComInterface::sendCommand(const char* cmd, unsigned len, int respLen, const char* label) {
  ZRQ_COMM_ASSERT(respLen > 0, "respLen > 0", kUnit);
  bool readFailed = false;
  return exchangePastBanner(cmd, len, label, &readFailed).has_value();
}

std::string DevComInterface::sendCommandText(const char* cmd, unsigned len, int respLen,
                                             const char* label) {
  ZRQ_COMM_ASSERT(respLen > 0, "respLen > 0", kUnit);
  bool readFailed = false;
  auto reply = exchangePastBanner(cmd, len, label, &readFailed);
  if (!reply) {
    if (readFailed) purge();
    return {};
  }
  return *reply;
}

void DevComInterface::setContRd(bool v) {
  {
    std::lock_guard<std::mutex> lock(evtMutex_);
    contRd_.store(v ? 1 : 0);
  }
  evtCv_.notify_all();  // ends the pause between two test reads
  if (!isOpen() || !threadRunning()) return;
  if (v) {
    // Also before the sensor is initialised: the thread then goes on to wait
    // for the initialisation instead of missing this wake-up.
    setEvent(EvtCont);
  } else if (initPassed()) {
    p_stats_->showStatus(statsRow_, PortStatus::Init);
  }
}

void DevComInterface::setInitPassed(bool v) {
  initPassed_.store(v ? 1 : 0);
  if (isOpen() && v) setEvent(EvtInitPassed);
}

void DevComInterface::setCommErr(bool v) {
  commErr_.store(v ? 1 : 0);
  if (!v) setEvent(EvtCommErrClear);
}

void DevComInterface::setEvent(Evt e) {
  {
    std::lock_guard<std::mutex> lock(evtMutex_);
    if (e == EvtCont && !contEvtExists_) return;
    evtSet_[e] = true;
  }
  evtCv_.notify_all();
}

bool DevComInterface::waitEvent(Evt e) {
  std::unique_lock<std::mutex> lock(evtMutex_);
  evtCv_.wait(lock, [&] { return evtSet_[e] || stop_.load() != 0; });
  if (stop_.load() != 0) return false;
  evtSet_[e] = false;
  return true;
}

void DevComInterface::startThread() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(evtMutex_);
    ZRQ_COMM_ASSERT(!contEvtExists_, "hContEvt_ == NULL", kUnit);
    contEvtExists_ = true;
    // A new thread starts from unsignalled events: a wake-up left over from
    // the previous connection must not let it run ahead.
    for (bool& e : evtSet_) e = false;
  }
  stop_.store(0);
  thread_ = std::thread([this] { threadMain(); });
}

void DevComInterface::stopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(evtMutex_);
    stop_.store(1);
  }
  contRd_.store(0);
  setEvent(EvtCont);
  setCommErr(false);
  evtCv_.notify_all();
  // Every wait of the thread ends on the stop; a step in progress ends after
  // its current exchange.
  thread_.join();
  std::lock_guard<std::mutex> lock(evtMutex_);
  contEvtExists_ = false;
  evtSet_[EvtCont] = false;
}

void DevComInterface::threadMain() {
  bool shown = false;
  while (stop_.load() == 0) {
    if (!contRd()) {
      waitEvent(EvtCont);
      shown = false;
      continue;
    }
    if (commErr()) {
      waitEvent(EvtCommErrClear);
      shown = false;
      continue;
    }
    if (!initPassed() && !waitEvent(EvtInitPassed)) continue;
    if (stop_.load() != 0) break;
    if (!shown) {
      p_stats_->showStatus(statsRow_, PortStatus::ContRd);
      shown = true;
    }
    if (!isOpen()) {
      waitEvent(EvtCont);  // never spin on a closed port
      continue;
    }
    contReadStep();
    std::unique_lock<std::mutex> lock(evtMutex_);
    evtCv_.wait_for(lock, std::chrono::milliseconds(kContReadPeriodMs),
                    [&] { return stop_.load() != 0 || !contRd(); });
  }
}

}  // namespace zrq::comm
