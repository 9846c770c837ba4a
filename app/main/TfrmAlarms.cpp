#include "TfrmAlarms.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr std::array<const char*, zrq::core::kAlarmQuantityCount> kCaptions{"Forward average (W)",
                                                                            "Forward average (dBm)",
                                                                            "Forward peak (W)",
                                                                            "Forward burst (W)",
                                                                            "Crest factor (dB)",
                                                                            "CCDF (%)",
                                                                            "Reflected (W)",
                                                                            "Rho",
                                                                            "VSWR",
                                                                            "Return loss (dB)"};

QString numberText(const std::optional<double>& v) {
  return v ? QString::number(*v, 'g', 10) : QString();
}

// Empty is no limit; a number in C or the user's own notation.
bool readNumber(const QLineEdit* e, std::optional<double>& out) {
  const QString t = e->text().trimmed();
  if (t.isEmpty()) return out.reset(), true;
  bool ok = false;
  double v = t.toDouble(&ok);
  if (!ok) v = QLocale().toDouble(t, &ok);
  if (ok) out = v;
  return ok;
}

}  // namespace

TfrmAlarms::TfrmAlarms(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAlarms"));
  setWindowTitle(QStringLiteral("Alarms"));
  auto* grid = new QGridLayout;
  const char* heads[] = {"Quantity", "Upper", "Lower", "Hysteresis", "Hold-off (ms)", "Latching"};
  for (int c = 0; c < 6; ++c) grid->addWidget(new QLabel(QString::fromLatin1(heads[c])), 0, c);
  for (int i = 0; i < zrq::core::kAlarmQuantityCount; ++i) {
    Row& r = rows[static_cast<std::size_t>(i)];
    const QString name = QString::fromLatin1(
        zrq::core::alarmQuantityName(static_cast<zrq::core::AlarmQuantity>(i)).data());
    r.on = new QCheckBox(QString::fromLatin1(kCaptions[static_cast<std::size_t>(i)]));
    r.on->setObjectName(QStringLiteral("chk_") + name);
    r.upper = new QLineEdit;
    r.upper->setObjectName(QStringLiteral("upper_") + name);
    r.lower = new QLineEdit;
    r.lower->setObjectName(QStringLiteral("lower_") + name);
    r.hysteresis = new QLineEdit(QStringLiteral("0"));
    r.hysteresis->setObjectName(QStringLiteral("hysteresis_") + name);
    r.holdOffMs = new QSpinBox;
    r.holdOffMs->setObjectName(QStringLiteral("holdoff_") + name);
    r.holdOffMs->setRange(0, 3'600'000);
    r.holdOffMs->setSingleStep(100);
    r.latching = new QCheckBox;
    r.latching->setObjectName(QStringLiteral("latching_") + name);
    for (QLineEdit* e : {r.upper, r.lower, r.hysteresis}) e->setMaximumWidth(90);
    grid->addWidget(r.on, i + 1, 0);
    grid->addWidget(r.upper, i + 1, 1);
    grid->addWidget(r.lower, i + 1, 2);
    grid->addWidget(r.hysteresis, i + 1, 3);
    grid->addWidget(r.holdOffMs, i + 1, 4);
    grid->addWidget(r.latching, i + 1, 5, Qt::AlignCenter);
  }
  lblProblem = new QLabel;
  lblProblem->setObjectName(QStringLiteral("lblProblem"));
  lblProblem->setStyleSheet(QStringLiteral("color: #c00000;"));
  lblProblem->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &TfrmAlarms::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TfrmAlarms::reject);
  auto* box = new QVBoxLayout(this);
  box->addLayout(grid);
  box->addWidget(lblProblem);
  box->addWidget(buttons);
}

void TfrmAlarms::setLimits(const std::vector<zrq::core::AlarmLimits>& limits) {
  for (Row& r : rows) {
    r.on->setChecked(false);
    r.upper->clear();
    r.lower->clear();
    r.hysteresis->setText(QStringLiteral("0"));
    r.holdOffMs->setValue(0);
    r.latching->setChecked(false);
  }
  for (const zrq::core::AlarmLimits& l : limits) {
    Row& r = rows[static_cast<std::size_t>(l.quantity)];
    r.on->setChecked(true);
    r.upper->setText(numberText(l.upper));
    r.lower->setText(numberText(l.lower));
    r.hysteresis->setText(QString::number(l.hysteresis, 'g', 10));
    r.holdOffMs->setValue(static_cast<int>(l.holdOffMs));
    r.latching->setChecked(l.latching);
  }
  lblProblem->clear();
}

bool TfrmAlarms::readLimits(std::vector<zrq::core::AlarmLimits>& out) {
  out.clear();
  for (int i = 0; i < zrq::core::kAlarmQuantityCount; ++i) {
    const Row& r = rows[static_cast<std::size_t>(i)];
    if (!r.on->isChecked()) continue;
    zrq::core::AlarmLimits l;
    l.quantity = static_cast<zrq::core::AlarmQuantity>(i);
    std::optional<double> h;
    std::string why;
    if (!readNumber(r.upper, l.upper) || !readNumber(r.lower, l.lower) ||
        !readNumber(r.hysteresis, h))
      why = "a limit or the hysteresis is not a number";
    l.hysteresis = h.value_or(0);
    l.holdOffMs = r.holdOffMs->value();
    l.latching = r.latching->isChecked();
    if (why.empty()) why = l.problem();
    if (!why.empty()) {
      lblProblem->setText(r.on->text() + QStringLiteral(": ") + QString::fromStdString(why) +
                          QStringLiteral("."));
      return false;
    }
    out.push_back(l);
  }
  lblProblem->clear();
  return true;
}

void TfrmAlarms::accept() {
  std::vector<zrq::core::AlarmLimits> limits;
  if (readLimits(limits)) QDialog::accept();
}
