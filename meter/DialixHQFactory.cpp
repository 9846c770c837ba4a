#include "DialixHQFactory.h"

#include <atomic>
#include <cctype>
#include <string>

#include "DialixHQCtrl.h"

namespace zrq::meter {

namespace {

std::atomic<int> liveControls{0};
std::atomic<int> serverLocks{0};
std::atomic<bool> registered{true};
DialixHQClassFactory theFactory;

std::string normalised(std::string_view s) {
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
  std::string out;
  for (char c : s) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool isOurClass(std::string_view name) {
  return normalised(name) == normalised(kDialixHQClsid) ||
         normalised(name) == normalised(kDialixHQProgId);
}

}  // namespace

void detail::instanceCreated() { ++liveControls; }
void detail::instanceDestroyed() { --liveControls; }

CDialixHQCtrl* DialixHQClassFactory::CreateInstance(QWidget* parent) {
  return new CDialixHQCtrl(parent);
}

void DialixHQClassFactory::LockServer(bool lock) {
  if (lock) {
    ++serverLocks;
  } else {
    int n = serverLocks.load();
    while (n > 0 && !serverLocks.compare_exchange_weak(n, n - 1)) {
    }
  }
}

CDialixHQCtrl* createControl(std::string_view name, QWidget* parent) {
  if (!registered || !isOurClass(name)) return nullptr;
  return theFactory.CreateInstance(parent);
}

bool isRegistered() { return registered; }

}  // namespace zrq::meter

using namespace zrq::meter;

long DllRegisterServer(void) {
  registered = true;
  return kSOk;
}

long DllUnregisterServer(void) {
  registered = false;
  return kSOk;
}

long DllGetClassObject(const char* clsid, void** factory) {
  if (!factory) return kEPointer;
  *factory = nullptr;
  if (!clsid) return kEPointer;
  // Only the class identifier names a class object; a ProgID is resolved before this call.
  if (!registered || normalised(clsid) != normalised(kDialixHQClsid)) return kClassNotAvailable;
  *factory = &theFactory;
  return kSOk;
}

long DllCanUnloadNow(void) { return liveControls == 0 && serverLocks == 0 ? kSOk : kSFalse; }
