#include "ZervDComDLL.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <mutex>
#include <string_view>
#include <type_traits>

#include "Common/WideText.h"
// After our own header: the C header defines INVALID_DEV_COMM_HANDLE as a macro.
#include "ZervDCom.h"

namespace zrq::comm {

ZervDComExc::ZervDComExc(const std::string& message) : message_(message.substr(0, 255)) {}

ZervDComProcExc::ZervDComProcExc(const std::string& procName)
    : ZervDComExc("Unable to import :" + procName) {}

ZervDComProcNotUsedExc::ZervDComProcNotUsedExc(const std::string& label)
    : ZervDComExc(label + " has not been properly imported!") {}

namespace ZervDComDLL {

// The binding table is built from the C header's one list of entry points; the
// pointer types must match the declarations they bind.
#define ZRQ_CHECK_TYPE(name) static_assert(std::is_same_v<decltype(&::name), ::name##_fn>, #name);
ZERVDCOM_FUNCTIONS(ZRQ_CHECK_TYPE)
#undef ZRQ_CHECK_TYPE
static_assert(std::is_same_v<DeviceHandle, ::DeviceHandle>);
static_assert(kNoTimeLimit == ZERVDCOM_NO_TIMEOUT);
static_assert(std::string_view(kLibraryFileName) == ZERVDCOM_LIBRARY_NAME);

const char* const PROC_NAMES[kProcCount] = {
#define ZRQ_PROC_NAME(name) #name,
    ZERVDCOM_FUNCTIONS(ZRQ_PROC_NAME)
#undef ZRQ_PROC_NAME
};

namespace {

#define ZRQ_PROC_ONE(name) +1
static_assert(0 ZERVDCOM_FUNCTIONS(ZRQ_PROC_ONE) == kProcCount);
#undef ZRQ_PROC_ONE

struct DllBinding {
  void* module = nullptr;
#define ZRQ_PROC_MEMBER(name) ::name##_fn name = nullptr;
  ZERVDCOM_FUNCTIONS(ZRQ_PROC_MEMBER)
#undef ZRQ_PROC_MEMBER

  ~DllBinding() {
    if (module) {
      if (comm_unloadInterface) comm_unloadInterface();
      dlclose(module);
    }
  }
};

std::string programFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Wrappers are called from the interface thread and from the continuous-read
// threads, so the first use is serialised; the table is read-only afterwards.
std::mutex bindingMutex;
std::unique_ptr<DllBinding> binding;
std::string overridePath;

DllBinding& table() {
  std::lock_guard<std::mutex> lock(bindingMutex);
  if (binding) return *binding;
  auto fresh = std::make_unique<DllBinding>();
  const std::string path =
      overridePath.empty() ? programFolder() + "/" + kLibraryFileName : overridePath;
  // RTLD_NOW: a library that cannot resolve its own symbols fails here, not
  // mid-call. RTLD_NODELETE: freeing the binding never unmaps the code of
  // threads or objects the library may still keep (its handle table lives
  // for the whole process).
  fresh->module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!fresh->module) throw ZervDComExc("Unable to load DLL: \"" + baseName(path) + "\"");
  auto resolve = [&fresh](auto& slot, const char* name) {
    void* sym = dlsym(fresh->module, name);
    if (!sym) {
      // Nothing resolved so far is kept: unloadInterface must not run for a
      // library the application never started using.
      fresh->comm_unloadInterface = nullptr;
      throw ZervDComProcExc(name);
    }
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(sym);
  };
#define ZRQ_RESOLVE(name) resolve(fresh->name, #name);
  ZERVDCOM_FUNCTIONS(ZRQ_RESOLVE)
#undef ZRQ_RESOLVE
  binding = std::move(fresh);
  return *binding;
}

template <typename Fn>
Fn entry(Fn DllBinding::*member, const char* label) {
  DllBinding& t = table();
  if (!t.module) throw ZervDComExc("DLL not loaded!");
  Fn fn = t.*member;
  if (!fn) throw ZervDComProcNotUsedExc(label);
  return fn;
}

int wideLength(const char16_t* s) {
  if (!s) return 0;
  int n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

int createSerialPort(DeviceHandle* handle, const char16_t* portName, unsigned sizeA, unsigned sizeB,
                     int listener) {
  return entry(&DllBinding::comm_createSerialPort, "createSerialPort()")(
      handle, portName, wideLength(portName), sizeA, sizeB, listener);
}
int openSerialPort(DeviceHandle h, int baud, int byteSize, unsigned char parity,
                   unsigned char stopBits, unsigned char flow) {
  return entry(&DllBinding::comm_openSerialPort, "openSerialPort()")(h, baud, byteSize, parity,
                                                                     stopBits, flow);
}
int createTKS7730USBDevMngr(DeviceHandle* handle) {
  return entry(&DllBinding::comm_createTKS7730USBDevMngr, "createTKS7730USBDevMngr()")(handle);
}
int buildTKS7730USBDevList(DeviceHandle mngr, int* count) {
  return entry(&DllBinding::comm_buildTKS7730USBDevList, "buildTKS7730USBDevList()")(mngr, count);
}
int createTKS7730USB(DeviceHandle mngr, int index, DeviceHandle* handle, unsigned bufCapacity) {
  return entry(&DllBinding::comm_createTKS7730USB, "createTKS7730USB()")(mngr, index, handle,
                                                                         bufCapacity);
}
int openTKS7730USB(DeviceHandle h) {
  return entry(&DllBinding::comm_openTKS7730USB, "openTKS7730USB()")(h);
}
int close(DeviceHandle h) { return entry(&DllBinding::comm_close, "close()")(h); }
int getLastErr(DeviceHandle h) { return entry(&DllBinding::comm_getLastErr, "getLastErr()")(h); }
int translateLastErr(DeviceHandle h, int code, char16_t* buf, unsigned bufLen, int appendDetail) {
  return entry(&DllBinding::comm_translateLastErr, "translateLastErr")(h, code, buf, bufLen,
                                                                       appendDetail);
}
int write(DeviceHandle h, const void* data, unsigned len, unsigned* written, int timeoutMs) {
  return entry(&DllBinding::comm_write, "write()")(h, data, len, written, timeoutMs);
}
int read(DeviceHandle h, void* buf, unsigned len, unsigned* got, int timeoutMs) {
  return entry(&DllBinding::comm_read, "read()")(h, buf, len, got, timeoutMs);
}
int readInBuff(DeviceHandle h, void* buf, unsigned len, unsigned* got) {
  return entry(&DllBinding::comm_readInBuff, "readInBuff")(h, buf, len, got);
}
int readLine(DeviceHandle h, void* buf, unsigned bufLen, unsigned* got, int timeoutMs) {
  return entry(&DllBinding::comm_readLine, "readLine")(h, buf, bufLen, got, timeoutMs);
}
int purge(DeviceHandle h, unsigned flags) {
  return entry(&DllBinding::comm_purge, "purge")(h, flags);
}
int getVersionInfo(char16_t* buf, unsigned bufLen) {
  return entry(&DllBinding::comm_getVersionInfo, "getVersionInfo")(buf, bufLen);
}
int isSerialPortAvail(const char16_t* portName) {
  return entry(&DllBinding::comm_isSerialPortAvail, "isSerialPortAvail")(portName,
                                                                         wideLength(portName));
}
int isTKS7730USBPortAvail(DeviceHandle mngr, int index) {
  return entry(&DllBinding::comm_isTKS7730USBPortAvail, "isTKS7730USBPortAvail")(mngr, index);
}

void setLibraryPath(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(bindingMutex);
    if (overridePath == path) return;
  }
  unload();
  std::lock_guard<std::mutex> lock(bindingMutex);
  overridePath = path;
}

std::string libraryPath() {
  std::lock_guard<std::mutex> lock(bindingMutex);
  return overridePath.empty() ? programFolder() + "/" + kLibraryFileName : overridePath;
}

void unload() {
  std::unique_ptr<DllBinding> old;
  {
    std::lock_guard<std::mutex> lock(bindingMutex);
    old = std::move(binding);
  }
}

bool isLoaded() {
  std::lock_guard<std::mutex> lock(bindingMutex);
  return binding != nullptr;
}

}  // namespace ZervDComDLL

std::u16string toWide(const std::string& text) { return toU16(text); }

std::string toNarrow(const std::u16string& text) { return toUtf8(text); }

std::string toNarrow(const char16_t* text) {
  return text ? toUtf8(std::u16string_view(text)) : std::string();
}

}  // namespace zrq::comm
