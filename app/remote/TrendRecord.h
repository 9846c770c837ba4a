// The trend's readings as the panel accepts them and as scripts read them:
// one stored sample per accepted reading, written back as FETCh:ALL? lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "core/InstrumentState.h"
#include "core/TrendStore.h"
#include "scpi/Instrument.h"

namespace zrq::remote {

// The state's latest reading as the trend keeps it, at timeMs (epoch ms):
// the quantities FETCh:ALL? gives, those the type does not give left empty.
core::TrendSample trendSampleOf(const core::InstrumentState& s, std::int64_t timeMs);

// A stored sample as FETCh:ALL? reads it (VSWR and return loss from rho),
// its time in local ISO 8601 with the zone.
scpi::Reading readingOf(const core::TrendSample& s);

// The readings with fromMs <= time < toMs as CSV: the FETCh:ALL? header, then
// one line each, LF line ends. Returns the number of readings written.
std::size_t writeTrendCsv(std::ostream& out, const core::TrendStore& store, std::int64_t fromMs,
                          std::int64_t toMs);

}  // namespace zrq::remote
