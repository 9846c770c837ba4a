#include "DIALIXHQLib_OCX.h"

#include <QResizeEvent>
#include <cstdio>

#include "DialixHQCtrl.h"
#include "DialixHQFactory.h"

namespace Dialixhqlib_tlb {

namespace {
constexpr const char* kUnit = "DIALIXHQLib_OCX";
}

AssertionFailed::AssertionFailed(const std::string& condition, const char* unit, int line)
    : std::logic_error("Assertion failed: " + condition + ", file " + unit + ", line " +
                       std::to_string(line)),
      condition_(condition) {}

TDialixHQ::TDialixHQ(QWidget* owner) : QWidget(owner) {}

TDialixHQ::~TDialixHQ() = default;  // the control is a child widget

void TDialixHQ::CreateControl() {
  if (intf_) return;
  intf_ = zrq::meter::createControl(zrq::meter::kDialixHQClsid, this);
  if (!intf_) {
    AssertionFailed failure("DefaultDispatch", kUnit, __LINE__);
    std::fprintf(stderr, "%s\n", failure.what());
    throw failure;
  }
  intf_->setGeometry(rect());
  intf_->show();
}

_DDialixHQ* TDialixHQ::GetDefaultInterface() {
  CreateControl();
  return intf_;
}

void TDialixHQ::setControlData(std::span<const uint8_t> bytes) {
  GetDefaultInterface()->loadState(bytes);
  // The stream carries the control's extent; the component decides its size.
  intf_->setGeometry(rect());
}

std::vector<uint8_t> TDialixHQ::controlData() { return GetDefaultInterface()->saveState(); }

void TDialixHQ::StepIt() {
  if (writeObserver_) writeObserver_(zrq::meter::kStepIt);
  GetDefaultInterface()->StepIt();
}

void TDialixHQ::AboutBox() { GetDefaultInterface()->AboutBox(); }

template <typename T>
T TDialixHQ::read(int dispid) {
  return std::get<T>(GetDefaultInterface()->getProp(dispid));
}

void TDialixHQ::write(int dispid, const zrq::meter::PropValue& v) {
  if (writeObserver_) writeObserver_(dispid);
  GetDefaultInterface()->setProp(dispid, v);
}

double TDialixHQ::GetDoubleProp(int dispid) { return read<double>(dispid); }
void TDialixHQ::SetDoubleProp(int dispid, double v) { write(dispid, v); }
int16_t TDialixHQ::GetShortProp(int dispid) { return read<int16_t>(dispid); }
void TDialixHQ::SetShortProp(int dispid, int16_t v) { write(dispid, v); }
zrq::meter::OleColor TDialixHQ::GetColorProp(int dispid) { return read<OleColor>(dispid); }
void TDialixHQ::SetColorProp(int dispid, OleColor v) { write(dispid, v); }
std::string TDialixHQ::GetStringProp(int dispid) { return read<std::string>(dispid); }
void TDialixHQ::SetStringProp(int dispid, const std::string& v) { write(dispid, v); }
zrq::meter::FontDesc TDialixHQ::GetFontProp(int dispid) { return read<FontDesc>(dispid); }
void TDialixHQ::SetFontProp(int dispid, const FontDesc& v) { write(dispid, v); }

QSize TDialixHQ::sizeHint() const { return intf_ ? intf_->sizeHint() : QSize(234, 155); }

void TDialixHQ::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (intf_) intf_->setGeometry(QRect(QPoint(0, 0), e->size()));
}

}  // namespace Dialixhqlib_tlb
