// Decoding and formatting of readings against plain conversions of the same
// fields measured in the same run; prints the ratios at the end.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/DataString.h"
#include "core/PanelValues.h"
#include "core/ReadingFormat.h"

namespace {

using namespace zrq::core;

const std::string kLineA =
    ",+9.8700E+01, +2.8310E+01,+1.0000E+02,+1.0000E+00,+1.4120E+02,+0.0000E+00, 1, 9,"
    "+1.2300E-02,+1.4120E+00,+9.9600E+01,,\r";

// The real fields of layout A: 1-based first column and width.
constexpr std::pair<int, int> kReal[] = {{2, 11},  {14, 12}, {27, 11}, {39, 11}, {51, 11},
                                         {63, 11}, {81, 11}, {93, 11}, {105, 11}};

void decode(benchmark::State& state) {
  SensorReading r;
  DecodeInputs in;
  bool changed = false;
  for (auto _ : state) {
    DecodeResult res = decodeDataString(kLineA, in, r, changed);
    benchmark::DoNotOptimize(res.outcome);
    benchmark::DoNotOptimize(r.selectedPower);
  }
}
BENCHMARK(decode);

// Baseline: from_chars on the same nine real fields, no checks.
void baselineFromChars(benchmark::State& state) {
  double sum = 0;
  for (auto _ : state) {
    for (auto [first, width] : kReal) {
      const char* p = kLineA.data() + first - 1;
      while (*p == ' ' || *p == '+') ++p;
      double v = 0;
      std::from_chars(p, kLineA.data() + first - 1 + width, v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(baselineFromChars);

// Baseline: strtod (locale-dependent, which is why the decoder does not use it).
void baselineStrtod(benchmark::State& state) {
  double sum = 0;
  char field[16];
  for (auto _ : state) {
    for (auto [first, width] : kReal) {
      kLineA.copy(field, static_cast<std::size_t>(width), static_cast<std::size_t>(first - 1));
      field[width] = '\0';
      sum += std::strtod(field, nullptr);
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(baselineStrtod);

const double kValues[] = {123.456789, 0.0123456, 99999.0, 1.5, 12345.678, 0.001, 42.0, 7.25};

void format(benchmark::State& state) {
  for (auto _ : state)
    for (double v : kValues) benchmark::DoNotOptimize(formatReading(v, 2));
}
BENCHMARK(format);

// Baseline: snprintf with two decimals, no significant-digit rounding.
void baselineSnprintf(benchmark::State& state) {
  char buf[64];
  for (auto _ : state) {
    for (double v : kValues) {
      std::snprintf(buf, sizeof buf, "%.2f", v);
      benchmark::DoNotOptimize(buf);
    }
  }
}
BENCHMARK(baselineSnprintf);

// Baseline: to_chars fixed with two decimals.
void baselineToChars(benchmark::State& state) {
  char buf[64];
  for (auto _ : state) {
    for (double v : kValues) {
      auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
      benchmark::DoNotOptimize(r.ptr);
      benchmark::DoNotOptimize(buf);
    }
  }
}
BENCHMARK(baselineToChars);

// One full panel refresh: decode plus every read-out text.
void decodeAndPanel(benchmark::State& state) {
  SensorReading r;
  DecodeInputs in;
  PanelSettings s;
  s.rflUnit = zrq::core::PowerUnit::VSWR;
  bool changed = false;
  for (auto _ : state) {
    decodeDataString(kLineA, in, r, changed);
    PanelView v = computePanel(r, s);
    benchmark::DoNotOptimize(v.fwdText.data());
  }
}
BENCHMARK(decodeAndPanel);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) cpu_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void ratio(const char* what, const std::string& a, const std::string& b) const {
    auto ia = cpu_.find(a), ib = cpu_.find(b);
    if (ia == cpu_.end() || ib == cpu_.end() || ib->second <= 0) return;
    std::printf("  %-44s %6.2fx\n", what, ia->second / ib->second);
  }

 private:
  std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (CPU time, same run):\n");
  reporter.ratio("decode / from_chars of the same fields", "decode", "baselineFromChars");
  reporter.ratio("decode / strtod of the same fields", "decode", "baselineStrtod");
  reporter.ratio("formatReading / to_chars fixed", "format", "baselineToChars");
  reporter.ratio("formatReading / snprintf %.2f", "format", "baselineSnprintf");
  reporter.ratio("decode + panel refresh / decode", "decodeAndPanel", "decode");
  benchmark::Shutdown();
  return 0;
}
