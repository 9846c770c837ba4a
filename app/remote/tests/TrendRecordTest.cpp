#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "remote/RemoteValues.h"
#include "remote/TrendRecord.h"

namespace zrq::remote {
namespace {

// 2026-12-09T04:00:00.250Z
constexpr std::int64_t kT0 = 1'796'788'800'250;

TEST(TrendRecord, IsoTimeOfAStoredReadingCarriesItsZone) {
  struct Row {
    const char* tz;
    std::int64_t ms;
    const char* expected;
  } rows[] = {
      {"UTC0", kT0, "2026-12-09T04:00:00.250+00:00"},
      {"CET-1", kT0, "2026-12-09T05:00:00.250+01:00"},
      {"NST+3:30", kT0 + 999, "2026-12-09T00:30:01.249-03:30"},
      {"UTC0", -1, "1969-12-31T23:59:59.999+00:00"},
  };
  const char* was = std::getenv("TZ");
  const std::string saved = was ? was : "";
  for (const Row& r : rows) {
    ::setenv("TZ", r.tz, 1);
    ::tzset();
    EXPECT_EQ(isoLocalTime(r.ms), r.expected) << r.tz;
  }
  if (was)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(TrendRecord, CsvLinesAreTheFetchAllLinesOfTheReadingsInTheRange) {
  core::InstrumentState s;
  s.commState = core::CommState::Streaming;
  s.measType = core::MeasType::Crest;
  s.reading.reportedType = 4;
  s.reading.fwdAvgPower = s.reading.fwdAvgPowerClamped = 64;
  s.reading.peakPower = 256;
  s.reading.burstPower = 128;
  s.reading.rflPowerRaw = s.reading.rflPower = 4;
  s.reading.crestFactor = 4;
  s.reading.temperature = 31.5f;
  core::TrendStore store(8);
  for (int i = 0; i < 3; ++i) store.push(trendSampleOf(s, kT0 + i * 1000));

  std::ostringstream csv;
  EXPECT_EQ(writeTrendCsv(csv, store, kT0 + 1000, kT0 + 2000), 1u);
  const std::string expected = std::string(scpi::kAllFieldsHeader) + "\n" +
                               scpi::allFields(readingOf(s, 0, isoLocalTime(kT0 + 1000))) + "\n";
  EXPECT_EQ(csv.str(), expected);
  // Crest type: no CCDF, a rho of 0.25 and the figures derived from it.
  EXPECT_NE(expected.find(",CRES,6.400000E+01,2.560000E+02,1.280000E+02,6.020600E+00,,"),
            std::string::npos)
      << expected;
}

}  // namespace
}  // namespace zrq::remote
