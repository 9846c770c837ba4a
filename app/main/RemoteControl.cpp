#include "RemoteControl.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <ctime>

#include "PanelPeers.h"
#include "TfrmMain.h"
#include "UserSettings.h"
#include "core/PowerUnit.h"
#include "scpi/Engine.h"
#include "scpi/TcpServer.h"

namespace zrq::app {

namespace {

using core::CommState;

// Wait timeouts need a clock only while a client is connected.
constexpr int kTickMs = 250;

// Scripts querying flat out must not take the panel's thread: in each window
// the commands get this much of its CPU, and the rest waits for the next one.
constexpr std::int64_t kBudgetWindowMs = 100;
constexpr std::int64_t kBudgetNs = 3'000'000;

std::int64_t threadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

RemoteChoice loadRemoteChoice() {
  QSettings s = userSettings();
  RemoteChoice c;
  c.enabled = s.value(QStringLiteral("remote/enabled"), c.enabled).toBool();
  c.network = s.value(QStringLiteral("remote/network"), c.network).toBool();
  const int port = s.value(QStringLiteral("remote/port"), c.port).toInt();
  if (port >= 1 && port <= 65535) c.port = port;
  return c;
}

void saveRemoteChoice(const RemoteChoice& c) {
  QSettings s = userSettings();
  s.setValue(QStringLiteral("remote/enabled"), c.enabled);
  s.setValue(QStringLiteral("remote/network"), c.network);
  s.setValue(QStringLiteral("remote/port"), c.port);
  s.sync();
}

RemoteControl::RemoteControl(TfrmMain& main)
    : QObject(&main), main_(main), engine_(std::make_unique<scpi::Engine>(*this)) {
  tick_ = new QTimer(this);
  tick_->setInterval(kTickMs);
  connect(tick_, &QTimer::timeout, this, [this] { engine_->tick(core::steadyNowMs()); });
}

RemoteControl::~RemoteControl() { close(); }

bool RemoteControl::listen(const remote::ListenAddress& at, std::string* why) {
  close();
  auto server = std::make_unique<scpi::TcpServer>(*engine_);
  if (!server->listen(at.host, at.port, why)) return false;
  server_ = std::move(server);
  at_ = at;
  server_->setClientCountChanged([this](std::size_t n) {
    if (n > 0 && !tick_->isActive()) tick_->start();
    if (n == 0) tick_->stop();
    emit clientsChanged(static_cast<int>(n));
  });
  notifier_ = new QSocketNotifier(server_->fd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &RemoteControl::service);
  return true;
}

void RemoteControl::close() {
  if (!server_) return;
  delete notifier_;
  notifier_ = nullptr;
  const bool hadClients = server_->clientCount() > 0;
  server_.reset();
  tick_->stop();
  if (hadClients) emit clientsChanged(0);
}

bool RemoteControl::listening() const { return server_ != nullptr; }
int RemoteControl::port() const { return server_ ? server_->port() : 0; }
int RemoteControl::clients() const {
  return server_ ? static_cast<int>(server_->clientCount()) : 0;
}

void RemoteControl::service() {
  if (!server_) return;
  const std::int64_t now = core::steadyNowMs();
  if (now - windowStartMs_ >= kBudgetWindowMs) {
    windowStartMs_ = now;
    spentNs_ = 0;
  }
  const std::int64_t cpu = threadCpuNs();
  server_->service();
  spentNs_ += threadCpuNs() - cpu;
  if (spentNs_ < kBudgetNs) return;
  // Over budget: what arrives meanwhile stays queued in the sockets.
  notifier_->setEnabled(false);
  const std::int64_t left = windowStartMs_ + kBudgetWindowMs - core::steadyNowMs();
  QTimer::singleShot(static_cast<int>(std::max<std::int64_t>(1, left)), this, [this] {
    if (notifier_) notifier_->setEnabled(true);
  });
}

void RemoteControl::readingAccepted() {
  ++sequence_;
  readingTime_ = remote::isoLocalTime();
  engine_->readingAccepted();
}

void RemoteControl::zeroCalibrationEnded(bool ok, const std::string& why) {
  engine_->zeroCalibrationEnded(ok, remote::oneLine(why));
}

scpi::Identity RemoteControl::identity() const {
  scpi::Identity id;
  const PanelPeers& peers = main_.peers();
  if (peers.comm && peers.comm->portConnected()) {
    if (!main_.state.sensorSerial.empty()) id.serial = main_.state.sensorSerial;
    const std::string fw = peers.comm->firmwareVersion();
    if (!fw.empty()) id.firmware = fw;
  }
  return id;
}

bool RemoteControl::streaming() const {
  const PanelPeers& peers = main_.peers();
  return main_.state.commState == CommState::Streaming && peers.comm && peers.comm->portConnected();
}

std::optional<scpi::Reading> RemoteControl::latest() const {
  if (sequence_ == 0) return std::nullopt;
  return remote::readingOf(main_.state, sequence_, readingTime_);
}

scpi::Settings RemoteControl::settings() const { return remote::settingsOf(main_.state); }

void RemoteControl::apply(const scpi::Settings& s) {
  const scpi::Settings was = settings();
  remote::applySettings(main_.state, s);
  // Before the panel's first streaming tick the type is still to be set to
  // the one a connect starts with: that is where a script's choice must go.
  if (s.function != was.function && main_.prevCommState != CommState::Streaming)
    main_.state.typeAtConnect = static_cast<core::MeasType>(static_cast<int>(s.function));
  main_.fwdIsPower = core::isPowerUnit(main_.state.fwdUnit);
  // As the panel's own type, unit and offset controls do.
  if (s.function != was.function || s.unit != was.unit || s.offsetDb != was.offsetDb)
    main_.rearmOutOfRangeNotice();
}

std::string RemoteControl::conflict(const scpi::Settings& s) const {
  if (main_.state.commState == CommState::ZeroCal || main_.state.zeroCalRequested)
    return "a zero calibration is running";
  const PanelPeers& peers = main_.peers();
  if (s.function == scpi::Function::Ccdf && settings().function != scpi::Function::Ccdf &&
      peers.log && peers.log->triggerIndex() == kBurstTriggerIndex)
    return remote::oneLine(kCcdfUnavailableText);
  return {};
}

bool RemoteControl::startZeroCalibration(std::string* why) {
  if (const std::string no = remote::zeroCalibrationRefusal(zeroCalibrationRunning(), streaming());
      !no.empty()) {
    if (why) *why = no;
    return false;
  }
  main_.beginZeroCal();
  return true;
}

bool RemoteControl::zeroCalibrationRunning() const {
  return main_.state.zeroCalRequested || main_.state.commState == CommState::ZeroCal;
}

}  // namespace zrq::app
