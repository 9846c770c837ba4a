#include "HidUSB/HidEnum.h"

#include "HidUSB/HidChannel.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace HidIo {
namespace {

bool parseHex(std::string_view s, uint32_t& out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out, 16);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string readSmallFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return {};
  std::string text(8192, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// The USB device's bcdDevice sits two folders above the HID device.
uint16_t versionOf(const fs::path& hidDevice) {
  std::error_code ec;
  fs::path real = fs::canonical(hidDevice, ec);
  if (ec) return 0;
  std::string text = readSmallFile(real.parent_path().parent_path() / "bcdDevice");
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  uint32_t v = 0;
  if (!parseHex(text, v) || v > 0xFFFF) return 0;
  return static_cast<uint16_t>(v);
}

}  // namespace

HidEnumRoots HidEnumRoots::fromEnvironment() {
  HidEnumRoots r;
  if (const char* sim = std::getenv("ZERVDCOM_HID_SIM_DIR"); sim && *sim) r.simDir = sim;
  return r;
}

bool parseHidIdLine(const std::string& ueventText, uint16_t& vendor, uint16_t& product) {
  std::istringstream in(ueventText);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    std::string_view v(line);
    v.remove_prefix(7);
    size_t a = v.find(':');
    size_t b = a == std::string_view::npos ? a : v.find(':', a + 1);
    if (b == std::string_view::npos) return false;
    uint32_t bus, vid, pid;
    if (!parseHex(v.substr(0, a), bus) || !parseHex(v.substr(a + 1, b - a - 1), vid) ||
        !parseHex(v.substr(b + 1), pid) || vid > 0xFFFF || pid > 0xFFFF)
      return false;
    vendor = static_cast<uint16_t>(vid);
    product = static_cast<uint16_t>(pid);
    return true;
  }
  return false;
}

bool canOpenReadWrite(const std::string& path) {
  int err = 0;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
    return openHidChannel(path, err) != nullptr;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::vector<HidDeviceEntry> listHidDevices(const HidEnumRoots& roots) {
  std::vector<HidDeviceEntry> out;
  std::error_code ec;

  std::vector<std::pair<unsigned, std::string>> nodes;
  for (const auto& e : fs::directory_iterator(fs::path(roots.sysfsRoot) / "class" / "hidraw", ec)) {
    std::string name = e.path().filename().string();
    if (name.rfind("hidraw", 0) != 0) continue;
    unsigned n = 0;
    auto r = std::from_chars(name.data() + 6, name.data() + name.size(), n);
    if (r.ec != std::errc() || r.ptr != name.data() + name.size() || name.size() == 6) continue;
    nodes.emplace_back(n, name);
  }
  std::sort(nodes.begin(), nodes.end());
  for (const auto& [n, name] : nodes) {
    fs::path dev = fs::path(roots.sysfsRoot) / "class" / "hidraw" / name / "device";
    HidDeviceEntry d;
    if (!parseHidIdLine(readSmallFile(dev / "uevent"), d.vendorId, d.productId)) continue;
    d.versionNumber = versionOf(dev);
    d.path = (fs::path(roots.devRoot) / name).string();
    out.push_back(std::move(d));
  }

  if (!roots.simDir.empty()) {
    std::vector<std::string> sockets;
    for (const auto& e : fs::directory_iterator(roots.simDir, ec)) {
      std::error_code sec;
      if (e.is_socket(sec)) sockets.push_back(e.path().string());
    }
    std::sort(sockets.begin(), sockets.end());
    for (const auto& path : sockets) {
      int err = 0;
      auto ch = openHidChannel(path, err, 500);
      HidIdentity id;
      if (!ch || !channelIdentity(*ch, id, err)) continue;
      out.push_back({id.vendorId, id.productId, id.versionNumber, path});
    }
  }
  return out;
}

}  // namespace HidIo
