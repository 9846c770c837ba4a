#pragma once
// A USB sensor as a real kernel HID device: created through /dev/uhid with the
// sensor's identity and report descriptor, so the kernel shows it as
// /dev/hidrawN with a sysfs entry like any plugged-in sensor. Served by the
// same engine as the socket sensors; closing it is an unplug.

#include "Engine.h"

#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace tks7730sim {

struct SimOptions;
class Trace;

class UhidSensor {
 public:
  using TimePoint = Engine::TimePoint;
  // index counts the uhid sensors from 0; serialIndex is this sensor's place
  // among all USB sensors (its serial number counts on from the serial side's).
  UhidSensor(const SimOptions& opt, int index, int serialIndex, Trace* trace, TimePoint now);
  ~UhidSensor();
  UhidSensor(const UhidSensor&) = delete;
  UhidSensor& operator=(const UhidSensor&) = delete;

  // Creates the kernel device and waits (bounded) for its hidraw node.
  bool open(std::string& error);
  // Destroys the kernel device: readers see an unplug.
  void close();
  bool up() const { return fd_ >= 0; }
  // "uhid: /dev/hidrawN"
  std::string line() const;

  void addPoll(std::vector<pollfd>& fds);
  void handle(const std::vector<pollfd>& fds, TimePoint now);
  void flush(TimePoint now);

  Engine engine;
  std::optional<TimePoint> returnAt;
  std::string node;  // "/dev/hidrawN" while up

 private:
  void readEvents(TimePoint now);
  bool send(const std::vector<uint8_t>& event, TimePoint now);
  void log(TimePoint now, const std::string& e);

  std::string device_;  // /dev/uhid
  std::string sysRoot_;
  std::string phys_;
  uint16_t version_;
  Trace* trace_;
  int fd_ = -1;
  bool started_ = false;
  size_t first_ = 0;
  uint64_t polls_ = 0, failedInputs_ = 0;
};

}  // namespace tks7730sim
