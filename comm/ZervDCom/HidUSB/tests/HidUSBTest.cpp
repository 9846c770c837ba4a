#include "HidUSB/HidUSB.h"
#include "HidUSB/HidUSBExc.h"
#include "HidUSB/ZervUSBReports.h"
#include "SensorDescriptor.h"
#include "SimPeer.h"
#include "TempDir.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "Common/ErrCodes.h"
#include "Common/Event.h"
#include "Common/WakeFd.h"

using HidTestData::SimPeer;
using HidTestData::TempDir;

namespace {

HidUSBDevInfo infoFor(const std::string& path) { return HidUSBDevInfo(0x3A61, 0x7730, 1, path); }

template <class E>
int codeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.code();
  } catch (...) {
    return -1;
  }
  return 0;
}

SimPeer::Report inReport(std::initializer_list<uint8_t> payload) {
  SimPeer::Report r(payload);
  r.insert(r.begin(), 1);
  r.resize(49, 0xFF);
  return r;
}

}  // namespace

TEST(HidUSB, OpensWithTheSensorCapabilitiesAndLocksThePath) {
  TempDir dir;
  SimPeer peer(dir / "s", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  HidUSB hid(infoFor(peer.path()));
  EXPECT_EQ(hid.caps().inputReportByteLength, 49);
  EXPECT_EQ(hid.caps().outputReportByteLength, 49);
  EXPECT_TRUE(hid.caps().usesReportIds);
  EXPECT_EQ(codeOf<CommErrInfo::CommExc>([&] { HidUSB again(infoFor(peer.path())); }),
            ErrCode::OpenInOtherProcess);
}

TEST(HidUSB, OpenFailuresAreCode2And22) {
  TempDir dir;
  EXPECT_EQ(codeOf<HidUSBWin32Exc>([&] { HidUSB h(infoFor(dir / "absent")); }),
            ErrCode::OpenFailed);
  SimPeer bad(dir / "bad", 0x3A61, 0x7730, 1, {0xA1, 0x01, 0x81});  // truncated descriptor
  EXPECT_EQ(codeOf<HidUSBExc>([&] { HidUSB h(infoFor(bad.path())); }),
            ErrCode::InvalidCapabilities);
  // A failed open leaves no lock behind.
  SimPeer good(dir / "bad2", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  EXPECT_NO_THROW(HidUSB h(infoFor(good.path())));
  EXPECT_NO_THROW(HidUSB h(infoFor(good.path())));
}

TEST(HidUSB, DeviceHeldByAnotherProcessFailsWith15UntilReleased) {
  TempDir dir;
  SimPeer peer(dir / "s", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  int toParent[2], toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char c = 'F';
    try {
      auto* h = new HidUSB(infoFor(peer.path()));
      c = 'L';
      (void)!::write(toParent[1], &c, 1);
      (void)!::read(toChild[0], &c, 1);
      delete h;
    } catch (...) {
      (void)!::write(toParent[1], &c, 1);
    }
    (void)!::write(toParent[1], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');
  EXPECT_EQ(codeOf<CommErrInfo::CommExc>([&] { HidUSB h(infoFor(peer.path())); }),
            ErrCode::OpenInOtherProcess);
  ASSERT_EQ(::write(toChild[1], &c, 1), 1);
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  EXPECT_NO_THROW(HidUSB h(infoFor(peer.path())));
  int st = 0;
  ::waitpid(pid, &st, 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
}

TEST(HidUSB, WritesWholeReportsAndRefusesOtherLengths) {
  TempDir dir;
  SimPeer peer(dir / "s", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  HidUSB hid(infoFor(peer.path()));
  ZervUSB::TKS7730CmdReport cmd(ZervUSB::kCmdPoll);
  EXPECT_EQ(hid.writeReport(cmd, 1000), 49u);
  auto got = peer.waitReports(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], SimPeer::Report(cmd.buffer(), cmd.buffer() + 49));

  HidReport shortOne(2, 10);
  EXPECT_EQ(codeOf<HidUSBExc>([&] { hid.writeReport(shortOne, 1000); }),
            ErrCode::InvalidReportLength);
  EXPECT_EQ(codeOf<HidUSBExc>([&] { hid.checkReport(&cmd, 2, 49); }), ErrCode::InvalidReportId);
  EXPECT_EQ(codeOf<HidUSBExc>([&] { hid.checkReport(&cmd, 3, 48); }), ErrCode::InvalidReportLength);
  EXPECT_NO_THROW(hid.checkReport(&cmd, 3, 49));
}

TEST(HidUSB, ReadsUpToTheMaximumAndDropsReportsOfAnotherLength) {
  TempDir dir;
  SimPeer peer(dir / "s", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  HidUSB hid(infoFor(peer.path()));
  ASSERT_TRUE(peer.waitConnections(1));
  ZervUSB::TKS7730InReport r[3];
  HidReportList list;
  for (auto& x : r) list.add(&x);

  EXPECT_EQ(hid.readReports(list, 3, 0), 0u);  // nothing there: a time-out, no error
  peer.sendToAll({1, 'x'});                    // a short report: dropped
  peer.sendToAll(inReport({'a'}));
  peer.sendToAll(inReport({'b'}));
  peer.sendToAll(inReport({'c'}));
  unsigned total = 0;
  for (int i = 0; i < 50 && total < 3; ++i) total += hid.readReports(list, 2, 1000);
  // Two at most per call: the third comes with the next.
  EXPECT_EQ(total, 3u);
  EXPECT_EQ(hid.droppedReports(), 1u);

  // A report of the right length with another report's ID is no data either.
  auto other = inReport({'z'});
  other[0] = 2;
  peer.sendToAll(other);
  peer.sendToAll(inReport({'d'}));
  total = 0;
  for (int i = 0; i < 50 && total < 1; ++i) total += hid.readReports(list, 2, 1000);
  EXPECT_EQ(total, 1u);
  EXPECT_EQ(r[0].buffer()[0], 1);
  EXPECT_EQ(r[0].buffer()[1], 'd');
  EXPECT_EQ(hid.droppedReports(), 2u);

  HidReportList wrong;
  HidReport odd(1, 10);
  wrong.add(&odd);
  EXPECT_EQ(codeOf<HidUSBExc>([&] { hid.readReports(wrong, 1, 0); }), ErrCode::InvalidReportLength);
  HidReportList none;
  EXPECT_EQ(hid.readReports(none, 5, 0), 0u);
}

TEST(HidUSB, UnplugIsAReadAndWriteFailureAndTheWakeUpEndsAWait) {
  TempDir dir;
  SimPeer peer(dir / "s", 0x3A61, 0x7730, 1, HidTestData::kSensorDescriptor);
  HidUSB hid(infoFor(peer.path()));
  ZervUSB::TKS7730InReport r;
  HidReportList list;
  list.add(&r);
  WakeFd wake;
  wake.wake();
  EXPECT_EQ(codeOf<CommErrInfo::CommExc>([&] { hid.readReports(list, 1, kInfiniteMs, wake.fd()); }),
            ErrCode::ReadTimeout);
  wake.drain();

  ASSERT_TRUE(peer.waitConnections(1));
  peer.dropAll();
  EXPECT_EQ(codeOf<HidUSBWin32Exc>([&] { hid.readReports(list, 1, 5000); }), ErrCode::ReadFailed);
  ZervUSB::TKS7730CmdReport cmd(ZervUSB::kCmdPoll);
  EXPECT_EQ(codeOf<HidUSBWin32Exc>([&] { hid.writeReport(cmd, 1000); }), ErrCode::WriteFailed);
}

namespace {

// A device that notices when two writes are in progress at once.
class OverlapDetector final : public HidIo::HidChannel {
 public:
  OverlapDetector() { (void)!::pipe(fds_); }
  ~OverlapDetector() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int fd() const override { return fds_[1]; }  // always writable
  const std::vector<uint8_t>& reportDescriptor() const override {
    return HidTestData::kSensorDescriptor;
  }
  ssize_t readReport(uint8_t*, size_t) override { return 0; }
  ssize_t writeReport(const uint8_t* buf, size_t len) override {
    int now = ++inside_;
    if (now > maxInside_) maxInside_ = now;
    for (int i = 0; i < 200; ++i) std::this_thread::yield();  // widen the window
    if (len != 49 || (buf[0] != 2 && buf[0] != 3)) ++broken_;
    --inside_;
    ++writes_;
    return static_cast<ssize_t>(len);
  }
  std::atomic<int> inside_{0}, maxInside_{0}, broken_{0}, writes_{0};

 private:
  int fds_[2];
};

}  // namespace

TEST(HidUSB, TheCallersWriteAndThePollNeverOverlap) {
  TempDir dir;
  HidTestData::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir.path());
  auto ch = std::make_unique<OverlapDetector>();
  OverlapDetector* det = ch.get();
  HidUSB hid(infoFor("/fake/overlap"), std::move(ch));
  auto writer = [&](uint8_t id) {
    for (int i = 0; i < 300; ++i) {
      if (id == 3) {
        ZervUSB::TKS7730CmdReport r(ZervUSB::kCmdPoll);
        hid.writeReport(r, kInfiniteMs);
      } else {
        ZervUSB::TKS7730OutReport r(reinterpret_cast<const uint8_t*>("hello"), 5);
        hid.writeReport(r, 30000);  // timed, but never reached on a loaded machine
      }
    }
  };
  std::thread a(writer, 2), b(writer, 3);
  a.join();
  b.join();
  EXPECT_EQ(det->writes_.load(), 600);
  EXPECT_EQ(det->maxInside_.load(), 1);
  EXPECT_EQ(det->broken_.load(), 0);
}

namespace {

// A device that never takes a report: its descriptor never becomes writable.
class StuckDevice final : public HidIo::HidChannel {
 public:
  StuckDevice() {
    (void)!::pipe2(fds_, O_NONBLOCK);
    char junk[4096] = {};
    while (::write(fds_[1], junk, sizeof junk) > 0) {
    }
  }
  ~StuckDevice() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int fd() const override { return fds_[1]; }
  const std::vector<uint8_t>& reportDescriptor() const override {
    return HidTestData::kSensorDescriptor;
  }
  ssize_t readReport(uint8_t*, size_t) override { return 0; }
  ssize_t writeReport(const uint8_t*, size_t) override { return -EIO; }  // must never be reached

 private:
  int fds_[2];
};

}  // namespace

TEST(HidUSB, AWriteTheDeviceDoesNotTakeTimesOutWithoutRaising) {
  TempDir dir;
  HidTestData::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir.path());
  HidUSB hid(infoFor("/fake/stuck"), std::make_unique<StuckDevice>());
  ZervUSB::TKS7730CmdReport cmd(ZervUSB::kCmdPoll);
  EXPECT_EQ(hid.writeReport(cmd, 0), 0u);
  EXPECT_EQ(hid.writeReport(cmd, 20), 0u);
  WakeFd wake;
  wake.wake();
  EXPECT_EQ(hid.writeReport(cmd, kInfiniteMs, wake.fd()),
            0u);  // a stop ends even an unlimited wait
}
