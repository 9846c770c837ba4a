// Input-report payload handling: fuzz bytes become a stream of 49-byte input
// reports that go the listener's way (getData of each report into the data
// buffer) and lines are taken out as readLine takes them. What comes out must
// be exactly the non-0xFF payload bytes, in order; the sending side's setData
// must round-trip every chunk minus its 0xFF bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DeviceComm/CircDevDataBuf.h"
#include "HidUSB/HidUSB.h"
#include "HidUSB/ZervUSBReports.h"

namespace {
[[noreturn]] void mismatch() { std::abort(); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CircDevDataBuf buf(4096);
  std::vector<uint8_t> expected, got;
  ZervUSB::TKS7730InReport in;
  size_t pos = 0;
  while (pos < size) {
    const size_t n = std::min<size_t>(48, size - pos);
    std::memset(in.buffer() + 1, 0xFF, 48);
    std::memcpy(in.buffer() + 1, data + pos, n);
    uint8_t bytes[64] = {};
    const unsigned k = in.getData(bytes, sizeof bytes);
    if (k > 48) mismatch();
    buf.write(bytes, k);
    for (size_t i = 0; i < n; ++i)
      if (data[pos + i] != 0xFF) expected.push_back(data[pos + i]);

    // The caller's side: whole lines out as soon as a line feed is buffered.
    for (;;) {
      const unsigned lf = buf.find('\n', 0, -1);
      if (lf == kNotFound) break;
      std::vector<uint8_t> line(lf + 1);
      unsigned taken = 0;
      buf.read(line.data(), lf + 1, &taken);
      if (taken != lf + 1 || line.back() != '\n') mismatch();
      got.insert(got.end(), line.begin(), line.end());
    }

    // The sending side: one chunk into an output report and back.
    ZervUSB::TKS7730OutReport out(data + pos, static_cast<unsigned>(n));
    uint8_t back[48];
    const unsigned m = out.getData(back, sizeof back);
    if (m != out.dataLength() || out.buffer()[0] != 2) mismatch();
    unsigned j = 0;
    for (size_t i = 0; i < n; ++i) {
      if (data[pos + i] == 0xFF) continue;
      if (j >= m || back[j] != data[pos + i]) mismatch();
      ++j;
    }
    if (j != m) mismatch();
    pos += n;
  }
  std::vector<uint8_t> rest(buf.count());
  unsigned taken = 0;
  buf.read(rest.data(), static_cast<unsigned>(rest.size()), &taken);
  got.insert(got.end(), rest.begin(), rest.begin() + taken);
  // Nothing lost as long as the buffer never overflowed between lines.
  if (expected.size() < 4096 && got != expected) mismatch();
  return 0;
}
