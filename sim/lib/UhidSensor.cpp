#include "UhidSensor.h"

#include "Simulator.h"
#include "Trace.h"
#include "Uhid.h"
#include "UsbReports.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tks7730sim {
namespace {

// The kernel adds the HID device from a work queue and then binds a driver:
// allow slow (emulated) machines plenty of time before giving up.
constexpr int kNodeWaitMs = 5000;

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

SensorConfig withSerial(SensorConfig c, int serialIndex) {
  c.serialNumber = nthSerialNumber(c.serialNumber, serialIndex);
  c.seed += static_cast<uint64_t>(serialIndex) + 1;
  return c;
}

}  // namespace

UhidSensor::UhidSensor(const SimOptions& opt, int index, int serialIndex, Trace* trace,
                       TimePoint now)
    : engine(withSerial(opt.sensor, serialIndex), opt.faults, "uhid" + std::to_string(index), false,
             trace, now),
      device_(opt.uhidDevice),
      sysRoot_("/sys"),
      phys_("tks7730-sim/" + std::to_string(getpid()) + "/" + std::to_string(index)),
      version_(opt.usbVersion),
      trace_(trace) {}

UhidSensor::~UhidSensor() { close(); }

std::string UhidSensor::line() const { return "uhid: " + node; }

void UhidSensor::log(TimePoint now, const std::string& e) {
  if (trace_) trace_->log(now, engine.name(), e);
}

bool UhidSensor::send(const std::vector<uint8_t>& event, TimePoint now) {
  for (;;) {
    const ssize_t n = ::write(fd_, event.data(), event.size());
    if (n == static_cast<ssize_t>(event.size())) return true;
    if (n < 0 && errno == EINTR) continue;
    log(now, n < 0 ? errnoText("uhid write") : "uhid write cut short");
    return false;
  }
}

bool UhidSensor::open(std::string& error) {
  fd_ = ::open(device_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = errnoText("cannot open " + device_) +
            " (a uhid sensor needs the uhid module and write access to " + device_ +
            ": run as root or add a udev rule)";
    return false;
  }
  uhid::DeviceSpec spec;
  spec.name = "TKS7730 RF power sensor";
  spec.phys = phys_;
  spec.uniq = engine.name();
  spec.vendor = usb::kVendorId;
  spec.product = usb::kProductId;
  spec.version = version_;
  spec.descriptor = usb::reportDescriptor();
  const auto create = uhid::encodeCreate(spec);
  if (!create ||
      ::write(fd_, create->data(), create->size()) != static_cast<ssize_t>(create->size())) {
    error = errnoText("creating the HID device through " + device_);
    close();
    return false;
  }

  // Wait for the hidraw node: woken by new names in /dev and by uhid events.
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0) inotify_add_watch(watch, "/dev", IN_CREATE | IN_ATTRIB);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kNodeWaitMs);
  std::string name;
  for (;;) {
    readEvents(Engine::Clock::now());
    name = uhid::findHidrawNode(sysRoot_, phys_);
    struct stat st {};
    if (!name.empty() && ::stat(("/dev/" + name).c_str(), &st) == 0) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      name.clear();
      break;
    }
    // Slices, since sysfs itself cannot be watched.
    pollfd p[2] = {{fd_, POLLIN, 0}, {watch, POLLIN, 0}};
    ::poll(p, watch >= 0 ? 2 : 1, static_cast<int>(std::min<long>(left.count(), 50)));
    if (watch >= 0 && (p[1].revents & POLLIN)) {
      char buf[4096];
      while (::read(watch, buf, sizeof buf) > 0) {
      }
    }
  }
  if (watch >= 0) ::close(watch);
  if (name.empty()) {
    error = "the kernel made no hidraw node for the uhid device within " +
            std::to_string(kNodeWaitMs / 1000) +
            " s (are the hid-generic and hidraw drivers there?)";
    close();
    return false;
  }
  node = "/dev/" + name;
  log(Engine::Clock::now(), "uhid device up as " + node);
  return true;
}

void UhidSensor::close() {
  if (fd_ < 0) return;
  const auto destroy = uhid::encodeDestroy();
  if (::write(fd_, destroy.data(), destroy.size()) < 0) {
    // Closing the descriptor destroys the device as well.
  }
  ::close(fd_);
  fd_ = -1;
  started_ = false;
  node.clear();
}

void UhidSensor::addPoll(std::vector<pollfd>& fds) {
  first_ = fds.size();
  if (up()) fds.push_back({fd_, POLLIN, 0});
}

void UhidSensor::handle(const std::vector<pollfd>& fds, TimePoint now) {
  if (!up() || first_ >= fds.size()) return;
  if (fds[first_].revents & POLLIN) readEvents(now);
}

void UhidSensor::readEvents(TimePoint now) {
  std::vector<uint8_t> buf(uhid::kEventSize);
  for (;;) {
    const ssize_t n = ::read(fd_, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    const auto e = uhid::decodeEvent(buf.data(), static_cast<size_t>(n));
    switch (e.kind) {
      case uhid::Event::Start:
        started_ = true;
        log(now, "uhid start, flags " + std::to_string(e.devFlags));
        break;
      case uhid::Event::Stop:
        started_ = false;
        log(now, "uhid stop");
        break;
      case uhid::Event::Open:
        log(now, "uhid open");
        break;
      case uhid::Event::Close:
        log(now, "uhid close");
        break;
      case uhid::Event::Output: {
        if (e.reportType != uhid::OutputReport) {
          log(now, "uhid output of report type " + std::to_string(e.reportType) + " ignored");
          break;
        }
        engine.usbHostReport(e.data.data(), e.data.size(), polls_, now);
        break;
      }
      // The sensor has no feature reports: every request fails as on the device.
      case uhid::Event::GetReport:
        log(now, "uhid get report " + std::to_string(e.reportNumber) + " refused");
        send(uhid::encodeGetReportReply(e.requestId, EIO), now);
        break;
      case uhid::Event::SetReport:
        log(now, "uhid set report " + std::to_string(e.reportNumber) + " refused");
        send(uhid::encodeSetReportReply(e.requestId, EIO), now);
        break;
      case uhid::Event::Other:
      case uhid::Event::Invalid:
        log(now, "uhid event " + std::to_string(e.type) + " ignored");
        break;
    }
  }
}

void UhidSensor::flush(TimePoint now) {
  if (!up()) return;
  const std::string text = engine.takeOutput();
  if (text.empty()) return;
  for (const auto& r : usb::packInput(text)) {
    const auto ev = uhid::encodeInput(r.data(), r.size());
    if (ev && send(*ev, now)) continue;
    if (failedInputs_++ == 0) log(now, "uhid input report not taken");
  }
}

}  // namespace tks7730sim
