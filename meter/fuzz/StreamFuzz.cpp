// Loader of the persisted stream. The first byte picks the mode: raw bytes,
// or a well-formed state with fuzzer-chosen properties that is then cut or
// patched, so the deep items (fonts, picture) are reached at once. An
// accepted stream must save and load back to the same properties, and its
// geometry and needle must be computable whatever the values.
#include <cstdint>
#include <cstring>
#include <vector>

#include "MeterGeometry.h"
#include "MeterStream.h"

using namespace zrq::meter;

namespace {

struct Source {
  const uint8_t* p;
  size_t n;
  template <typename T>
  T take() {
    T v{};
    const size_t k = n < sizeof v ? n : sizeof v;
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
  }
};

std::vector<uint8_t> structured(Source& s) {
  MeterModel m;
  for (const PropInfo& info : propertyTable()) {
    if (!(s.take<uint8_t>() & 1)) continue;
    switch (info.type) {
      case PropType::Double:
        m.set(info.dispid, s.take<double>());
        break;
      case PropType::Short:
        m.set(info.dispid, s.take<int16_t>());
        break;
      case PropType::Color:
        m.set(info.dispid, OleColor{s.take<uint32_t>()});
        break;
      case PropType::String:
        m.set(info.dispid, std::string(s.take<uint8_t>() % 8, char(s.take<uint8_t>())));
        break;
      case PropType::Font:
        m.set(info.dispid, FontDesc{"F", s.take<uint32_t>(), s.take<int16_t>(), s.take<int16_t>(),
                                    true, false, true});
        break;
      case PropType::Picture:
        m.set(info.dispid, Picture{std::vector<uint8_t>(s.take<uint8_t>() % 16, 7)});
        break;
    }
  }
  std::vector<uint8_t> bytes = saveStream(m);
  const uint16_t cut = s.take<uint16_t>();
  if (cut < bytes.size()) bytes.resize(cut);
  while (s.n >= 3) {
    const uint16_t at = s.take<uint16_t>();
    const uint8_t v = s.take<uint8_t>();
    if (!bytes.empty()) bytes[at % bytes.size()] = v;
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Source s{data + 1, size - 1};
  const std::vector<uint8_t> bytes =
      (data[0] & 1) ? structured(s) : std::vector<uint8_t>(s.p, s.p + s.n);
  MeterModel m;
  try {
    loadStream(m, bytes);
  } catch (const StreamError&) {
    if (!(m.props() == MeterProps{})) __builtin_trap();  // refused streams change nothing
    return 0;
  }
  MeterModel back;
  loadStream(back, saveStream(m));
  // NaN never equals itself: compare the saved bytes instead of the values.
  if (saveStream(back) != saveStream(m)) __builtin_trap();
  MeterGeometry g;
  buildGeometry(g, m.props(), 234, 155, [](const std::string& t) {
    return TextSize{int(t.size()) * 6, 10};
  });
  const NeedleLine n = needleLine(g, m.props());
  (void)n;
  return 0;
}
