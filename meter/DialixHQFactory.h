// Creation of the meter control by class identifier or ProgID, and the four
// entry points of an in-process server mapped onto that factory.
//
//   CDialixHQCtrl* c = zrq::meter::createControl(zrq::meter::kDialixHQProgId, parent);
//   c->loadState(controlDataBytes);   // throws zrq::meter::StreamError
//
// The class is registered while the library is loaded; DllUnregisterServer
// takes it out of the lookup (creation then fails) and DllRegisterServer puts
// it back. DllCanUnloadNow reports S_OK only when no control is alive and no
// lock is held. Results are HRESULT values: 0 S_OK, 1 S_FALSE, negative errors.
#pragma once

#include <QWidget>
#include <string_view>

#include "DialixHQExport.h"

class CDialixHQCtrl;

namespace zrq::meter {

inline constexpr const char* kDialixHQClsid = "{2484DDF7-5E96-498C-B21D-CB0111AF91AB}";
inline constexpr const char* kDialixHQProgId = "Kestov.DialixHQCtrl.1";

inline constexpr long kSOk = 0;
inline constexpr long kSFalse = 1;
inline constexpr long kEPointer = static_cast<long>(static_cast<int32_t>(0x80004003u));
inline constexpr long kClassNotAvailable = static_cast<long>(static_cast<int32_t>(0x80040111u));

class DIALIXHQ_EXPORT DialixHQClassFactory {
 public:
  // A new control with every default; the parent (or the caller) owns it.
  CDialixHQCtrl* CreateInstance(QWidget* parent = nullptr);
  // A held lock keeps the server from unloading.
  void LockServer(bool lock);
};

// nullptr when the name is neither the class identifier (braces and case as
// you like) nor the ProgID, or the class is not registered.
DIALIXHQ_EXPORT CDialixHQCtrl* createControl(std::string_view clsidOrProgId,
                                             QWidget* parent = nullptr);
DIALIXHQ_EXPORT bool isRegistered();

namespace detail {
void instanceCreated();
void instanceDestroyed();
}  // namespace detail

}  // namespace zrq::meter

extern "C" {
DIALIXHQ_EXPORT long DllRegisterServer(void);
DIALIXHQ_EXPORT long DllUnregisterServer(void);
// clsid: the class identifier text; *factory receives a DialixHQClassFactory*.
DIALIXHQ_EXPORT long DllGetClassObject(const char* clsid, void** factory);
DIALIXHQ_EXPORT long DllCanUnloadNow(void);
}
