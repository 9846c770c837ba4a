#include "SerialPort/SerialPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include "Common/Assertion.h"
#include "Common/Deadline.h"
#include "Common/ErrCodes.h"
#include "Common/Event.h"
#include "Common/PollWait.h"
#include "Common/WideText.h"
#include "DeviceComm/DeviceComm.h"
#include "SerialPort/SerialPortExc.h"
#include "SerialPort/TermiosSettings.h"
#include "SerialPort/UucpLock.h"

SerialPortExc::~SerialPortExc() = default;
SerialPortWin32Exc::~SerialPortWin32Exc() = default;

namespace {

// Modem-line and counter ioctls are absent on pseudo-terminals and some
// adapters; that is no failure.
bool notSupported(int err) { return err == ENOTTY || err == EINVAL || err == EIO; }

}  // namespace

SerialPort::SerialPort(std::u16string_view portName, unsigned inQueueSize, unsigned outQueueSize)
    : name_(portName.substr(0, std::min<size_t>(portName.size(), 259))),
      inQueue_(inQueueSize),
      outQueue_(outQueueSize) {
  auto z = name_.find(u'\0');
  if (z != std::u16string::npos) name_.resize(z);
}

SerialPort::~SerialPort() { close(); }

std::string SerialPort::devicePathFor(std::u16string_view portName) {
  std::string s = toUtf8(portName);
  if (auto z = s.find('\0'); z != std::string::npos) s.resize(z);
  if (s.empty()) return {};
  if (s.front() == '/') return s;
  if (s.size() > 3 && (s[0] == 'C' || s[0] == 'c') && (s[1] == 'O' || s[1] == 'o') &&
      (s[2] == 'M' || s[2] == 'm')) {
    unsigned n = 0;
    const char* b = s.data() + 3;
    const char* e = s.data() + s.size();
    auto r = std::from_chars(b, e, n);
    if (r.ec == std::errc() && r.ptr == e && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return {};
}

void SerialPort::requireOpen() const {
  if (fd_ < 0) throw SerialPortExc(ErrCode::NotOpened, ZRQ_HERE);
}

void SerialPort::open(LineSettings settings) {
  std::lock_guard<std::mutex> life(lifeMutex_);
  if (fd_ >= 0) throw SerialPortExc(ErrCode::AlreadyOpened, ZRQ_HERE);
  try {
    path_ = devicePathFor(name_);
    if (path_.empty())
      throw SerialPortWin32Exc(ErrCode::OpenFailed, "::CreateFile()", ENOENT, ZRQ_HERE);
    int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw SerialPortWin32Exc(ErrCode::OpenFailed, "::CreateFile()", errno, ZRQ_HERE);
    fd_ = fd;
    // Not shared: flock is what picocom and pyserial honour, the UUCP lock
    // what minicom honours, TIOCEXCL what the kernel enforces (not for root).
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      int e = errno == EWOULDBLOCK ? EBUSY : errno;
      throw SerialPortWin32Exc(ErrCode::OpenFailed, "::CreateFile()", e, ZRQ_HERE);
    }

    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
      if (errno == ENOTTY || errno == EINVAL) throw SerialPortExc(ErrCode::NotRs232, ZRQ_HERE);
      throw SerialPortWin32Exc(ErrCode::NoProperties, "::GetCommProperties()", errno, ZRQ_HERE);
    }
    saved_ = t;
    haveSaved_ = true;

    bool busy = false;
    uucpLock_ = acquireUucpLock(path_, busy);
    if (busy) throw SerialPortWin32Exc(ErrCode::OpenFailed, "::CreateFile()", EBUSY, ZRQ_HERE);
    if (::ioctl(fd_, TIOCEXCL) != 0 && !notSupported(errno))
      throw SerialPortWin32Exc(ErrCode::OpenFailed, "::CreateFile()", errno, ZRQ_HERE);

    if (inQueue_ < 16 || outQueue_ < 16 || inQueue_ > kMaxBufferSize || outQueue_ > kMaxBufferSize)
      throw SerialPortExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
    // Another size would be opened as 8 bits without a word.
    if (settings.byteSize < 5 || settings.byteSize > 8)
      throw SerialPortWin32Exc(ErrCode::SerialSetupFailed, "::SetCommState()", EINVAL, ZRQ_HERE);
    eventMask_ = kEventMaskBytes;
    setReadTimeouts(false);

    const bool known = applyLineSettings(t, settings);
    ZRQ_ASSERT(known);
    parityOn_ = settings.parity != 0;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0)
      throw SerialPortWin32Exc(ErrCode::SerialSetupFailed, "::SetCommState()", errno, ZRQ_HERE);
    if (standardSpeed(settings.baudRate) == 0) {
      if (int e = setCustomBaud(fd_, settings.baudRate))
        throw SerialPortWin32Exc(ErrCode::SerialSetupFailed, "::SetCommState()", e, ZRQ_HERE);
    }

    int lines = TIOCM_DTR | TIOCM_RTS;
    int req = settings.flowControl == 2 ? TIOCMBIC : TIOCMBIS;
    if (settings.flowControl == 1) lines = TIOCM_DTR;  // RTS belongs to the handshake
    if (::ioctl(fd_, req, &lines) != 0 && !notSupported(errno))
      throw SerialPortWin32Exc(ErrCode::SerialSetupFailed, "::SetCommState()", errno, ZRQ_HERE);

    std::lock_guard<std::mutex> lk(rxMutex_);
    dropRx();
    decoder_.takeEvents();
    serial_icounter_struct ic{};
    haveCounters_ = ::ioctl(fd_, TIOCGICOUNT, &ic) == 0;
    if (haveCounters_) counters_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
  } catch (...) {
    closeLocked();
    throw;
  }
}

void SerialPort::close() noexcept {
  std::lock_guard<std::mutex> life(lifeMutex_);
  closeLocked();
}

void SerialPort::closeLocked() noexcept {
  if (fd_ < 0) return;
  if (haveSaved_) ::tcsetattr(fd_, TCSANOW, &saved_);
  haveSaved_ = false;
  // The exclusive flag belongs to the tty, not to our descriptor: a pty
  // slave would keep it after we are gone.
  ::ioctl(fd_, TIOCNXCL);
  releaseUucpLock(uucpLock_);
  uucpLock_.clear();
  ::close(fd_);  // releases the flock too
  fd_ = -1;
  std::lock_guard<std::mutex> lk(rxMutex_);
  dropRx();
  decoder_.takeEvents();
}

unsigned SerialPort::write(const uint8_t* data, unsigned len, int timeoutMs) {
  requireOpen();
  if (len == 0) return 0;
  if (!data) throw SerialPortExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
  const Deadline deadline(timeoutMs);
  unsigned done = 0;
  while (done < len) {
    ssize_t w = ::write(fd_, data + done, len - done);
    if (w > 0) {
      done += static_cast<unsigned>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      switch (pollWait(fd_, POLLOUT, deadline.msLeft(), cancelFd_)) {
        case PollOutcome::Ready:
          continue;
        case PollOutcome::TimedOut:
          throw SerialPortExc(ErrCode::WriteTimeout, ZRQ_HERE);
        case PollOutcome::Woken:
          throw SerialPortExc(ErrCode::NotOpened, ZRQ_HERE);
        default:
          throw SerialPortWin32Exc(ErrCode::WriteFailed, "::WaitForSingleObject()", errno,
                                   ZRQ_HERE);
      }
    }
    throw SerialPortWin32Exc(ErrCode::WriteFailed, "::WriteFile()", w < 0 ? errno : EIO, ZRQ_HERE);
  }
  return done;
}

size_t SerialPort::fillRx(size_t maxBytes) {
  uint8_t raw[4096];
  const size_t want = std::min(maxBytes, sizeof raw);
  if (want == 0) return 0;
  for (;;) {
    ssize_t r = ::read(fd_, raw, want);
    if (r > 0) {
      // What was handed out goes before more comes in, so the store never
      // holds more than its reader's bound however long no line feed comes.
      if (rxPos_ > 0) {
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rxPos_));
        rxPos_ = 0;
      }
      const size_t old = rx_.size();
      // One more than was read: a 0xFF held back from the last read comes out
      // now beside a byte that shows it was no mark.
      rx_.resize(old + static_cast<size_t>(r) + 1);
      rx_.resize(old + decoder_.decode(raw, static_cast<size_t>(r), rx_.data() + old));
      return static_cast<size_t>(r);
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return 0;
    // End of file on a terminal: the other side hung up.
    throw SerialPortWin32Exc(ErrCode::ReadFailed, "::ReadFile()", r == 0 ? EIO : errno, ZRQ_HERE);
  }
}

void SerialPort::dropRx() {
  rx_.clear();
  rxPos_ = 0;
  decoder_.reset();
}

unsigned SerialPort::takeRx(uint8_t* buf, unsigned len) {
  const size_t have = rx_.size() - rxPos_;
  const unsigned n = static_cast<unsigned>(std::min<size_t>(have, len));
  if (n) std::memcpy(buf, rx_.data() + rxPos_, n);
  rxPos_ += n;
  if (rxPos_ == rx_.size()) {
    rx_.clear();
    rxPos_ = 0;
  }
  return n;
}

unsigned SerialPort::readAvailable(uint8_t* buf, unsigned len) {
  requireOpen();
  if (len == 0) return 0;
  if (!buf) throw SerialPortExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
  setReadTimeouts(false);
  std::lock_guard<std::mutex> lk(rxMutex_);
  const size_t have = rx_.size() - rxPos_;
  if (have < len) fillRx(len - have);
  return takeRx(buf, len);
}

void SerialPort::waitReadable(int timeoutMs, int wakeFd, const char* what) {
  switch (pollWait(fd_, POLLIN, timeoutMs, wakeFd)) {
    case PollOutcome::Ready:
      return;
    case PollOutcome::TimedOut:
    case PollOutcome::Woken:  // the helper thread starts over or stops
      throw SerialPortExc(ErrCode::ReadTimeout, ZRQ_HERE);
    case PollOutcome::HangUp:
      throw SerialPortWin32Exc(ErrCode::ReadFailed, "::ReadFile()", EIO, ZRQ_HERE);
    case PollOutcome::Error:
      throw SerialPortWin32Exc(ErrCode::ReadFailed, what, errno, ZRQ_HERE);
  }
}

size_t SerialPort::rxFootprint() {
  std::lock_guard<std::mutex> lk(rxMutex_);
  return rx_.capacity();
}

bool SerialPort::hasPendingLineErrors() {
  std::lock_guard<std::mutex> lk(rxMutex_);
  return decoder_.hasEvents();
}

void SerialPort::checkLineErrors(unsigned eventMask) {
  requireOpen();
  ParmrkDecoder::Events ev;
  bool brk = false, frame = false, parity = false, overrun = false, bufOverrun = false;
  {
    std::lock_guard<std::mutex> lk(rxMutex_);
    ev = decoder_.takeEvents();
    brk = ev.breaks > 0;
    serial_icounter_struct ic{};
    if (haveCounters_ && ::ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
      frame = ic.frame != counters_.frame;
      parity = ic.parity != counters_.parity;
      overrun = ic.overrun != counters_.overrun;
      bufOverrun = ic.buf_overrun != counters_.bufOverrun;
      brk = brk || ic.brk != counters_.brk;
      counters_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    }
  }
  if (ev.errorChars && !frame && !parity) {
    // A marked character without counters to tell which: with parity off it
    // can only be a framing error.
    (parityOn_ ? parity : frame) = true;
  }
  unsigned events = eventMask & 0xC0;
  if (frame || parity || overrun || bufOverrun) events |= 0x80;
  if (brk) events |= 0x40;
  if (events & 0x80) {
    std::u16string d;
    if (brk) d += errMessageOrNull(ErrCode::HwBreak);
    if (frame) d += u" " + std::u16string(errMessageOrNull(ErrCode::HwFraming));
    if (overrun) d += u" " + std::u16string(errMessageOrNull(ErrCode::HwCharOverrun));
    if (bufOverrun) d += u" " + std::u16string(errMessageOrNull(ErrCode::HwInputOverflow));
    if (parity) d += u" " + std::u16string(errMessageOrNull(ErrCode::HwParity));
    throw SerialPortExc(ErrCode::HardwareError, d, ZRQ_HERE);
  }
  if (events & 0x40) throw SerialPortExc(ErrCode::BreakDetected, ZRQ_HERE);
}

unsigned SerialPort::checkCommErrors(unsigned eventMask) {
  checkLineErrors(eventMask);
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0)
    throw SerialPortWin32Exc(ErrCode::ReadFailed, "::ClearCommError()", errno, ZRQ_HERE);
  std::lock_guard<std::mutex> lk(rxMutex_);
  return static_cast<unsigned>(std::max(waiting, 0)) + static_cast<unsigned>(rx_.size() - rxPos_);
}

unsigned SerialPort::read(uint8_t* buf, unsigned len, int timeoutMs) {
  requireOpen();
  if (len == 0) return 0;
  if (!buf) throw SerialPortExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
  unsigned got = 0;
  unsigned waiting = checkCommErrors(0);
  if (waiting > 0) got += readAvailable(buf, std::min(len, waiting));
  setReadTimeouts(false);
  while (got < len) {
    // The time-out bounds each wait for more data, not the whole call.
    waitReadable(timeoutMs, cancelFd_, "::WaitForSingleObject()");
    got += readAvailable(buf + got, len - got);
    checkLineErrors();
  }
  return got;
}

bool SerialPort::waitForInput(int timeoutMs, int wakeFd) {
  requireOpen();
  {
    std::lock_guard<std::mutex> lk(rxMutex_);
    if (rx_.size() > rxPos_) return true;
  }
  switch (pollWait(fd_, POLLIN, timeoutMs, wakeFd)) {
    case PollOutcome::Ready:
      return true;
    case PollOutcome::TimedOut:
    case PollOutcome::Woken:  // the helper thread starts over or stops
      return false;
    case PollOutcome::HangUp:
      throw SerialPortWin32Exc(ErrCode::ReadFailed, "::ReadFile()", EIO, ZRQ_HERE);
    case PollOutcome::Error:
      break;
  }
  throw SerialPortWin32Exc(ErrCode::ReadFailed, "::WaitForSingleObject()", errno, ZRQ_HERE);
}

unsigned SerialPort::readSome(uint8_t* buf, unsigned len, int timeoutMs, int wakeFd) {
  requireOpen();
  if (len == 0) return 0;
  {
    std::lock_guard<std::mutex> lk(rxMutex_);
    if (rx_.size() > rxPos_) return takeRx(buf, len);
  }
  // Wait first: a read of a terminal with nothing there would itself wait
  // for the kernel's receive work to finish.
  for (;;) {
    waitReadable(timeoutMs, wakeFd, "::WaitForSingleObject()");
    if (unsigned n = readAvailable(buf, len)) return n;
  }
}

unsigned SerialPort::readLine(uint8_t* buf, unsigned len, int timeoutMs) {
  requireOpen();
  if (!buf && len) throw SerialPortExc(ErrCode::InvalidDataBuffer, ZRQ_HERE);
  eventMask_ = kEventMaskLine;
  struct RestoreMask {
    std::atomic<unsigned>& m;
    ~RestoreMask() { m = kEventMaskBytes; }
  } restore{eventMask_};
  const Deadline deadline(timeoutMs);
  // Bytes are held back until a line feed is there, as the driver would; a
  // full queue without one is returned as it is rather than waited on.
  const size_t cap = std::max<size_t>({inQueue_, len, 16});
  size_t scanned = 0;
  for (;;) {
    bool ready = false;
    {
      std::lock_guard<std::mutex> lk(rxMutex_);
      for (;;) {
        const size_t have = rx_.size() - rxPos_;
        const uint8_t* begin = rx_.data() + rxPos_;
        if (std::find(begin + std::min(scanned, have), begin + have, '\n') != begin + have ||
            have >= cap) {
          ready = true;
          break;
        }
        scanned = have;
        if (fillRx(cap - have) == 0) break;
      }
    }
    // Errors marked in what arrived win over the line, as the event would.
    checkLineErrors();
    if (ready) {
      std::lock_guard<std::mutex> lk(rxMutex_);
      return takeRx(buf, len);
    }
    waitReadable(deadline.msLeft(), cancelFd_, "::WaitForSingleObject()");
  }
}

void SerialPort::purge(unsigned flags) {
  requireOpen();
  if ((flags & PurgeFlag::ClearOutput) && ::tcflush(fd_, TCOFLUSH) != 0)
    throw SerialPortWin32Exc(ErrCode::PurgeFailed, "::PurgeComm()", errno, ZRQ_HERE);
  if (flags & PurgeFlag::ClearInput) {
    if (::tcflush(fd_, TCIFLUSH) != 0)
      throw SerialPortWin32Exc(ErrCode::PurgeFailed, "::PurgeComm()", errno, ZRQ_HERE);
    std::lock_guard<std::mutex> lk(rxMutex_);
    dropRx();
  }
}

void SerialPort::setReadTimeouts(bool /*blocking*/) {
  // The descriptor stays non-blocking; every wait is a bounded poll().
  requireOpen();
}
