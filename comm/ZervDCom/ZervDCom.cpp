// The C interface of libZervDCom.so: the handle table and the 20 comm_*
// entry points. Nothing is thrown across this boundary; every entry catches
// everything and answers 0.

#include "ZervDCom.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "Common/CriticalSection.h"
#include "Common/DiagLog.h"
#include "Common/ErrCodes.h"
#include "Common/Version.h"
#include "DeviceComm/DeviceComm.h"
#include "HidUSB/TKS7730HidMngrDeviceComm.h"
#include "HidUSB/TKS7730HidUSBDeviceComm.h"
#include "SerialPort/SerialPortDeviceComm.h"
#include "SerialPort/SerialPortListenerDeviceComm.h"

namespace {

constexpr int kMaxName = 260;  // names and their lengths stay below this
static_assert(kMaxBufferSize == ZERVDCOM_MAX_BUFFER_SIZE);

// The table of live connections by handle; one library-wide lock around every
// table operation. Lookups hand out shared ownership, and every call on a
// connection runs inside its CallScope: closing takes the connection out of
// the table, then (outside the table's lock, so that other handles stay
// usable) wakes and waits out the calls in flight before the connection is
// closed; the last owner destroys it.
class HandleTable {
 public:
  using Handle = int32_t;
  static HandleTable& instance();

  // 0 for a null connection or when handles ran out; never reuses a value.
  Handle add(std::unique_ptr<DeviceComm> dc);
  std::shared_ptr<DeviceComm> find(Handle h);
  // Erases the connection, then shuts it down and closes it.
  bool closeAndRemove(Handle h);
  // Destroys every connection.
  void clear();
  // h names a live connection: that connection's last error becomes 31.
  bool inUse(Handle h);
  CriticalSection& lock() { return cs_; }

 private:
  HandleTable() = default;
  ~HandleTable() {
    try {
      clear();
    } catch (...) {
    }
  }
  CriticalSection cs_;
  std::map<Handle, std::shared_ptr<DeviceComm>> map_;
  Handle last_ = 0;
};

HandleTable& HandleTable::instance() {
  // The library leaves the process (dlclose or exit) through this object's
  // destructor, which closes what is left while the table is still whole. The
  // log is built first so it outlives it. (A fini function would run at exit
  // only after static objects are gone.)
  static HandleTable& t = []() -> HandleTable& {
    diagLog();
    static HandleTable table;
    return table;
  }();
  return t;
}

HandleTable::Handle HandleTable::add(std::unique_ptr<DeviceComm> dc) {
  if (!dc) return 0;
  CsLock lk(cs_);
  if (last_ == std::numeric_limits<Handle>::max()) return 0;
  const Handle h = ++last_;
  if (map_.count(h)) return 0;
  map_.emplace(h, std::shared_ptr<DeviceComm>(std::move(dc)));
  return h;
}

std::shared_ptr<DeviceComm> HandleTable::find(Handle h) {
  CsLock lk(cs_);
  auto it = map_.find(h);
  return it == map_.end() ? nullptr : it->second;
}

namespace {
void shutDownAndClose(std::shared_ptr<DeviceComm> dc) {
  dc->shutDown();
  dc->close();
}
}  // namespace

bool HandleTable::closeAndRemove(Handle h) {
  std::shared_ptr<DeviceComm> dc;
  {
    CsLock lk(cs_);
    auto it = map_.find(h);
    if (it == map_.end()) return false;
    dc = std::move(it->second);
    map_.erase(it);
  }
  shutDownAndClose(std::move(dc));
  return true;
}

void HandleTable::clear() {
  std::map<Handle, std::shared_ptr<DeviceComm>> all;
  {
    CsLock lk(cs_);
    all.swap(map_);
  }
  for (auto& [h, dc] : all) shutDownAndClose(std::move(dc));
  all.clear();
  diagLog().write(LogKind::MISC, 3, "All devices cleared\n");
}

bool HandleTable::inUse(Handle h) {
  if (h == 0) return false;
  CsLock lk(cs_);
  auto it = map_.find(h);
  if (it == map_.end()) return false;
  it->second->setLastErr(ErrCode::HandleAlreadyCreated);
  return true;
}

std::atomic<int> gInterfaceLoaded{0};

// Copies at most nameLen units of name (stopping at a terminator) into a
// zeroed 260-unit name; false for a null name or a length outside [0, 260).
bool copyName(const char16_t* name, int nameLen, std::u16string& out) {
  if (!name || nameLen < 0 || nameLen >= kMaxName) return false;
  char16_t buf[kMaxName] = {};
  for (int i = 0; i < nameLen && name[i] != 0; ++i) buf[i] = name[i];
  out.assign(buf);
  return true;
}

// The handle checks every comm_create* makes: a usable out-argument that does
// not hold a live handle.
bool handleVariableFree(DeviceHandle* handle) {
  if (!handle) return false;
  return !HandleTable::instance().inUse(*handle);
}

bool registerInto(DeviceHandle* handle, std::unique_ptr<DeviceComm> dc) {
  const DeviceHandle h = HandleTable::instance().add(std::move(dc));
  *handle = h;
  return h != 0;
}

template <class F>
int guarded(F&& f) noexcept {
  try {
    return f() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// A null buffer (whatever the length): the connection's last error says so.
bool badBuffer(DeviceComm& dc, const void* p) {
  if (p) return false;
  dc.setLastErr(ErrCode::InvalidDataBuffer);
  return true;
}

// Runs op inside the connection's CallScope. A connection already closing
// refuses the call, and a call a close interrupted fails, both with code 3.
template <class Op>
bool inCall(DeviceComm& dc, unsigned* count, Op&& op) {
  CallScope call(dc);
  if (!call) {
    if (count) *count = 0;
    dc.setLastErr(ErrCode::NotOpened);
    return false;
  }
  const bool ok = op();
  if (!ok && dc.isClosing()) dc.setLastErr(ErrCode::NotOpened);
  return ok;
}

// The checks every data transfer makes before op runs on the connection: a
// live handle and a buffer; a null buffer zeroes the count.
template <class Op>
int withBuffer(DeviceHandle h, const void* p, unsigned* count, Op&& op) noexcept {
  return guarded([&] {
    auto dc = HandleTable::instance().find(h);
    if (!dc) return false;
    if (badBuffer(*dc, p)) {
      if (count) *count = 0;
      return false;
    }
    return inCall(*dc, count, [&] { return op(*dc); });
  });
}

// The live connection h names when it is a T; a connection of another kind
// gets last error InvalidHandle.
template <class T>
std::shared_ptr<T> findAs(DeviceHandle h) {
  if (h == 0) return nullptr;
  auto dc = HandleTable::instance().find(h);
  if (!dc) return nullptr;
  auto t = std::dynamic_pointer_cast<T>(dc);
  if (!t) dc->setLastErr(ErrCode::InvalidHandle);
  return t;
}

std::shared_ptr<TKS7730HidMngrDeviceComm> findMngr(DeviceHandle mngr) {
  return findAs<TKS7730HidMngrDeviceComm>(mngr);
}

}  // namespace

extern "C" {

ZERVDCOM_API int comm_loadInterface(void) {
  return guarded([] {
    int expected = 0;
    if (gInterfaceLoaded.load() != 0) return false;
    diagLog().init(0, "ZervDComDLL.log", false);
    return gInterfaceLoaded.compare_exchange_strong(expected, 1);
  });
}

ZERVDCOM_API int comm_unloadInterface(void) {
  return guarded([] {
    int expected = 1;
    if (!gInterfaceLoaded.compare_exchange_strong(expected, 0)) return false;
    HandleTable::instance().clear();
    return true;
  });
}

ZERVDCOM_API int comm_createSerialPort(DeviceHandle* handle, const char16_t* portName, int nameLen,
                                       unsigned sizeA, unsigned sizeB, int listener) {
  return guarded([&] {
    if (!handleVariableFree(handle)) return false;
    std::u16string name;
    if (!copyName(portName, nameLen, name)) {
      *handle = 0;
      return false;
    }
    std::unique_ptr<DeviceComm> dc;
    if (listener)
      dc = std::make_unique<SerialPortListenerDeviceComm>(name, sizeA, sizeB);
    else
      dc = std::make_unique<SerialPortDeviceComm>(name, sizeA, sizeB);
    return registerInto(handle, std::move(dc));
  });
}

ZERVDCOM_API int comm_openSerialPort(DeviceHandle h, int baud, int byteSize, unsigned char parity,
                                     unsigned char stopBits, unsigned char flow) {
  return guarded([&] {
    auto sp = findAs<SerialPortDeviceComm>(h);
    if (!sp) return false;
    return inCall(*sp, nullptr,
                  [&] { return sp->setupAndOpen(baud, byteSize, parity, stopBits, flow); });
  });
}

ZERVDCOM_API int comm_createTKS7730USBDevMngr(DeviceHandle* handle) {
  return guarded([&] {
    if (!handleVariableFree(handle)) return false;
    return registerInto(handle, std::make_unique<TKS7730HidMngrDeviceComm>());
  });
}

ZERVDCOM_API int comm_buildTKS7730USBDevList(DeviceHandle mngr, int* count) {
  return guarded([&] {
    auto m = findMngr(mngr);
    if (!m) return false;
    return inCall(*m, nullptr, [&] { return m->open() && m->buildDevList(count); });
  });
}

ZERVDCOM_API int comm_createTKS7730USB(DeviceHandle mngr, int index, DeviceHandle* handle,
                                       unsigned bufCapacity) {
  return guarded([&] {
    if (!handleVariableFree(handle)) return false;
    auto m = findMngr(mngr);
    if (!m) return false;
    HidUSBDevInfo info;
    if (!inCall(*m, nullptr, [&] { return m->getDevInfo(index, info); })) return false;
    return registerInto(handle, std::make_unique<TKS7730HidUSBDeviceComm>(info, bufCapacity));
  });
}

ZERVDCOM_API int comm_openTKS7730USB(DeviceHandle h) {
  return guarded([&] {
    auto usb = findAs<TKS7730HidUSBDeviceComm>(h);
    if (!usb) return false;
    return inCall(*usb, nullptr, [&] { return usb->openAndStart(); });
  });
}

ZERVDCOM_API int comm_close(DeviceHandle h) {
  return guarded([&] { return HandleTable::instance().closeAndRemove(h); });
}

ZERVDCOM_API int comm_getLastErr(DeviceHandle h) {
  try {
    auto dc = HandleTable::instance().find(h);
    return dc ? dc->getLastErr() : 0;
  } catch (...) {
    return 0;
  }
}

ZERVDCOM_API int comm_translateLastErr(DeviceHandle h, int code, char16_t* buf, unsigned bufLen,
                                       int appendDetail) {
  return guarded([&] {
    auto dc = HandleTable::instance().find(h);
    if (!dc || !buf || bufLen == 0) return false;
    return dc->translateLastErr(code, buf, bufLen, appendDetail != 0);
  });
}

ZERVDCOM_API int comm_write(DeviceHandle h, const void* data, unsigned len, unsigned* written,
                            int timeoutMs) {
  return withBuffer(h, data, written, [&](DeviceComm& dc) {
    return dc.write(static_cast<const uint8_t*>(data), len, written, timeoutMs);
  });
}

ZERVDCOM_API int comm_read(DeviceHandle h, void* buf, unsigned len, unsigned* got, int timeoutMs) {
  return withBuffer(h, buf, got, [&](DeviceComm& dc) {
    return dc.read(static_cast<uint8_t*>(buf), len, got, timeoutMs);
  });
}

ZERVDCOM_API int comm_readInBuff(DeviceHandle h, void* buf, unsigned len, unsigned* got) {
  return withBuffer(h, buf, got, [&](DeviceComm& dc) {
    return dc.readInBuff(static_cast<uint8_t*>(buf), len, got);
  });
}

ZERVDCOM_API int comm_readLine(DeviceHandle h, void* buf, unsigned bufLen, unsigned* got,
                               int timeoutMs) {
  return withBuffer(h, buf, got, [&](DeviceComm& dc) {
    return dc.readLine(static_cast<uint8_t*>(buf), bufLen, got, timeoutMs);
  });
}

ZERVDCOM_API int comm_purge(DeviceHandle h, unsigned flags) {
  return guarded([&] {
    auto dc = HandleTable::instance().find(h);
    return dc && inCall(*dc, nullptr, [&] { return dc->purge(flags); });
  });
}

ZERVDCOM_API int comm_getVersionInfo(char16_t* buf, unsigned bufLen) {
  return guarded([&] {
    if (!buf) return false;
    std::u16string v = versionText();
    if (v.size() > 256) v.resize(256);
    if (v.size() >= bufLen) return false;
    std::memcpy(buf, v.c_str(), (v.size() + 1) * sizeof(char16_t));
    return true;
  });
}

ZERVDCOM_API int comm_isLastErrSevere(int code) { return isLastErrSevere(code) ? 1 : 0; }

ZERVDCOM_API int comm_isSerialPortAvail(const char16_t* portName, int nameLen) {
  return guarded([&] {
    std::u16string name;
    if (!copyName(portName, nameLen, name)) return false;
    SerialPortDeviceComm probe(name, 512, 512);
    return probe.isPortAvail();
  });
}

ZERVDCOM_API int comm_isTKS7730USBPortAvail(DeviceHandle mngr, int index) {
  return guarded([&] {
    auto m = findMngr(mngr);
    if (!m) return false;
    HidUSBDevInfo info;
    if (!inCall(*m, nullptr, [&] { return m->getDevInfo(index, info); })) return false;
    TKS7730HidUSBDeviceComm probe(info, 512);
    return probe.isPortAvail();
  });
}

}  // extern "C"
