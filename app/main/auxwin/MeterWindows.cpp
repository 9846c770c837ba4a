#include "MeterWindows.h"

#include <QFile>
#include <cmath>
#include <cstdio>

#include "DIALIXHQLib_OCX.h"
#include "core/InstrumentState.h"
#include "frame/Scaling.h"

TfrmMeter* frmMeter = nullptr;
TfrmRflMeter* frmRflMeter = nullptr;

using zrq::core::MeterProp;

namespace {

constexpr int kClientWidth = 234;
constexpr int kClientHeight = 155;

}  // namespace

TMeterWindow::TMeterWindow(QWidget* owner, const char* name, const char* caption, QPoint designPos,
                           const char* controlData)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QString::fromLatin1(name));
  setWindowTitle(QString::fromLatin1(caption));
  DialixHQ1 = new Dialixhqlib_tlb::TDialixHQ(this);
  DialixHQ1->setObjectName("DialixHQ1");
  DialixHQ1->setGeometry(0, 0, kClientWidth, kClientHeight);
  DialixHQ1->setFocusPolicy(Qt::TabFocus);
  QFile f(QString::fromLatin1(controlData));
  if (f.open(QIODevice::ReadOnly)) {
    const QByteArray bytes = f.readAll();
    try {
      DialixHQ1->setControlData(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                          static_cast<size_t>(bytes.size())));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: stored meter state not loaded: %s\n", name, e.what());
    }
  } else {
    std::fprintf(stderr, "%s: no stored meter state %s\n", name, controlData);
  }
  DialixHQ1->setGeometry(0, 0, kClientWidth, kClientHeight);
  move(designPos);
  FormCreate();
  hide();
}

void TMeterWindow::FormCreate() {
  const double factor = zrq::frame::screenScale();
  const float f32 = static_cast<float>(factor);
  zrq::frame::scaleChildren(this, factor);
  setFixedSize(static_cast<int>(kClientWidth * f32), static_cast<int>(kClientHeight * f32));
  DialixHQ1->setGeometry(rect());
  // Font sizes are whole points after scaling.
  for (int id : {zrq::meter::kSmallScaleFont, zrq::meter::kBottomCoverLabelFont}) {
    zrq::meter::FontDesc font = DialixHQ1->GetFontProp(id);
    const auto points = static_cast<uint32_t>(std::trunc(font.points() * f32));
    font.size = points * 10000;
    DialixHQ1->SetFontProp(id, font);
  }
}

void TMeterWindow::showMeter() {
  if (DialixHQ1->isHidden()) DialixHQ1->show();
}

void TMeterWindow::applyWrites(const zrq::core::MeterWrites& writes) {
  auto* m = DialixHQ1;
  for (const auto& w : writes) {
    switch (w.prop) {
      case MeterProp::Value:
        if (m->Value() != w.number) m->setValue(w.number);
        break;
      case MeterProp::Caption:
        if (m->Caption() != w.text) m->setCaption(w.text);
        break;
      case MeterProp::MaximumValue:
        if (m->MaximumValue() != w.number) m->setMaximumValue(w.number);
        break;
      case MeterProp::MinimumValue:
        if (m->MinimumValue() != w.number) m->setMinimumValue(w.number);
        break;
      case MeterProp::ValueFormatString:
        if (m->ValueFormatString() != w.text) m->setValueFormatString(w.text);
        break;
    }
  }
}

// ---- Forward ---------------------------------------------------------------

TfrmMeter::TfrmMeter(QWidget* owner)
    : TMeterWindow(owner, "frmMeter", "7730 Forward Power", QPoint(104, 172),
                   ":/meters/frmMeter.ControlData") {}

void TfrmMeter::updateForward(zrq::core::MeasType type, double value, zrq::core::PowerUnit unit) {
  if (!isShown()) return;
  showMeter();
  applyWrites(zrq::core::forwardMeterWrites(type, value, unit));
}

// ---- Reflected -------------------------------------------------------------

TfrmRflMeter::TfrmRflMeter(const zrq::core::InstrumentState* state, QWidget* owner)
    : TMeterWindow(owner, "frmRflMeter", "7730 Reflected Power", QPoint(165, 242),
                   ":/meters/frmRflMeter.ControlData"),
      state_(state) {}

void TfrmRflMeter::setValue(double v) {
  value_ = v;
  applyWrites({{MeterProp::Value, v, {}}});
}

void TfrmRflMeter::updateReflected(zrq::core::PowerUnit unit, bool mayShow) {
  if (!isShown()) return;
  if (!mayShow) {
    hideWindow();
    return;
  }
  showMeter();
  const double fullScale = state_ ? state_->rflFullScale : 15.0;
  applyWrites(zrq::core::reflectedMeterWrites(unit, value_, fullScale));
}

void TfrmRflMeter::setScale(const std::string& caption, double min, double max,
                            const std::string& valueFormat) {
  if (!isShown()) return;
  showMeter();
  applyWrites({{MeterProp::Caption, 0, caption},
               {MeterProp::MaximumValue, max, {}},
               {MeterProp::MinimumValue, min, {}},
               {MeterProp::ValueFormatString, 0, valueFormat}});
}
