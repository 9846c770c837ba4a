// The HTML Help engine: a plug-in library loaded by file name on first use.
#pragma once

#include <mutex>
#include <string>

#include "HelpConsts.h"

namespace hb {

class HelpPlatform;

class HB_API HtmlHelpEngine {
 public:
  // `library` empty: libhhctrl.so in the program's folder.
  explicit HtmlHelpEngine(std::string library = {});
  ~HtmlHelpEngine();
  HtmlHelpEngine(const HtmlHelpEngine&) = delete;
  HtmlHelpEngine& operator=(const HtmlHelpEngine&) = delete;

  // One call; -1 (with the beep, and the box the first time) when the
  // library or its entry point is missing.
  intptr_t call(HelpPlatform& platform, uintptr_t caller, const char* file, unsigned command,
                uintptr_t data);
  bool loaded() const { return fn_ != nullptr; }
  const std::string& libraryPath() const { return path_; }
  // Text of the box shown when the engine cannot be loaded.
  static std::string missingText();

  // The process's engine.
  static HtmlHelpEngine& process();

 private:
  bool load();
  std::string path_;
  void* handle_ = nullptr;
  HtmlHelpFn fn_ = nullptr;
  bool warned_ = false;
  std::string loadError_;
};

// The folder of the running program (from /proc/self/exe).
HB_API std::string programFolder();

}  // namespace hb
