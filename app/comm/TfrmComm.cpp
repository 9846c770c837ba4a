#include "TfrmComm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "AppStatus.h"
#include "ComTestLog.h"
#include "CommAssert.h"
#include "DevComInterface.h"
#include "QtCommViews.h"
#include "SensorSession.h"
#include "TKS7730Commands.h"
#include "USB/TKS7730Stats.h"
#include "frame/Fonts.h"
#include "frame/Scaling.h"

namespace zrq::comm {

namespace {
constexpr const char* kUnit = "comm";
constexpr int kStatusMemoLines = 2000;

template <typename W>
W* place(W* w, const char* name, int x, int y, int width, int height) {
  w->setObjectName(name);
  w->setGeometry(x, y, width, height);
  return w;
}
}  // namespace

TfrmComm::TfrmComm(CommHost& host, QWidget* parent, bool discoverPorts)
    : QWidget(parent), host_(host) {
  setObjectName("frmComm");
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(frame::designFont("Arial", 8));

  currPortName = place(new QLabel("currPortName", this), "currPortName", 8, 8, 120, 16);
  portComboBox = place(new QComboBox(this), "portComboBox", 8, 28, 120, 21);
  portComboBox->setEditable(true);
  openButton = place(new QPushButton("Open", this), "openButton", 136, 8, 75, 25);
  closeButton = place(new QPushButton("Close", this), "closeButton", 136, 36, 75, 25);
  purgeButton = place(new QPushButton("Purge", this), "purgeButton", 216, 8, 75, 25);
  initButton = place(new QPushButton("Init Sensor", this), "initButton", 216, 36, 75, 25);
  getReadingButton =
      place(new QPushButton("Get Reading", this), "getReadingButton", 296, 8, 75, 25);
  logRdCheckBox = place(new QCheckBox("Log Rd", this), "logRdCheckBox", 384, 8, 97, 17);
  contRdCheckBox = place(new QCheckBox("Continious", this), "contRdCheckBox", 384, 36, 97, 17);

  statsStringGrid =
      place(new QTableWidget(9, TKS7730Stats::kColumns, this), "statsStringGrid", 8, 68, 409, 105);
  statsStringGrid->verticalHeader()->setVisible(false);  // no fixed column
  statsStringGrid->verticalHeader()->setDefaultSectionSize(16);
  statsStringGrid->horizontalHeader()->setFixedHeight(16);
  statsStringGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  statsStringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Every column in view: the counts as wide as they need, the port name the rest.
  statsStringGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  statsStringGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  statsStringGrid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);

  statusMemo = place(new QPlainTextEdit(this), "statusMemo", 8, 180, 489, 79);
  statusMemo->setReadOnly(true);
  // Every fetch adds a line; the test log keeps them all, the memo the latest.
  statusMemo->setMaximumBlockCount(kStatusMemoLines);
  statusMemo->setFocusPolicy(Qt::NoFocus);
  statusMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  dataPollTimer = new QTimer(this);
  dataPollTimer->setObjectName("dataPollTimer");
  dataPollTimer->setInterval(500);

  connect(portComboBox, &QComboBox::currentTextChanged, this, &TfrmComm::portComboBoxChange);
  connect(openButton, &QPushButton::clicked, this, &TfrmComm::openButtonClick);
  connect(closeButton, &QPushButton::clicked, this, &TfrmComm::closeButtonClick);
  connect(purgeButton, &QPushButton::clicked, this, &TfrmComm::purgeButtonClick);
  connect(initButton, &QPushButton::clicked, this, &TfrmComm::initButtonClick);
  connect(getReadingButton, &QPushButton::clicked, this, &TfrmComm::getReadingButtonClick);
  connect(logRdCheckBox, &QCheckBox::clicked, this, &TfrmComm::logRdCheckBoxClick);
  connect(contRdCheckBox, &QCheckBox::clicked, this, &TfrmComm::contRdCheckBoxClick);
  connect(dataPollTimer, &QTimer::timeout, this, &TfrmComm::dataPollTimerTimer);

  FormCreate(discoverPorts);
}

TfrmComm::~TfrmComm() {
  closeDevMngr();
  // Interfaces stop their threads before the sink and grid they write go.
  session_.reset();
  p_appStatus_.reset();
  p_stats_.reset();
}

void TfrmComm::FormCreate(bool discoverPorts) {
  const double scale = frame::screenScale();
  frame::scaleChildren(this, scale);
  setFixedSize(static_cast<int>(505 * scale), static_cast<int>(267 * scale));
  setWindowTitle(kCaption);
  logRdCheckBox->setChecked(false);
  contRdCheckBox->setChecked(false);

  grid_ = std::make_unique<QtStatsGrid>(statsStringGrid);
  memo_ = std::make_unique<QtStatusMemo>(statusMemo);
  p_stats_ = std::make_unique<TKS7730Stats>(grid_.get());
  p_appStatus_ = std::make_unique<AppStatus>(memo_.get());
  ZRQ_COMM_ASSERT(p_stats_ != nullptr, "p_stats_", kUnit);
  ZRQ_COMM_ASSERT(p_appStatus_ != nullptr, "p_appStatus_", kUnit);
  session_ = std::make_unique<SensorSession>(host_, *p_stats_, *p_appStatus_);
  // Said once, where the connection's status is read.
  if (std::string why; !ComTestLog::openDefault(&why))
    p_appStatus_->add("The connection log " + std::string(ComTestLog::kFileName) +
                      " is off: " + why);
  if (discoverPorts) getCommPorts();
}

void TfrmComm::flushViews() {
  grid_->flush();
  memo_->flush();
}

template <typename Fn>
void TfrmComm::forEachTarget(Fn fn) {
  if (DevComInterface* selected = commands().selectedPort()) {
    fn(selected);
    return;
  }
  if (portComboBox->currentText() != kAllPorts) return;
  for (int i = 0; i < commands().portCount(); ++i)
    if (DevComInterface* port = commands().getPort(i)) fn(port);
}

void TfrmComm::portComboBoxChange() {
  if (portComboBox->currentText() == kAllPorts) {
    currPortName->setText(kAllPorts);
    commands().selectPort(nullptr);
    return;
  }
  const int portNum = portComboBox->findText(portComboBox->currentText());
  if (portNum < 0) return;  // text being typed that names no port yet
  DevComInterface* port = commands().getPort(portNum);
  ZRQ_COMM_ASSERT(port != nullptr, "p_devInt", kUnit);
  commands().selectPort(port);
  currPortName->setText(QString::fromStdString(port->portName()));
  contRdCheckBox->setChecked(port->contRd());
  logRdCheckBox->setChecked(port->logRd());
  contRdCheckBox->repaint();
  logRdCheckBox->repaint();
}

void TfrmComm::openButtonClick() {
  forEachTarget([&](DevComInterface* p) { commands().openPort(p); });
}

void TfrmComm::closeButtonClick() {
  forEachTarget([](DevComInterface* p) { p->close(); });
  contRdCheckBox->setChecked(false);
  logRdCheckBox->setChecked(false);
}

void TfrmComm::purgeButtonClick() {
  forEachTarget([](DevComInterface* p) { p->purge(); });
}

void TfrmComm::initButtonClick() {
  forEachTarget([](DevComInterface* p) {
    p->init();
    p->readSerialNumber();
  });
}

void TfrmComm::getReadingButtonClick() {
  forEachTarget([](DevComInterface* p) {
    if (!p->contRd()) p->contReadStep();
  });
}

void TfrmComm::logRdCheckBoxClick() {
  const bool on = logRdCheckBox->isChecked();
  forEachTarget([on](DevComInterface* p) { p->setLogRd(on); });
}

void TfrmComm::contRdCheckBoxClick() {
  const bool on = contRdCheckBox->isChecked();
  forEachTarget([on](DevComInterface* p) { p->setContRd(on); });
}

}  // namespace zrq::comm
