// Annunciator addresses: group number in the high byte, one of the bits 1, 2,
// 4, 8 in the low byte. Each code names one label, possibly on the peak or
// burst window.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zrq::app {

// One constant per label, named after the label: a misspelt code does not
// compile.
enum class SegmentCode : std::uint16_t {
  None = 0,
  segFwd = 0x0202,
  segFover = 0x0204,
  segCcdf = 0x0301,
  segFdb = 0x0302,
  segFm = 0x0304,
  segbOffset = 0x0308,
  segRfl = 0x0A02,
  segRover = 0x0A04,
  segFW = 0x1102,
  segFuW = 0x1104,
  segFKW = 0x1108,
  segRVSWR = 0x1401,
  segRR = 0x1402,
  segRAvg = 0x1501,
  segRRho = 0x1502,
  segRKHz = 0x1601,
  segRMHz = 0x1602,
  segFwdUnits = 0x1801,
  segMeasType = 0x1802,
  segRflUnits = 0x1901,
  segFilter = 0x1902,
  segRuW = 0x1C01,
  segRKW = 0x1C02,
  segRW = 0x1D01,
  segRm = 0x1D02,
  segdutyCycle = 0x1E01,
  segCrest = 0x2001,
  segBurst = 0x2002,
  segPeak = 0x2004,
  segFMHz = 0x2101,
  segFKHz = 0x2102,
  segFAvg = 0x2104,
  segOffset = 0x2108,
  segNoSensor = 0x2301,
  segRdb = 0x2501,
  segRRL = 0x2502,
  segOffset2 = 0x2A04,
  segCcdfLimit = 0x2A08,
  segPover = 0x2B01,
  segPunder = 0x2B02,
  segVover = 0x2B04,
  segVunder = 0x2B08,
  segpeak = 0x2C01,
  segPdb = 0x2C04,
  segPuW = 0x2C08,
  segPm = 0x2D01,
  segPKW = 0x2D02,
  segPW = 0x2D04,
  segPRVSWR = 0x2D08,
  segPRR = 0x2E01,
  segPOffset = 0x2E02,
  segBover = 0x2E04,
  segBunder = 0x2E08,
  segBdb = 0x2F02,
  segBuW = 0x2F04,
  segBm = 0x2F08,
  segBKW = 0x3001,
  segBW = 0x3002,
  segBOffset2 = 0x3004,
};

enum class SegmentHost : std::uint8_t { Main, Peak, Burst };

struct SegmentEntry {
  SegmentCode code;
  SegmentHost host;
  const char* name;  // component name of the label
};

std::span<const SegmentEntry> segmentTable();
// The entry of a code, or null for a code that names no label.
const SegmentEntry* findSegment(SegmentCode code);
// The code of a label by host and name; None when it has none.
SegmentCode segmentCodeOf(SegmentHost host, std::string_view name);

}  // namespace zrq::app
