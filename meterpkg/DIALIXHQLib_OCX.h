// TDialixHQ: the needle-meter control as a component of the application's
// windows. It creates the control by class identifier when first needed,
// loads the control's whole state from one ControlData block, and reads and
// writes every property through typed accessors bound to the dispatch
// identifiers. The control fills the component.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "DialixExport.h"
#include "model/MeterProperties.h"

class CDialixHQCtrl;

namespace Dialixhqlib_tlb {

// The dispatch interface of the control (its default interface).
using _DDialixHQ = CDialixHQCtrl;

// A failed precondition of the component: names the condition and the unit.
class DIALIX_EXPORT AssertionFailed : public std::logic_error {
 public:
  AssertionFailed(const std::string& condition, const char* unit, int line);
  const std::string& condition() const { return condition_; }

 private:
  std::string condition_;
};

class DIALIX_EXPORT TDialixHQ : public QWidget {
  Q_OBJECT

 public:
  using OleColor = zrq::meter::OleColor;
  using FontDesc = zrq::meter::FontDesc;

  explicit TDialixHQ(QWidget* owner = nullptr);
  ~TDialixHQ() override;

  // Binds the default interface on first use; a control that cannot be
  // created fails the "DefaultDispatch" assertion (AssertionFailed).
  void CreateControl();
  _DDialixHQ* GetDefaultInterface();

  // The control's persisted stream; throws zrq::meter::StreamError and
  // keeps the previous state when the bytes are malformed.
  void setControlData(std::span<const uint8_t> bytes);
  std::vector<uint8_t> controlData();

  void StepIt();
  void AboutBox();

  // Typed accessors by dispatch identifier.
  double GetDoubleProp(int dispid);
  void SetDoubleProp(int dispid, double v);
  int16_t GetShortProp(int dispid);
  void SetShortProp(int dispid, int16_t v);
  OleColor GetColorProp(int dispid);
  void SetColorProp(int dispid, OleColor v);
  std::string GetStringProp(int dispid);
  void SetStringProp(int dispid, const std::string& v);
  FontDesc GetFontProp(int dispid);
  void SetFontProp(int dispid, const FontDesc& v);

  // Sees every property write with its dispatch identifier (tests).
  void setWriteObserver(std::function<void(int dispid)> observer) {
    writeObserver_ = std::move(observer);
  }

#define DIALIX_PROP(Type, Name, Kind)                          \
  Type Name() { return Get##Kind##Prop(zrq::meter::k##Name); } \
  void set##Name(const Type& v) { Set##Kind##Prop(zrq::meter::k##Name, v); }
  DIALIX_PROP(double, ScaledCircleRelativeDiameter, Double)
  DIALIX_PROP(int16_t, ScaleThinLineWidth, Short)
  DIALIX_PROP(double, VisibleScaleRelativeSize, Double)
  DIALIX_PROP(double, ShadedAreaRelativeSize, Double)
  DIALIX_PROP(int16_t, ScaleThickLineWidth, Short)
  DIALIX_PROP(double, BottomCoverRelativeHeight, Double)
  DIALIX_PROP(OleColor, ScaleColor, Color)
  DIALIX_PROP(double, ScaleRelativeWidth, Double)
  DIALIX_PROP(double, ScaledCircleRelativeShifting, Double)
  DIALIX_PROP(double, MaximumValue, Double)
  DIALIX_PROP(OleColor, IndexColor, Color)
  DIALIX_PROP(double, MinimumValue, Double)
  DIALIX_PROP(double, StepValue, Double)
  DIALIX_PROP(int16_t, IndexThickness, Short)
  DIALIX_PROP(int16_t, NumberOfDivisions, Short)
  DIALIX_PROP(std::string, ValueFormatString, String)
  DIALIX_PROP(double, Value, Double)
  DIALIX_PROP(OleColor, BottomCoverColor, Color)
  DIALIX_PROP(OleColor, BottomCoverTextColor, Color)
  DIALIX_PROP(OleColor, InstrumentBackGroundColor, Color)
  DIALIX_PROP(FontDesc, SmallScaleFont, Font)
  DIALIX_PROP(double, RelativeIndexLength, Double)
  DIALIX_PROP(double, RelativeTextRadius, Double)
  DIALIX_PROP(int16_t, NumberOfSubdivisions, Short)
  DIALIX_PROP(double, GreenStartValue, Double)
  DIALIX_PROP(double, YellowStartValue, Double)
  DIALIX_PROP(double, RedStartValue, Double)
  DIALIX_PROP(OleColor, GreenColor, Color)
  DIALIX_PROP(OleColor, YellowColor, Color)
  DIALIX_PROP(OleColor, RedColor, Color)
  DIALIX_PROP(std::string, Caption, String)
  DIALIX_PROP(FontDesc, BottomCoverLabelFont, Font)
#undef DIALIX_PROP

  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void write(int dispid, const zrq::meter::PropValue& v);
  template <typename T>
  T read(int dispid);

  _DDialixHQ* intf_ = nullptr;
  std::function<void(int)> writeObserver_;
};

}  // namespace Dialixhqlib_tlb
