#pragma once
// The simulator process: one serial sensor on a pseudo-terminal and any number of
// USB sensors on SOCK_SEQPACKET sockets, all served from one poll() loop.

#include "Engine.h"
#include "Faults.h"
#include "SensorConfig.h"
#include "Trace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tks7730sim {

struct SimOptions {
  SensorConfig sensor;
  bool pty = true;
  std::string ptyLink;  // symlink to the slave, replaced while we run
  int baud = 0;         // serial output paced to this rate (8N1); 0: memory speed
  int usbCount = 0;
  std::string usbDir;
  uint16_t usbVersion = 0x0140;
  int uhidCount = 0;  // real kernel HID devices through uhidDevice
  std::string uhidDevice = "/dev/uhid";
  std::string tracePath;
  std::vector<FaultSpec> faults;
};

class PtySensor;
class UsbSensor;
class UhidSensor;

class Simulator {
 public:
  Simulator(const SimOptions& opt, Trace* trace);
  ~Simulator();  // closes everything, removes the sockets and the link
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates every transport; false with a message when one cannot be made.
  bool start(std::string& error);
  // "serial: <slave>", "usb: <socket>" and "uhid: /dev/hidrawN" for every
  // transport that is up.
  std::vector<std::string> readyLines() const;
  // Serves until stopFd becomes readable. announce gets the line of a transport
  // that comes back after a hang-up. Returns 0, or 1 after a fatal poll error.
  int run(int stopFd, const std::function<void(const std::string&)>& announce);

 private:
  SimOptions opt_;
  Trace* trace_;
  std::unique_ptr<PtySensor> pty_;
  std::vector<std::unique_ptr<UsbSensor>> usb_;
  std::vector<std::unique_ptr<UhidSensor>> uhid_;
};

// The serial number of USB sensor `index`: a trailing number counts up from the
// serial side's, any other text gets "-<index+1>" appended.
std::string nthSerialNumber(const std::string& base, int index);

}  // namespace tks7730sim
