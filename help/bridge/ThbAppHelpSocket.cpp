#include "ThbAppHelpSocket.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace hb {

HelpTranslation translateHelpCommand(unsigned command, intptr_t data, ThbHHPopupsSource source) {
  HelpTranslation t;
  switch (command) {
    case HELP_CONTEXT:
      t.byContext = true;
      t.context = static_cast<long>(data);
      break;
    case HELP_QUIT:
      t.command = HH_CLOSE_ALL;
      break;
    case HELP_INDEX:
    case HELP_FINDER:
      t.command = HH_DISPLAY_TOC;
      break;
    case HELP_TAB:
      t.command = data == -1 ? HH_DISPLAY_SEARCH : data == -2 ? HH_DISPLAY_INDEX : HH_DISPLAY_TOC;
      break;
    case HELP_KEY:
    case HELP_PARTIALKEY:
      t.command = HH_DISPLAY_INDEX;
      t.data = static_cast<uintptr_t>(data);
      break;
    case HELP_CONTEXTPOPUP:
      if (source == ThbHHPopupsSource::psHtmlHelpFile) {
        t.byContext = true;
        t.context = static_cast<long>(data);
        t.popupAsTopic = true;
      } else {
        t.command = HH_DISPLAY_TEXT_POPUP;
        t.data = static_cast<uintptr_t>(data);
      }
      break;
    default:
      break;
  }
  return t;
}

std::string helpFilePart(const std::string& helpFile) {
  return helpFile.substr(0, helpFile.find('>'));
}

std::string helpWindowPart(const std::string& helpFile) {
  const auto gt = helpFile.find('>');
  return gt == std::string::npos ? std::string() : helpFile.substr(gt + 1);
}

bool usesHtmlHelp(const std::string& helpFile) {
  std::string lower = helpFile;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("chm") != std::string::npos;
}

intptr_t packPopupPos(int x, int y) {
  const uint32_t v =
      (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) | static_cast<uint16_t>(x);
  return static_cast<intptr_t>(v);
}

void unpackPopupPos(intptr_t data, int& x, int& y) {
  const auto v = static_cast<uint32_t>(static_cast<uintptr_t>(data));
  x = static_cast<int16_t>(v & 0xFFFFu);
  y = static_cast<int16_t>(v >> 16);
}

const char* ThbAppHelpSocket::developmentWarningText() {
  return "To avoid a possible FATAL ERROR don't display HTML Help windows when an application "
         "started in the Debug Mode. Make sure that the Debug Mode is disabled before running an "
         "application.This problem seems just like incompatibility of the HTML Help engine and "
         "IDE Debug Mode.\r\nTo CANCEL an operation choose Cancel button.\r\nTo DISABLE this "
         "message assign value false to the ShowWarning property of the ThbAppHelpSocket.";
}

ThbAppHelpSocket::ThbAppHelpSocket(HelpTarget& target, HtmlHelpEngine& engine,
                                   HelpPlatform* platform)
    : target_(target), engine_(engine), platform_(platform) {
  previous_ = target_.OnHelp;
  target_.OnHelp = [this](unsigned c, intptr_t d, bool& callHelp) {
    return HelpHook(c, d, callHelp);
  };
  hooked_ = true;
}

ThbAppHelpSocket::~ThbAppHelpSocket() { DisableHelpHook(); }

void ThbAppHelpSocket::DisableHelpHook() {
  if (!hooked_) return;
  hooked_ = false;
  target_.OnHelp = previous_;
  previous_ = nullptr;
  caller_ = 0;
  callerSet_ = false;
}

std::string ThbAppHelpSocket::GetHelpFile() {
  if (!inProgress_.empty()) return inProgress_;
  if (!HelpFile.empty()) return HelpFile;
  if (auto f = platform().activeFormHelpFile(); !f.empty()) return f;
  if (!target_.HelpFile.empty()) return target_.HelpFile;
  return HelpTarget::application().HelpFile;
}

bool ThbAppHelpSocket::oldEngineHandlers(unsigned command, intptr_t data, bool& callHelp) {
  if (OnWinHelp) return OnWinHelp(command, data, callHelp);
  if (previous_) return previous_(command, data, callHelp);
  return true;
}

bool ThbAppHelpSocket::HelpHook(unsigned command, intptr_t data, bool& callHelp) {
  // A negative number swaps topic and pop-up.
  if ((command == HELP_CONTEXTPOPUP || command == HELP_CONTEXT) && data < 0) {
    callHelp = false;
    // The one negative number without a positive counterpart names nothing.
    if (data == INTPTR_MIN) return false;
    target_.HelpCommand(command == HELP_CONTEXTPOPUP ? HELP_CONTEXT : HELP_CONTEXTPOPUP, -data);
    return true;
  }
  if (command == HELP_SETPOPUP_POS) {
    unpackPopupPos(data, popupX_, popupY_);
    popupPending_ = true;
    callHelp = false;
    return true;
  }
  const std::string helpFile = GetHelpFile();
  if (usesHtmlHelp(helpFile)) {
    bool result = true;
    if (!(command == HELP_CONTEXTPOPUP && HHPopupsSource == ThbHHPopupsSource::psWinHelpFile)) {
      popupAsTopic_ = false;
      HelpTranslation t = translateHelpCommand(command, data, HHPopupsSource);
      if (t.byContext) {
        popupAsTopic_ = t.popupAsTopic;
        std::string file;
        bool found = false;
        if (OnHHGetAlias) {
          OnHHGetAlias(t.context, file);
          found = !file.empty();
        } else if (auto m = HHAliases.findInStrings(t.context)) {
          file = *m;
          found = true;
        } else {
          std::string error;
          const bool wasLoaded = HHAliases.fileLoaded();
          if (auto f = HHAliases.find(t.context, helpFile, true, &error)) {
            file = *f;
            found = true;
          }
          if (!wasLoaded && !error.empty()) platform().errorBox(error);
        }
        if (found) {
          lastAlias_ = file;
          t.command = HH_DISPLAY_TOPIC;
          t.data = reinterpret_cast<uintptr_t>(lastAlias_.c_str());
        } else {
          t.command = HH_HELP_CONTEXT;
          t.data = static_cast<uintptr_t>(t.context);
        }
      }
      if (t.command != HH_NONE) result = HTMLHelpCommand(t.command, t.data) != 0;
    } else {
      result = oldEngineHandlers(command, data, callHelp);
      if (callHelp) {
        std::string file = helpFile.substr(0, [&] {
          std::string lower = helpFile;
          for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          return lower.find(".chm");
        }());
        if (popupPending_) {
          platform().winHelp(file, HELP_SETPOPUP_POS, packPopupPos(popupX_, popupY_));
          clearPending();
        }
        if (OnGetWinHelpFile) OnGetWinHelpFile(file);
        result = platform().winHelp(file, command, data);
      }
    }
    callHelp = false;
    return result;
  }
  // The old engine.
  HHAliases.unloadFile();
  if (command == HELP_CONTEXTPOPUP && popupPending_) {
    platform().winHelp(helpFile, HELP_SETPOPUP_POS, packPopupPos(popupX_, popupY_));
    clearPending();
  }
  return oldEngineHandlers(command, data, callHelp);
}

std::string ThbAppHelpSocket::popupText(long context) {
  std::string text;
  std::string error;
  const bool wasLoaded = HHPopupTopics.fileLoaded();
  if (auto t = HHPopupTopics.find(context, GetHelpFile(), true, &error)) text = *t;
  if (!wasLoaded && !error.empty()) platform().errorBox(error);
  if (OnHHGetPopupText) OnHHGetPopupText(context, text);
  if (text.empty()) text = "No pop-up text for help context " + std::to_string(context) + ".";
  return text;
}

void ThbAppHelpSocket::notifyThunk(void* context, uintptr_t owner, int idNotify, int code,
                                   const char* url) {
  auto* self = static_cast<ThbAppHelpSocket*>(context);
  if (!self || idNotify != kNotifyId || owner != self->GetHHCaller()) return;
  const std::string u = url ? url : "";
  switch (code) {
    case HHN_NAVCOMPLETE:
      if (self->OnHHNavComplete) self->OnHHNavComplete(u);
      break;
    case HHN_TRACK:
      if (self->OnHHTrack) self->OnHHTrack(u);
      break;
    case HHN_WINDOW_CREATE:
      if (self->OnHHWindowCreate) self->OnHHWindowCreate();
      break;
    default:
      break;
  }
}

void ThbAppHelpSocket::adjustWindowType(const std::string& file) {
  HhWinType wt;
  if (DoHTMLHelp(GetHHCaller(), file, reinterpret_cast<uintptr_t>(&wt), HH_GET_WIN_TYPE) <= 0)
    return;
  wt.fsValidMembers |= HHWIN_PARAM_PROPERTIES | HHWIN_PARAM_RECT;
  wt.fsWinProperties |= HHWIN_PROP_TRACKING;
  wt.idNotify = kNotifyId;
  wt.hwndCaller = GetHHCaller();
  wt.notify = &ThbAppHelpSocket::notifyThunk;
  wt.notifyContext = this;
  if (popupAsTopic_ && popupPending_) {
    const int w = wt.right - wt.left, h = wt.bottom - wt.top;
    wt.left = popupX_ - w / 2;
    wt.right = wt.left + w;
    wt.top = popupY_;
    wt.bottom = wt.top + h;
    if (wt.bottom > platform().workArea().bottom) {
      wt.bottom = popupY_ - 30;
      wt.top = wt.bottom - h;
    }
  }
  if (popupAsTopic_) clearPending();
  DoHTMLHelp(GetHHCaller(), file, reinterpret_cast<uintptr_t>(&wt), HH_SET_WIN_TYPE);
}

intptr_t ThbAppHelpSocket::HTMLHelpCommand(unsigned command, uintptr_t data) {
  if (ShowWarning && platform().developmentEnvironmentRunning()) {
    ShowWarning = false;
    if (!platform().okCancelBox("Warning", developmentWarningText())) return 0;
  }
  const std::string helpFile = GetHelpFile();
  intptr_t result = 0;
  switch (command) {
    case HH_DISPLAY_TOPIC:
    case HH_HELP_CONTEXT: {
      std::string file = helpFile;
      if (popupAsTopic_ && !HHContextWindow.empty())
        file = helpFilePart(helpFile) + ">" + HHContextWindow;
      adjustWindowType(file);
      result = DoHTMLHelp(GetHHCaller(), file, data, command);
      break;
    }
    case HH_DISPLAY_TOC:
    case HH_DISPLAY_INDEX:
    case HH_DISPLAY_SEARCH:
    case HH_SYNC:
    case HH_ALINK_LOOKUP: {
      adjustWindowType(helpFile);
      if (command == HH_DISPLAY_SEARCH && data == 0) {
        searchQuery_ = HHDefaultSearchQuery;
        query_ = HhFtsQuery{};
        query_.pszSearchQuery = searchQuery_.c_str();
        data = reinterpret_cast<uintptr_t>(&query_);
      }
      if (command == HH_DISPLAY_INDEX && data == 0) {
        indexKeyword_ = HHDefaultIndexKeyword;
        data = reinterpret_cast<uintptr_t>(indexKeyword_.c_str());
      }
      std::string file = helpFilePart(helpFile);
      if (!HHDefaultTopic.empty()) file += "::/" + HHDefaultTopic;
      if (auto w = helpWindowPart(helpFile); !w.empty()) file += ">" + w;
      result = DoHTMLHelp(GetHHCaller(), file, data, command);
      break;
    }
    case HH_DISPLAY_TEXT_POPUP: {
      lastPopupText_ = popupText(static_cast<long>(data));
      popup_ = HhPopup{};
      popup_.pszText = lastPopupText_.c_str();
      if (popupPending_) {
        popup_.x = popupX_;
        popup_.y = popupY_;
      }
      popup_.clrBackground = HHPopupWindow.Color;
      popup_.clrForeground = HHPopupWindow.TextColor;
      popup_.marginLeft = HHPopupWindow.MarginLeft;
      popup_.marginTop = HHPopupWindow.MarginTop;
      popup_.marginRight = HHPopupWindow.MarginRight;
      popup_.marginBottom = HHPopupWindow.MarginBottom;
      popup_.pszFont = HHPopupWindow.FontName.empty() ? nullptr : HHPopupWindow.FontName.c_str();
      popup_.fontPointSize = HHPopupWindow.FontSize;
      clearPending();
      result = DoHTMLHelp(GetHHCaller(), helpFile, reinterpret_cast<uintptr_t>(&popup_), command);
      break;
    }
    case HH_CLOSE_ALL:
      result = DoHTMLHelp(0, std::string(), 0, command);
      lastAlias_.clear();
      lastPopupText_.clear();
      break;
    default:
      result = DoHTMLHelp(GetHHCaller(), helpFile, data, command);
      break;
  }
  popupAsTopic_ = false;
  return result;
}

intptr_t ThbAppHelpSocket::DoHTMLHelp(uintptr_t window, const std::string& file, uintptr_t data,
                                      unsigned command) {
  inProgress_ = file;
  bool callHelp = true;
  if (OnHTMLHelp) OnHTMLHelp(command, data, callHelp);
  intptr_t result = 0;
  if (callHelp) {
    const uintptr_t w = command == HH_DISPLAY_TEXT_POPUP ? platform().desktopWindow() : window;
    result = engine_.call(platform(), w, file.c_str(), command, data);
  }
  inProgress_.clear();
  return result;
}

uintptr_t ThbAppHelpSocket::GetHHCaller() {
  return callerSet_ ? caller_ : platform().desktopWindow();
}

void ThbAppHelpSocket::SetHHCaller(uintptr_t window) {
  if (!platform().isWindow(window)) return;
  if (callerSet_ && window == caller_) return;
  if (usesHtmlHelp(GetHelpFile())) DoHTMLHelp(0, std::string(), 0, HH_CLOSE_ALL);
  caller_ = window;
  callerSet_ = true;
}

}  // namespace hb
