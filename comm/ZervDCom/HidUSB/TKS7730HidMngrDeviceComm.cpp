#include "HidUSB/TKS7730HidMngrDeviceComm.h"

#include "Common/ErrCodes.h"
#include "Common/Exc.h"
#include "HidUSB/TKS7730HidUSBDeviceComm.h"

TKS7730HidMngrDeviceComm::~TKS7730HidMngrDeviceComm() { close(); }

void TKS7730HidMngrDeviceComm::setEnumRoots(const HidIo::HidEnumRoots& roots) {
  roots_ = std::make_unique<HidIo::HidEnumRoots>(roots);
}

bool TKS7730HidMngrDeviceComm::open() {
  try {
    if (mngr_) throw CommErrInfo::CommExc(ErrCode::AlreadyOpened, ZRQ_HERE);
    mngr_ = std::make_unique<HidUSBDevInfoMngr>();
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool TKS7730HidMngrDeviceComm::close() {
  try {
    if (!mngr_) {
      setLastErr(ErrCode::NotOpened);
      return false;
    }
    mngr_.reset();
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErr(ErrCode::UnhandledException);
    return false;
  }
}

bool TKS7730HidMngrDeviceComm::buildDevList(int* count) {
  unsigned n = 0;
  bool ok = false;
  try {
    if (!mngr_) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
    n = roots_ ? mngr_->build(*roots_, TKS7730HidUSBDeviceComm::kVendorId,
                              TKS7730HidUSBDeviceComm::kProductId, 0)
               : mngr_->build(TKS7730HidUSBDeviceComm::kVendorId,
                              TKS7730HidUSBDeviceComm::kProductId, 0);
    setLastErr(ErrCode::NoError);
    ok = true;
  } catch (...) {
    setLastErrFromCurrentException();
    n = 0;
  }
  if (count) *count = static_cast<int>(n);
  return ok;
}

bool TKS7730HidMngrDeviceComm::getDevInfo(int index, HidUSBDevInfo& info) {
  try {
    if (!mngr_) throw CommErrInfo::CommExc(ErrCode::NotOpened, ZRQ_HERE);
    if (index < 0 || !mngr_->copyAt(static_cast<unsigned>(index), info))
      throw CommErrInfo::CommExc(ErrCode::InvalidDeviceIndex, ZRQ_HERE);
    setLastErr(ErrCode::NoError);
    return true;
  } catch (...) {
    setLastErrFromCurrentException();
    return false;
  }
}

bool TKS7730HidMngrDeviceComm::notImplemented() {
  setLastErr(ErrCode::InvalidHandle, u"This function is not implemented.");
  return false;
}

bool TKS7730HidMngrDeviceComm::write(const uint8_t*, unsigned, unsigned*, int) {
  return notImplemented();
}
bool TKS7730HidMngrDeviceComm::read(uint8_t*, unsigned, unsigned*, int) { return notImplemented(); }
bool TKS7730HidMngrDeviceComm::readInBuff(uint8_t*, unsigned, unsigned*) {
  return notImplemented();
}
bool TKS7730HidMngrDeviceComm::readLine(uint8_t*, unsigned, unsigned*, int) {
  return notImplemented();
}
bool TKS7730HidMngrDeviceComm::purge(unsigned) { return notImplemented(); }
bool TKS7730HidMngrDeviceComm::isPortAvail() { return notImplemented(); }
