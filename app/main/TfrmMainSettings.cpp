// The user's settings: measurement type, units, offset and CCDF limit, and
// the menu actions that only open other windows.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "PanelAlarms.h"
#include "QtHelpPlatform.h"
#include "TfrmAbout.h"
#include "TfrmAlarms.h"
#include "TfrmFilterValue.h"
#include "TfrmMain.h"
#include "TfrmMainHelp.h"
#include "uiface/MsgBox.h"

using zrq::core::MeasType;
using zrq::core::PowerUnit;

namespace {

// A decimal number with "." as the point, blanks around it allowed; anything
// else (trailing letters, "nan", "inf") is not a number.
std::optional<double> parsePlainNumber(const QString& text) {
  std::string s = text.trimmed().toStdString();
  if (!s.empty() && s.front() == '+') s.erase(0, 1);
  if (s.empty()) return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

QString plainNumber(float v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? QString::fromLatin1(buf, static_cast<int>(end - buf))
                           : QStringLiteral("0");
}

}  // namespace

// ---- Measurement type -------------------------------------------------------

void TfrmMain::btnTypeClick() {
  if (peers_.log && peers_.log->triggerIndex() == zrq::app::kBurstTriggerIndex &&
      state.measType == MeasType::Crest) {
    zrq::ui::showMessage(zrq::app::kCcdfUnavailableText, zrq::app::kCcdfUnavailableCaption);
    return;
  }
  nextTypeRequest = true;
  rearmOutOfRangeNotice();
}

void TfrmMain::tbnTypeDownClick() {
  if (peers_.log && peers_.log->triggerIndex() == zrq::app::kBurstTriggerIndex &&
      state.measType == MeasType::Average) {
    zrq::ui::showMessage(zrq::app::kCcdfUnavailableText, zrq::app::kCcdfUnavailableCaption);
    return;
  }
  prevTypeRequest = true;
  rearmOutOfRangeNotice();
}

// ---- Units ------------------------------------------------------------------

void TfrmMain::btnFwdUnitsClick() {
  if (state.measType != MeasType::Crest && state.measType != MeasType::CCDF) {
    state.fwdUnit = zrq::core::nextUnit(zrq::core::forwardUnitCycle, state.fwdUnit);
    fwdIsPower = zrq::core::isPowerUnit(state.fwdUnit);
  }
  rearmOutOfRangeNotice();
}

void TfrmMain::btnRflUnitsClick() {
  state.rflUnit = zrq::core::nextUnit(zrq::core::reflectedUnitCycle, state.rflUnit);
  rflIsPower = zrq::core::isPowerUnit(state.rflUnit);
}

void TfrmMain::btnFilterClick() {
  if (!filterDialog_) return;
  filterDialog_->setVisible(!filterDialog_->isVisible());
}

// ---- Offset -------------------------------------------------------------------

void TfrmMain::btnOffsetClick() { Edit_Offset->setVisible(Edit_Offset->isHidden()); }

void TfrmMain::Edit_OffsetEnter() { Edit_Offset->setText(plainNumber(state.offsetDb)); }
void TfrmMain::Edit_OffsetExit() { commitOffset(); }
void TfrmMain::Edit_OffsetKeyPress(int key) {
  if (key == 13) commitOffset();
}

void TfrmMain::commitOffset() {
  if (Edit_Offset->text().isEmpty()) Edit_Offset->setText(QStringLiteral("0"));
  const auto v = parsePlainNumber(Edit_Offset->text());
  if (v && *v >= 0 && *v <= 100)
    state.offsetDb = static_cast<float>(*v);
  else
    Edit_Offset->setText(QStringLiteral("Error"));
  rearmOutOfRangeNotice();
}

// ---- CCDF limit ---------------------------------------------------------------

void TfrmMain::btnCCDFClick() {
  EditccdfLimit->setVisible(EditccdfLimit->isHidden());
  state.settingsChanged = true;
}

void TfrmMain::EditccdfLimitEnter() { EditccdfLimit->setText(plainNumber(state.ccdfLimit)); }
void TfrmMain::EditccdfLimitExit() { commitCcdfLimit(); }
void TfrmMain::EditccdfLimitKeyPress(int key) {
  if (key == 13) commitCcdfLimit();
}

void TfrmMain::commitCcdfLimit() {
  if (EditccdfLimit->text().isEmpty()) EditccdfLimit->setText(QStringLiteral("0"));
  const auto v = parsePlainNumber(EditccdfLimit->text());
  if (v && *v >= 2 && *v <= 400) {
    state.ccdfLimit = static_cast<float>(*v);
    state.settingsChanged = true;
  } else {
    EditccdfLimit->setText(QStringLiteral("Error"));
  }
}

// ---- Menus --------------------------------------------------------------------

void TfrmMain::About1Click() {
  if (!aboutWindow_) return;
  aboutWindow_->prepare(peers_.comm ? peers_.comm->firmwareVersion() : std::string());
  aboutWindow_->exec();
}

void TfrmMain::Forward1Click() {
  if (peers_.fwdMeter) peers_.fwdMeter->showWindow();
}
void TfrmMain::Reflected1Click() {
  if (peers_.rflMeter) peers_.rflMeter->showWindow();
}
void TfrmMain::PeakPower2Click() {
  if (peers_.peak) peers_.peak->showWindow();
}
void TfrmMain::BurstPower2Click() {
  if (peers_.burst) peers_.burst->showWindow();
}
void TfrmMain::Alarms1Click() {
  if (!alarms_) return;
  auto* dlg = findChild<TfrmAlarms*>(QString(), Qt::FindDirectChildrenOnly);
  if (!dlg) {
    dlg = new TfrmAlarms(this);
    // Made after the help's set-up named the windows: F1 needs its topic here.
    hb::setHelpContext(dlg, zrq::app::MainHelp::contextOf("frmAlarms"));
    connect(dlg, &QDialog::accepted, this, [this, dlg] {
      std::vector<zrq::core::AlarmLimits> limits;
      if (alarms_ && dlg->readLimits(limits)) alarms_->setLimits(limits);
    });
  }
  dlg->setLimits(alarms_->limits());
  // Not exec(): the display and log ticks go on while the user edits.
  dlg->open();
}

void TfrmMain::logEvent(const std::string& text) {
  if (peers_.log) peers_.log->logEvent(text);
}

void TfrmMain::Trend1Click() {
  if (!trendWindow_) return;
  trendWindow_->show();
  trendWindow_->raise();
  trendWindow_->activateWindow();
}
