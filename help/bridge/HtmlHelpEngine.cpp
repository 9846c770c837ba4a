#include "HtmlHelpEngine.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "HelpTarget.h"

namespace hb {

std::string programFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<size_t>(n));
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

HtmlHelpEngine::HtmlHelpEngine(std::string library)
    : path_(library.empty() ? programFolder() + "/" + kEngineLibrary : std::move(library)) {}

HtmlHelpEngine::~HtmlHelpEngine() {
  // The viewer's windows belong to the plug-in: it stays loaded until exit.
}

std::string HtmlHelpEngine::missingText() {
  return std::string("Unable to load \"") + kEngineLibrary +
         "\" library !!!\nThe help viewer is missing from the program's folder.\n"
         "Reinstall ZRQ to restore it.";
}

bool HtmlHelpEngine::load() {
  if (fn_) return true;
  if (!handle_) handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* e = ::dlerror();
    loadError_ = e ? e : "dlopen failed";
    return false;
  }
  fn_ = reinterpret_cast<HtmlHelpFn>(::dlsym(handle_, kEngineEntry));
  return fn_ != nullptr;
}

intptr_t HtmlHelpEngine::call(HelpPlatform& platform, uintptr_t caller, const char* file,
                              unsigned command, uintptr_t data) {
  if (!load()) {
    platform.beep(1000, 100);
    if (!warned_) {
      warned_ = true;
      // OK has nothing to open here: the viewer comes with the program.
      platform.okCancelBox("Error", missingText());
    }
    return -1;
  }
  return fn_(caller, file ? file : "", command, data);
}

HtmlHelpEngine& HtmlHelpEngine::process() {
  static HtmlHelpEngine engine;
  return engine;
}

}  // namespace hb
