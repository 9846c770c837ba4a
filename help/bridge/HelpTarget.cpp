#include "HelpTarget.h"

namespace hb {

bool HelpTarget::HelpCommand(unsigned command, intptr_t data) {
  bool callHelp = true;
  bool result = true;
  // Copied: a handler may replace itself while it runs.
  if (Handler h = OnHelp) result = h(command, data, callHelp);
  if (callHelp)
    result = (Platform ? *Platform : HelpPlatform::current()).winHelp(HelpFile, command, data);
  return result;
}

HelpTarget& HelpTarget::application() {
  static HelpTarget app;
  return app;
}

namespace {
HelpPlatform* g_platform = nullptr;
}

HelpPlatform& HelpPlatform::current() {
  static HelpPlatform fallback;
  return g_platform ? *g_platform : fallback;
}

void HelpPlatform::setCurrent(HelpPlatform* platform) { g_platform = platform; }

}  // namespace hb
