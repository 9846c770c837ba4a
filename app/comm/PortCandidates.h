// The serial port names discovery probes, in probing order.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zrq::comm {

// COM0 to COM3, then every ttyUSB* and ttyACM* in devDir (numeric order),
// then the colon-separated paths of extraPorts (ZRQ_SERIAL_PORTS in the
// application), each name once. Empty entries are skipped.
std::vector<std::string> serialPortCandidates(const std::string& devDir,
                                              const std::string& extraPorts);

// The same with /dev and the environment's ZRQ_SERIAL_PORTS.
std::vector<std::string> serialPortCandidates();

// The Comm menu's USB names: "7730USB3" gives 2; anything else nothing.
std::optional<int> usbPortIndex(const std::string& port);

}  // namespace zrq::comm
