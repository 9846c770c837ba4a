#include "SegmentTable.h"

#include <algorithm>
#include <iterator>

namespace zrq::app {
namespace {

using H = SegmentHost;
using C = SegmentCode;

constexpr SegmentEntry kTable[] = {
    {C::segFwd, H::Main, "segFwd"},
    {C::segFover, H::Main, "segFover"},
    {C::segCcdf, H::Main, "segCcdf"},
    {C::segFdb, H::Main, "segFdb"},
    {C::segFm, H::Main, "segFm"},
    {C::segbOffset, H::Main, "segbOffset"},
    {C::segRfl, H::Main, "segRfl"},
    {C::segRover, H::Main, "segRover"},
    {C::segFW, H::Main, "segFW"},
    {C::segFuW, H::Main, "segFuW"},
    {C::segFKW, H::Main, "segFKW"},
    {C::segRVSWR, H::Main, "segRVSWR"},
    {C::segRR, H::Main, "segRR"},
    {C::segRAvg, H::Main, "segRAvg"},
    {C::segRRho, H::Main, "segRRho"},
    {C::segRKHz, H::Main, "segRKHz"},
    {C::segRMHz, H::Main, "segRMHz"},
    {C::segFwdUnits, H::Main, "segFwdUnits"},
    {C::segMeasType, H::Main, "segMeasType"},
    {C::segRflUnits, H::Main, "segRflUnits"},
    {C::segFilter, H::Main, "segFilter"},
    {C::segRuW, H::Main, "segRuW"},
    {C::segRKW, H::Main, "segRKW"},
    {C::segRW, H::Main, "segRW"},
    {C::segRm, H::Main, "segRm"},
    {C::segdutyCycle, H::Main, "segdutyCycle"},
    {C::segCrest, H::Main, "segCrest"},
    {C::segBurst, H::Main, "segBurst"},
    {C::segPeak, H::Main, "segPeak"},
    {C::segFMHz, H::Main, "segFMHz"},
    {C::segFKHz, H::Main, "segFKHz"},
    {C::segFAvg, H::Main, "segFAvg"},
    {C::segOffset, H::Main, "segOffset"},
    {C::segNoSensor, H::Main, "segNoSensor"},
    {C::segRdb, H::Main, "segRdb"},
    {C::segRRL, H::Main, "segRRL"},
    {C::segOffset2, H::Main, "segOffset2"},
    {C::segCcdfLimit, H::Main, "segCcdfLimit"},
    {C::segPover, H::Peak, "segPover"},
    {C::segPunder, H::Peak, "segPunder"},
    {C::segVover, H::Peak, "segVover"},
    {C::segVunder, H::Peak, "segVunder"},
    {C::segpeak, H::Peak, "segpeak"},
    {C::segPdb, H::Peak, "segPdb"},
    {C::segPuW, H::Peak, "segPuW"},
    {C::segPm, H::Peak, "segPm"},
    {C::segPKW, H::Peak, "segPKW"},
    {C::segPW, H::Peak, "segPW"},
    {C::segPRVSWR, H::Peak, "segPRVSWR"},
    {C::segPRR, H::Peak, "segPRR"},
    {C::segPOffset, H::Peak, "segPOffset"},
    {C::segBover, H::Burst, "segBover"},
    {C::segBunder, H::Burst, "segBunder"},
    {C::segBdb, H::Burst, "segBdb"},
    {C::segBuW, H::Burst, "segBuW"},
    {C::segBm, H::Burst, "segBm"},
    {C::segBKW, H::Burst, "segBKW"},
    {C::segBW, H::Burst, "segBW"},
    {C::segBOffset2, H::Burst, "segBOffset2"},
};

}  // namespace

std::span<const SegmentEntry> segmentTable() { return kTable; }

const SegmentEntry* findSegment(SegmentCode code) {
  // Sorted by code, so a lookup per label switch stays cheap.
  const auto* end = std::end(kTable);
  const auto* it =
      std::lower_bound(std::begin(kTable), end, code,
                       [](const SegmentEntry& e, SegmentCode c) { return e.code < c; });
  return (it != end && it->code == code) ? it : nullptr;
}

SegmentCode segmentCodeOf(SegmentHost host, std::string_view name) {
  for (const auto& e : kTable)
    if (e.host == host && e.name == name) return e.code;
  return SegmentCode::None;
}

}  // namespace zrq::app
