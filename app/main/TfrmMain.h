// The main window: the instrument's front panel, its menus and timers.
//
// The shared settings and state live in `state`; the other windows read and
// write it directly, all on the user-interface thread.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "PanelPeers.h"
#include "SegmentTable.h"
#include "core/MeasType.h"
#include "core/PanelValues.h"
#include "core/PowerUnit.h"
#include "core/InstrumentState.h"
#include "core/LogValues.h"

class QAction;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class TfrmAbout;
class TfrmFilterValue;
namespace zrq::app {
class RemoteControl;
class TrendRecorder;
class PanelAlarms;
}  // namespace zrq::app

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Plugs in the other windows; absent ones stay on the do-nothing defaults.
  // A null member stands for the null peer.
  void setPeers(const zrq::app::PanelPeers& peers);
  void setDialogs(TfrmFilterValue* filter, TfrmAbout* about);
  // The forward meter, reflected meter, peak and burst windows: renamed on
  // connect, hidden and closed at shutdown.
  void setAuxWindows(QWidget* fwdMeter, QWidget* rflMeter, QWidget* peak, QWidget* burst);
  // Remote control, when the program offers it: the "Remote Control..." item
  // opens its dialog and "RMT" shows while a client is connected.
  void setRemote(zrq::app::RemoteControl* remote);
  zrq::app::RemoteControl* remote() const { return remote_; }
  // The trend's recording and its window (Window > Trend); either may be null.
  void setTrend(zrq::app::TrendRecorder* recorder, QWidget* window);
  zrq::app::TrendRecorder* trend() const { return trend_; }
  // The limit alarms (Window > Alarms...); may be null.
  void setAlarms(zrq::app::PanelAlarms* alarms) { alarms_ = alarms; }
  zrq::app::PanelAlarms* alarms() const { return alarms_; }
  // An event record in the log, when logging is active.
  void logEvent(const std::string& text);

  // The settings and state every window shares, handed out by reference.
  zrq::core::InstrumentState state;

  // ---- Panel-only settings and state ----
  bool fwdIsPower = true;
  bool rflIsPower = true;
  zrq::core::CommState prevCommState = zrq::core::CommState::Connecting;
  zrq::core::MeasType lastAppliedType = zrq::core::MeasType::None;
  bool nextTypeRequest = false;
  bool prevTypeRequest = false;
  int zeroCalTicks = 0;
  int logTickCounter = 0;
  QString helpFile;  // the program's folder followed by "ZRQHelp.chm"

  // The out-of-range message: shown once, then silent until re-armed by a
  // unit step, a type step or an offset commit.
  struct OutOfRangeNotice {
    bool armed = true;
    bool showing = false;  // a modal box is up; ticks keep running under it
  } outOfRangeNotice;

  // The clock the staleness of the read-outs is judged by (tests set it).
  std::function<std::int64_t()> clockMs = &zrq::core::steadyNowMs;
  // Streaming without an accepted reading for this long: read-outs dimmed,
  // "No Data" in amber.
  static constexpr std::int64_t kStaleAfterMs = zrq::core::kStaleReadingMs;
  bool showingStale() const { return staleShown_; }
  // A library call has been waiting long enough to say so: "Waiting for the
  // sensor" in amber until it ends (the window keeps repainting meanwhile).
  void showSensorWait(bool waiting);
  // The connection label; a tick that changes nothing costs no restyle or
  // repaint.
  void setCommLabel(const QString& text, const QString& style, bool visible = true);
  bool showingSensorWait() const { return sensorWaitShown_; }

  // What the log writer reads after each refresh.
  zrq::core::LogValues logValues;

  // ---- Panel ----
  QLabel *fwdDisplay, *rflDisplay, *txtDuty, *txtOffset, *txtccdfLimit, *lblComm, *lblZeroCal;
  QLabel *segFwd, *segFAvg, *segPeak, *segBurst, *segCrest, *segCcdf, *segFover, *segFdb, *segFm,
      *segFuW, *segFW, *segFKW, *segFKHz, *segFMHz, *segFwdUnits, *segMeasType, *segFilter,
      *segbOffset;
  QLabel *segRfl, *segRAvg, *segRover, *segRRho, *segRVSWR, *segRR, *segRRL, *segRdb, *segRm,
      *segRuW, *segRW, *segRKW, *segRKHz, *segRMHz, *segRflUnits;
  QLabel *segNoSensor, *segOffset, *segOffset2, *segdutyCycle, *segCcdfLimit, *lblLimit, *Logging;
  QLabel* lblRemote;  // "RMT": a remote client is connected
  QProgressBar* ProgressBar1;
  QPushButton *btnType, *tbnTypeDown, *btnFwdUnits, *btnRflUnits, *btnOffset, *btnFilter, *btnCCDF,
      *btnZeroCal;
  QLineEdit *Edit_Offset, *EditccdfLimit;
  QTimer *displayTimer, *readDataTimer, *log500msTick;
  QFileDialog* dlgSaveLog;

  // ---- Menus ----
  QMenu *File1, *Meter1, *Logging1, *Setup1, *Window2, *Help1;
  QAction *Exit1, *Forward1, *Reflected1, *Active1, *SetUp2, *LogFile1, *PeakPower2, *BurstPower2,
      *BXTToolHelp1, *About1, *RemoteControl1, *NewWindow1, *Trend1, *Alarms1;

  // ---- Segments ----
  QLabel* segmentLabel(zrq::app::SegmentCode code);
  void segmentOn(zrq::app::SegmentCode code);
  void segmentOff(zrq::app::SegmentCode code);
  void clearAllSegments();

  // ---- Display ----
  void displayTimerTimer();
  // The display tick runs while there is something to show. A timer tick
  // that finds the panel disconnected with nothing left to follow parks the
  // timer; wakeDisplay (a connect, the connection side starting its timers,
  // a wait for the sensor) starts it again in the rhythm it kept, so the
  // ticks come when they would have come had it never stopped. A timer
  // stopped by anyone else stays stopped.
  void wakeDisplay();
  bool displayParked() const { return displayParked_; }
  // Display timer ticks since the window was made (all of them, whoever
  // listens).
  long displayTicks() const { return displayTicks_; }
  void updateDisplay();
  void applyMeasType();
  void readDataTimerTimer();

  // ---- Settings handlers ----
  void btnTypeClick();
  void tbnTypeDownClick();
  void btnFwdUnitsClick();
  void btnRflUnitsClick();
  void btnFilterClick();
  void btnOffsetClick();
  void Edit_OffsetEnter();
  void Edit_OffsetExit();
  void Edit_OffsetKeyPress(int key);
  void btnCCDFClick();
  void EditccdfLimitEnter();
  void EditccdfLimitExit();
  void EditccdfLimitKeyPress(int key);

  // ---- Zero calibration ----
  // Confirmations, then the panel dark and the request handed to the
  // connection side, which starts the calibration with the next data line.
  void btnZeroCalClick();
  // What the button does once the user has confirmed; a script asks no questions.
  void beginZeroCal();

  // ---- Life cycle ----
  // Shows the ownership notice while no port is connected; Cancel ends the run.
  void FormActivate();
  // The close query: refused only when the user keeps a zero calibration
  // running; otherwise logging stops, the port disconnects and the run ends.
  bool FormCloseQuery();
  // Closing without a query: logging stops and the run ends, port untouched.
  void FormClose();
  // Child windows, help viewer, logging, auxiliary windows, then the main
  // window and the event loop. Runs once.
  void shutdown();
  bool shutDown() const { return shutDown_; }
  // Closes the visible windows the main window owns, last first.
  void closeChildWindows();
  // Hides and closes the visible meter, peak and burst windows.
  void closeAuxWindows();
  // Logging off: the log file closed, Active1 unchecked.
  void stopLogging();
  bool loggingActive() const;
  // "7730 ZRQ" with the version text; the application title back to "ZRQ".
  void showDisconnectedCaption();

  // ---- Menus and ports ----
  // A port item of the Comm menu: connects an unchecked item, disconnects the
  // checked one.
  void Setup1ItemsClick(QAction* item);
  QAction* portMenuItem(const QString& portName) const;
  // The Comm menu's port items, without "Remote Control..." below them.
  QList<QAction*> portMenuItems() const;
  void SetUp2Click();
  void BXTToolHelp1Click();
  void RemoteControl1Click();
  // Another ZRQUSB for another sensor, placed just right of this window.
  void NewWindow1Click();
  // How a program is started (tests replace it): false when it could not be.
  std::function<bool(const QString& program, const QStringList& args)> startProgram;
  void showRemoteClients(int count);
  void About1Click();
  void Exit1Click();
  void Forward1Click();
  void Reflected1Click();
  void PeakPower2Click();
  void BurstPower2Click();
  void Trend1Click();
  void Alarms1Click();
  // After a lost or abandoned connection: every port item unchecked and
  // enabled, the panel back to "no connection", the version caption restored.
  void resetPortMenu();
  // Appends a Comm menu item for a discovered port; tags count up over the run.
  QAction* addPortMenuItem(const QString& portName);
  // Shown disabled as "NAME (in use by ...)" until the port is free.
  QAction* addHeldPortMenuItem(const QString& portName, const QString& why);

  // Shows the out-of-range message if it is armed, and disarms it.
  void showOutOfRangeNotice();
  void rearmOutOfRangeNotice() { outOfRangeNotice.armed = true; }

  zrq::app::PanelPeers& peers() { return peers_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void buildPanel();
  void buildMenus();
  void alignUnitLabels();
  void fitSettingTexts();
  void stepMeasType(int direction);
  void streamingSetup();
  void zeroCalTick();
  void zeroCalFailed();
  bool anyDisplayWindowShown() const;
  void updateConnectionLabel();
  void showStaleness(bool streaming);
  void hideDisplayWindows();
  void commitOffset();
  void commitCcdfLimit();

  void setLit(QLabel* label, bool on);
  QLabel* labelByName(std::string_view name);
  void applyAnnunciators(zrq::core::UnitAnnunciator& ann, zrq::app::SegmentHost host,
                         zrq::core::PowerUnit key);
  void feedForwardMeter(const zrq::core::PanelView& v, bool valid);
  void feedReflectedMeter(const zrq::core::PanelView& v);
  void updatePeakWindow(const zrq::core::PanelView& v);
  void updateBurstWindow(const zrq::core::PanelView& v);
  void setConnectedCaptions(const QString& caption);
  void trackActivation();

  zrq::app::PanelPeers peers_;
  TfrmFilterValue* filterDialog_ = nullptr;
  TfrmAbout* aboutWindow_ = nullptr;
  std::map<std::string, QLabel*, std::less<>> mainLabels_;
  zrq::core::UnitAnnunciator fwdAnn_{zrq::core::mainForwardAnnunciators};
  zrq::core::UnitAnnunciator rflAnn_{zrq::core::mainReflectedAnnunciators};
  zrq::core::UnitAnnunciator peakAnn_{zrq::core::peakValueAnnunciators};
  zrq::core::UnitAnnunciator peakVswrAnn_{zrq::core::peakVswrAnnunciators};
  zrq::core::UnitAnnunciator burstAnn_{zrq::core::burstAnnunciators};
  int nextPortTag_ = 0;
  QAction* remoteSeparator_ = nullptr;
  QList<QAction*> heldPortItems_;
  void offerFreedPorts();
  zrq::app::RemoteControl* remote_ = nullptr;
  zrq::app::TrendRecorder* trend_ = nullptr;
  zrq::app::PanelAlarms* alarms_ = nullptr;
  QPointer<QWidget> trendWindow_;
  bool noticeDue_ = false;
  QPointer<QWidget> auxWindows_[4];
  QPointer<QWidget> lastActive_;
  bool activated_ = false;
  bool shutDown_ = false;
  bool staleShown_ = false;
  bool closing_ = false;
  bool sensorWaitShown_ = false;
  // The parked display tick: when the last timer tick came (steady clock, ms)
  // and the interval a shortened first period after a wake-up gives back.
  bool displayParked_ = false;
  long displayTicks_ = 0;
  std::int64_t displayPhaseMs_ = 0;
  int displayResumeInterval_ = 0;
  int displayResumeFirstMs_ = 0;
  void onDisplayTimeout();
  bool displayIdle() const;
  struct {
    QString text, style;
    bool visible = false;
  } labelBeforeWait_;
};

// The one instance, created at start-up.
extern TfrmMain* frmMain;

namespace zrq::app {
// Texts of the panel.
inline constexpr const char* kOutOfRangeText =
    "Sensor Out Of Range Reduce Power Input Or Lower Offset Value.";
inline constexpr const char* kOutOfRangeCaption = "Out Of Range";
inline constexpr const char* kInitialReadout = "-0.0000";
inline constexpr const char* kCcdfUnavailableText =
    "CCDF display is not available while the burst trigger is selected\n\rUse the Setup item "
    "selection under the Logging menu to deselect burst trigger";
inline constexpr const char* kCcdfUnavailableCaption = "CCDF Display Not Available";
}  // namespace zrq::app
