#include "SegmentTable.h"

#include <algorithm>
#include <iterator>
#include <cstring>

namespace zrq::app {
namespace {

using H = SegmentHost;

constexpr SegmentEntry kTable[] = {
    {0x0202, H::Main, "segFwd"},        {0x0204, H::Main, "segFover"},
    {0x0301, H::Main, "segCcdf"},       {0x0302, H::Main, "segFdb"},
    {0x0304, H::Main, "segFm"},         {0x0308, H::Main, "segbOffset"},
    {0x0A02, H::Main, "segRfl"},        {0x0A04, H::Main, "segRover"},
    {0x1102, H::Main, "segFW"},         {0x1104, H::Main, "segFuW"},
    {0x1108, H::Main, "segFKW"},        {0x1401, H::Main, "segRVSWR"},
    {0x1402, H::Main, "segRR"},         {0x1501, H::Main, "segRAvg"},
    {0x1502, H::Main, "segRRho"},       {0x1601, H::Main, "segRKHz"},
    {0x1602, H::Main, "segRMHz"},       {0x1801, H::Main, "segFwdUnits"},
    {0x1802, H::Main, "segMeasType"},   {0x1901, H::Main, "segRflUnits"},
    {0x1902, H::Main, "segFilter"},     {0x1C01, H::Main, "segRuW"},
    {0x1C02, H::Main, "segRKW"},        {0x1D01, H::Main, "segRW"},
    {0x1D02, H::Main, "segRm"},         {0x1E01, H::Main, "segdutyCycle"},
    {0x2001, H::Main, "segCrest"},      {0x2002, H::Main, "segBurst"},
    {0x2004, H::Main, "segPeak"},       {0x2101, H::Main, "segFMHz"},
    {0x2102, H::Main, "segFKHz"},       {0x2104, H::Main, "segFAvg"},
    {0x2108, H::Main, "segOffset"},     {0x2301, H::Main, "segNoSensor"},
    {0x2501, H::Main, "segRdb"},        {0x2502, H::Main, "segRRL"},
    {0x2A04, H::Main, "segOffset2"},    {0x2A08, H::Main, "segCcdfLimit"},
    {0x2B01, H::Peak, "segPover"},      {0x2B02, H::Peak, "segPunder"},
    {0x2B04, H::Peak, "segVover"},      {0x2B08, H::Peak, "segVunder"},
    {0x2C01, H::Peak, "segpeak"},       {0x2C04, H::Peak, "segPdb"},
    {0x2C08, H::Peak, "segPuW"},        {0x2D01, H::Peak, "segPm"},
    {0x2D02, H::Peak, "segPKW"},        {0x2D04, H::Peak, "segPW"},
    {0x2D08, H::Peak, "segPRVSWR"},     {0x2E01, H::Peak, "segPRR"},
    {0x2E02, H::Peak, "segPOffset"},    {0x2E04, H::Burst, "segBover"},
    {0x2E08, H::Burst, "segBunder"},    {0x2F02, H::Burst, "segBdb"},
    {0x2F04, H::Burst, "segBuW"},       {0x2F08, H::Burst, "segBm"},
    {0x3001, H::Burst, "segBKW"},       {0x3002, H::Burst, "segBW"},
    {0x3004, H::Burst, "segBOffset2"},
};

}  // namespace

std::span<const SegmentEntry> segmentTable() { return kTable; }

const SegmentEntry* findSegment(SegmentCode code) {
  // Sorted by code, so a lookup per label switch stays cheap.
  const auto* end = std::end(kTable);
  const auto* it = std::lower_bound(std::begin(kTable), end, code,
                                    [](const SegmentEntry& e, SegmentCode c) { return e.code < c; });
  return (it != end && it->code == code) ? it : nullptr;
}

SegmentCode segmentCodeOf(SegmentHost host, const char* name) {
  for (const auto& e : kTable)
    if (e.host == host && std::strcmp(e.name, name) == 0) return e.code;
  return 0;
}
}  // namespace zrq::app
