// ZRQUSB: creates the windows once, in their fixed order, shows the main
// window and runs the event loop. The options let scripts run it unattended:
// connect at start, take a picture, log the display ticks, end after a while.
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "CommBridge.h"
#include "PanelAlarms.h"
#include "RemoteControl.h"
#include "DisplayWindows.h"
#include "MeterWindows.h"
#include "TrendRecorder.h"
#include "TrendWindow.h"
#include "TfrmAbout.h"
#include "TfrmComm.h"
#include "TfrmFilterValue.h"
#include "TfrmLogFreq.h"
#include "TfrmMain.h"
#include "TfrmMainHelp.h"
#include "TfrmMainLog.h"
#include "ZervDComDLL.h"
#include "frame/Frame.h"
#include "frame/Version.h"
#include "uiface/MsgBox.h"

namespace {

// Unattended runs: every box is written to standard error and answered with
// its first button, so nothing waits for a user who is not there.
class StderrMessageBoxes : public zrq::ui::MessageBoxes {
 public:
  zrq::ui::MsgResult show(const zrq::ui::MsgRequest& r) override {
    std::fprintf(stderr, "ZRQUSB message [%s]: %s\n", r.caption.c_str(), r.text.c_str());
    return r.buttons == zrq::ui::MsgButtons::Ok || r.buttons == zrq::ui::MsgButtons::OkCancel
               ? zrq::ui::MsgResult::Ok
               : zrq::ui::MsgResult::Yes;
  }
};

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM close the main window the normal way (port
// disconnected, logs closed).
void closeOnSignals(TfrmMain* main) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, main);
  QObject::connect(notifier, &QSocketNotifier::activated, main, [main] {
    char c;
    while (::read(signalPipe[0], &c, 1) > 0) {
    }
    main->close();
  });
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

// One line per display tick: milliseconds on the monotonic clock.
void logTicks(TfrmMain* main, const QString& path) {
  FILE* f = std::fopen(path.toLocal8Bit().constData(), "w");
  if (!f) {
    std::fprintf(stderr, "ZRQUSB: cannot write the tick log %s\n", path.toLocal8Bit().constData());
    return;
  }
  QObject::connect(main->displayTimer, &QTimer::timeout, main, [f] {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::fprintf(f, "%.3f\n", std::chrono::duration<double, std::milli>(now).count());
    std::fflush(f);
  });
  QObject::connect(main, &QObject::destroyed, [f] { std::fclose(f); });
}

void save(QWidget* w, const QString& file) {
  if (w->grab().save(file)) {
    std::printf("screenshot: %s\n", file.toLocal8Bit().constData());
  } else {
    std::fprintf(stderr, "ZRQUSB: cannot save %s\n", file.toLocal8Bit().constData());
  }
  std::fflush(stdout);
}

// Triggers the named windows' menu items as soon as their menus are enabled
// (the first streaming tick), as a user would.
void openFromMenus(const QStringList& names) {
  auto* poll = new QTimer(frmMain);
  QObject::connect(poll, &QTimer::timeout, frmMain, [poll, names] {
    const std::pair<const char*, QAction*> items[] = {{"meter", frmMain->Forward1},
                                                      {"rflmeter", frmMain->Reflected1},
                                                      {"peak", frmMain->PeakPower2},
                                                      {"burst", frmMain->BurstPower2},
                                                      {"trend", frmMain->Trend1}};
    if (!frmMain->Meter1->menuAction()->isEnabled()) return;
    QStringList opened;
    for (const auto& [name, item] : items) {
      if (names.contains(QLatin1String(name)) && item->isEnabled()) {
        item->trigger();
        opened << QLatin1String(name);
      }
    }
    std::printf("opened: %s\n", opened.join(' ').toLocal8Bit().constData());
    std::fflush(stdout);
    poll->stop();
  });
  poll->start(250);
}

// --log: after the first display tick that finds the stream running with a
// reading and the Logging menu usable, the file is chosen and logging
// switched on.
void startLoggingOnStream(TfrmMain* main, zrq::app::TfrmMainLog& writer, const QString& path) {
  auto connection = std::make_shared<QMetaObject::Connection>();
  *connection = QObject::connect(
      main->displayTimer, &QTimer::timeout, main, [main, &writer, path, connection] {
        // A first reading too, so no record shows the empty values from before it.
        if (main->state.commState != zrq::core::CommState::Streaming ||
            !main->Logging1->isEnabled() || main->state.reading.reportedType == 0)
          return;
        QObject::disconnect(*connection);
        writer.chooseLogFile(path);
        if (!writer.active()) writer.Active1Click();
      });
}

}  // namespace

int main(int argc, char** argv) {
  QCommandLineParser cli;
  cli.setApplicationDescription(
      "ZRQ front panel for the TKS7730 RF power sensor.\n"
      "Serial ports offered: COM0-COM3, /dev/ttyUSB*, /dev/ttyACM*, and the colon-separated\n"
      "paths in ZRQ_SERIAL_PORTS; USB sensors (7730USB1, ...) include the simulated ones in\n"
      "ZERVDCOM_HID_SIM_DIR.");
  cli.addHelpOption();
  const QCommandLineOption connectOpt(
      "connect",
      "Connect at start to PORT as the Comm menu names it (COM1, /dev/ttyUSB0, 7730USB1).", "PORT");
  const QCommandLineOption shotOpt("screenshot", "Save a picture of the main window to FILE.",
                                   "FILE");
  const QCommandLineOption afterOpt("after", "Take the picture MS after start (default 3000).",
                                    "MS", "3000");
  const QCommandLineOption quitOpt(
      "quit-after", "Close the main window MS after start, as the user would.", "MS");
  const QCommandLineOption tickOpt("tick-log",
                                   "Write the time of every display tick (ms, monotonic) to FILE; "
                                   "ZRQ_TICK_LOG does the same.",
                                   "FILE");
  const QCommandLineOption unattendedOpt(
      "unattended", "Write message boxes to standard error and answer them with OK or Yes.");
  const QCommandLineOption openOpt(
      "open",
      "Open these windows from their menus once the panel streams: a comma-separated "
      "list of meter, rflmeter, peak, burst, trend.",
      "LIST");
  const QCommandLineOption shotDirOpt(
      "window-shots",
      "With --screenshot: also save a picture of each open meter, peak, burst and trend "
      "window to DIR (meter.png, rflmeter.png, peak.png, burst.png, trend.png).",
      "DIR");
  const QCommandLineOption logOpt(
      "log",
      "Once the stream runs, choose FILE as the log file and activate logging, as "
      "Logging > Log File and Logging > Active would, with the set-up dialog's settings.",
      "FILE");
  const QCommandLineOption scpiOpt(
      "scpi",
      "Answer SCPI commands on TCP port PORT (5025 is usual; 0 picks a free one), on 127.0.0.1 "
      "unless ADDR says otherwise (0.0.0.0: every interface, without a password). Prints "
      "\"scpi: ADDR:PORT\". Comm > Remote Control... sets the same for every start.",
      "[ADDR:]PORT");
  const QCommandLineOption besideOpt(
      "beside",
      "Place the main window with its top-left corner at X,Y (kept on the screen) instead of "
      "centred; Comm > New Window starts the next ZRQUSB this way.",
      "X,Y");
  cli.addOptions({connectOpt, shotOpt, afterOpt, quitOpt, tickOpt, unattendedOpt, openOpt,
                  shotDirOpt, logOpt, scpiOpt, besideOpt});
  cli.addOption(QCommandLineOption("version", "Print the version text and exit."));
  // Parsed before the application exists so that --help needs no display.
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (!cli.parse(args)) {
    std::fprintf(stderr, "ZRQUSB: %s\n", cli.errorText().toLocal8Bit().constData());
    return 2;
  }
  if (cli.isSet("help")) {
    // Without an application object Qt cannot name the program itself.
    QString help = cli.helpText();
    help.replace(QLatin1String("<executable_name>"), QLatin1String("ZRQUSB"));
    std::printf("%s", help.toLocal8Bit().constData());
    return 0;
  }
  if (cli.isSet("version")) return std::printf("ZRQUSB %s\n", zrq::frame::kVersionText) < 0;
  std::optional<zrq::remote::ListenAddress> scpiAt;
  if (cli.isSet(scpiOpt)) {
    zrq::remote::ListenAddress at;
    std::string why;
    if (!zrq::remote::parseListenAddress(cli.value(scpiOpt).toStdString(), at, &why)) {
      std::fprintf(stderr, "ZRQUSB: --scpi: %s\n", why.c_str());
      return 2;
    }
    scpiAt = at;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(zrq::frame::kAppTitle));
  // No application display name: the window system would append it to every
  // title and box caption.
  zrq::ui::setApplicationTitle(zrq::frame::kAppTitle);

  zrq::frame::installFrame();
  StderrMessageBoxes stderrBoxes;
  if (cli.isSet(unattendedOpt)) zrq::ui::setMessageBoxes(&stderrBoxes);

  frmMain = new TfrmMain;
  zrq::app::CommBridge bridge(*frmMain);
  auto* frmComm = new zrq::comm::TfrmComm(bridge, frmMain);
  bridge.attach(frmComm);
  frmAbout = new TfrmAbout(frmMain);
  frmLogFreq = new TfrmLogFreq(frmMain);
  frmFilterValue = new TfrmFilterValue(frmMain, frmMain);
  frmMeter = new TfrmMeter(frmMain);
  frmRflMeter = new TfrmRflMeter(&frmMain->state, frmMain);
  frmdisplayPeak = new TfrmdisplayPeak(frmMain);
  frmdisplayPeak->setMainWindow(frmMain);
  frmdisplayBurst = new TfrmdisplayBurst(frmMain);
  frmdisplayBurst->setMainWindow(frmMain);
  frmMain->setDialogs(frmFilterValue, frmAbout);
  frmMain->setAuxWindows(frmMeter, frmRflMeter, frmdisplayPeak, frmdisplayBurst);
  // Recording starts with the first reading, window or not.
  auto* trend = new zrq::app::TrendRecorder(frmMain->state, frmMain);
  frmTrend = new TfrmTrend(*trend, frmMain);
  frmMain->setTrend(trend, frmTrend);
  auto* alarms = new zrq::app::PanelAlarms(*frmMain);
  alarms->setLimitsView([](const std::vector<zrq::core::AlarmLimits>& limits) {
    if (frmTrend) frmTrend->setAlarmLimits(limits);
  });
  frmMain->setAlarms(alarms);
  zrq::app::PanelPeers peers;
  peers.comm = &bridge;
  zrq::app::MainHelp help(*frmMain);
  peers.help = &help;
  peers.fwdMeter = frmMeter;
  peers.rflMeter = frmRflMeter;
  peers.peak = frmdisplayPeak;
  peers.burst = frmdisplayBurst;
  zrq::app::TfrmMainLog logWriter(*frmMain, *frmLogFreq);
  peers.log = &logWriter;
  frmMain->setPeers(peers);
  closeOnSignals(frmMain);

  auto* remote = new zrq::app::RemoteControl(*frmMain);
  frmMain->setRemote(remote);
  if (const zrq::app::RemoteChoice choice = zrq::app::loadRemoteChoice();
      scpiAt || choice.enabled) {
    const zrq::remote::ListenAddress at = scpiAt ? *scpiAt : choice.address();
    std::string why;
    if (remote->listen(at, &why)) {
      std::printf("scpi: %s:%d\n", at.host.c_str(), remote->port());
      std::fflush(stdout);
    } else {
      // The panel still runs; the dialog offers another port.
      std::fprintf(stderr, "ZRQUSB: remote control on %s:%d is off: %s\n", at.host.c_str(), at.port,
                   why.c_str());
      if (scpiAt) {
        delete frmMain;
        zrq::frame::uninstallFrame();
        return 2;
      }
    }
  }

  QString tickLog = cli.value(tickOpt);
  if (tickLog.isEmpty()) tickLog = qEnvironmentVariable("ZRQ_TICK_LOG");
  if (!tickLog.isEmpty()) logTicks(frmMain, tickLog);

  if (cli.isSet(logOpt)) startLoggingOnStream(frmMain, logWriter, cli.value(logOpt));

  if (cli.isSet(connectOpt)) {
    const QString port = cli.value(connectOpt);
    QAction* item = frmMain->portMenuItem(port);
    if (!item) {
      QStringList offered;
      for (QAction* a : frmMain->portMenuItems()) offered << a->objectName();
      std::fprintf(stderr, "ZRQUSB: no port %s in the Comm menu (offered: %s)\n",
                   port.toLocal8Bit().constData(),
                   offered.isEmpty() ? "none" : offered.join(' ').toLocal8Bit().constData());
      delete frmMain;
      zrq::frame::uninstallFrame();
      return 2;
    }
    frmMain->Setup1ItemsClick(item);
    // A fatal close during the connect (old firmware, uncalibrated sensor)
    // asked to quit before the event loop runs: end here, as from the menu.
    if (frmMain->shutDown()) {
      delete frmComm;
      delete frmMain;
      zrq::comm::ZervDComDLL::unload();
      zrq::frame::uninstallFrame();
      return 0;
    }
  }

  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect g = s->availableGeometry();
    frmMain->adjustSize();
    frmMain->move(g.center() - frmMain->rect().center());
    const QStringList at = cli.value(besideOpt).split(',');
    bool okX = false, okY = false;
    const int x = at.size() == 2 ? at[0].toInt(&okX) : 0;
    const int y = at.size() == 2 ? at[1].toInt(&okY) : 0;
    if (okX && okY) {
      // Kept whole on the screen: a window beside one at the right edge goes back left.
      const QSize size = frmMain->frameGeometry().size();
      frmMain->move(std::clamp(x, g.left(), std::max(g.left(), g.right() - size.width() + 1)),
                    std::clamp(y, g.top(), std::max(g.top(), g.bottom() - size.height() + 1)));
    }
  }
  frmMain->show();

  if (cli.isSet(openOpt)) openFromMenus(cli.value(openOpt).split(','));

  if (cli.isSet(shotOpt)) {
    const QString file = cli.value(shotOpt);
    const QString dir = cli.value(shotDirOpt);
    QTimer::singleShot(cli.value(afterOpt).toInt(), frmMain, [file, dir] {
      save(frmMain, file);
      if (dir.isEmpty()) return;
      const std::pair<QWidget*, const char*> windows[] = {{frmMeter, "meter.png"},
                                                          {frmRflMeter, "rflmeter.png"},
                                                          {frmdisplayPeak, "peak.png"},
                                                          {frmdisplayBurst, "burst.png"},
                                                          {frmTrend, "trend.png"}};
      for (const auto& [w, name] : windows)
        if (w->isVisible()) save(w, dir + '/' + QLatin1String(name));
    });
  }
  if (cli.isSet(quitOpt))
    QTimer::singleShot(cli.value(quitOpt).toInt(), frmMain, [] { frmMain->close(); });

  const int rc = QApplication::exec();
  if (!frmMain->shutDown()) frmMain->FormClose();
  delete frmComm;  // its ports close while the bridge still stands
  delete frmMain;
  // Unloaded here, not by the exit handlers, whose order against the
  // library's own clean-up is not ours to choose.
  zrq::comm::ZervDComDLL::unload();
  zrq::frame::uninstallFrame();
  return rc;
}
