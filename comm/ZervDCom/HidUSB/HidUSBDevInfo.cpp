#include "HidUSB/HidUSBDevInfo.h"

HidUSBDevInfo::~HidUSBDevInfo() = default;

void HidUSBDevInfo::assign(const HidUSBDevInfo& other) {
  if (&other == this) return;
  vendorId = other.vendorId;
  productId = other.productId;
  versionNumber = other.versionNumber;
  devicePath = other.devicePath;
}

HidUSBDevInfoMngr::~HidUSBDevInfoMngr() { clear(); }

unsigned HidUSBDevInfoMngr::build(uint16_t vendorId, uint16_t productId, uint16_t version) {
  return build(HidIo::HidEnumRoots::fromEnvironment(), vendorId, productId, version);
}

unsigned HidUSBDevInfoMngr::build(const HidIo::HidEnumRoots& roots, uint16_t vendorId,
                                  uint16_t productId, uint16_t version) {
  clear();
  unsigned n = 0;
  for (const auto& d : HidIo::listHidDevices(roots)) {
    if (d.vendorId != vendorId || d.productId != productId) continue;
    if (version != 0 && d.versionNumber != version) continue;
    // A device held by another program may refuse the open: skipped, as a
    // device that cannot be used.
    if (!HidIo::canOpenReadWrite(d.path)) continue;
    add(HidUSBDevInfo(d.vendorId, d.productId, d.versionNumber, d.path));
    ++n;
  }
  return n;
}

const HidUSBDevInfo* HidUSBDevInfoMngr::get(unsigned index) const {
  CsLock lk(cs_);
  return index < devs_.size() ? devs_[index].get() : nullptr;
}

bool HidUSBDevInfoMngr::copyAt(unsigned index, HidUSBDevInfo& out) const {
  CsLock lk(cs_);
  if (index >= devs_.size()) return false;
  out.assign(*devs_[index]);
  return true;
}

unsigned HidUSBDevInfoMngr::count() const {
  CsLock lk(cs_);
  return static_cast<unsigned>(devs_.size());
}

void HidUSBDevInfoMngr::clear() {
  CsLock lk(cs_);
  devs_.clear();
}

void HidUSBDevInfoMngr::add(const HidUSBDevInfo& info) {
  CsLock lk(cs_);
  devs_.push_back(std::make_unique<HidUSBDevInfo>(info));
}
