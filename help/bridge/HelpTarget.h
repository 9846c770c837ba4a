// The framework's help command, Qt-free: an application (or one window) has a
// help file and one replaceable help handler; a help request goes to the
// handler, and to the old engine when the handler leaves call-help set.
#pragma once

#include <functional>
#include <string>

#include "HelpConsts.h"

namespace hb {

class HelpPlatform;

class HB_API HelpTarget {
 public:
  using Handler = std::function<bool(unsigned command, intptr_t data, bool& callHelp)>;

  std::string HelpFile;
  Handler OnHelp;
  // The desktop whose old engine gets what the handler leaves (null: the process's).
  HelpPlatform* Platform = nullptr;

  // Sends one help request; false when nobody accepted it.
  bool HelpCommand(unsigned command, intptr_t data);
  bool HelpContext(int context) { return HelpCommand(HELP_CONTEXT, context); }

  // The application's target, one per process.
  static HelpTarget& application();
};

// What the routing needs from the desktop. The defaults suit a process
// without windows; the Qt layer overrides them.
class HB_API HelpPlatform {
 public:
  virtual ~HelpPlatform() = default;
  virtual void beep(int /*hz*/, int /*ms*/) {}
  // OK/Cancel box; true for OK.
  virtual bool okCancelBox(const std::string& /*caption*/, const std::string& /*text*/) {
    return true;
  }
  virtual void errorBox(const std::string& /*text*/) {}
  virtual bool isWindow(uintptr_t handle) { return handle == desktopWindow(); }
  virtual uintptr_t desktopWindow() { return 0; }
  virtual HbRect workArea() { return {0, 0, 1024, 768}; }
  // The development environment's main window is never present on this platform.
  virtual bool developmentEnvironmentRunning() { return false; }
  // The old help engine; absent on this platform.
  virtual bool winHelp(const std::string& /*file*/, unsigned /*command*/, intptr_t /*data*/) {
    return false;
  }
  virtual std::string activeFormHelpFile() { return {}; }

  // The process's platform (never null); set by the Qt layer.
  static HelpPlatform& current();
  static void setCurrent(HelpPlatform* platform);
};

}  // namespace hb
