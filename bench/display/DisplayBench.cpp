// display_bench: what one display tick costs and how long the program takes
// to show its main window, each against a baseline measured in the same run.
//
//   tick      streaming ticks (updateDisplay with changing readings) against
//             ticks in the connecting state, which touch only the connection
//             label; with and without the repaint that follows
//   startup   process start to the first paint of the main window, against a
//             process that shows one empty QWidget of the same size
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchTiming.h"
#include "TfrmAbout.h"
#include "TfrmFilterValue.h"
#include "TfrmMain.h"
#include "core/DataString.h"
#include "frame/Frame.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;

extern char** environ;

namespace {

using zrq::bench::Clock;
using zrq::bench::median;
using zrq::bench::ms;

struct Streaming : zrq::app::NullCommPeer {
  bool portConnected() const override { return true; }
  bool interrogationAccepted() const override { return true; }
  bool settingsAccepted() const override { return true; }
};

std::string dataString(double fwd, double rfl) {
  char buf[160];
  std::snprintf(
      buf, sizeof buf,
      ",%+11.4E,%+12.4E,%+11.4E,%+11.4E,%+11.4E,%+11.4E,%2d,%2d,%+11.4E,%+11.4E,%+11.4E,,", 80.0,
      25.0, fwd, rfl, 150.0, 0.0, 1, 9, 0.25, 2.5, 37.5);
  return buf;
}

// Median of `rounds` ticks, optionally followed by the repaint they cause.
double timeTicks(TfrmMain& w, int rounds, bool repaint, bool vary) {
  std::vector<double> t;
  t.reserve(rounds);
  for (int i = 0; i < rounds; ++i) {
    if (vary) {
      // A new reading every tick, so every read-out text really changes.
      zrq::core::decodeDataString(
          dataString(90 + (i % 20), 0.5 + 0.01 * (i % 7)),
          {w.state.measType, w.state.fwdFullScale, w.state.featureMask, false}, w.state.reading,
          w.state.settingsChanged);
    }
    const auto t0 = Clock::now();
    w.displayTimerTimer();
    if (repaint) QApplication::processEvents();
    t.push_back(ms(Clock::now() - t0));
  }
  return median(t);
}

int tickBench(int argc, char** argv) {
  QApplication app(argc, argv);
  zrq::frame::installFrame();
  zrq::ui::ScopedScriptedMessageBoxes boxes;
  Streaming comm;
  TfrmMain w;
  w.displayTimer->stop();
  zrq::app::PanelPeers peers;
  peers.comm = &comm;
  w.setPeers(peers);
  w.show();
  QApplication::processEvents();
  w.state.rflUnit = zrq::core::PowerUnit::VSWR;
  w.rflIsPower = false;

  const int rounds = 2000;
  w.displayTimerTimer();
  w.state.commState = CommState::Connecting;
  timeTicks(w, 200, false, false);  // warm-up
  const double idle = timeTicks(w, rounds, false, false);
  const double idlePaint = timeTicks(w, rounds, true, false);

  w.state.commState = CommState::Streaming;
  w.state.measType = zrq::core::MeasType::Average;
  timeTicks(w, 200, false, true);
  const double tick = timeTicks(w, rounds, false, true);
  const double tickPaint = timeTicks(w, rounds, true, true);

  std::printf("display tick, median of %d (microseconds):\n", rounds);
  std::printf("  baseline tick (connecting: connection label only)  %9.2f\n", idle * 1e3);
  std::printf("  streaming tick with updateDisplay                   %9.2f  (x%.0f)\n", tick * 1e3,
              idle > 0 ? tick / idle : 0.0);
  std::printf("  baseline tick + repaint                             %9.2f\n", idlePaint * 1e3);
  std::printf("  streaming tick + repaint                            %9.2f  (x%.0f)\n",
              tickPaint * 1e3, idlePaint > 0 ? tickPaint / idlePaint : 0.0);
  std::printf("  goal: streaming tick below 1 ms: %s\n", tick < 1.0 ? "met" : "NOT met");
  zrq::frame::uninstallFrame();
  return 0;
}

// Child: build the windows (or one empty widget), report the first paint.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint && !done_) {
      done_ = true;
      std::fputs("painted\n", stdout);
      std::fflush(stdout);
      QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
    }
    return QObject::eventFilter(o, e);
  }

 private:
  bool done_ = false;
};

int startupChild(int argc, char** argv, bool mainWindow) {
  QApplication app(argc, argv);
  zrq::frame::installFrame();
  FirstPaint probe;
  QWidget* shown = nullptr;
  if (mainWindow) {
    frmMain = new TfrmMain;
    frmAbout = new TfrmAbout(frmMain);
    frmFilterValue = new TfrmFilterValue(frmMain, frmMain);
    frmMain->setDialogs(frmFilterValue, frmAbout);
    shown = frmMain;
  } else {
    shown = new QWidget;
    shown->resize(319, 334);
  }
  shown->installEventFilter(&probe);
  shown->show();
  const int rc = QApplication::exec();
  delete shown;
  zrq::frame::uninstallFrame();
  return rc;
}

// Parent: spawn the child and time until it reports its first paint.
double timeStartup(const char* self, const char* mode) {
  int fd[2];
  if (pipe(fd) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fd[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&fa, fd[0]);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char* args[] = {const_cast<char*>(self), const_cast<char*>("--child"), const_cast<char*>(mode),
                  nullptr};
  pid_t pid = 0;
  const auto t0 = Clock::now();
  const int err = posix_spawn(&pid, self, &fa, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fd[1]);
  if (err != 0) {
    close(fd[0]);
    return -1;
  }
  char buf[64];
  const ssize_t n = read(fd[0], buf, sizeof buf);
  const double elapsed = ms(Clock::now() - t0);
  close(fd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return n > 0 ? elapsed : -1;
}

int startupBench(const char* self) {
  const int rounds = 9;
  std::vector<double> empty, main;
  timeStartup(self, "empty");  // warm the page cache
  for (int i = 0; i < rounds; ++i) {
    empty.push_back(timeStartup(self, "empty"));
    main.push_back(timeStartup(self, "main"));
  }
  const double e = median(empty), m = median(main);
  std::printf("start to first paint, median of %d runs (ms):\n", rounds);
  std::printf("  baseline: empty QWidget        %8.1f\n", e);
  std::printf("  ZRQ main window and dialogs    %8.1f  (x%.2f, +%.1f ms)\n", m, e > 0 ? m / e : 0.0,
              m - e);
  std::printf("  goal: below 500 ms: %s\n", m >= 0 && m < 500 ? "met" : "NOT met");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
    return startupChild(argc, argv, std::strcmp(argv[2], "main") == 0);
  const bool onlyTick = argc >= 2 && std::strcmp(argv[1], "tick") == 0;
  const bool onlyStartup = argc >= 2 && std::strcmp(argv[1], "startup") == 0;
  int rc = 0;
  if (!onlyStartup) rc |= tickBench(argc, argv);
  if (!onlyTick) rc |= startupBench("/proc/self/exe");
  return rc;
}
