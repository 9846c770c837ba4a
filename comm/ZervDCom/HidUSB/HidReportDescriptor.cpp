#include "HidUSB/HidReportDescriptor.h"

#include <algorithm>
#include <vector>

namespace HidDesc {
namespace {

struct Globals {
  uint32_t reportSize = 0;  // bits per field
  uint32_t reportCount = 0;
  uint8_t reportId = 0;
};

struct Bits {
  uint64_t input = 0, output = 0, feature = 0;
};

bool fail(std::string* error, const char* what, size_t offset) {
  if (error) *error = std::string(what) + " at offset " + std::to_string(offset);
  return false;
}

uint32_t bytesOf(uint64_t bits) {
  return bits == 0 ? 0u : static_cast<uint32_t>((bits + 7) / 8 + 1);
}

}  // namespace

std::optional<ReportDescriptorInfo> parseReportDescriptor(std::span<const uint8_t> desc,
                                                          std::string* error) {
  if (desc.empty()) {
    fail(error, "empty descriptor", 0);
    return std::nullopt;
  }
  if (desc.size() > kMaxDescriptorSize) {
    fail(error, "descriptor too long", kMaxDescriptorSize);
    return std::nullopt;
  }

  Globals g;
  std::vector<Globals> stack;
  unsigned depth = 0;
  bool anyMain = false;
  bool sawUnnumberedData = false;
  bool sawReportId = false;
  std::map<uint8_t, Bits> bits;

  size_t pos = 0;
  while (pos < desc.size()) {
    const size_t at = pos;
    const uint8_t prefix = desc[pos++];
    if (prefix == 0xFE) {  // long item: size byte, tag byte, data; no defined meaning
      if (desc.size() - pos < 2) {
        fail(error, "truncated long item", at);
        return std::nullopt;
      }
      const size_t size = desc[pos];
      pos += 2;
      if (desc.size() - pos < size) {
        fail(error, "truncated long item data", at);
        return std::nullopt;
      }
      pos += size;
      continue;
    }
    static constexpr size_t kSizes[4] = {0, 1, 2, 4};
    const size_t size = kSizes[prefix & 3];
    const unsigned type = (prefix >> 2) & 3;
    const unsigned tag = prefix >> 4;
    if (desc.size() - pos < size) {
      fail(error, "truncated item", at);
      return std::nullopt;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(desc[pos + i]) << (8 * i);
    pos += size;

    if (type == 0) {  // main
      switch (tag) {
        case 0x8:
        case 0x9:
        case 0xB: {  // input, output, feature
          anyMain = true;
          if (g.reportId == 0) sawUnnumberedData = true;
          if (sawReportId && sawUnnumberedData) {
            fail(error, "data outside any report ID in a numbered descriptor", at);
            return std::nullopt;
          }
          Bits& b = bits[g.reportId];
          uint64_t& slot = tag == 0x8 ? b.input : tag == 0x9 ? b.output : b.feature;
          slot += static_cast<uint64_t>(g.reportSize) * g.reportCount;
          if (slot > (static_cast<uint64_t>(kMaxReportBytes) - 1) * 8) {
            fail(error, "report too long", at);
            return std::nullopt;
          }
          break;
        }
        case 0xA:  // collection
          if (++depth > kMaxCollectionDepth) {
            fail(error, "collections nested too deep", at);
            return std::nullopt;
          }
          break;
        case 0xC:  // end collection
          if (depth == 0) {
            fail(error, "end collection without collection", at);
            return std::nullopt;
          }
          --depth;
          break;
        default:
          fail(error, "unknown main item", at);
          return std::nullopt;
      }
    } else if (type == 1) {  // global
      switch (tag) {
        case 0x7:  // report size: the Linux HID core refuses fields above 256 bits
          if (value > 256) {
            fail(error, "report size too large", at);
            return std::nullopt;
          }
          g.reportSize = value;
          break;
        case 0x8:  // report ID
          if (value == 0 || value > 255) {
            fail(error, "invalid report ID", at);
            return std::nullopt;
          }
          if (sawUnnumberedData) {
            fail(error, "report ID after unnumbered data", at);
            return std::nullopt;
          }
          sawReportId = true;
          g.reportId = static_cast<uint8_t>(value);
          break;
        case 0x9:  // report count
          if (value > kMaxReportBytes * 8) {
            fail(error, "report count too large", at);
            return std::nullopt;
          }
          g.reportCount = value;
          break;
        case 0xA:  // push
          if (stack.size() >= kMaxGlobalStack) {
            fail(error, "push stack overflow", at);
            return std::nullopt;
          }
          stack.push_back(g);
          break;
        case 0xB:  // pop
          if (stack.empty()) {
            fail(error, "pop without push", at);
            return std::nullopt;
          }
          g = stack.back();
          stack.pop_back();
          break;
        default:  // usage page, extents, units: no bearing on lengths
          if (tag > 0xB) {
            fail(error, "unknown global item", at);
            return std::nullopt;
          }
          break;
      }
    }
    // Local items (usages, strings, delimiters) and the reserved type carry
    // nothing that changes a report's length; the kernel skips them too.
  }

  if (depth != 0) {
    fail(error, "unclosed collection", desc.size());
    return std::nullopt;
  }
  if (!anyMain) {
    fail(error, "no main items", desc.size());
    return std::nullopt;
  }

  ReportDescriptorInfo info;
  info.usesReportIds = sawReportId;
  for (const auto& [id, b] : bits) {
    ReportLengths l{bytesOf(b.input), bytesOf(b.output), bytesOf(b.feature)};
    info.reports[id] = l;
    info.maxInputLength = std::max(info.maxInputLength, l.input);
    info.maxOutputLength = std::max(info.maxOutputLength, l.output);
    info.maxFeatureLength = std::max(info.maxFeatureLength, l.feature);
  }
  return info;
}

}  // namespace HidDesc
