#pragma once
// The library's error codes, their fixed English messages and severity.

#include <string>

namespace ErrCode {
enum : int {
  NoError = 1,
  OpenFailed = 2,
  NotOpened = 3,
  AlreadyOpened = 4,
  NotInitialized = 5,
  ReadFailed = 6,
  WriteFailed = 7,
  ReadTimeout = 8,
  WriteTimeout = 9,
  InvalidDataBuffer = 10,
  PurgeFailed = 11,
  ThreadStartFailed = 12,
  ThreadNotStarted = 13,
  ThreadAlreadyStarted = 14,
  OpenInOtherProcess = 15,
  SyncFailed = 16,
  NoGuid = 17,
  NoSystemInfo = 18,
  NoDetailedInfo = 19,
  NoAttributes = 20,
  NoCapabilities = 21,
  InvalidCapabilities = 22,
  InvalidReportLength = 23,
  InvalidReportId = 24,
  HidInterfaceNotFound = 25,
  InvalidDeviceIndex = 26,
  SerialSetupFailed = 27,
  HardwareError = 28,
  BreakDetected = 29,
  InvalidHandle = 30,
  HandleAlreadyCreated = 31,
  CommandFailed = 32,
  UnknownError = 33,
  UnhandledException = 34,
  HwBreak = 35,
  HwFraming = 36,
  HwIoError = 37,
  HwUnsupportedMode = 38,
  HwCharOverrun = 39,
  HwInputOverflow = 40,
  HwParity = 41,
  HwOutputFull = 42,
  NoProperties = 43,
  NotRs232 = 44,
};
constexpr int First = 1;
constexpr int Last = 44;
}  // namespace ErrCode

// The compiled-in message of a code, or nullptr for 0 and codes above 44
// (there is no string resource for them).
const char16_t* errMessageOrNull(int code) noexcept;

// Loads a code's message; raises CannotLoadRscExc when there is none.
std::u16string loadErrMessage(int code);

// Only the two time-outs (8 and 9) are not severe; every other value is,
// 1 and unknown codes included.
bool isLastErrSevere(int code) noexcept;
