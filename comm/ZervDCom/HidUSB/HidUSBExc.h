#pragma once
// Exceptions raised by the HID transport.

#include "Common/Exc.h"

class HidUSBExc : public CommErrInfo::CommExc {
 public:
  using CommErrInfo::CommExc::CommExc;
  ~HidUSBExc() override;
};

class HidUSBWin32Exc : public CommErrInfo::CommWin32Exc {
 public:
  using CommErrInfo::CommWin32Exc::CommWin32Exc;
  ~HidUSBWin32Exc() override;
};
