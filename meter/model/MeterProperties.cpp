#include "MeterProperties.h"

#include <cmath>

namespace zrq::meter {

namespace {

template <auto Member>
PropValue getField(const MeterProps& p) {
  return PropValue(p.*Member);
}

template <auto Member, typename T>
void setField(MeterProps& p, const PropValue& v) {
  p.*Member = std::get<T>(v);
}

#define ZRQ_PROP(id, member, type, cpp, how)                                    \
  PropInfo {                                                                    \
    id, #member, PropType::type, OnChange::how, &getField<&MeterProps::member>, \
        &setField<&MeterProps::member, cpp>                                     \
  }

const std::vector<PropInfo> kTable = {
    ZRQ_PROP(kShadedAreaRelativeSize, ShadedAreaRelativeSize, Double, double, Geometry),
    ZRQ_PROP(kScaledCircleRelativeDiameter, ScaledCircleRelativeDiameter, Double, double, Geometry),
    ZRQ_PROP(kScaledCircleRelativeShifting, ScaledCircleRelativeShifting, Double, double, Geometry),
    ZRQ_PROP(kVisibleScaleRelativeSize, VisibleScaleRelativeSize, Double, double, Geometry),
    ZRQ_PROP(kScaleRelativeWidth, ScaleRelativeWidth, Double, double, Geometry),
    ZRQ_PROP(kScaleThickLineWidth, ScaleThickLineWidth, Short, int16_t, Geometry),
    ZRQ_PROP(kScaleThinLineWidth, ScaleThinLineWidth, Short, int16_t, Geometry),
    ZRQ_PROP(kScaleColor, ScaleColor, Color, OleColor, Geometry),
    ZRQ_PROP(kNumberOfDivisions, NumberOfDivisions, Short, int16_t, Geometry),
    ZRQ_PROP(kMinimumValue, MinimumValue, Double, double, Geometry),
    ZRQ_PROP(kMaximumValue, MaximumValue, Double, double, Geometry),
    ZRQ_PROP(kStepValue, StepValue, Double, double, Geometry),
    ZRQ_PROP(kValue, Value, Double, double, Common),
    ZRQ_PROP(kIndexThickness, IndexThickness, Short, int16_t, Common),
    ZRQ_PROP(kIndexColor, IndexColor, Color, OleColor, Common),
    ZRQ_PROP(kValueFormatString, ValueFormatString, String, std::string, Geometry),
    ZRQ_PROP(kBottomCoverRelativeHeight, BottomCoverRelativeHeight, Double, double, Geometry),
    ZRQ_PROP(kBottomCoverColor, BottomCoverColor, Color, OleColor, Common),
    ZRQ_PROP(kBottomCoverTextColor, BottomCoverTextColor, Color, OleColor, Common),
    ZRQ_PROP(kInstrumentBackGroundColor, InstrumentBackGroundColor, Color, OleColor, Common),
    ZRQ_PROP(kRelativeIndexLength, RelativeIndexLength, Double, double, Geometry),
    ZRQ_PROP(kRelativeTextRadius, RelativeTextRadius, Double, double, Geometry),
    ZRQ_PROP(kNumberOfSubdivisions, NumberOfSubdivisions, Short, int16_t, Geometry),
    ZRQ_PROP(kGreenStartValue, GreenStartValue, Double, double, Geometry),
    ZRQ_PROP(kYellowStartValue, YellowStartValue, Double, double, Geometry),
    ZRQ_PROP(kRedStartValue, RedStartValue, Double, double, Geometry),
    ZRQ_PROP(kGreenColor, GreenColor, Color, OleColor, Common),
    ZRQ_PROP(kYellowColor, YellowColor, Color, OleColor, Common),
    ZRQ_PROP(kRedColor, RedColor, Color, OleColor, Common),
    ZRQ_PROP(kSmallScaleFont, SmallScaleFont, Font, FontDesc, Common),
    ZRQ_PROP(kBottomCoverLabelFont, BottomCoverLabelFont, Font, FontDesc, Common),
    ZRQ_PROP(kBackgroundImage, BackgroundImage, Picture, Picture, Common),
    ZRQ_PROP(kCaption, Caption, String, std::string, Redraw),
};
#undef ZRQ_PROP

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

const PropInfo& require(int dispid) {
  const PropInfo* info = findProperty(dispid);
  if (!info) throw MeterError("unknown property identifier " + std::to_string(dispid));
  return *info;
}

const PropInfo& require(std::string_view name) {
  const PropInfo* info = findProperty(name);
  if (!info) throw MeterError("unknown property \"" + std::string(name) + "\"");
  return *info;
}

// A band start outside the scale moves to its nearer end; NaN stays NaN.
void clampStart(double& s, double lo, double hi) {
  if (!(s >= lo)) s = lo;
  if (s > hi) s = hi;
}

}  // namespace

const std::vector<PropInfo>& propertyTable() { return kTable; }

const PropInfo* findProperty(int dispid) {
  for (const PropInfo& p : kTable)
    if (p.dispid == dispid) return &p;
  return nullptr;
}

const PropInfo* findProperty(std::string_view name) {
  for (const PropInfo& p : kTable)
    if (sameName(p.name, name)) return &p;
  return nullptr;
}

PropValue MeterModel::get(int dispid) const { return require(dispid).get(p_); }
PropValue MeterModel::get(std::string_view name) const { return require(name).get(p_); }

void MeterModel::set(int dispid, const PropValue& v) {
  const PropInfo& info = require(dispid);
  if (static_cast<size_t>(info.type) != v.index())
    throw MeterError(std::string("wrong value type for ") + info.name);
  // The stored font keeps its name behind a one-byte length.
  if (const FontDesc* f = std::get_if<FontDesc>(&v); f && f->name.size() > 255)
    throw MeterError(std::string("font name of ") + info.name + " longer than 255 characters");
  info.set(p_, v);
  notify(info.dispid, info.onChange);
}

void MeterModel::set(std::string_view name, const PropValue& v) { set(require(name).dispid, v); }

void MeterModel::stepIt() {
  p_.Value = p_.Value + p_.StepValue;
  commonNotification(kValue);
}

void MeterModel::reset() { replaceAll(MeterProps{}); }

void MeterModel::replaceAll(const MeterProps& p) {
  p_ = p;
  geometryDirty_ = true;
  modified_ = false;
  if (onInvalidate) onInvalidate(0);
}

void MeterModel::setDesignMode(bool on) {
  designMode_ = on;
  if (onInvalidate) onInvalidate(kValue);
}

void MeterModel::beginPaint() {
  // Not a property write: no notification, or every paint would ask for another.
  if (designMode_) p_.Value = p_.MinimumValue;
}

void MeterModel::notify(int dispid, OnChange how) {
  switch (how) {
    case OnChange::Geometry:
      geometryDirty_ = true;
      commonNotification(dispid);
      break;
    case OnChange::Common:
      commonNotification(dispid);
      break;
    case OnChange::Redraw:
      modified_ = true;
      if (onInvalidate) onInvalidate(dispid);
      break;
  }
}

void MeterModel::commonNotification(int dispid) {
  const double lo = p_.MinimumValue, hi = p_.MaximumValue;
  const double g = p_.GreenStartValue, y = p_.YellowStartValue, r = p_.RedStartValue;
  clampStart(p_.GreenStartValue, lo, hi);
  clampStart(p_.YellowStartValue, lo, hi);
  clampStart(p_.RedStartValue, lo, hi);
  // A moved band start changes the drawn scale like any geometry write.
  auto moved = [](double a, double b) { return !(a == b) && !(std::isnan(a) && std::isnan(b)); };
  if (moved(g, p_.GreenStartValue) || moved(y, p_.YellowStartValue) || moved(r, p_.RedStartValue))
    geometryDirty_ = true;
  if (onInvalidate) onInvalidate(dispid);
  modified_ = true;
}

int32_t pixelsToHimetric(int pixels) {
  return static_cast<int32_t>(std::lround(pixels * 2540.0 / 96.0));
}

int himetricToPixels(int32_t himetric) {
  return static_cast<int>(std::lround(himetric * 96.0 / 2540.0));
}

}  // namespace zrq::meter
