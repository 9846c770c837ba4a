// Arbitrary host bytes and clock steps into the engine, and arbitrary reports
// into the USB parser: nothing may crash, hang or put 0xFF on the wire, and
// every data line must fit the host's 128-character reader.

#include "Engine.h"
#include "UsbReports.h"

#include <cstddef>
#include <cstdint>

using namespace tks7730sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  SensorConfig c;
  c.layout = data[0] & 1 ? Layout::B : Layout::A;
  c.bannerCount = (data[0] >> 1) & 3;
  c.kilowatt = data[0] & 8;
  c.intervalMs = 10 + data[1];
  c.zeroTimeMs = data[1] * 4;
  std::string err;
  std::vector<FaultSpec> faults;
  for (const char* f : {"garbage,rate=0.2", "truncate,rate=0.2", "layout,rate=0.2", "nan,rate=0.2",
                        "wrong-type,rate=0.2", "refuse-g,rate=0.5", "silence,rate=0.1,for=50",
                        "no-u-reply,rate=0.3", "stall,rate=0.1,for=100", "hangup,rate=0.05,for=10"})
    if (data[0] & 16) faults.push_back(*parseFault(f, err));
  auto t = Engine::Clock::time_point{} + std::chrono::hours(1);
  Engine e(c, faults, "serial", true, nullptr, t);

  // Chunks: one byte of length (low 6 bits) and clock step (high 2 bits), then the bytes.
  size_t i = 2;
  while (i < size) {
    const size_t len = data[i] & 63;
    t += std::chrono::milliseconds((data[i] >> 6) * 97);
    ++i;
    const size_t n = len < size - i ? len : size - i;
    const std::string_view bytes(reinterpret_cast<const char*>(data + i), n);
    e.receive(bytes, t);
    if (n == usb::kReportSize) usb::parseHostReport(data + i, n);
    i += n;
    e.advance(t);
    if (e.takeHangup()) {
      e.powerDown();
      e.powerUp(t);
    }
    const std::string out = e.takeOutput();
    size_t lineStart = 0;
    for (size_t k = 0; k < out.size(); ++k) {
      if (static_cast<uint8_t>(out[k]) == 0xFF) __builtin_trap();
      if (out[k] == '\r' || out[k] == '\n') {
        if (k - lineStart > 128) __builtin_trap();
        lineStart = k + 1;
      }
    }
    for (const auto& r : usb::packInput(out))
      if (r[0] != usb::kInputId) __builtin_trap();
  }
  return 0;
}
