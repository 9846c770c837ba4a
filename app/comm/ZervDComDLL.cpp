#include "ZervDComDLL.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <mutex>

namespace zrq::comm {

ZervDComExc::ZervDComExc(const std::string& message) : message_(message.substr(0, 255)) {}

ZervDComProcExc::ZervDComProcExc(const std::string& procName)
    : ZervDComExc("Unable to import :" + procName) {}

ZervDComProcNotUsedExc::ZervDComProcNotUsedExc(const std::string& label)
    : ZervDComExc(label + " has not been properly imported!") {}

namespace ZervDComDLL {

const char* const PROC_NAMES[PROC_COUNT] = {
    "comm_loadInterface",        "comm_unloadInterface",     "comm_createSerialPort",
    "comm_openSerialPort",       "comm_createTKS7730USBDevMngr", "comm_buildTKS7730USBDevList",
    "comm_createTKS7730USB",     "comm_openTKS7730USB",      "comm_close",
    "comm_getLastErr",           "comm_translateLastErr",    "comm_write",
    "comm_read",                 "comm_readInBuff",          "comm_readLine",
    "comm_purge",                "comm_getVersionInfo",      "comm_isLastErrSevere",
    "comm_isSerialPortAvail",    "comm_isTKS7730USBPortAvail"};

namespace {

extern "C" {
using LoadInterfaceFn = int (*)();
using UnloadInterfaceFn = int (*)();
using CreateSerialPortFn = int (*)(DeviceHandle*, const char16_t*, int, unsigned, unsigned, int);
using OpenSerialPortFn = int (*)(DeviceHandle, int, int, unsigned char, unsigned char,
                                 unsigned char);
using CreateUSBDevMngrFn = int (*)(DeviceHandle*);
using BuildUSBDevListFn = int (*)(DeviceHandle, int*);
using CreateUSBFn = int (*)(DeviceHandle, int, DeviceHandle*, unsigned);
using OpenUSBFn = int (*)(DeviceHandle);
using CloseFn = int (*)(DeviceHandle);
using GetLastErrFn = int (*)(DeviceHandle);
using TranslateLastErrFn = int (*)(DeviceHandle, int, char16_t*, unsigned, int);
using WriteFn = int (*)(DeviceHandle, const void*, unsigned, unsigned*, int);
using ReadFn = int (*)(DeviceHandle, void*, unsigned, unsigned*, int);
using ReadInBuffFn = int (*)(DeviceHandle, void*, unsigned, unsigned*);
using ReadLineFn = int (*)(DeviceHandle, void*, unsigned, unsigned*, int);
using PurgeFn = int (*)(DeviceHandle, unsigned);
using GetVersionInfoFn = int (*)(char16_t*, unsigned);
using IsLastErrSevereFn = int (*)(int);
using IsSerialPortAvailFn = int (*)(const char16_t*, int);
using IsUSBPortAvailFn = int (*)(DeviceHandle, int);
}

// Field order is the resolution order of PROC_NAMES.
struct DllBinding {
  void* module = nullptr;
  LoadInterfaceFn loadInterface = nullptr;
  UnloadInterfaceFn unloadInterface = nullptr;
  CreateSerialPortFn createSerialPort = nullptr;
  OpenSerialPortFn openSerialPort = nullptr;
  CreateUSBDevMngrFn createUSBDevMngr = nullptr;
  BuildUSBDevListFn buildUSBDevList = nullptr;
  CreateUSBFn createUSB = nullptr;
  OpenUSBFn openUSB = nullptr;
  CloseFn close = nullptr;
  GetLastErrFn getLastErr = nullptr;
  TranslateLastErrFn translateLastErr = nullptr;
  WriteFn write = nullptr;
  ReadFn read = nullptr;
  ReadInBuffFn readInBuff = nullptr;
  ReadLineFn readLine = nullptr;
  PurgeFn purge = nullptr;
  GetVersionInfoFn getVersionInfo = nullptr;
  IsLastErrSevereFn isLastErrSevere = nullptr;
  IsSerialPortAvailFn isSerialPortAvail = nullptr;
  IsUSBPortAvailFn isUSBPortAvail = nullptr;

  void** slot(int i) {
    void** slots[PROC_COUNT] = {
        reinterpret_cast<void**>(&loadInterface),    reinterpret_cast<void**>(&unloadInterface),
        reinterpret_cast<void**>(&createSerialPort), reinterpret_cast<void**>(&openSerialPort),
        reinterpret_cast<void**>(&createUSBDevMngr), reinterpret_cast<void**>(&buildUSBDevList),
        reinterpret_cast<void**>(&createUSB),        reinterpret_cast<void**>(&openUSB),
        reinterpret_cast<void**>(&close),            reinterpret_cast<void**>(&getLastErr),
        reinterpret_cast<void**>(&translateLastErr), reinterpret_cast<void**>(&write),
        reinterpret_cast<void**>(&read),             reinterpret_cast<void**>(&readInBuff),
        reinterpret_cast<void**>(&readLine),         reinterpret_cast<void**>(&purge),
        reinterpret_cast<void**>(&getVersionInfo),   reinterpret_cast<void**>(&isLastErrSevere),
        reinterpret_cast<void**>(&isSerialPortAvail), reinterpret_cast<void**>(&isUSBPortAvail)};
    return slots[i];
  }

  ~DllBinding() {
    if (module) {
      if (unloadInterface) unloadInterface();
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
      overridePath.empty() ? programFolder() + "/" + LIBRARY_FILE_NAME : overridePath;
  // RTLD_NOW: a library that cannot resolve its own symbols fails here, not
  // mid-call. RTLD_NODELETE: freeing the binding never unmaps the code of
  // threads or objects the library may still keep (its handle table lives
  // for the whole process).
  fresh->module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!fresh->module) throw ZervDComExc("Unable to load DLL: \"" + baseName(path) + "\"");
  for (int i = 0; i < PROC_COUNT; ++i) {
    if (!fresh->module) throw ZervDComExc("The DLL has not been opened!");
    void* sym = dlsym(fresh->module, PROC_NAMES[i]);
    if (!sym) {
      // Nothing resolved so far is kept: unloadInterface must not run for a
      // library the application never started using.
      fresh->unloadInterface = nullptr;
      throw ZervDComProcExc(PROC_NAMES[i]);
    }
    *fresh->slot(i) = sym;
  }
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

int createSerialPort(DeviceHandle* handle, const char16_t* portName, unsigned sizeA,
                     unsigned sizeB, int listener) {
  return entry(&DllBinding::createSerialPort, "createSerialPort()")(
      handle, portName, wideLength(portName), sizeA, sizeB, listener);
}
int openSerialPort(DeviceHandle h, int baud, int byteSize, unsigned char parity,
                   unsigned char stopBits, unsigned char flow) {
  return entry(&DllBinding::openSerialPort, "openSerialPort()")(h, baud, byteSize, parity,
                                                               stopBits, flow);
}
int createTKS7730USBDevMngr(DeviceHandle* handle) {
  return entry(&DllBinding::createUSBDevMngr, "createTKS7730USBDevMngr()")(handle);
}
int buildTKS7730USBDevList(DeviceHandle mngr, int* count) {
  return entry(&DllBinding::buildUSBDevList, "buildTKS7730USBDevList()")(mngr, count);
}
int createTKS7730USB(DeviceHandle mngr, int index, DeviceHandle* handle, unsigned bufCapacity) {
  return entry(&DllBinding::createUSB, "createTKS7730USB()")(mngr, index, handle, bufCapacity);
}
int openTKS7730USB(DeviceHandle h) { return entry(&DllBinding::openUSB, "openTKS7730USB()")(h); }
int close(DeviceHandle h) { return entry(&DllBinding::close, "close()")(h); }
int getLastErr(DeviceHandle h) { return entry(&DllBinding::getLastErr, "getLastErr()")(h); }
int translateLastErr(DeviceHandle h, int code, char16_t* buf, unsigned bufLen, int appendDetail) {
  return entry(&DllBinding::translateLastErr, "translateLastErr")(h, code, buf, bufLen,
                                                                  appendDetail);
}
int write(DeviceHandle h, const void* data, unsigned len, unsigned* written, int timeoutMs) {
  return entry(&DllBinding::write, "write()")(h, data, len, written, timeoutMs);
}
int read(DeviceHandle h, void* buf, unsigned len, unsigned* got, int timeoutMs) {
  return entry(&DllBinding::read, "read()")(h, buf, len, got, timeoutMs);
}
int readInBuff(DeviceHandle h, void* buf, unsigned len, unsigned* got) {
  return entry(&DllBinding::readInBuff, "readInBuff")(h, buf, len, got);
}
int readLine(DeviceHandle h, void* buf, unsigned bufLen, unsigned* got, int timeoutMs) {
  return entry(&DllBinding::readLine, "readLine")(h, buf, bufLen, got, timeoutMs);
}
int purge(DeviceHandle h, unsigned flags) { return entry(&DllBinding::purge, "purge")(h, flags); }
int getVersionInfo(char16_t* buf, unsigned bufLen) {
  return entry(&DllBinding::getVersionInfo, "getVersionInfo")(buf, bufLen);
}
int isSerialPortAvail(const char16_t* portName) {
  return entry(&DllBinding::isSerialPortAvail, "isSerialPortAvail")(portName,
                                                                   wideLength(portName));
}
int isTKS7730USBPortAvail(DeviceHandle mngr, int index) {
  return entry(&DllBinding::isUSBPortAvail, "isTKS7730USBPortAvail")(mngr, index);
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
  return overridePath.empty() ? programFolder() + "/" + LIBRARY_FILE_NAME : overridePath;
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

std::u16string toWide(const std::string& text) {
  // UTF-8 in; a malformed sequence becomes '?' and decoding goes on after it.
  std::u16string out;
  const std::size_t n = text.size();
  auto cont = [&](std::size_t k) {
    return k < n && (static_cast<unsigned char>(text[k]) & 0xC0u) == 0x80u;
  };
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp = u'?';
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0u) == 0xC0u && cont(i + 1)) {
      cp = ((c & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
      len = 2;
    } else if ((c & 0xF0u) == 0xE0u && cont(i + 1) && cont(i + 2)) {
      cp = ((c & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
      len = 3;
    } else if ((c & 0xF8u) == 0xF0u && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      cp = ((c & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) |
           ((text[i + 2] & 0x3Fu) << 6) | (text[i + 3] & 0x3Fu);
      len = 4;
    }
    if (cp >= 0x10000 && cp < 0x110000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(cp < 0x10000 ? static_cast<char16_t>(cp) : u'?');
    }
    i += len;
  }
  return out;
}

std::string toNarrow(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = u'?';
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string toNarrow(const char16_t* text) {
  if (!text) return {};
  std::u16string s;
  while (*text) s.push_back(*text++);
  return toNarrow(s);
}

}  // namespace zrq::comm
