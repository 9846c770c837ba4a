#include "Common/Assertion.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "Common/LogDir.h"
#include "Common/Version.h"

namespace {

const char kAssertionLogName[] = "ZervDComDLLAssertionFailures.log";

std::mutex& handlerMutex() {
  static std::mutex m;
  return m;
}

AssertionHandler& handlerSlot() {
  static AssertionHandler h;
  return h;
}

void appendLogLine(const std::string& message) {
  FILE* f = openLogFile(kAssertionLogName, true);
  if (!f) return;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &tm);
  std::fprintf(f, "%s -->%s Build: (%s)\n", stamp, message.c_str(), versionTextUtf8().c_str());
  std::fclose(f);
}

}  // namespace

std::string assertionLogPath() { return logFilePath(kAssertionLogName); }

std::string assertionMessage(const char* file, int line) {
  std::string m = "Debug assertion failed";
  if (file) {
    m += " in file \"";
    m += file;
    m += "\" at line " + std::to_string(line) + ".";
  } else {
    m += "!";
  }
  return m;
}

std::string assertionBoxText(const std::string& message) {
  return message + " Please report this error to Haldeco." + " NOTE: Assertion log is at: \"" +
         assertionLogPath() + "\"." + " Click \"OK\" and then manually close the application.";
}

AssertionHandler setAssertionHandler(AssertionHandler handler) {
  std::lock_guard<std::mutex> lk(handlerMutex());
  AssertionHandler old = std::move(handlerSlot());
  handlerSlot() = std::move(handler);
  return old;
}

void assertionCheck(bool condition, const char* file, int line) {
  if (condition) return;
  try {
    const std::string message = assertionMessage(file, line);
    appendLogLine(message);
    const std::string text = assertionBoxText(message);
    std::fprintf(stderr, "Fatal Error! %s\n", text.c_str());
    AssertionHandler h;
    {
      std::lock_guard<std::mutex> lk(handlerMutex());
      h = handlerSlot();
    }
    if (h) h("Fatal Error!", text);
  } catch (...) {
    // Reporting must never add a failure of its own.
  }
}
