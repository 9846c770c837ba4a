#pragma once
// The identity of one HID device and the locked list of those found.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Common/CriticalSection.h"
#include "HidUSB/HidEnum.h"

class HidUSBDevInfo {
 public:
  HidUSBDevInfo() = default;
  HidUSBDevInfo(uint16_t vendorId, uint16_t productId, uint16_t versionNumber,
                std::string devicePath)
      : vendorId(vendorId),
        productId(productId),
        versionNumber(versionNumber),
        devicePath(std::move(devicePath)) {}
  HidUSBDevInfo(const HidUSBDevInfo& o) { assign(o); }
  HidUSBDevInfo& operator=(const HidUSBDevInfo& o) {
    assign(o);
    return *this;
  }
  virtual ~HidUSBDevInfo();
  virtual void assign(const HidUSBDevInfo& other);

  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
  std::string devicePath;
};

class HidUSBDevInfoMngr {
 public:
  HidUSBDevInfoMngr() = default;
  virtual ~HidUSBDevInfoMngr();
  HidUSBDevInfoMngr(const HidUSBDevInfoMngr&) = delete;
  HidUSBDevInfoMngr& operator=(const HidUSBDevInfoMngr&) = delete;

  // Keeps, in enumeration order, every present device of this vendor and
  // product (and version, unless it is 0) that can be opened for reading and
  // writing right now; returns their number. The system's devices (and the
  // simulated ones of ZERVDCOM_HID_SIM_DIR).
  virtual unsigned build(uint16_t vendorId, uint16_t productId, uint16_t version);
  // The identity at index, or nullptr. The pointer stays valid until the next
  // build or clear; copyAt is the safe form for other threads.
  virtual const HidUSBDevInfo* get(unsigned index) const;
  virtual void clear();
  virtual void add(const HidUSBDevInfo& info);

  unsigned build(const HidIo::HidEnumRoots& roots, uint16_t vendorId, uint16_t productId,
                 uint16_t version);
  bool copyAt(unsigned index, HidUSBDevInfo& out) const;
  unsigned count() const;

 private:
  mutable CriticalSection cs_;
  std::vector<std::unique_ptr<HidUSBDevInfo>> devs_;
};
