// Measures the CPU an open, idle USB connection costs while its 45 ms poll
// runs: the process's CPU time over a few seconds of wall time, with the
// device end (a socket peer thread) counted in.

#include "CApi.h"
#include "../HidUSB/tests/SensorDescriptor.h"
#include "../HidUSB/tests/SimPeer.h"
#include "../HidUSB/tests/TempDir.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

static double cpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
  HidTestData::TempDir dir;
  HidTestData::SimPeer peer(dir / "s", 0x3A61, 0x7730, 0x0140, HidTestData::kSensorDescriptor);
  ::setenv("ZERVDCOM_HID_SIM_DIR", dir.path().c_str(), 1);
  CApi c;
  if (!c.load()) {
    std::fprintf(stderr, "cannot load %s\n", zervdcomPath().c_str());
    return 1;
  }
  DeviceHandle m = 0, u = 0;
  int count = 0;
  if (!c.comm_createTKS7730USBDevMngr(&m) || !c.comm_buildTKS7730USBDevList(m, &count) ||
      count != 1 || !c.comm_createTKS7730USB(m, 0, &u, 4096) || !c.comm_openTKS7730USB(u)) {
    std::fprintf(stderr, "cannot open the sensor\n");
    return 1;
  }
  // The figure includes the peer thread, which wakes for every poll report.
  const double c0 = cpuSeconds();
  const auto w0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = cpuSeconds() - c0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  const size_t polls = peer.waitReports(0, 0).size();
  c.comm_close(u);
  c.comm_close(m);
  std::printf(
      "idle USB connection: %.3f%% of one core over %.1f s (%zu reports to the device, %.1f per "
      "second)\n",
      100.0 * cpu / wall, wall, polls, static_cast<double>(polls) / wall);
  return 0;
}
