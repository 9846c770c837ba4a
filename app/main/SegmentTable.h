// Annunciator addresses: group number in the high byte, one of the bits 1, 2,
// 4, 8 in the low byte. Each code names one label, possibly on the peak or
// burst window.
#pragma once

#include <cstdint>
#include <span>

namespace zrq::app {

using SegmentCode = std::uint16_t;

enum class SegmentHost : std::uint8_t { Main, Peak, Burst };

struct SegmentEntry {
  SegmentCode code;
  SegmentHost host;
  const char* name;  // component name of the label
};

std::span<const SegmentEntry> segmentTable();
// The entry of a code, or null for a code that names no label.
const SegmentEntry* findSegment(SegmentCode code);
// The code of a label by host and name; 0 when it has none.
SegmentCode segmentCodeOf(SegmentHost host, const char* name);


}  // namespace zrq::app
