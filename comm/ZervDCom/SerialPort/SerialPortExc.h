#pragma once

#include "Common/Exc.h"

class SerialPortExc : public CommErrInfo::CommExc {
 public:
  using CommErrInfo::CommExc::CommExc;
  ~SerialPortExc() override;
};

class SerialPortWin32Exc : public CommErrInfo::CommWin32Exc {
 public:
  using CommErrInfo::CommWin32Exc::CommWin32Exc;
  ~SerialPortWin32Exc() override;
};
