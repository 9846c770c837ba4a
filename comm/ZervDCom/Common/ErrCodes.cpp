#include "Common/ErrCodes.h"

#include "Common/Exc.h"

namespace {
// Index = code; entry 0 is the missing resource.
const char16_t* const kMessages[ErrCode::Last + 1] = {
    nullptr,
    u"No Error.",
    u"Unable to open the device.",
    u"Device has not been opened.",
    u"Device has already been opened.",
    u"Device has not been initialized.",
    u"Unable to read from the device.",
    u"Unable to write to the device.",
    u"Read operation timed out.",
    u"Write operation timed out.",
    u"Invalid data buffer.",
    u"Unable to purge the device.",
    u"Unable to start the thread.",
    u"Thread not started.",
    u"Thread already started.",
    u"The device is open in another process.",
    u"Unable to synchronize the device.",
    u"Unable to obtain a GUID for the device.",
    u"Unable to get system info for the device.",
    u"Unable to get detailed info for the device.",
    u"Unable to get attributes from the device.",
    u"Unable to get the device capabilities.",
    u"Invalid device capabilities.",
    u"Invalid report length.",
    u"Invalid report ID.",
    u"The requested HID interface was not found.",
    u"Invalid device index.",
    u"Unable to setup the serial port.",
    u"Hardware communication error detected.",
    u"Break in serial communications detected.",
    u"Invalid handle value.",
    u"The handle has already been created.",
    u"Unable to send a command to the device.",
    u"Unknown cause of error!",
    u"Unhanded structured exception caught!",
    u"The hardware detected a break condition.",
    u"The hardware detected a framing error.",
    u"An I/O error occurred during communications with the device.",
    u"The requested mode is not supported, or the file handle is invalid.",
    u"A character-buffer overrun has occurred. The next character is lost.",
    u"An input buffer overflow has occurred.",
    u"The hardware detected a parity error.",
    u"The application tried to transmit a character, but the output buffer was full.",
    u"Unable to get the device properties.",
    u"The given port name is not for an RS232 port.",
};
}  // namespace

const char16_t* errMessageOrNull(int code) noexcept {
  if (code < ErrCode::First || code > ErrCode::Last) return nullptr;
  return kMessages[code];
}

std::u16string loadErrMessage(int code) {
  const char16_t* m = errMessageOrNull(code);
  if (!m) throw CannotLoadRscExc(code, ZRQ_HERE);
  return m;
}

bool isLastErrSevere(int code) noexcept {
  return code != ErrCode::ReadTimeout && code != ErrCode::WriteTimeout;
}
