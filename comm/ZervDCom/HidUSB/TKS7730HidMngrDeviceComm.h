#pragma once
// A pseudo-connection that lists the attached sensors, so that a caller can
// create a connection to one of them by its index in the list.

#include <memory>

#include "DeviceComm/DeviceComm.h"
#include "HidUSB/HidUSBDevInfo.h"

class TKS7730HidMngrDeviceComm : public DeviceComm {
 public:
  TKS7730HidMngrDeviceComm() = default;
  ~TKS7730HidMngrDeviceComm() override;

  // Makes the (empty) list; fails with 4 when it exists.
  bool open() override;
  bool close() override;
  // The data operations have no meaning here: last error 30.
  bool write(const uint8_t* data, unsigned len, unsigned* written, int timeoutMs) override;
  bool read(uint8_t* buf, unsigned len, unsigned* got, int timeoutMs) override;
  bool readInBuff(uint8_t* buf, unsigned len, unsigned* got) override;
  bool readLine(uint8_t* buf, unsigned bufLen, unsigned* got, int timeoutMs) override;
  bool purge(unsigned flags) override;
  bool isPortAvail() override;

  // Lists the present sensors (any version); count receives their number
  // (0 after a failure). Fails with 3 when not opened.
  virtual bool buildDevList(int* count);
  // Copies the identity at index (0-based); fails with 3 when not opened and
  // 26 for an index outside the list.
  virtual bool getDevInfo(int index, HidUSBDevInfo& info);

  // Test seam: the roots enumeration uses (the system's by default).
  void setEnumRoots(const HidIo::HidEnumRoots& roots);

 private:
  bool notImplemented();
  std::unique_ptr<HidUSBDevInfoMngr> mngr_;
  std::unique_ptr<HidIo::HidEnumRoots> roots_;
};
