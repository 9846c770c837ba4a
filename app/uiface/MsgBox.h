// Message boxes as the application's Qt-free code sees them.
//
// Every message box of the application goes through one MessageBoxes object, so
// code that asks the user something can run without a display and tests can
// answer by script. The windowed application installs a QMessageBox-backed
// implementation at start-up; until then boxes go to standard error and are
// answered with the first button (OK, Yes).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zrq::ui {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgResult { Ok, Cancel, Yes, No };

struct MsgRequest {
  std::string text;
  std::string caption;
  MsgButtons buttons = MsgButtons::Ok;
  MsgIcon icon = MsgIcon::None;
};

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows the box modally and returns the button the user pressed.
  virtual MsgResult show(const MsgRequest& request) = 0;
  // An OK box that leaves its caller running (a timer's handler must return
  // for the timers to go on); closed is called once it is closed. Unless an
  // implementation can show it so, it is shown like any box.
  virtual void notify(const MsgRequest& request, std::function<void()> closed) {
    show(request);
    if (closed) closed();
  }
};

// The implementation in force; never null. Passing null restores the default.
MessageBoxes& messageBoxes();
void setMessageBoxes(MessageBoxes* boxes);

// The application title: "ZRQ", or the connected port's caption. Kept here,
// apart from the window system's application name, so that it never shows up
// appended to window titles or box captions.
const std::string& applicationTitle();
void setApplicationTitle(const std::string& title);

MsgResult showMessage(const std::string& text, const std::string& caption,
                      MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None);

// An OK box raised from a timer's path: shown without holding the caller, and
// not again while a notice with its caption is still up.
void showNotice(const std::string& text, const std::string& caption,
                std::function<void()> closed = {}, MsgIcon icon = MsgIcon::None);
// Whether a notice with this caption is up.
bool noticeShowing(const std::string& caption);

// "Shown until OK": the box comes back while it returns anything but OK.
void showUntilOk(const std::string& text, const std::string& caption, MsgIcon icon = MsgIcon::None);

// For tests: records every box and answers from a queue (OK, or Yes for a
// Yes/No box, once the queue is empty).
class ScriptedMessageBoxes : public MessageBoxes {
 public:
  MsgResult show(const MsgRequest& request) override;
  void answer(MsgResult result) { answers_.push_back(result); }
  const std::vector<MsgRequest>& shown() const { return shown_; }
  void clear() {
    shown_.clear();
    answers_.clear();
  }
  // Number of boxes shown with this caption.
  int count(const std::string& caption) const;
  // Called while each box is "up", before it is answered: what the user sees
  // beside the box.
  std::function<void(const MsgRequest&)> onShow;

 private:
  std::deque<MsgResult> answers_;
  std::vector<MsgRequest> shown_;
};

// Installs a scripted implementation for the lifetime of the object.
class ScopedScriptedMessageBoxes : public ScriptedMessageBoxes {
 public:
  ScopedScriptedMessageBoxes() { setMessageBoxes(this); }
  ~ScopedScriptedMessageBoxes() override { setMessageBoxes(nullptr); }
  ScopedScriptedMessageBoxes(const ScopedScriptedMessageBoxes&) = delete;
  ScopedScriptedMessageBoxes& operator=(const ScopedScriptedMessageBoxes&) = delete;
};

}  // namespace zrq::ui
