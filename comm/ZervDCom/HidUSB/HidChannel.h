#pragma once
// The one small interface behind which a HID device is reached: a kernel
// hidraw node or a simulated device on a Unix SOCK_SEQPACKET socket. Both
// deliver one report per read and take one report per write, so HidUSB above
// is the same for either. Results follow the system convention: a negative
// errno on failure; no exceptions at this level.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace HidIo {

struct HidIdentity {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
};

class HidChannel {
 public:
  virtual ~HidChannel() = default;
  // Descriptor to poll(); reads and writes never block.
  virtual int fd() const = 0;
  virtual const std::vector<uint8_t>& reportDescriptor() const = 0;
  // One report into buf; 0 when none is waiting, -errno on failure (a vanished
  // device or a closed peer gives -ENODEV). A report longer than len is cut.
  virtual ssize_t readReport(uint8_t* buf, size_t len) = 0;
  // One whole report; the count written, 0 when the device cannot take it now.
  virtual ssize_t writeReport(const uint8_t* buf, size_t len) = 0;
};

// Opens path (a socket: the simulated device; anything else: hidraw) for
// reading and writing. On failure returns nothing and stores errno in err.
// A simulated device's hello is awaited for at most helloTimeoutMs.
std::unique_ptr<HidChannel> openHidChannel(const std::string& path, int& err,
                                           int helloTimeoutMs = 2000);

// Identity of an open channel's device: for a socket, the hello; for
// hidraw, HIDIOCGRAWINFO (its vendor and product are signed 16-bit).
bool channelIdentity(const HidChannel& ch, HidIdentity& id, int& err);

}  // namespace HidIo
