#include "TrendWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

#include "TrendRecorder.h"
#include "remote/TrendRecord.h"
#include "uiface/MsgBox.h"

TfrmTrend* frmTrend = nullptr;

using zrq::core::TrendQuantity;

namespace {

constexpr const char* kSpanNames[] = {"1 min", "10 min", "1 h", "8 h", "24 h", "All"};
constexpr const char* kBoxNames[] = {"chkFwdAvg", "chkPeak", "chkBurst",  "chkCrest",
                                     "chkRfl",    "chkVswr", "chkRetLoss"};

}  // namespace

TfrmTrend::TfrmTrend(zrq::app::TrendRecorder& recorder, QWidget* owner)
    : QWidget(owner, Qt::Window), recorder_(recorder) {
  setObjectName(QStringLiteral("frmTrend"));
  setWindowTitle(QStringLiteral("Trend"));

  plot = new TrendPlot(this);
  plot->setStore(&recorder_.store());

  auto* boxes = new QHBoxLayout;
  for (int i = 0; i < zrq::core::kTrendQuantities; ++i) {
    const auto q = static_cast<TrendQuantity>(i);
    chkQuantity[i] = new QCheckBox(TrendPlot::quantityName(q), this);
    chkQuantity[i]->setObjectName(QLatin1String(kBoxNames[i]));
    // Forward average and VSWR: the two a transmitter is watched by.
    chkQuantity[i]->setChecked(q == TrendQuantity::ForwardAverage || q == TrendQuantity::Vswr);
    connect(chkQuantity[i], &QCheckBox::toggled, this, &TfrmTrend::quantitiesChanged);
    boxes->addWidget(chkQuantity[i]);
  }
  boxes->addStretch();

  cmbSpan = new QComboBox(this);
  cmbSpan->setObjectName(QStringLiteral("cmbSpan"));
  static_assert(std::size(kSpanNames) == kSpansMs.size());
  for (const char* name : kSpanNames) cmbSpan->addItem(QLatin1String(name));
  cmbSpan->setCurrentIndex(1);
  btnPause = new QPushButton(QStringLiteral("Pause"), this);
  btnPause->setObjectName(QStringLiteral("btnPause"));
  btnPause->setCheckable(true);
  btnResetHold = new QPushButton(QStringLiteral("Reset hold"), this);
  btnResetHold->setObjectName(QStringLiteral("btnResetHold"));
  btnExportPng = new QPushButton(QStringLiteral("Export PNG..."), this);
  btnExportPng->setObjectName(QStringLiteral("btnExportPng"));
  btnExportCsv = new QPushButton(QStringLiteral("Export CSV..."), this);
  btnExportCsv->setObjectName(QStringLiteral("btnExportCsv"));
  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(QStringLiteral("Span"), this));
  controls->addWidget(cmbSpan);
  controls->addWidget(btnPause);
  controls->addWidget(btnResetHold);
  controls->addStretch();
  controls->addWidget(btnExportPng);
  controls->addWidget(btnExportCsv);

  scrollBack = new QScrollBar(Qt::Horizontal, this);
  scrollBack->setObjectName(QStringLiteral("scrollBack"));
  scrollBack->setEnabled(false);
  lblCursor = new QLabel(this);
  lblCursor->setObjectName(QStringLiteral("lblCursor"));
  lblCursor->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(boxes);
  layout->addLayout(controls);
  layout->addWidget(plot, 1);
  layout->addWidget(scrollBack);
  layout->addWidget(lblCursor);

  connect(cmbSpan, &QComboBox::currentIndexChanged, this, &TfrmTrend::spanChanged);
  connect(btnPause, &QPushButton::toggled, this, &TfrmTrend::pauseToggled);
  connect(btnResetHold, &QPushButton::clicked, this, [this] {
    recorder_.store().resetHolds();
    plot->refresh();  // the hold lines lie under the data
  });
  connect(btnExportPng, &QPushButton::clicked, this, &TfrmTrend::exportPngClick);
  connect(btnExportCsv, &QPushButton::clicked, this, &TfrmTrend::exportCsvClick);
  connect(scrollBack, &QScrollBar::valueChanged, this, [this](int seconds) {
    if (btnPause->isChecked()) plot->setEnd(scrollBase_ + std::int64_t{seconds} * 1000 + 999);
  });
  connect(plot, &TrendPlot::cursorMoved, this, &TfrmTrend::showCursor);
  connect(&recorder_, &zrq::app::TrendRecorder::appended, this, &TfrmTrend::appended);

  plot->setSpan(kSpansMs[1]);
  quantitiesChanged();
  resize(1000, 620);
}

void TfrmTrend::showPowerUnit() {
  const zrq::core::PowerUnit unit = recorder_.state().fwdUnit;
  plot->setPowerUnit(unit);
  if ((unit == zrq::core::PowerUnit::dBm) != linesInDbm_) setAlarmLimits(alarmLimits_);
}

void TfrmTrend::setAlarmLimits(const std::vector<zrq::core::AlarmLimits>& limits) {
  alarmLimits_ = limits;
  linesInDbm_ = recorder_.state().fwdUnit == zrq::core::PowerUnit::dBm;
  std::array<zrq::core::TrendLimitLines, zrq::core::kTrendQuantities> lines{};
  for (int i = 0; i < zrq::core::kTrendQuantities; ++i)
    lines[i].quantity = static_cast<TrendQuantity>(i);
  for (const zrq::core::AlarmLimits& l : alarmLimits_)
    if (const auto shown = zrq::core::trendLimitLines(l, linesInDbm_)) {
      // Two alarms on one lane (watts and dBm): the tighter limit is the line.
      auto& to = lines[static_cast<int>(shown->quantity)];
      if (shown->upper) to.upper = to.upper ? std::min(*to.upper, *shown->upper) : *shown->upper;
      if (shown->lower) to.lower = to.lower ? std::max(*to.lower, *shown->lower) : *shown->lower;
    }
  for (const auto& l : lines) plot->setLimits(l.quantity, l.lower, l.upper);
}

void TfrmTrend::showEvent(QShowEvent* e) {
  showPowerUnit();
  updateScrollRange();
  QWidget::showEvent(e);
}

void TfrmTrend::hideEvent(QHideEvent* e) {
  recorder_.store().dropReductions();
  plot->refresh();
  QWidget::hideEvent(e);
}

void TfrmTrend::appended() {
  if (!isVisible()) return plot->readingAdded();  // only marks it for the next show
  showPowerUnit();
  plot->readingAdded();
  if (btnPause->isChecked()) updateScrollRange();
}

void TfrmTrend::quantitiesChanged() {
  std::vector<TrendQuantity> shown;
  for (int i = 0; i < zrq::core::kTrendQuantities; ++i)
    if (chkQuantity[i]->isChecked()) shown.push_back(static_cast<TrendQuantity>(i));
  plot->setQuantities(shown);
}

void TfrmTrend::spanChanged(int index) {
  if (index < 0 || index >= static_cast<int>(kSpansMs.size())) return;
  plot->setSpan(kSpansMs[static_cast<std::size_t>(index)]);
  updateScrollRange();
}

void TfrmTrend::pauseToggled(bool paused) {
  const zrq::core::TrendStore& s = recorder_.store();
  if (paused && !s.empty()) {
    plot->setEnd(s.timeAt(s.size() - 1));
  } else {
    plot->setEnd(std::nullopt);
  }
  updateScrollRange();
}

// In seconds: the view's right edge, from one span after the oldest reading
// to the newest.
void TfrmTrend::updateScrollRange() {
  const zrq::core::TrendStore& s = recorder_.store();
  const std::int64_t span = plot->span();
  const bool usable = btnPause->isChecked() && span > 0 && !s.empty();
  scrollBack->setEnabled(usable);
  if (!usable) return;
  // Seconds after the oldest reading: epoch seconds outgrow an int in 2038.
  scrollBase_ = s.timeAt(0);
  const auto newest = static_cast<int>((s.timeAt(s.size() - 1) - scrollBase_) / 1000);
  const QSignalBlocker quiet(scrollBack);
  scrollBack->setRange(static_cast<int>(std::min<std::int64_t>(span / 1000, newest)), newest);
  scrollBack->setPageStep(static_cast<int>(std::max<std::int64_t>(1, span / 1000)));
  scrollBack->setSingleStep(static_cast<int>(std::max<std::int64_t>(1, span / 10000)));
  if (const auto range = plot->shownRange())
    scrollBack->setValue(static_cast<int>((range->second - 1 - scrollBase_) / 1000));
}

void TfrmTrend::showCursor() {
  const auto i = plot->cursorReading();
  const zrq::core::TrendStore& s = recorder_.store();
  if (!i || *i >= s.size()) return lblCursor->clear();
  const zrq::core::TrendSample r = s.at(*i);
  QString text =
      QDateTime::fromMSecsSinceEpoch(r.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  for (TrendQuantity q : plot->quantities()) {
    const float v = zrq::core::trendValue(q, r);
    text +=
        QStringLiteral("   %1 %2 %3")
            .arg(TrendPlot::quantityName(q),
                 std::isnan(v) ? QStringLiteral("-") : QString::number(plot->display(q, v), 'f', 3),
                 plot->unitText(q));
  }
  lblCursor->setText(text.trimmed());
}

bool TfrmTrend::exportPng(const QString& file, std::string* why) {
  if (plot->grab().save(file, "PNG")) return true;
  if (why) *why = "cannot write " + file.toStdString();
  return false;
}

bool TfrmTrend::exportCsv(const QString& file, std::string* why) {
  std::ofstream out(file.toStdString(), std::ios::binary | std::ios::trunc);
  if (out) {
    if (const auto range = plot->shownRange())
      zrq::remote::writeTrendCsv(out, recorder_.store(), range->first, range->second);
    else
      zrq::remote::writeTrendCsv(out, recorder_.store(), 0, 0);
    out.flush();
  }
  if (out) return true;
  if (why) *why = "cannot write " + file.toStdString() + ": " + std::strerror(errno);
  return false;
}

void TfrmTrend::exportPngClick() {
  const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"),
                                                    QDir::homePath() + QStringLiteral("/trend.png"),
                                                    QStringLiteral("PNG pictures (*.png)"));
  std::string why;
  if (!file.isEmpty() && !exportPng(file, &why))
    zrq::ui::showMessage(why, "Trend", zrq::ui::MsgButtons::Ok, zrq::ui::MsgIcon::Error);
}

void TfrmTrend::exportCsvClick() {
  const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
                                                    QDir::homePath() + QStringLiteral("/trend.csv"),
                                                    QStringLiteral("CSV files (*.csv)"));
  std::string why;
  if (!file.isEmpty() && !exportCsv(file, &why))
    zrq::ui::showMessage(why, "Trend", zrq::ui::MsgButtons::Ok, zrq::ui::MsgIcon::Error);
}
