// Sequences of comm_* calls with fuzzed arguments on a pseudo-terminal and a
// simulated USB sensor. The input is split into two call streams run on two
// threads at once, so calls interleave with closes, opens and purges of the
// same handles; the peer side sends fuzzed bytes and reports meanwhile. Every
// handle made is closed at the end, which must also end any wait still
// running. Nothing may crash, hang or trip a sanitizer.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../HidUSB/tests/SensorDescriptor.h"
#include "../HidUSB/tests/SimPeer.h"
#include "ZervDCom.h"

namespace {

// The sensor ends, made once per process.
struct Rig {
  int master = -1;
  std::u16string slave;
  std::string simDir;
  HidTestData::SimPeer* peer = nullptr;
  DeviceHandle mngr = 0;

  Rig() {
    int s = -1;
    if (::openpty(&master, &s, nullptr, nullptr, nullptr) != 0) std::abort();
    termios t{};
    ::tcgetattr(s, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(s, TCSANOW, &t);
    ::tcsetattr(master, TCSANOW, &t);
    const std::string name = ::ttyname(s);
    slave.assign(name.begin(), name.end());
    ::close(s);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    char tmpl[] = "/tmp/zrqfuzzXXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    simDir = tmpl;
    peer = new HidTestData::SimPeer(simDir + "/s0", 0x3A61, 0x7730, 0x0140,
                                    HidTestData::kSensorDescriptor);
    ::setenv("ZERVDCOM_HID_SIM_DIR", simDir.c_str(), 1);
    comm_loadInterface();
    int count = 0;
    if (!comm_createTKS7730USBDevMngr(&mngr) || !comm_buildTKS7730USBDevList(mngr, &count) ||
        count != 1)
      std::abort();
  }
};

Rig& rig() {
  static Rig* r = new Rig;  // lives to the end: the peer's thread must too
  return *r;
}

// Reads the fuzz bytes of one stream.
class Bytes {
 public:
  Bytes(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  bool more() const { return pos_ < n_; }
  uint8_t u8() { return pos_ < n_ ? d_[pos_++] : 0; }
  unsigned u16() { return u8() | unsigned(u8()) << 8; }
  const uint8_t* take(size_t& len) {
    len = std::min(len, n_ - pos_);
    const uint8_t* p = d_ + pos_;
    pos_ += len;
    return p;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t pos_ = 0;
};

// Handles made during one input, shared by both streams.
struct Handles {
  std::atomic<bool> finishing{false};
  std::mutex m;
  std::vector<DeviceHandle> all;
  void add(DeviceHandle h) {
    if (!h) return;
    std::lock_guard<std::mutex> lk(m);
    all.push_back(h);
  }
  DeviceHandle pick(uint8_t b) {
    std::lock_guard<std::mutex> lk(m);
    if (all.empty() || b == 0xFF) return static_cast<DeviceHandle>(b);  // also unknown handles
    return all[b % all.size()];
  }
};

constexpr unsigned kSizes[] = {
    0,          1, 15, 16, 64, 512, 4096, ZERVDCOM_MAX_BUFFER_SIZE, ZERVDCOM_MAX_BUFFER_SIZE + 1,
    0xFFFFFFFFu};
constexpr int kTimeouts[] = {0, 1, 3, 5};

void runStream(Bytes in, Handles& hs, bool mayWaitForEver) {
  Rig& r = rig();
  std::array<uint8_t, 512> buf{};
  char16_t text[300];
  int ops = 0;
  while (in.more() && ops++ < 64 && !hs.finishing.load()) {
    const uint8_t op = in.u8();
    const DeviceHandle h = hs.pick(in.u8());
    unsigned n = 0;
    const int timeout = (mayWaitForEver && (op & 0x80)) ? -1 : kTimeouts[in.u8() % 4];
    switch (op % 14) {
      case 0: {
        DeviceHandle nh = 0;
        const int len = static_cast<int>(r.slave.size());
        comm_createSerialPort(&nh, r.slave.c_str(), len, kSizes[in.u8() % 10], kSizes[in.u8() % 10],
                              in.u8() & 1);
        hs.add(nh);
        break;
      }
      case 1: {
        const int bauds[] = {9600, 115200, 921600, 12345, 0, -1};
        comm_openSerialPort(h, bauds[in.u8() % 6], static_cast<int8_t>(in.u8()) % 12, in.u8() % 7,
                            in.u8() % 4, in.u8() % 4);
        break;
      }
      case 2: {
        DeviceHandle nh = 0;
        comm_createTKS7730USB(r.mngr, static_cast<int8_t>(in.u8()) % 3, &nh, kSizes[in.u8() % 10]);
        hs.add(nh);
        break;
      }
      case 3:
        comm_openTKS7730USB(h);
        break;
      case 4: {
        size_t len = in.u8() % 200;
        const uint8_t* p = in.take(len);
        comm_write(h, len ? p : buf.data(), static_cast<unsigned>(len), &n, timeout);
        break;
      }
      case 5:
        comm_read(h, buf.data(), in.u8() % buf.size(), &n, timeout);
        break;
      case 6:
        comm_readLine(h, buf.data(), in.u16() % buf.size(), &n, timeout);
        break;
      case 7:
        comm_readInBuff(h, buf.data(), in.u8() % buf.size(), &n);
        break;
      case 8:
        comm_purge(h, in.u8() & 15);
        break;
      case 9:
        comm_close(h);
        break;
      case 10: {  // the serial peer talks
        size_t len = in.u8() % 128;
        const uint8_t* p = in.take(len);
        if (len) [[maybe_unused]]
          ssize_t w = ::write(r.master, p, len);
        char sink[512];
        while (::read(r.master, sink, sizeof sink) > 0) {
        }
        break;
      }
      case 11: {  // the USB peer sends a report of fuzzed ID and length
        size_t len = in.u8() % 60;
        const uint8_t* p = in.take(len);
        r.peer->sendToAll(HidTestData::SimPeer::Report(p, p + len));
        break;
      }
      case 12:
        comm_getLastErr(h);
        comm_translateLastErr(h, static_cast<int8_t>(in.u8()), text, in.u16() % 300, in.u8() & 1);
        break;
      case 13:
        comm_isTKS7730USBPortAvail(r.mngr, static_cast<int8_t>(in.u8()) % 3);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rig();
  if (size < 2) return 0;
  // The first byte splits the rest into the two streams.
  const size_t cut = 1 + (size - 1) * data[0] / 256;
  Handles hs;
  Bytes first(data + 1, cut - 1), second(data + cut, size - cut);
  std::atomic<bool> otherDone{false};
  std::thread other([&] {
    runStream(second, hs, true);
    otherDone = true;
  });
  runStream(first, hs, false);
  hs.finishing = true;
  // Closing ends the other stream's waits, however long they were meant to
  // be; it may still make a handle before it sees the end, so close again.
  do {
    std::vector<DeviceHandle> all;
    {
      std::lock_guard<std::mutex> lk(hs.m);
      all = hs.all;
    }
    for (DeviceHandle h : all) comm_close(h);
    if (!otherDone.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (!otherDone.load());
  other.join();
  std::lock_guard<std::mutex> lk(hs.m);
  for (DeviceHandle h : hs.all) comm_close(h);
  return 0;
}
