// Routes the framework's help requests to the HTML Help plug-in or to the old
// engine, translating the old engine's commands. Qt-free: the desktop is
// reached through HelpPlatform, the engine through HtmlHelpEngine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "HelpConsts.h"
#include "HelpTarget.h"
#include "HtmlHelpEngine.h"
#include "ThbHHTopics.h"

namespace hb {

enum class ThbHHPopupsSource { psHHPopupTopics, psResourceFile, psWinHelpFile, psHtmlHelpFile };

struct ThbHHPopupWindow {
  uint32_t Color = 0xFFFFE1;  // 0xRRGGBB
  uint32_t TextColor = 0x000000;
  int MarginLeft = 4, MarginTop = 4, MarginRight = 4, MarginBottom = 4;
  std::string FontName;  // empty: the desktop's font
  int FontSize = 0;
};

// The HTML Help command an old-engine request becomes. `byContext`: the
// command is to be looked up by `context` (a topic when the number has an
// alias, else HH_HELP_CONTEXT).
struct HelpTranslation {
  unsigned command = HH_NONE;
  uintptr_t data = 0;
  bool byContext = false;
  long context = 0;
  bool popupAsTopic = false;
};
HB_API HelpTranslation translateHelpCommand(unsigned command, intptr_t data,
                                            ThbHHPopupsSource source);

// "file>window": the parts before and after ">".
HB_API std::string helpFilePart(const std::string& helpFile);
HB_API std::string helpWindowPart(const std::string& helpFile);
// True when the (lower-cased) help file names a compiled HTML help file.
HB_API bool usesHtmlHelp(const std::string& helpFile);
// x in the low and y in the high 16 bits, each signed.
HB_API intptr_t packPopupPos(int x, int y);
HB_API void unpackPopupPos(intptr_t data, int& x, int& y);

class HB_API ThbAppHelpSocket {
 public:
  explicit ThbAppHelpSocket(HelpTarget& target = HelpTarget::application(),
                            HtmlHelpEngine& engine = HtmlHelpEngine::process(),
                            HelpPlatform* platform = nullptr);
  virtual ~ThbAppHelpSocket();
  ThbAppHelpSocket(const ThbAppHelpSocket&) = delete;
  ThbAppHelpSocket& operator=(const ThbAppHelpSocket&) = delete;

  // Published settings.
  std::string HHDefaultSearchQuery;
  ThbHHTopics HHAliases{"ali"};
  std::string HHContextWindow;
  std::string HHDefaultIndexKeyword;
  std::string HHDefaultTopic;
  ThbHHTopics HHPopupTopics{"pup"};
  ThbHHPopupsSource HHPopupsSource = ThbHHPopupsSource::psHHPopupTopics;
  ThbHHPopupWindow HHPopupWindow;
  std::function<void(std::string& file)> OnGetWinHelpFile;
  std::function<void(long context, std::string& file)> OnHHGetAlias;
  std::function<void(long context, std::string& text)> OnHHGetPopupText;
  std::function<void(const std::string& url)> OnHHNavComplete;
  std::function<void(const std::string& url)> OnHHTrack;
  std::function<void()> OnHHWindowCreate;
  std::function<void(unsigned& command, uintptr_t& data, bool& callHelp)> OnHTMLHelp;
  std::function<bool(unsigned command, intptr_t data, bool& callHelp)> OnWinHelp;
  bool ShowWarning = true;
  // The component's own help file (empty: the active window's, then the target's).
  std::string HelpFile;

  bool HelpHook(unsigned command, intptr_t data, bool& callHelp);
  intptr_t HTMLHelpCommand(unsigned command, uintptr_t data);
  intptr_t DoHTMLHelp(uintptr_t window, const std::string& file, uintptr_t data, unsigned command);
  void SetHHCaller(uintptr_t window);
  uintptr_t GetHHCaller();
  void DisableHelpHook();
  std::string GetHelpFile();

  void ShowTOCTab() { target_.HelpCommand(HELP_TAB, -3); }
  void ShowIndexTab() { target_.HelpCommand(HELP_TAB, -2); }
  void ShowSearchTab() { target_.HelpCommand(HELP_TAB, -1); }
  void ShowTopicByID(int context) { target_.HelpCommand(HELP_CONTEXT, context); }
  void CloseAll() { target_.HelpCommand(HELP_QUIT, 0); }

  // Run-time state, readable for the owner.
  bool popupPending() const { return popupPending_; }
  int popupX() const { return popupX_; }
  int popupY() const { return popupY_; }
  bool popupAsTopic() const { return popupAsTopic_; }
  const std::string& lastAliasFile() const { return lastAlias_; }
  // The pop-up text for a number: HHPopupTopics, then OnHHGetPopupText.
  std::string popupText(long context);
  static const char* developmentWarningText();

 private:
  bool oldEngineHandlers(unsigned command, intptr_t data, bool& callHelp);
  void adjustWindowType(const std::string& file);
  void clearPending() { popupPending_ = false; }
  static void notifyThunk(void* context, uintptr_t owner, int idNotify, int code, const char* url);

  HelpTarget& target_;
  HtmlHelpEngine& engine_;
  HelpPlatform* platform_;
  HelpTarget::Handler previous_;
  bool hooked_ = false;
  uintptr_t caller_ = 0;
  bool callerSet_ = false;
  std::string inProgress_;
  bool popupPending_ = false;
  int popupX_ = -1, popupY_ = -1;
  bool popupAsTopic_ = false;
  std::string lastAlias_;
  std::string lastPopupText_;
  std::string indexKeyword_;
  std::string searchQuery_;
  HhFtsQuery query_;
  HhPopup popup_;

  HelpPlatform& platform() { return platform_ ? *platform_ : HelpPlatform::current(); }
};

}  // namespace hb
