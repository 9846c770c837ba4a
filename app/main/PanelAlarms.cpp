#include "PanelAlarms.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QSettings>
#include <QSoundEffect>
#include <QStatusBar>
#include <QUrl>
#include <array>

#include "TfrmMain.h"
#include "UserSettings.h"
#include "remote/RemoteValues.h"

namespace zrq::app {

namespace {

QVariant optionalValue(const std::optional<double>& v) {
  return v ? QVariant(*v) : QVariant(QString());
}

std::optional<double> readOptional(const QVariant& v) {
  bool ok = false;
  const double d = v.toString().toDouble(&ok);
  return ok ? std::optional<double>(d) : std::nullopt;
}

const QString kClearStyle = QStringLiteral("QLabel { color: #2a6e2a; padding: 1px 2px; }");
const QString kAlarmStyle = QStringLiteral(
    "QLabel { background: #c00000; color: white; font-weight: bold; padding: 1px 2px; }");
const QString kAckStyle = QStringLiteral(
    "QLabel { background: #e0a000; color: black; font-weight: bold; padding: 1px 2px; }");

// What fits beside the buttons under the panel: "ALARM Fwd avg 130 W > 100 W".
QString shortText(const core::AlarmLimits& l, const core::AlarmEvent& e) {
  static constexpr std::array<const char*, core::kAlarmQuantityCount> kShort{
      "Fwd avg", "Fwd avg", "Peak", "Burst", "Crest", "CCDF", "Refl", "Rho", "VSWR", "RL"};
  const QString unit =
      QString::fromLatin1(core::alarmQuantityUnit(l.quantity).data(),
                          static_cast<int>(core::alarmQuantityUnit(l.quantity).size()));
  auto number = [&](double v) {
    QString t = QString::number(v, 'g', 4);
    return unit.isEmpty() ? t : t + QLatin1Char(' ') + unit;
  };
  const bool up = e.side == core::AlarmSide::Upper;
  const double limit = (up ? l.upper : l.lower).value_or(0);
  return QStringLiteral("ALARM %1 %2 %3 %4")
      .arg(QString::fromLatin1(kShort[static_cast<std::size_t>(l.quantity)]), number(e.value),
           up ? QStringLiteral(">") : QStringLiteral("<"), number(limit));
}

}  // namespace

std::vector<core::AlarmLimits> loadAlarmLimits() {
  QSettings s = userSettings();
  std::vector<core::AlarmLimits> limits;
  const int n = s.beginReadArray(QStringLiteral("alarms"));
  for (int i = 0; i < n; ++i) {
    s.setArrayIndex(i);
    const auto q =
        core::alarmQuantityFromName(s.value(QStringLiteral("quantity")).toString().toStdString());
    if (!q) continue;
    core::AlarmLimits l;
    l.quantity = *q;
    l.upper = readOptional(s.value(QStringLiteral("upper")));
    l.lower = readOptional(s.value(QStringLiteral("lower")));
    l.hysteresis = readOptional(s.value(QStringLiteral("hysteresis"))).value_or(0);
    l.holdOffMs = s.value(QStringLiteral("hold_off_ms"), 0).toLongLong();
    l.latching = s.value(QStringLiteral("latching"), false).toBool();
    // A hand-edited file may hold what the dialog never writes.
    if (l.problem().empty()) limits.push_back(l);
  }
  s.endArray();
  return limits;
}

void saveAlarmLimits(const std::vector<core::AlarmLimits>& limits) {
  QSettings s = userSettings();
  s.remove(QStringLiteral("alarms"));
  s.beginWriteArray(QStringLiteral("alarms"), static_cast<int>(limits.size()));
  for (int i = 0; i < static_cast<int>(limits.size()); ++i) {
    const core::AlarmLimits& l = limits[static_cast<std::size_t>(i)];
    s.setArrayIndex(i);
    s.setValue(QStringLiteral("quantity"),
               QString::fromLatin1(core::alarmQuantityName(l.quantity).data(),
                                   static_cast<int>(core::alarmQuantityName(l.quantity).size())));
    s.setValue(QStringLiteral("upper"), optionalValue(l.upper));
    s.setValue(QStringLiteral("lower"), optionalValue(l.lower));
    s.setValue(QStringLiteral("hysteresis"), l.hysteresis);
    s.setValue(QStringLiteral("hold_off_ms"), static_cast<qlonglong>(l.holdOffMs));
    s.setValue(QStringLiteral("latching"), l.latching);
  }
  s.endArray();
  s.sync();
}

PanelAlarms::PanelAlarms(TfrmMain& main) : QObject(&main), main_(main) {
  annunciator = new QWidget;
  annunciator->setObjectName(QStringLiteral("Alarms"));
  auto* row = new QHBoxLayout(annunciator);
  row->setContentsMargins(4, 0, 4, 0);
  lblAlarm = new QLabel(annunciator);
  lblAlarm->setObjectName(QStringLiteral("lblAlarm"));
  btnAcknowledge = new QToolButton(annunciator);
  btnAcknowledge->setObjectName(QStringLiteral("btnAcknowledge"));
  btnAcknowledge->setText(QStringLiteral("Acknowledge"));
  btnMute = new QToolButton(annunciator);
  btnMute->setObjectName(QStringLiteral("btnMute"));
  btnMute->setText(QStringLiteral("Mute"));
  btnMute->setCheckable(true);
  row->addWidget(lblAlarm, 1);
  row->addWidget(btnAcknowledge);
  row->addWidget(btnMute);
  QStatusBar* bar = main_.statusBar();
  bar->setSizeGripEnabled(false);
  bar->addWidget(annunciator, 1);
  connect(btnAcknowledge, &QToolButton::clicked, this, &PanelAlarms::acknowledge);
  connect(btnMute, &QToolButton::toggled, this, &PanelAlarms::setMuted);

  muted_ = userSettings().value(QStringLiteral("alarm/muted"), false).toBool();
  btnMute->setChecked(muted_);
  limits_ = loadAlarmLimits();
  set_.setLimits(limits_);
  showState();
}

void PanelAlarms::setLimits(const std::vector<core::AlarmLimits>& limits) {
  limits_ = limits;
  saveAlarmLimits(limits_);
  set_.setLimits(limits_);
  lastEvent_.clear();
  if (limitsView_) limitsView_(limits_);
  followSound();
  showState();
}

void PanelAlarms::setLimitsView(std::function<void(const std::vector<core::AlarmLimits>&)> view) {
  limitsView_ = std::move(view);
  if (limitsView_) limitsView_(limits_);
}

void PanelAlarms::readingAccepted() {
  if (set_.empty()) return;
  const core::QuantityValues values =
      remote::quantityValues(remote::readingOf(main_.state, 0, std::string()));
  apply(set_.update(values, core::steadyNowMs()));
}

void PanelAlarms::acknowledge() { apply(set_.acknowledge(core::steadyNowMs())); }

void PanelAlarms::setMuted(bool muted) {
  if (muted == muted_) return;
  muted_ = muted;
  btnMute->setChecked(muted);
  QSettings s = userSettings();
  s.setValue(QStringLiteral("alarm/muted"), muted_);
  followSound();
  showState();
}

void PanelAlarms::apply(const std::vector<core::AlarmChange>& changes) {
  for (const core::AlarmChange& c : changes) {
    const std::string text = core::alarmEventText(c.limits, c.event);
    if (c.event.raised) {
      lastEvent_ = QString::fromStdString(text);
      lastShort_ = shortText(c.limits, c.event);
    }
    main_.logEvent(text);
  }
  followSound();
  showState();
}

void PanelAlarms::followSound() {
  const bool want = !muted_ && set_.sounding();
  if (want == soundOn_) return;
  soundOn_ = want;
  if (want && !sound_) {
    sound_ = new QSoundEffect(this);
    sound_->setSource(QUrl(QStringLiteral("qrc:/zrq/alarm.wav")));
    sound_->setLoopCount(QSoundEffect::Infinite);
  }
  if (!sound_) return;
  // Without a sound device the effect reports an error and stays silent; the
  // annunciator still shows the alarm.
  if (want)
    sound_->play();
  else
    sound_->stop();
}

QString PanelAlarms::annunciatorText() const {
  if (!set_.active()) return QStringLiteral("Alarms clear");
  QString t = lastShort_.isEmpty() ? QStringLiteral("ALARM") : lastShort_;
  if (!set_.sounding()) t += QStringLiteral(" (ack)");
  return t;
}

void PanelAlarms::showState() {
  main_.statusBar()->setVisible(!limits_.empty());
  lblAlarm->setText(annunciatorText());
  lblAlarm->setToolTip(set_.active() ? lastEvent_ : QString());
  lblAlarm->setStyleSheet(!set_.active() ? kClearStyle : set_.sounding() ? kAlarmStyle : kAckStyle);
  btnAcknowledge->setEnabled(set_.active() && set_.sounding());
  emit changed();
}

}  // namespace zrq::app
