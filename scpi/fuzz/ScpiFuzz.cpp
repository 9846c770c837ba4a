// Feeds arbitrary bytes, in pieces, to one SCPI client of an engine on a fake
// instrument, with readings, calibration ends and ticks in between; checks that
// replies are lines and the error queue stays bounded.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scpi/Engine.h"

namespace {

using namespace zrq::scpi;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Fake : Instrument {
  Settings s;
  std::optional<Reading> r;
  bool stream = true, cal = false;
  Identity identity() const override { return {}; }
  bool streaming() const override { return stream; }
  std::optional<Reading> latest() const override { return r; }
  Settings settings() const override { return s; }
  void apply(const Settings& n) override {
    check(n.offsetDb >= kOffsetMinDb && n.offsetDb <= kOffsetMaxDb);
    check(n.ccdfLimitW >= kCcdfLimitMinW && n.ccdfLimitW <= kCcdfLimitMaxW);
    s = n;
  }
  bool startZeroCalibration(std::string*) override { return !cal && (cal = true); }
  bool zeroCalibrationRunning() const override { return cal; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fake fake;
  Engine engine(fake);
  engine.tick(0);
  Client client(engine);
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::int64_t now = 0;
  std::uint64_t seq = 0;
  while (!in.empty()) {
    // The first byte of each piece picks its length and an event.
    const auto ctl = static_cast<unsigned char>(in[0]);
    in.remove_prefix(1);
    const std::size_t n = std::min<std::size_t>(in.size(), 1 + (ctl & 0x3f) * 4);
    client.feed(in.substr(0, n));
    in.remove_prefix(n);
    switch (ctl >> 6) {
      case 1: {
        Reading r;
        r.sequence = ++seq;
        r.function = fake.s.function;
        r.forwardAverageW = r.forwardPeakW = 1.5 * double(seq);
        r.reflectedW = 0.1;
        fake.r = r;
        engine.readingAccepted();
        break;
      }
      case 2:
        fake.cal = false;
        engine.zeroCalibrationEnded(seq % 2 == 0, "fuzz");
        break;
      case 3:
        engine.tick(now += 5000);
        break;
      default:
        break;
    }
    check(client.errorCount() <= ErrorQueue::kCapacity);
    const std::string& out = client.output();
    check(out.empty() || out.back() == '\n');
    client.output().clear();
  }
  return 0;
}
