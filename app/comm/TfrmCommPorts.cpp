// Port discovery of the connection window: the serial candidates, then the
// attached USB sensors, each offered once for the whole run.
#include <QComboBox>
#include <QLabel>

#include "AppStatus.h"
#include "CommHost.h"
#include "DevComInterface.h"
#include "PortCandidates.h"
#include "PortDoctor.h"
#include "TKS7730Commands.h"
#include "TfrmComm.h"
#include "ZervDComDLL.h"
#include "uiface/MsgBox.h"

namespace zrq::comm {

void TfrmComm::addPortToWindow(PortType type, const std::string& name, int usbDevIndex) {
  if (commands().addPort(type, name, usbDevIndex))
    portComboBox->addItem(QString::fromStdString(name));
}

bool TfrmComm::offerIfFree(const std::string& name) {
  try {
    if (!ZervDComDLL::isSerialPortAvail(toWide(name).c_str())) return false;
  } catch (const ZervDComExc& exc) {
    commands().reportException(exc);
    return false;
  }
  addPortToWindow(PortType::Serial, name, -1);
  return true;
}

void TfrmComm::closeDevMngr() {
  const ZervDComDLL::DeviceHandle h = commands().devMngr();
  if (h == ZervDComDLL::INVALID_DEV_COMM_HANDLE) return;
  commands().setDevMngr(ZervDComDLL::INVALID_DEV_COMM_HANDLE);
  try {
    ZervDComDLL::close(h);
  } catch (const ZervDComExc&) {
    // The library is gone: nothing left to close.
  }
}

void TfrmComm::getCommPorts() {
  if (commands().devMngr() != ZervDComDLL::INVALID_DEV_COMM_HANDLE) {
    ui::showMessage("Device manager already running", "Comm Device Status");
    return;
  }
  try {
    char16_t version[256] = {};
    if (ZervDComDLL::getVersionInfo(version, 256)) {
      version[255] = 0;
      p_appStatus_->add(toNarrow(version));
    }
  } catch (const ZervDComExc& exc) {
    commands().reportException(exc);
  }

  int usbCount = 0;
  try {
    ZervDComDLL::DeviceHandle h = ZervDComDLL::INVALID_DEV_COMM_HANDLE;
    if (!ZervDComDLL::createTKS7730USBDevMngr(&h)) {
      if (h != ZervDComDLL::INVALID_DEV_COMM_HANDLE)
        commands().reportLibError(h, "createTKS7730USBDevMngr()");
      else
        p_appStatus_->add("Unable to create handle to a 7730 USB device manager!");
      return;
    }
    commands().setDevMngr(h);
    if (!ZervDComDLL::buildTKS7730USBDevList(h, &usbCount)) {
      commands().reportLibError(h, "buildTKS7730USBDevList()");
      return;
    }
  } catch (const ZervDComExc& exc) {
    commands().reportException(exc);
  }

  std::vector<std::string> unavailable;
  try {
    for (const std::string& name : serialPortCandidates()) {
      const std::u16string wide = toWide(name);
      if (ZervDComDLL::isSerialPortAvail(wide.c_str()))
        addPortToWindow(PortType::Serial, name, -1);
      else
        unavailable.push_back(name);
    }
  } catch (const ZervDComExc& exc) {
    commands().reportException(exc);
  }
  try {
    const ZervDComDLL::DeviceHandle mngr = commands().devMngr();
    for (int i = 0; i < usbCount; ++i) {
      if (ZervDComDLL::isTKS7730USBPortAvail(mngr, i))
        addPortToWindow(PortType::USB, "7730USB" + std::to_string(i + 1), i);
    }
  } catch (const ZervDComExc& exc) {
    commands().reportException(exc);
  }

  doctor::report(*p_appStatus_, doctor::diagnoseDiscovery(unavailable), doctor::Box::Never);
  for (const std::string& name : unavailable)
    if (const std::string held = doctor::heldCaption(name); !held.empty())
      host_.portHeld(name, held);

  // Nothing found (no library, no free port): nothing is selected.
  if (DevComInterface* first = commands().getPort(0)) {
    commands().selectPort(first);
    const QString name = QString::fromStdString(first->portName());
    currPortName->setText(name);
    portComboBox->setCurrentIndex(0);
    portComboBox->setEditText(name);
  }
}

}  // namespace zrq::comm
