#include "SimHarness.h"

#include "ChildProgram.h"
#include "Eventually.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zrq::comm::test {

std::string binDir() {
  const char* bin = std::getenv("ZRQ_BIN_DIR");
  return bin ? bin : ".";
}

namespace {
bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}
std::atomic<int> counter{0};
}  // namespace

bool libraryBuilt() { return exists(binDir() + "/libZervDCom.so"); }
bool simulatorBuilt() { return exists(binDir() + "/tks7730-sim"); }

bool partsRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

SimProcess::SimProcess(std::vector<std::string> options) {
  const char* logs = std::getenv("ZRQ_LOG_DIR");
  tracePath_ = std::string(logs ? logs : "/tmp") + "/comm-sim-trace-" + std::to_string(getpid()) +
               "-" + std::to_string(counter++) + ".log";
  bool wantSerial = true;
  std::size_t wantUsb = 0;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (options[i] == "--no-pty") wantSerial = false;
    if (options[i] == "--usb" && i + 1 < options.size())
      wantUsb = static_cast<std::size_t>(std::stoi(options[i + 1]));
  }
  options.insert(options.begin(), {"--trace", tracePath_});
  // ZRQ_SIM_BAUD=9600 runs every test against a serial line of real speed.
  if (const char* baud = std::getenv("ZRQ_SIM_BAUD"); baud && *baud)
    options.insert(options.begin(), {"--baud", baud});
  options.insert(options.begin(), binDir() + "/tks7730-sim");
  proc_ = std::make_unique<::zrq::test::ChildProgram>(std::move(options));
  if (!proc_->started()) {
    error_ = "the simulator could not be started";
    return;
  }
  std::string printed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto ready = [&] { return (!wantSerial || !serialPath_.empty()) && usbPaths_.size() >= wantUsb; };
  while (!ready()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error_ = "simulator did not announce its port";
      return;
    }
    const std::string line = proc_->line(static_cast<int>(left.count()));
    if (proc_->outputEnded()) {
      error_ = "simulator ended: " + printed;
      return;
    }
    printed += line + "\n";
    if (line.rfind("serial: ", 0) == 0) serialPath_ = line.substr(8);
    if (line.rfind("usb: ", 0) == 0) usbPaths_.push_back(line.substr(5));
  }
  ok_ = true;
}

SimProcess::~SimProcess() {
  if (proc_) proc_->terminate();
  unlink(tracePath_.c_str());
}

std::string SimProcess::trace() const {
  std::ifstream in(tracePath_, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> SimProcess::commandsReceived(char letter) const {
  std::vector<std::string> out;
  std::istringstream lines(trace());
  std::string line;
  const std::string key = std::string("cmd ") + letter + " bytes=";
  while (std::getline(lines, line)) {
    auto pos = line.find(key);
    if (pos == std::string::npos) continue;
    std::istringstream hex(line.substr(pos + key.size()));
    std::string bytes, byte;
    while (hex >> byte) bytes.push_back(static_cast<char>(std::stoi(byte, nullptr, 16)));
    out.push_back(bytes);
  }
  return out;
}

char SimProcess::lastCommand() const {
  const std::string letters = commandLetters();
  return letters.empty() ? 0 : letters.back();
}

std::string SimProcess::lettersWhen(const std::string& expected, int timeoutMs) const {
  std::string letters;
  ::zrq::test::eventually([&] { return (letters = commandLetters()) == expected; }, timeoutMs);
  return letters;
}

std::string SimProcess::commandLetters() const {
  std::string out;
  std::istringstream lines(trace());
  std::string line;
  while (std::getline(lines, line)) {
    auto pos = line.find("cmd ");
    if (pos != std::string::npos && line.find(" bytes=", pos) == pos + 5)
      out.push_back(line[pos + 4]);
  }
  return out;
}

}  // namespace zrq::comm::test
