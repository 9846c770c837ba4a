// Construction of the main window: panel, menus and timers.
#include "TfrmMain.h"

#include "TfrmAbout.h"

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "frame/Fonts.h"
#include "frame/Scaling.h"
#include "frame/Version.h"
#include "uiface/Delay.h"

using zrq::core::CommState;

TfrmMain* frmMain = nullptr;

namespace {

using zrq::frame::designFont;

// Design size of the client area at 96 dpi, before scaling.
constexpr int kClientWidth = 319;
constexpr int kClientHeight = 334;

const char* const kGlassStyle =
    "QFrame#glass { background: #b4c2a4; border: 2px solid #5f6b55; border-radius: 6px; }"
    "QFrame#glass QLabel { color: #18201a; background: transparent; }";

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QFont& font, int x,
                  int y, bool visible) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextFormat(Qt::PlainText);
  l->setFont(font);
  l->setMargin(0);
  l->setIndent(0);
  l->move(x, y);
  l->adjustSize();
  l->setVisible(visible);
  return l;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint, int x, int y) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setFont(designFont("MS Sans Serif", 8));
  b->setGeometry(x, y, 73, 25);
  b->setToolTip(hint);
  b->setStatusTip(hint);
  b->setFocusPolicy(Qt::TabFocus);
  return b;
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName("frmMain");
  setWindowTitle(QString::fromLatin1(zrq::frame::kDisconnectedCaption));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setAttribute(Qt::WA_AlwaysShowToolTips);

  buildPanel();
  buildMenus();

  displayTimer = new QTimer(this);
  displayTimer->setObjectName("displayTimer");
  displayTimer->setInterval(250);
  // First of its receivers: the rhythm is kept before anything else runs.
  connect(displayTimer, &QTimer::timeout, this, &TfrmMain::onDisplayTimeout);
  connect(displayTimer, &QTimer::timeout, this, &TfrmMain::displayTimerTimer);
  connect(displayTimer, &QTimer::timeout, this, [this] {
    // Disconnected with nothing left to follow: no tick until a wake-up.
    if (displayIdle() && displayTimer->isActive()) {
      displayTimer->stop();
      displayParked_ = true;
    }
  });
  readDataTimer = new QTimer(this);
  readDataTimer->setObjectName("readDataTimer");
  readDataTimer->setInterval(600);
  connect(readDataTimer, &QTimer::timeout, this, &TfrmMain::readDataTimerTimer);
  log500msTick = new QTimer(this);
  log500msTick->setObjectName("log500msTick");
  log500msTick->setInterval(500);
  displayTimer->start();

  dlgSaveLog = new QFileDialog(this, QStringLiteral("Save logged data to file..."));
  dlgSaveLog->setObjectName("dlgSaveLog");
  dlgSaveLog->setAcceptMode(QFileDialog::AcceptSave);
  dlgSaveLog->setDefaultSuffix(QStringLiteral("csv"));
  dlgSaveLog->setNameFilters({QStringLiteral("csv (*.csv)"), QStringLiteral("txt (*.txt)")});
  // Logging appends: choosing an existing file is no reason to ask.
  dlgSaveLog->setOption(QFileDialog::DontConfirmOverwrite);
  dlgSaveLog->setDirectory(QDir::homePath());
  dlgSaveLog->selectFile(QStringLiteral("ZRQLog"));
  trackActivation();

  // FormCreate: scale by the screen width over the design width, then fix the
  // unit pairs so each pair still reads as one word at the scaled font sizes.
  const double f = zrq::frame::screenScale();
  QWidget* client = centralWidget();
  zrq::frame::scaleChildren(client, f);
  client->setFixedSize(static_cast<int>(kClientWidth * f), static_cast<int>(kClientHeight * f));
  alignUnitLabels();
  fitSettingTexts();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  helpFile = QCoreApplication::applicationDirPath() + QStringLiteral("/ZRQHelp.chm");
  zrq::ui::setWaitIndicator([this](bool waiting) { showSensorWait(waiting); });
}

TfrmMain::~TfrmMain() {
  zrq::ui::setWaitIndicator({});
  if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::setCommLabel(const QString& text, const QString& style, bool visible) {
  if (lblComm->styleSheet() != style) lblComm->setStyleSheet(style);
  if (lblComm->text() != text) lblComm->setText(text);
  if (lblComm->isHidden() == visible) lblComm->setVisible(visible);
}

void TfrmMain::showSensorWait(bool waiting) {
  static const QString kWaiting = QStringLiteral("Waiting for the sensor");
  if (waiting) wakeDisplay();
  if (waiting == sensorWaitShown_) return;
  sensorWaitShown_ = waiting;
  if (waiting) {
    labelBeforeWait_ = {lblComm->text(), lblComm->styleSheet(), !lblComm->isHidden()};
    setCommLabel(kWaiting, "color: #c07000;");
    return;
  }
  // What the sequence put there meanwhile stands; otherwise the label returns.
  if (lblComm->text() != kWaiting) return;
  setCommLabel(labelBeforeWait_.text, labelBeforeWait_.style, labelBeforeWait_.visible);
}

void TfrmMain::setPeers(const zrq::app::PanelPeers& peers) {
  const zrq::app::PanelPeers none;
  peers_ = peers;
  if (!peers_.comm) peers_.comm = none.comm;
  if (!peers_.log) peers_.log = none.log;
  if (!peers_.fwdMeter) peers_.fwdMeter = none.fwdMeter;
  if (!peers_.rflMeter) peers_.rflMeter = none.rflMeter;
  if (!peers_.peak) peers_.peak = none.peak;
  if (!peers_.burst) peers_.burst = none.burst;
  if (!peers_.help) peers_.help = none.help;
}

void TfrmMain::setDialogs(TfrmFilterValue* filter, TfrmAbout* about) {
  filterDialog_ = filter;
  aboutWindow_ = about;
  // The About window's "D" button: the connection window, modally.
  if (about) about->showConnectionWindow = [this] { peers_.comm->showModal(); };
}

void TfrmMain::buildPanel() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  client->setGeometry(0, 0, kClientWidth, kClientHeight);
  setCentralWidget(client);

  auto* glass = new QFrame(client);
  glass->setObjectName("glass");
  glass->setGeometry(6, 6, 307, 190);
  glass->setStyleSheet(kGlassStyle);

  const QFont small = designFont("Arial", 8, true);
  const QFont fwdUnitFont = designFont("Arial", 12, true);
  const QFont rflUnitFont = designFont("Arial", 10, true);
  const QFont textFont = designFont("Arial", 9, true);

  auto seg = [&](QLabel*& field, const char* name, const char* text, const QFont& font, int x,
                 int y, bool visible = false) {
    field = makeLabel(glass, name, QString::fromUtf8(text), font, x, y, visible);
    mainLabels_.emplace(name, field);
  };

  // Forward half.
  seg(segFwd, "segFwd", "Forward", small, 6, 5, true);
  seg(segFAvg, "segFAvg", "Average", small, 62, 5);
  seg(segPeak, "segPeak", "Peak", small, 62, 5);
  seg(segBurst, "segBurst", "Burst", small, 62, 5);
  seg(segCrest, "segCrest", "Crest", small, 62, 5);
  seg(segCcdf, "segCcdf", "CCDF", small, 62, 5);
  seg(segMeasType, "segMeasType", "Type", small, 118, 5);
  seg(segFilter, "segFilter", "Filter", small, 150, 5);
  seg(segFKHz, "segFKHz", "KHz", small, 184, 5);
  seg(segFMHz, "segFMHz", "MHz", small, 184, 5);
  seg(segFover, "segFover", "Over Range", small, 236, 5);

  fwdDisplay = makeLabel(glass, "fwdDisplay", zrq::app::kInitialReadout,
                         designFont("Arial Black", 26), 4, 18, true);
  fwdDisplay->setGeometry(4, 18, 222, 44);
  fwdDisplay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  // Unit pairs; alignUnitLabels sets their x so the pairs join up.
  seg(segFdb, "segFdb", "dB", fwdUnitFont, 230, 37);
  seg(segFm, "segFm", "m", fwdUnitFont, 250, 37);
  seg(segFW, "segFW", "W", fwdUnitFont, 268, 37);
  seg(segFuW, "segFuW", "µW", fwdUnitFont, 256, 37);
  seg(segFKW, "segFKW", "KW", fwdUnitFont, 250, 37);

  seg(segFwdUnits, "segFwdUnits", "Forward Units", small, 6, 63);
  seg(segbOffset, "segbOffset", "Offset", small, 96, 63, true);
  seg(segOffset, "segOffset", "Offset", small, 150, 63);
  txtOffset = makeLabel(glass, "txtOffset", QString(), textFont, 190, 62, true);
  txtOffset->setFixedWidth(60);
  seg(segCcdfLimit, "segCcdfLimit", "CCDF Limit", small, 236, 63, true);

  auto* rule = new QFrame(glass);
  rule->setObjectName("rule");
  rule->setGeometry(6, 79, 295, 1);
  rule->setStyleSheet("background: #5f6b55;");

  // Reflected half.
  seg(segRfl, "segRfl", "Reflected", small, 6, 84, true);
  seg(segRAvg, "segRAvg", "Average", small, 62, 84);
  seg(segRover, "segRover", "Over Range", small, 236, 84);

  rflDisplay = makeLabel(glass, "rflDisplay", zrq::app::kInitialReadout,
                         designFont("Arial Black", 18), 4, 97, true);
  rflDisplay->setGeometry(4, 97, 178, 32);
  rflDisplay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  seg(segRVSWR, "segRVSWR", "VSW", rflUnitFont, 188, 112);
  seg(segRR, "segRR", "R", rflUnitFont, 214, 112);
  seg(segRRL, "segRRL", "eturn Loss", rflUnitFont, 224, 112);
  seg(segRRho, "segRRho", "Rho", rflUnitFont, 188, 112);
  seg(segRdb, "segRdb", "dB", rflUnitFont, 188, 112);
  seg(segRm, "segRm", "m", rflUnitFont, 204, 112);
  seg(segRW, "segRW", "W", rflUnitFont, 216, 112);
  seg(segRuW, "segRuW", "µW", rflUnitFont, 206, 112);
  seg(segRKW, "segRKW", "KW", rflUnitFont, 204, 112);
  seg(segRKHz, "segRKHz", "KHz", small, 184, 84);
  seg(segRMHz, "segRMHz", "MHz", small, 184, 84);

  seg(segRflUnits, "segRflUnits", "Reflected Units", small, 6, 132);
  seg(segOffset2, "segOffset2", "Offset", small, 150, 132);
  Logging = makeLabel(glass, "Logging", "Logging", small, 250, 132, false);
  Logging->setStyleSheet("color: #0a8a0a;");
  mainLabels_.emplace("Logging", Logging);
  lblRemote = makeLabel(glass, "lblRemote", "RMT", small, 280, 5, false);
  lblRemote->setToolTip("A script is connected over the network (Comm, Remote Control...)");

  seg(segdutyCycle, "segdutyCycle", "% Duty", small, 6, 150);
  txtDuty = makeLabel(glass, "txtDuty", QString(), textFont, 48, 149, true);
  txtDuty->setFixedWidth(52);
  lblLimit = makeLabel(glass, "lblLimit", "CCDF Limit", small, 110, 150, false);
  txtccdfLimit = makeLabel(glass, "txtccdfLimit", QString(), textFont, 182, 149, false);
  txtccdfLimit->setFixedWidth(60);
  seg(segNoSensor, "segNoSensor", "No Sensor", small, 240, 150);

  ProgressBar1 = new QProgressBar(glass);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(6, 168, 295, 14);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setToolTip("Indicates Input Average Power As % Full Scale");
  ProgressBar1->setStyleSheet(
      "QProgressBar { border: 1px solid #5f6b55; background: #c6d3b6; }"
      "QProgressBar::chunk { background: #1f2a20; }");

  // Controls below the glass.
  btnType = makeButton(client, "btnType", "Type >", "Display Next Power Type", 6, 202);
  tbnTypeDown = makeButton(client, "tbnTypeDown", "< Type", "Display Previous Power Type", 84, 202);
  btnFwdUnits =
      makeButton(client, "btnFwdUnits", "Fwd Units", "Selects Forward Display Units", 162, 202);
  btnRflUnits =
      makeButton(client, "btnRflUnits", "Rfl Units", "Selects Reflected Display Units", 240, 202);
  btnOffset = makeButton(client, "btnOffset", "Offset", "Input Offset Value", 6, 231);
  btnFilter = makeButton(client, "btnFilter", "Filter", "Selects Filter Applied", 84, 231);
  btnCCDF = makeButton(client, "btnCCDF", "CCDF", "Input CCDF Limit", 162, 231);
  btnZeroCal = makeButton(client, "btnZeroCal", "Zero", "Perform zero calibration", 240, 231);
  btnZeroCal->setEnabled(false);
  connect(btnType, &QPushButton::clicked, this, &TfrmMain::btnTypeClick);
  connect(tbnTypeDown, &QPushButton::clicked, this, &TfrmMain::tbnTypeDownClick);
  connect(btnFwdUnits, &QPushButton::clicked, this, &TfrmMain::btnFwdUnitsClick);
  connect(btnRflUnits, &QPushButton::clicked, this, &TfrmMain::btnRflUnitsClick);
  connect(btnOffset, &QPushButton::clicked, this, &TfrmMain::btnOffsetClick);
  connect(btnFilter, &QPushButton::clicked, this, &TfrmMain::btnFilterClick);
  connect(btnCCDF, &QPushButton::clicked, this, &TfrmMain::btnCCDFClick);
  connect(btnZeroCal, &QPushButton::clicked, this, &TfrmMain::btnZeroCalClick);

  auto edit = [&](QLineEdit*& field, const char* name, const char* text, const char* hint, int x) {
    field = new QLineEdit(QString::fromLatin1(text), client);
    field->setObjectName(QString::fromLatin1(name));
    field->setFont(designFont("MS Sans Serif", 8));
    field->setGeometry(x, 261, 73, 22);
    field->setToolTip(QString::fromLatin1(hint));
    field->setVisible(false);
    field->installEventFilter(this);
  };
  edit(Edit_Offset, "Edit_Offset", "0", "Enter Offset Between 0 and 100 dB", 6);
  edit(EditccdfLimit, "EditccdfLimit", "50", "Enter CCDF Limit In Watts Up to 450", 162);

  lblZeroCal =
      makeLabel(client, "lblZeroCal", "Zero", designFont("Arial", 9, true), 262, 264, true);
  lblZeroCal->setFixedWidth(40);
  lblComm =
      makeLabel(client, "lblComm", "No Connection", designFont("Arial", 10, true), 6, 294, false);
  lblComm->setGeometry(6, 292, 307, 20);
  lblComm->setAlignment(Qt::AlignCenter);
}

void TfrmMain::fitSettingTexts() {
  // After scaling: each text is as wide as the longest it can show, and the
  // CCDF limit's value starts after its label.
  lblLimit->adjustSize();
  auto fit = [](QLabel* l, const char* longest) {
    l->setFixedWidth(std::max(l->width(), l->fontMetrics().horizontalAdvance(longest) + 2));
  };
  fit(txtOffset, "100.00 dB");
  fit(txtccdfLimit, "400.00 W");
  const int gap = std::max(2, lblLimit->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  txtccdfLimit->move(std::max(txtccdfLimit->x(), lblLimit->geometry().right() + gap),
                     txtccdfLimit->y());
}

void TfrmMain::alignUnitLabels() {
  // Scaled fonts round to whole pixels and may outgrow their scaled boxes.
  for (auto& [name, label] : mainLabels_) label->adjustSize();

  // The units stand on the read-out's baseline, each label where its left
  // neighbour's text ends, so "dB"+"m" reads "dBm", "m"+"W" reads "mW", and
  // "VSW"+"R" / "R"+"eturn Loss" share the R. "KW" and "µW" put their W
  // where the plain "W" stands.
  auto advance = [](QLabel* l) { return l->fontMetrics().horizontalAdvance(l->text()); };
  auto baselineOf = [](QLabel* readout) {
    const QFontMetrics fm = readout->fontMetrics();
    return readout->y() + (readout->height() - fm.height()) / 2 + fm.ascent();
  };
  auto chain = [&](int x, int baseline, std::initializer_list<QLabel*> labels) {
    for (QLabel* l : labels) {
      l->move(x, baseline - l->fontMetrics().ascent());
      x += advance(l);
    }
  };
  auto units = [&](QLabel* readout, QLabel* db, QLabel* m, QLabel* w, QLabel* uw, QLabel* kw) {
    const int base = baselineOf(readout);
    chain(readout->geometry().right() + 4, base, {db, m, w});
    const auto under = [&](QLabel* l, const char* prefix) {
      l->move(w->x() - l->fontMetrics().horizontalAdvance(QString::fromUtf8(prefix)),
              base - l->fontMetrics().ascent());
    };
    under(uw, "µ");
    under(kw, "K");
    return base;
  };
  units(fwdDisplay, segFdb, segFm, segFW, segFuW, segFKW);
  const int rflBase = units(rflDisplay, segRdb, segRm, segRW, segRuW, segRKW);
  chain(segRdb->x(), rflBase, {segRVSWR, segRR, segRRL});
  chain(segRdb->x(), rflBase, {segRRho});
}

void TfrmMain::buildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  auto menu = [&](QMenu*& field, const char* name, const char* caption, bool enabled) {
    field = bar->addMenu(QString::fromLatin1(caption));
    field->setObjectName(QString::fromLatin1(name));
    field->menuAction()->setObjectName(QString::fromLatin1(name));
    field->menuAction()->setEnabled(enabled);
    field->setToolTipsVisible(true);
  };
  auto item = [&](QMenu* m, QAction*& field, const char* name, const char* caption,
                  const char* hint = nullptr) {
    field = m->addAction(QString::fromLatin1(caption));
    field->setObjectName(QString::fromLatin1(name));
    if (hint) {
      field->setToolTip(QString::fromLatin1(hint));
      field->setStatusTip(QString::fromLatin1(hint));
    }
  };
  menu(File1, "File1", "&File", true);
  item(File1, Exit1, "Exit1", "E&xit");
  menu(Meter1, "Meter1", "&Meter", false);
  item(Meter1, Forward1, "Forward1", "&Forward");
  item(Meter1, Reflected1, "Reflected1", "&Reflected");
  menu(Logging1, "Logging1", "&Logging", false);
  item(Logging1, Active1, "Active1", "&Active?");
  Active1->setCheckable(true);
  Logging1->addSeparator();
  item(Logging1, SetUp2, "SetUp2", "S&et Up");
  item(Logging1, LogFile1, "LogFile1", "L&og File...",
       "Use .csv extension to log directly to MS Excel");
  menu(Setup1, "Setup1", "&Comm", true);
  // Port items go above the separator as they are found.
  remoteSeparator_ = Setup1->addSeparator();
  item(Setup1, RemoteControl1, "RemoteControl1", "&Remote Control...",
       "Lets scripts drive ZRQ with SCPI commands over TCP");
  item(Setup1, NewWindow1, "NewWindow1", "&New Window",
       "Starts another ZRQ beside this one, for another sensor");
  menu(Window2, "Window2", "&Window", false);
  item(Window2, PeakPower2, "PeakPower2", "&PeakPower");
  item(Window2, BurstPower2, "BurstPower2", "&Burst Power");
  item(Window2, Trend1, "Trend1", "&Trend");
  Window2->addSeparator();
  item(Window2, Alarms1, "Alarms1", "&Alarms...",
       "Limits on the measured quantities that raise an alarm");
  menu(Help1, "Help1", "&Help", true);
  item(Help1, BXTToolHelp1, "BXTToolHelp1", "&ZRQ Help", "Help File");
  Help1->addSeparator();
  item(Help1, About1, "About1", "A&bout");

  connect(Exit1, &QAction::triggered, this, &TfrmMain::Exit1Click);
  connect(Forward1, &QAction::triggered, this, &TfrmMain::Forward1Click);
  connect(Reflected1, &QAction::triggered, this, &TfrmMain::Reflected1Click);
  connect(PeakPower2, &QAction::triggered, this, &TfrmMain::PeakPower2Click);
  connect(BurstPower2, &QAction::triggered, this, &TfrmMain::BurstPower2Click);
  connect(Trend1, &QAction::triggered, this, &TfrmMain::Trend1Click);
  connect(Alarms1, &QAction::triggered, this, &TfrmMain::Alarms1Click);
  connect(About1, &QAction::triggered, this, &TfrmMain::About1Click);
  connect(SetUp2, &QAction::triggered, this, &TfrmMain::SetUp2Click);
  connect(BXTToolHelp1, &QAction::triggered, this, &TfrmMain::BXTToolHelp1Click);
  connect(RemoteControl1, &QAction::triggered, this, &TfrmMain::RemoteControl1Click);
  connect(NewWindow1, &QAction::triggered, this, &TfrmMain::NewWindow1Click);
  connect(Setup1, &QMenu::aboutToShow, this, &TfrmMain::offerFreedPorts);
  RemoteControl1->setEnabled(false);  // until the program offers remote control
}

void TfrmMain::resetPortMenu() {
  // The connection is lost or given up: its log ends with it.
  stopLogging();
  for (QAction* a : portMenuItems()) {
    a->setChecked(false);
    a->setEnabled(true);
  }
  state.commState = CommState::NoConnection;
  applyMeasType();
  showDisconnectedCaption();
  if (aboutWindow_) aboutWindow_->lbl7730->hide();
}

QAction* TfrmMain::addPortMenuItem(const QString& portName) {
  // Port names are shown as they are: no accelerator is taken from an "&".
  QString caption = portName;
  auto* a = new QAction(caption.replace(QLatin1Char('&'), QLatin1String("&&")), Setup1);
  Setup1->insertAction(remoteSeparator_, a);
  a->setObjectName(portName);
  a->setCheckable(true);
  a->setData(nextPortTag_++);
  // The click decides by the state before it: undo Qt's own toggle first.
  connect(a, &QAction::triggered, this, [this, a] {
    a->setChecked(!a->isChecked());
    Setup1ItemsClick(a);
  });
  return a;
}

QAction* TfrmMain::addHeldPortMenuItem(const QString& portName, const QString& why) {
  QString caption = portName + QStringLiteral(" (") + why + QLatin1Char(')');
  auto* a = new QAction(caption.replace(QLatin1Char('&'), QLatin1String("&&")), Setup1);
  Setup1->insertAction(remoteSeparator_, a);
  a->setObjectName(portName);
  a->setEnabled(false);
  heldPortItems_.append(a);
  return a;
}

// While nothing is connected, a port the other program has let go of since
// discovery takes its place among the ports.
void TfrmMain::offerFreedPorts() {
  if (heldPortItems_.isEmpty() || !peers_.comm || peers_.comm->portConnected() ||
      state.commState != CommState::NoConnection)
    return;
  for (QAction* held : QList<QAction*>(heldPortItems_)) {
    if (!peers_.comm->offerPortIfFree(held->objectName().toStdString())) continue;
    heldPortItems_.removeOne(held);
    Setup1->removeAction(held);
    held->deleteLater();
  }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  const bool offset = watched == Edit_Offset;
  const bool ccdf = watched == EditccdfLimit;
  if (offset || ccdf) {
    switch (event->type()) {
      case QEvent::FocusIn:
        offset ? Edit_OffsetEnter() : EditccdfLimitEnter();
        break;
      case QEvent::FocusOut: {
        // Only the user's own moves commit: focus taken by a modal box or
        // another window (and given back later) is not leaving the field.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) break;
        offset ? Edit_OffsetExit() : EditccdfLimitExit();
        break;
      }
      case QEvent::KeyPress: {
        const int k = static_cast<QKeyEvent*>(event)->key();
        if (k == Qt::Key_Return || k == Qt::Key_Enter) {
          offset ? Edit_OffsetKeyPress(13) : EditccdfLimitKeyPress(13);
          return true;
        }
        break;
      }
      default:
        break;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}
