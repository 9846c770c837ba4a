// Run-time binding of libZervDCom.so.
//
// The library is loaded from the program's own folder on the first wrapper
// call and every comm_* entry point is resolved by name. A failed load leaves
// nothing bound, so the next call tries again. Wrappers return the entry
// point's result unchanged and throw ZervDComExc (or a derived class) when the
// library or the entry point is not there; nothing else is thrown.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zrq::comm {

class ZervDComExc : public std::exception {
 public:
  // Messages are kept to 255 characters, like the fixed buffer they replace.
  explicit ZervDComExc(const std::string& message);
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// An entry point the library does not export.
class ZervDComProcExc : public ZervDComExc {
 public:
  explicit ZervDComProcExc(const std::string& procName);
};

// A wrapper whose entry point is not bound.
class ZervDComProcNotUsedExc : public ZervDComExc {
 public:
  explicit ZervDComProcNotUsedExc(const std::string& label);
};

namespace ZervDComDLL {

using DeviceHandle = std::int32_t;
inline constexpr DeviceHandle INVALID_DEV_COMM_HANDLE = 0;
inline constexpr int kNoTimeLimit = 2147483647;
inline constexpr const char* kLibraryFileName = "libZervDCom.so";
// The entry points in the order they are resolved.
inline constexpr int kProcCount = 20;
extern const char* const PROC_NAMES[kProcCount];

// Port names are UTF-16; the length passed on is computed here (0 for null).
int createSerialPort(DeviceHandle* handle, const char16_t* portName, unsigned sizeA, unsigned sizeB,
                     int listener);
int openSerialPort(DeviceHandle h, int baud, int byteSize, unsigned char parity,
                   unsigned char stopBits, unsigned char flow);
int createTKS7730USBDevMngr(DeviceHandle* handle);
int buildTKS7730USBDevList(DeviceHandle mngr, int* count);
int createTKS7730USB(DeviceHandle mngr, int index, DeviceHandle* handle, unsigned bufCapacity);
int openTKS7730USB(DeviceHandle h);
int close(DeviceHandle h);
int getLastErr(DeviceHandle h);
int translateLastErr(DeviceHandle h, int code, char16_t* buf, unsigned bufLen, int appendDetail);
int write(DeviceHandle h, const void* data, unsigned len, unsigned* written, int timeoutMs);
int read(DeviceHandle h, void* buf, unsigned len, unsigned* got, int timeoutMs);
int readInBuff(DeviceHandle h, void* buf, unsigned len, unsigned* got);
int readLine(DeviceHandle h, void* buf, unsigned bufLen, unsigned* got, int timeoutMs);
int purge(DeviceHandle h, unsigned flags);
int getVersionInfo(char16_t* buf, unsigned bufLen);
int isSerialPortAvail(const char16_t* portName);
int isTKS7730USBPortAvail(DeviceHandle mngr, int index);

// The file loaded: libZervDCom.so in the folder of the running program unless
// a test named another file ("" restores the default). Changing it unloads
// what is bound; setting the same path again changes nothing.
void setLibraryPath(const std::string& path);
std::string libraryPath();
// Calls comm_unloadInterface when bound, frees the library and forgets the
// table; the next wrapper call loads again.
void unload();
bool isLoaded();

}  // namespace ZervDComDLL

// UTF-16 <-> UTF-8 for port names and library messages: the library's own
// conversion, so unpaired surrogates and malformed bytes become U+FFFD.
std::u16string toWide(const std::string& text);
std::string toNarrow(const std::u16string& text);
std::string toNarrow(const char16_t* text);

}  // namespace zrq::comm
