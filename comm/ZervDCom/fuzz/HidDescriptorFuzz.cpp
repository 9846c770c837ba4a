// Report-descriptor parser. The first byte picks the mode: raw bytes straight
// into the parser (it must answer without crashing, and a descriptor it
// accepts must have consistent lengths), or a descriptor built from the fuzz
// bytes by a small grammar that only emits well-formed items, whose report
// lengths a simple model predicts and the parser must match exactly.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "HidUSB/HidReportDescriptor.h"

namespace {

[[noreturn]] void mismatch() { std::abort(); }

void checkConsistent(const HidDesc::ReportDescriptorInfo& info) {
  uint32_t in = 0, out = 0, feat = 0;
  for (const auto& [id, l] : info.reports) {
    if (info.usesReportIds == (id == 0)) mismatch();
    for (uint32_t v : {l.input, l.output, l.feature})
      if (v > HidDesc::kMaxReportBytes || v == 1)
        mismatch();  // a report has at least one data byte
    in = std::max(in, l.input);
    out = std::max(out, l.output);
    feat = std::max(feat, l.feature);
  }
  if (in != info.maxInputLength || out != info.maxOutputLength || feat != info.maxFeatureLength)
    mismatch();
}

struct Reader {
  const uint8_t* p;
  size_t n;
  bool empty() const { return n == 0; }
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

struct Model {
  struct G {
    uint32_t size = 0, count = 0;
    uint8_t id = 0;
  };
  G g;
  std::vector<G> stack;
  std::map<uint8_t, uint64_t[3]> bits;
};

void emitShort(std::vector<uint8_t>& d, uint8_t typeTag, uint32_t value, uint8_t width) {
  static constexpr uint8_t kCode[5] = {0, 1, 2, 0, 3};
  d.push_back(static_cast<uint8_t>(typeTag | kCode[width]));
  for (uint8_t i = 0; i < width; ++i) d.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint8_t widthFor(uint32_t v, uint8_t pick) {
  uint8_t w = v > 0xFFFF ? 4 : v > 0xFF ? 2 : 1;
  if (pick & 1) w = 4;  // wider encodings than needed are legal
  return w;
}

void builtMode(Reader r) {
  std::vector<uint8_t> d;
  Model m;
  const bool numbered = r.byte() & 1;
  unsigned depth = 0;
  if (numbered) {
    m.g.id = static_cast<uint8_t>(1 + r.byte() % 255);
    emitShort(d, 0x84, m.g.id, 1);
  }
  emitShort(d, 0xA0, 1, 1);  // application collection
  ++depth;
  while (!r.empty() && d.size() < 3500) {
    const uint8_t op = r.byte();
    const uint8_t arg = r.byte();
    switch (op % 11) {
      case 0:
        m.g.size = arg % 33;
        emitShort(d, 0x74, m.g.size, widthFor(m.g.size, op >> 4));
        break;
      case 1:
        m.g.count = arg % 65;
        emitShort(d, 0x94, m.g.count, widthFor(m.g.count, op >> 4));
        break;
      case 2:
      case 3:
      case 4: {  // input, output, feature
        const unsigned k = op % 11 - 2;
        static constexpr uint8_t kTag[3] = {0x80, 0x90, 0xB0};
        uint64_t& slot = m.bits[m.g.id][k];
        const uint64_t add = static_cast<uint64_t>(m.g.size) * m.g.count;
        if ((slot + add) > (HidDesc::kMaxReportBytes - 1) * 8ull) break;
        slot += add;
        emitShort(d, kTag[k], arg & 0x3F, 1);
        break;
      }
      case 5:
        if (numbered) {
          m.g.id = static_cast<uint8_t>(1 + arg % 255);
          emitShort(d, 0x84, m.g.id, 1);
        }
        break;
      case 6:
        if (m.stack.size() < HidDesc::kMaxGlobalStack) {
          m.stack.push_back(m.g);
          d.push_back(0xA4);
        }
        break;
      case 7:
        if (!m.stack.empty()) {
          m.g = m.stack.back();
          m.stack.pop_back();
          d.push_back(0xB4);
        }
        break;
      case 8:
        if (depth < HidDesc::kMaxCollectionDepth) {
          emitShort(d, 0xA0, arg % 7, 1);
          ++depth;
        }
        break;
      case 9:
        if (depth > 1) {
          d.push_back(0xC0);
          --depth;
        }
        break;
      case 10: {  // items that change nothing: usage page, usage, logical extents, a long item
        const uint8_t which = arg % 4;
        if (which == 0) emitShort(d, 0x04, 0xFF00, 2);
        if (which == 1) emitShort(d, 0x08, arg, 1);
        if (which == 2) emitShort(d, 0x24, 0xFFFF, 4);
        if (which == 3) {
          const uint8_t len = arg % 5;
          d.insert(d.end(), {0xFE, len, 0x10});
          for (uint8_t i = 0; i < len; ++i) d.push_back(r.byte());
        }
        break;
      }
    }
  }
  // Always at least one main item (of no length, so the model stays right),
  // then close every collection.
  emitShort(d, 0x74, 0, 1);
  emitShort(d, 0x80, 2, 1);
  m.bits[m.g.id][0] += 0;
  while (depth--) d.push_back(0xC0);

  std::string why;
  auto info = HidDesc::parseReportDescriptor(d, &why);
  if (d.size() > HidDesc::kMaxDescriptorSize) {
    if (info) mismatch();
    return;
  }
  if (!info) mismatch();  // the grammar only builds valid descriptors
  checkConsistent(*info);
  if (info->reports.size() > m.bits.size()) mismatch();
  for (const auto& [id, b] : m.bits) {
    auto bytes = [](uint64_t bits) {
      return bits == 0 ? 0u : static_cast<uint32_t>((bits + 7) / 8 + 1);
    };
    const uint32_t want[3] = {bytes(b[0]), bytes(b[1]), bytes(b[2])};
    auto it = info->reports.find(id);
    if (it == info->reports.end()) {
      if (want[0] || want[1] || want[2]) mismatch();
      continue;
    }
    if (it->second.input != want[0] || it->second.output != want[1] ||
        it->second.feature != want[2])
      mismatch();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    std::string why;
    auto info = HidDesc::parseReportDescriptor({data + 1, size - 1}, &why);
    if (info)
      checkConsistent(*info);
    else if (why.empty())
      mismatch();
  } else {
    builtMode({data + 1, size - 1});
  }
  return 0;
}
