// Building and writing one CSV log record against snprintf of the same 21
// fields plus fwrite and fflush (every record is flushed), measured in the
// same run; then the resident memory over 100 000 records. Prints the ratios.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/LogFile.h"
#include "core/LogRecord.h"
#include "core/PowerMath.h"

namespace {

using namespace zrq::core;

std::string benchFile(const char* name) {
  const char* dir = std::getenv("ZRQ_BENCH_DIR");
  return (std::filesystem::path(dir ? dir : std::filesystem::temp_directory_path().string()) / name)
      .string();
}

LogRecordInput input(int i) {
  LogRecordInput in;
  in.when = {2026, 12, 8, 9, i / 60 % 60, i % 60};
  in.sensorSerial = "12345";
  in.measType = 1;
  in.temperature = 28.31f;
  in.offsetDb = 0.1f;
  in.fwdAvgPower = 98.7 + (i % 100) * 0.01;
  in.rflPowerRaw = 1.234;
  in.dutyCycle = 80;
  in.peakW = 141.2;
  in.burstW = 123.4;
  in.vswr = 1.25;
  in.crestFactor = 1.412;
  in.ccdfFactor = 12.5;
  return in;
}

void buildRecord(benchmark::State& state) {
  std::string line;
  line.reserve(512);
  int i = 0;
  for (auto _ : state) {
    line.clear();
    appendLogRecord(line, input(i++));
    benchmark::DoNotOptimize(line.data());
  }
}
BENCHMARK(buildRecord);

// The same fields with snprintf (plain %.6f etc., no significant-digit rounding).
int snprintfRecord(char* buf, std::size_t size, const LogRecordInput& in) {
  const double fwd = std::min(in.fwdAvgPower, 3 * in.fwdFullScale) * offsetFactor(in.offsetDb);
  const double rfl = std::min(in.rflPowerRaw, 3 * in.rflFullScale) * offsetFactor(in.offsetDb);
  const double rho = reflectionRho(in.rflPowerRaw, in.fwdAvgPower);
  return std::snprintf(
      buf, size,
      "%d/%d/%d,%02d:%02d:%02d,%s,%.6f,%.15g,%.15g,%s,%.6f,%.6f,%.6f,%.6f,%.3f,%.3f,%.2f,%.6f,%.6f,"
      "%.6f,%.6f,%.2f,%.6f,NA,\r\n",
      in.when.month, in.when.day, in.when.year, in.when.hour, in.when.minute, in.when.second,
      std::string(in.sensorSerial).c_str(), static_cast<double>(in.temperature),
      static_cast<double>(in.offsetDb), static_cast<double>(in.ccdfLimit), "4.5 KHz", fwd,
      10 * std::log10(fwd) + 30, rfl, 10 * std::log10(rfl) + 30, rho, in.vswr, 20 * std::log10(rho),
      in.peakW, 10 * std::log10(in.peakW) + 30, in.burstW, 10 * std::log10(in.burstW) + 30,
      in.dutyCycle, in.crestFactor);
}

void baselineSnprintf(benchmark::State& state) {
  char buf[512];
  int i = 0;
  for (auto _ : state) {
    int n = snprintfRecord(buf, sizeof buf, input(i++));
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(baselineSnprintf);

void buildAndWrite(benchmark::State& state) {
  const std::string path = benchFile("zrq-bench-log.csv");
  std::filesystem::remove(path);
  LogFile log;
  if (!log.open(path)) {
    state.SkipWithError("cannot open the log file");
    return;
  }
  std::string line;
  line.reserve(512);
  int i = 0;
  for (auto _ : state) {
    line.clear();
    appendLogRecord(line, input(i++));
    if (!log.append(line)) state.SkipWithError("write failed");
  }
  log.close();
  std::filesystem::remove(path);
}
BENCHMARK(buildAndWrite);

void baselineSnprintfFwrite(benchmark::State& state) {
  const std::string path = benchFile("zrq-bench-baseline.csv");
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) {
    state.SkipWithError("cannot open the baseline file");
    return;
  }
  char buf[512];
  int i = 0;
  for (auto _ : state) {
    const int n = snprintfRecord(buf, sizeof buf, input(i++));
    std::fwrite(buf, 1, static_cast<std::size_t>(n), f);
    std::fflush(f);
  }
  std::fclose(f);
  std::filesystem::remove(path);
}
BENCHMARK(baselineSnprintfFwrite);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) real_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void ratio(const char* what, const std::string& a, const std::string& b) const {
    auto ia = real_.find(a), ib = real_.find(b);
    if (ia == real_.end() || ib == real_.end() || ib->second <= 0) return;
    std::printf("  %-52s %6.2fx\n", what, ia->second / ib->second);
  }

 private:
  std::map<std::string, double> real_;
};

long residentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Resident memory after 1000 and after 100 000 written records.
void memoryOver100000Records() {
  const std::string path = benchFile("zrq-bench-memory.csv");
  std::filesystem::remove(path);
  LogFile log;
  if (!log.open(path)) {
    std::printf("memory: cannot open %s\n", path.c_str());
    return;
  }
  long after1000 = 0;
  for (int i = 1; i <= 100000; ++i) {
    const std::string line = buildLogRecord(input(i));
    if (!log.append(line)) {
      std::printf("memory: write failed at record %d\n", i);
      break;
    }
    if (i == 1000) after1000 = residentKiB();
  }
  const long after100000 = residentKiB();
  log.close();
  std::printf("  resident memory after 1000 records %ld KiB, after 100000 %ld KiB (%+ld KiB)\n",
              after1000, after100000, after100000 - after1000);
  std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (CPU time, same run; goal for build + write <= 1.5x):\n");
  reporter.ratio("build + write / snprintf + fwrite + fflush", "buildAndWrite",
                 "baselineSnprintfFwrite");
  reporter.ratio("build only / snprintf only", "buildRecord", "baselineSnprintf");
  memoryOver100000Records();
  benchmark::Shutdown();
  return 0;
}
