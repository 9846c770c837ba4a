#include "PortCandidates.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zrq::comm {

namespace {

// ttyUSB2 before ttyUSB10: by the number after the prefix.
std::vector<std::string> numbered(const std::string& devDir, const std::string& prefix) {
  std::vector<std::pair<unsigned long, std::string>> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(devDir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    found.emplace_back(std::strtoul(digits.c_str(), nullptr, 10), entry.path().string());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

}  // namespace

std::vector<std::string> serialPortCandidates(const std::string& devDir,
                                              const std::string& extraPorts) {
  std::vector<std::string> names = {"COM0", "COM1", "COM2", "COM3"};
  for (const char* prefix : {"ttyUSB", "ttyACM"})
    for (auto& n : numbered(devDir, prefix)) names.push_back(std::move(n));
  std::size_t start = 0;
  while (start <= extraPorts.size()) {
    std::size_t end = extraPorts.find(':', start);
    if (end == std::string::npos) end = extraPorts.size();
    std::string entry = extraPorts.substr(start, end - start);
    if (!entry.empty() && std::find(names.begin(), names.end(), entry) == names.end())
      names.push_back(std::move(entry));
    start = end + 1;
  }
  return names;
}

std::vector<std::string> serialPortCandidates() {
  const char* extra = std::getenv("ZRQ_SERIAL_PORTS");
  return serialPortCandidates("/dev", extra ? extra : "");
}

std::optional<int> usbPortIndex(const std::string& port) {
  const std::string prefix = "7730USB";
  if (port.size() <= prefix.size() || port.compare(0, prefix.size(), prefix) != 0)
    return std::nullopt;
  const std::string digits = port.substr(prefix.size());
  if (digits.size() > 3) return std::nullopt;
  for (char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  const int n = std::atoi(digits.c_str());
  if (n < 1) return std::nullopt;
  return n - 1;
}

}  // namespace zrq::comm
