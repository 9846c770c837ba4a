#include "Delay.h"
#include "MsgBox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <set>
#include <utility>
#include <thread>

namespace zrq::ui {
namespace {

class ConsoleMessageBoxes : public MessageBoxes {
 public:
  MsgResult show(const MsgRequest& r) override {
    std::fprintf(stderr, "[%s] %s\n", r.caption.c_str(), r.text.c_str());
    return (r.buttons == MsgButtons::Ok || r.buttons == MsgButtons::OkCancel) ? MsgResult::Ok
                                                                              : MsgResult::Yes;
  }
};

ConsoleMessageBoxes consoleBoxes;
MessageBoxes* currentBoxes = &consoleBoxes;
DelayFunction currentDelay;
// Only the installing thread touches currentWait; others compare the id.
WaitFunction currentWait;
std::atomic<std::thread::id> waitThread{};
WaitIndicator currentIndicator;

}  // namespace

MessageBoxes& messageBoxes() { return *currentBoxes; }
void setMessageBoxes(MessageBoxes* boxes) { currentBoxes = boxes ? boxes : &consoleBoxes; }

MsgResult showMessage(const std::string& text, const std::string& caption, MsgButtons buttons,
                      MsgIcon icon) {
  return currentBoxes->show(MsgRequest{text, caption, buttons, icon});
}

namespace {
// Captions of the notices up now. A service's sensor threads raise notices
// too, hence the lock.
std::mutex noticesMutex;
std::multiset<std::string>& noticesUp() {
  static std::multiset<std::string> up;
  return up;
}
}  // namespace

void showNotice(const std::string& text, const std::string& caption, std::function<void()> closed,
                MsgIcon icon) {
  {
    std::lock_guard<std::mutex> lock(noticesMutex);
    if (noticesUp().count(caption) > 0) return;
    noticesUp().insert(caption);
  }
  currentBoxes->notify(MsgRequest{text, caption, MsgButtons::Ok, icon},
                       [caption, closed = std::move(closed)] {
                         {
                           std::lock_guard<std::mutex> lock(noticesMutex);
                           auto& up = noticesUp();
                           if (auto it = up.find(caption); it != up.end()) up.erase(it);
                         }
                         if (closed) closed();
                       });
}

bool noticeShowing(const std::string& caption) {
  std::lock_guard<std::mutex> lock(noticesMutex);
  return noticesUp().count(caption) > 0;
}

void showUntilOk(const std::string& text, const std::string& caption, MsgIcon icon) {
  while (showMessage(text, caption, MsgButtons::Ok, icon) != MsgResult::Ok) {
  }
}

namespace {
std::string& titleStore() {
  static std::string title = "ZRQ";
  return title;
}
}  // namespace

const std::string& applicationTitle() { return titleStore(); }
void setApplicationTitle(const std::string& title) { titleStore() = title; }

MsgResult ScriptedMessageBoxes::show(const MsgRequest& request) {
  shown_.push_back(request);
  if (onShow) onShow(request);
  if (!answers_.empty()) {
    MsgResult r = answers_.front();
    answers_.pop_front();
    return r;
  }
  return (request.buttons == MsgButtons::Ok || request.buttons == MsgButtons::OkCancel)
             ? MsgResult::Ok
             : MsgResult::Yes;
}

int ScriptedMessageBoxes::count(const std::string& caption) const {
  return static_cast<int>(std::count_if(shown_.begin(), shown_.end(),
                                        [&](const MsgRequest& r) { return r.caption == caption; }));
}

void delayMs(int ms) {
  if (ms <= 0) return;
  if (currentDelay) {
    currentDelay(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void setDelayFunction(DelayFunction fn) { currentDelay = std::move(fn); }

void setWaitFunction(WaitFunction fn) {
  waitThread.store(fn ? std::this_thread::get_id() : std::thread::id{});
  currentWait = std::move(fn);
}

void callResponsive(const std::function<void()>& call) {
  if (waitThread.load() != std::this_thread::get_id() || !currentWait) {
    call();
    return;
  }
  std::atomic<bool> finished{false};
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      call();
    } catch (...) {
      error = std::current_exception();
    }
    finished.store(true, std::memory_order_release);
  });
  // A copy: a handler run by the wait may install another function.
  const WaitFunction wait = currentWait;
  wait([&] { return finished.load(std::memory_order_acquire); });
  worker.join();
  if (error) std::rethrow_exception(error);
}

void setWaitIndicator(WaitIndicator fn) { currentIndicator = std::move(fn); }
void indicateWait(bool waiting) {
  if (currentIndicator) currentIndicator(waiting);
}

ScopedInstantDelay::ScopedInstantDelay() {
  setDelayFunction([this](int ms) { total_ += ms; });
}
ScopedInstantDelay::~ScopedInstantDelay() { setDelayFunction({}); }

}  // namespace zrq::ui
