#pragma once
// A connection whose helper step drains a pipe into the data buffer: the
// buffered read protocol and the helper thread exercised without a port.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

#include "Common/ErrCodes.h"
#include "Common/Exc.h"
#include "Common/PollWait.h"
#include "DeviceComm/BufferedRead.h"
#include "DeviceComm/CircDevDataBuf.h"
#include "DeviceComm/DeviceComm.h"
#include "DeviceComm/HelperThread.h"
#include "DeviceComm/ReadReq.h"

class PipeComm : public DeviceComm {
 public:
  // What the next step raises instead of reading (0: read normally).
  enum Fault { None, CommFailure, OtherExc, NotAnExc, Timeout, Stubborn };

  explicit PipeComm(unsigned capacity) : dataBuf(capacity), step(this), thread(&step) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
      readFd = p[0];
      writeFd = p[1];
    }
  }
  ~PipeComm() override {
    thread.stop(150);
    if (readFd >= 0) ::close(readFd);
    if (writeFd >= 0) ::close(writeFd);
  }

  void feed(const std::string& s) {
    [[maybe_unused]] auto n = ::write(writeFd, s.data(), s.size());
  }
  void hangUp() {
    ::close(writeFd);
    writeFd = -1;
  }

  bool open() override {
    thread.start();
    return true;
  }
  bool close() override {
    thread.stop(150);
    return true;
  }
  bool write(const uint8_t*, unsigned, unsigned*, int) override { return false; }
  bool read(uint8_t* b, unsigned l, unsigned* g, int t) override {
    return BufferedRead::read(*this, parts(), b, l, g, t);
  }
  bool readInBuff(uint8_t* b, unsigned l, unsigned* g) override {
    return BufferedRead::readInBuff(*this, parts(), b, l, g);
  }
  bool readLine(uint8_t* b, unsigned l, unsigned* g, int t) override {
    return BufferedRead::readLine(*this, parts(), b, l, g, t);
  }
  bool purge(unsigned) override { return BufferedRead::purge(*this, parts()); }
  bool isPortAvail() override { return true; }

  BufferedReadParts parts() {
    BufferedReadParts p;
    p.dataBuf = &dataBuf;
    p.bytesReq = &bytesReq;
    p.charReq = &charReq;
    p.threads[0] = withThread ? &thread : nullptr;
    return p;
  }

  struct Step : HelperThProc {
    explicit Step(PipeComm* c) : HelperThProc(c), c(c) {}
    void run() override {
      ++runs;
      BufferedRead::checkStepConditions(c->dataBuf, c->bytesReq, c->charReq);
      switch (c->fault.exchange(None)) {
        case CommFailure:
          throw CommErrInfo::CommExc(27, u"setup", DebugInfo("Step.cpp", 1));
        case OtherExc:
          throw IndexOutOfBoundsExc(1, 1, DebugInfo("Step.cpp", 2));
        case NotAnExc:
          throw 42;
        case Timeout:
          throw CommErrInfo::CommExc(8, DebugInfo("Step.cpp", 3));
        case Stubborn:  // a step that ignores its wake-up
          c->stubbornEntered.set();
          c->release.wait(kInfiniteMs);
          return;
        case None:
          break;
      }
      switch (pollWait(c->readFd, POLLIN, kInfiniteMs, c->thread.wakeFd())) {
        case PollOutcome::Ready:
          break;
        case PollOutcome::Woken:
        case PollOutcome::TimedOut:
          throw CommErrInfo::CommExc(8, DebugInfo("Step.cpp", 4));
        default:
          throw CommErrInfo::CommWin32Exc(6, "::ReadFile()", EIO, DebugInfo("Step.cpp", 5));
      }
      uint8_t tmp[256];
      ssize_t n = ::read(c->readFd, tmp, sizeof tmp);
      if (n == 0) throw CommErrInfo::CommWin32Exc(6, "::ReadFile()", EIO, DebugInfo("Step.cpp", 6));
      if (n > 0) c->dataBuf.write(tmp, static_cast<unsigned>(n));
      BufferedRead::checkStepConditions(c->dataBuf, c->bytesReq, c->charReq);
    }
    void failed() override { BufferedRead::signalPending(c->bytesReq, c->charReq); }
    PipeComm* c;
    std::atomic<int> runs{0};
  };

  int readFd = -1, writeFd = -1;
  std::atomic<Fault> fault{None};
  Event stubbornEntered, release;
  bool withThread = true;
  CircDevDataBuf dataBuf;
  BytesReadReq bytesReq;
  CharReadReq charReq;
  Step step;
  HelperThread thread;
};
