// The serial port names discovery probes, in probing order.
#pragma once

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

}  // namespace zrq::comm
