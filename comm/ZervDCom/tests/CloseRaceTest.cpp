// Closing a handle while other threads use it, on every connection kind:
// nothing may be freed under a running call, every waiter (even one without
// a time-out) is released, and every call returns within its time-out plus a
// margin. Runs under ASan and TSan, where a use-after-free or a race shows.

#include "CApi.h"
#include "../HidUSB/tests/SensorDescriptor.h"
#include "../HidUSB/tests/SimPeer.h"
#include "../HidUSB/tests/TempDir.h"
#include "../SerialPort/tests/PtyPair.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Common/ErrCodes.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kRounds = 200;
constexpr int kCallTimeoutMs = 10;
// What a call may take beyond its time-out on a loaded 2-core machine under a sanitizer.
constexpr auto kMargin = milliseconds(3000);

enum class Kind { Listener, Direct, Usb };

// A sensor that talks all the time: lines on the pty or reports on the
// simulated USB device, from its own thread, until destroyed.
class Chatter {
 public:
  explicit Chatter(std::function<void()> say) : say_(std::move(say)), thread_([this] { run(); }) {}
  ~Chatter() {
    stop_ = true;
    thread_.join();
  }

 private:
  void run() {
    while (!stop_) {
      say_();
      std::this_thread::sleep_for(milliseconds(1));
    }
  }
  std::function<void()> say_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class CloseRace : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(c.load()) << ::dlerror();
    c.comm_loadInterface();
    if (GetParam() == Kind::Usb) {
      peer = std::make_unique<HidTestData::SimPeer>(dir / "s0", 0x3A61, 0x7730, 0x0140,
                                                    HidTestData::kSensorDescriptor);
      simDir = std::make_unique<HidTestData::ScopedEnv>("ZERVDCOM_HID_SIM_DIR", dir.path());
      ASSERT_EQ(c.comm_createTKS7730USBDevMngr(&mngr), 1);
      int count = 0;
      ASSERT_EQ(c.comm_buildTKS7730USBDevList(mngr, &count), 1);
      ASSERT_EQ(count, 1);
      chatter = std::make_unique<Chatter>([this] {
        HidTestData::SimPeer::Report r(49, 0xFF);
        r[0] = 1;
        const std::string line = "D,1,2,3\r\n";
        std::copy(line.begin(), line.end(), r.begin() + 1);
        peer->sendToAll(r);
      });
    } else {
      ASSERT_TRUE(pty.ok());
      ::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
      chatter = std::make_unique<Chatter>([this] {
        [[maybe_unused]] ssize_t n = ::write(pty.master(), "D,1,2,3\r\n", 9);
        char sink[512];  // what the port wrote: keep the line from filling up
        while (::read(pty.master(), sink, sizeof sink) > 0) {
        }
      });
    }
  }
  void TearDown() override {
    chatter.reset();
    if (mngr) c.comm_close(mngr);
    c.comm_unloadInterface();
    c.unload();
  }

  // A new connection of the kind under test, not opened.
  DeviceHandle create() {
    DeviceHandle h = 0;
    if (GetParam() == Kind::Usb) {
      EXPECT_EQ(c.comm_createTKS7730USB(mngr, 0, &h, 4096), 1);
    } else {
      const std::u16string name = pty.slaveName();
      EXPECT_EQ(c.comm_createSerialPort(&h, name.c_str(), static_cast<int>(name.size()), 4096, 512,
                                        GetParam() == Kind::Listener ? 1 : 0),
                1);
    }
    return h;
  }
  int open(DeviceHandle h) {
    return GetParam() == Kind::Usb ? c.comm_openTKS7730USB(h)
                                   : c.comm_openSerialPort(h, 9600, 8, 1, 0, 0);
  }

  CApi c;
  HidTestData::TempDir dir;
  PtyPair pty;
  std::unique_ptr<HidTestData::SimPeer> peer;
  std::unique_ptr<HidTestData::ScopedEnv> simDir;
  std::unique_ptr<Chatter> chatter;
  DeviceHandle mngr = 0;
};

// One worker's calls on h until told to stop; each is timed against its
// time-out. Returns the slowest excess over the time-out seen.
struct Worker {
  CApi& c;
  DeviceHandle h;
  int role;
  std::atomic<bool>& stop;
  std::atomic<int>& calls;
  Clock::duration worstExcess{};

  void operator()() {
    std::mt19937 rng(static_cast<unsigned>(role) * 7919u);
    char buf[256];
    unsigned n = 0;
    while (!stop.load()) {
      const auto t0 = Clock::now();
      int limit = kCallTimeoutMs;
      switch ((role + static_cast<int>(rng() % 3)) % 6) {
        case 0:
          c.comm_readLine(h, buf, sizeof buf, &n, kCallTimeoutMs);
          break;
        case 1:
          c.comm_read(h, buf, 1 + rng() % 64, &n, kCallTimeoutMs);
          break;
        case 2:
          c.comm_write(h, "P\r\n", 3, &n, kCallTimeoutMs);
          break;
        case 3:
          c.comm_purge(h, 1u + rng() % 15);
          limit = 0;
          break;
        case 4:
          c.comm_readInBuff(h, buf, sizeof buf, &n);
          limit = 0;
          break;
        case 5:
          c.comm_getLastErr(h);
          limit = 0;
          break;
      }
      const auto excess = Clock::now() - t0 - milliseconds(limit);
      if (excess > worstExcess) worstExcess = excess;
      calls.fetch_add(1);
    }
  }
};

// Runs f on its own thread; false when it has not returned within ms (the
// thread is then left behind: the test has failed anyway).
bool returnsWithin(std::function<void()> f, int ms) {
  auto task = std::make_shared<std::packaged_task<void()>>(std::move(f));
  auto done = task->get_future();
  std::thread t([task] { (*task)(); });
  if (done.wait_for(milliseconds(ms)) != std::future_status::ready) {
    t.detach();
    return false;
  }
  t.join();
  return true;
}

}  // namespace

TEST_P(CloseRace, CallsInFlightOutliveACloseAndEndInTime) {
  constexpr int kWorkers = 5;
  // More than the data buffer holds and than arrives in the test: a read of
  // it waits until the close ends it.
  std::vector<char> big(1 << 20);
  for (int round = 0; round < kRounds; ++round) {
    const DeviceHandle h = create();
    ASSERT_NE(h, 0);
    ASSERT_EQ(open(h), 1) << c.comm_getLastErr(h);
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<Worker> workers;
    for (int i = 0; i < kWorkers; ++i) workers.push_back(Worker{c, h, i, stop, calls});
    // A reader without a time-out: only the close can end its wait.
    std::atomic<int> unlimited{-1};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
      unsigned n = 0;
      unlimited = c.comm_read(h, big.data(), static_cast<unsigned>(big.size()), &n,
                              round % 2 ? ZERVDCOM_NO_TIMEOUT : -1);
    });
    for (auto& w : workers) threads.emplace_back(std::ref(w));
    // Close once the workers are busy, at a different point every round.
    while (calls.load() < kWorkers * (round % 3)) std::this_thread::yield();
    EXPECT_EQ(c.comm_close(h), 1);
    // Every call that starts now finds no connection.
    unsigned n = 7;
    char buf[4];
    EXPECT_EQ(c.comm_readLine(h, buf, sizeof buf, &n, 1000), 0);
    EXPECT_EQ(c.comm_getLastErr(h), 0);
    stop = true;
    ASSERT_TRUE(returnsWithin(
        [&] {
          for (auto& t : threads) t.join();
        },
        20000))
        << "round " << round;
    EXPECT_EQ(unlimited.load(), 0);
    for (auto& w : workers) EXPECT_LT(w.worstExcess, kMargin) << "round " << round;
    if (HasFailure()) break;
  }
}

TEST_P(CloseRace, AnOpenRacingACloseIsSafe) {
  for (int round = 0; round < kRounds; ++round) {
    const DeviceHandle h = create();
    ASSERT_NE(h, 0);
    std::atomic<bool> started{false};
    std::atomic<int> opened{-1};
    std::thread opener([&] {
      started = true;
      opened = open(h);
      char buf[64];
      unsigned n = 0;
      c.comm_readLine(h, buf, sizeof buf, &n, kCallTimeoutMs);
    });
    while (!started.load()) std::this_thread::yield();
    for (int spin = 0; spin < round % 50; ++spin) std::this_thread::yield();
    EXPECT_EQ(c.comm_close(h), 1);
    ASSERT_TRUE(returnsWithin([&] { opener.join(); }, 20000)) << "round " << round;
    EXPECT_NE(opened.load(), -1);
    // The device is free again: a new connection opens it.
    if (round % 20 == 0) {
      const DeviceHandle again = create();
      EXPECT_EQ(open(again), 1) << "round " << round << " code " << c.comm_getLastErr(again);
      EXPECT_EQ(c.comm_close(again), 1);
    }
    if (HasFailure()) break;
  }
}

// A reader waiting without a time-out is released by the close at once,
// whatever "no limit" it gave, and answers false.
TEST_P(CloseRace, CloseReleasesAReaderWaitingWithoutATimeout) {
  chatter.reset();  // nothing arrives: the reads could wait for ever
  for (int timeout : {ZERVDCOM_NO_TIMEOUT, -1, -5000}) {
    const DeviceHandle h = create();
    ASSERT_EQ(open(h), 1) << c.comm_getLastErr(h);
    char buf[64];
    unsigned n = 9;
    std::promise<int> result;
    auto answer = result.get_future();
    std::thread reader([&] { result.set_value(c.comm_readLine(h, buf, sizeof buf, &n, timeout)); });
    // Not yet answered: the reader waits (its time-out never ends).
    EXPECT_EQ(answer.wait_for(milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(c.comm_close(h), 1);
    ASSERT_EQ(answer.wait_for(milliseconds(10000)), std::future_status::ready)
        << "timeout " << timeout;
    reader.join();
    EXPECT_EQ(answer.get(), 0);
    EXPECT_EQ(n, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, CloseRace,
                         ::testing::Values(Kind::Listener, Kind::Direct, Kind::Usb),
                         [](const ::testing::TestParamInfo<Kind>& i) {
                           return std::string(i.param == Kind::Listener ? "Listener"
                                              : i.param == Kind::Direct ? "Direct"
                                                                        : "Usb");
                         });
