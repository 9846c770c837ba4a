// The meter control's object model, free of Qt: the property table by
// dispatch identifier, the stored values, reads and writes through the table,
// StepIt, the reset of a fresh instance and the change notifications.
//
// Every write goes through MeterModel::set (or a typed setter that calls it):
// the value is stored, a geometry property marks the geometry dirty, then the
// common notification clamps the band starts, asks for a repaint through the
// invalidate callback and marks the model modified. Reads never change state.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zrq::meter {

// An OLE colour, 0x00BBGGRR; a high byte of 0x80 names a system colour.
struct OleColor {
  uint32_t value = 0;
  friend bool operator==(OleColor, OleColor) = default;
};

// A font as the standard font object keeps it; bold lives in the weight.
struct FontDesc {
  std::string name;
  uint32_t size = 0;  // 1/10000 point
  int16_t weight = 400;
  int16_t charset = 0;
  bool italic = false;
  bool underline = false;
  bool strikeout = false;
  double points() const { return size / 10000.0; }
  friend bool operator==(const FontDesc&, const FontDesc&) = default;
};

// A picture as the bytes of its image file; empty means no picture.
struct Picture {
  std::vector<uint8_t> data;
  bool empty() const { return data.empty(); }
  friend bool operator==(const Picture&, const Picture&) = default;
};

enum class PropType { Double, Short, Color, String, Font, Picture };
using PropValue = std::variant<double, int16_t, OleColor, std::string, FontDesc, Picture>;

// What a write runs after storing the value.
enum class OnChange { Geometry, Common, Redraw };

// Dispatch identifiers.
enum Dispid : int {
  kShadedAreaRelativeSize = 1,
  kScaledCircleRelativeDiameter = 2,
  kScaledCircleRelativeShifting = 3,
  kVisibleScaleRelativeSize = 4,
  kScaleRelativeWidth = 5,
  kScaleThickLineWidth = 6,
  kScaleThinLineWidth = 7,
  kScaleColor = 8,
  kNumberOfDivisions = 9,
  kMinimumValue = 10,
  kMaximumValue = 11,
  kStepValue = 12,
  kValue = 13,
  kIndexThickness = 14,
  kIndexColor = 15,
  kValueFormatString = 16,
  kBottomCoverRelativeHeight = 17,
  kBottomCoverColor = 18,
  kBottomCoverTextColor = 19,
  kInstrumentBackGroundColor = 20,
  kRelativeIndexLength = 21,
  kRelativeTextRadius = 22,
  kNumberOfSubdivisions = 23,
  kGreenStartValue = 24,
  kYellowStartValue = 25,
  kRedStartValue = 26,
  kGreenColor = 27,
  kYellowColor = 28,
  kRedColor = 29,
  kSmallScaleFont = 30,
  kBottomCoverLabelFont = 31,
  kBackgroundImage = 32,
  kStepIt = 33,
  kCaption = -518,
  kAboutBox = -552,
};

// The stored properties, plain fields named as the automation names them.
struct MeterProps {
  double ShadedAreaRelativeSize = 0.1;
  double ScaledCircleRelativeDiameter = 1.2;
  double ScaledCircleRelativeShifting = 0.2;
  double VisibleScaleRelativeSize = 1.2;
  double ScaleRelativeWidth = 0.06;
  int16_t ScaleThickLineWidth = 2;
  int16_t ScaleThinLineWidth = 1;
  OleColor ScaleColor{0x000000};
  int16_t NumberOfDivisions = 10;
  double MinimumValue = 1e-13;
  double MaximumValue = 100;
  double StepValue = 1;
  double Value = 0;
  int16_t IndexThickness = 1;
  OleColor IndexColor{0x0000FF};
  std::string ValueFormatString = "%.1f";
  double BottomCoverRelativeHeight = 0.2;
  OleColor BottomCoverColor{0x000000};
  OleColor BottomCoverTextColor{0xFFFFFF};
  OleColor InstrumentBackGroundColor{0xCFFFFF};
  double RelativeIndexLength = 1.1;
  double RelativeTextRadius = 0.96;
  int16_t NumberOfSubdivisions = 2;
  double GreenStartValue = 60;
  double YellowStartValue = 75;
  double RedStartValue = 90;
  OleColor GreenColor{0x00FF00};
  OleColor YellowColor{0x00FFFF};
  OleColor RedColor{0x0000FF};
  FontDesc SmallScaleFont{"Arial", 60000, 700, 0, false, false, false};
  FontDesc BottomCoverLabelFont{"MS Sans Serif", 120000, 700, 0, false, false, false};
  Picture BackgroundImage;
  std::string Caption;
  friend bool operator==(const MeterProps&, const MeterProps&) = default;
};

struct PropInfo {
  int dispid;
  const char* name;
  PropType type;
  OnChange onChange;
  PropValue (*get)(const MeterProps&);
  void (*set)(MeterProps&, const PropValue&);
};

// Properties 1 to 32 in identifier order, then Caption.
const std::vector<PropInfo>& propertyTable();
// nullptr for an unknown identifier or name (names compare case-insensitively).
const PropInfo* findProperty(int dispid);
const PropInfo* findProperty(std::string_view name);

class MeterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Default extent: 100 x 50 pixels at 96 dpi, in HIMETRIC.
inline constexpr int32_t kDefaultExtentX = 2646;
inline constexpr int32_t kDefaultExtentY = 1323;

class MeterModel {
 public:
  MeterModel() = default;

  const MeterProps& props() const { return p_; }

  // Throws MeterError for an unknown identifier or name, or a value of the wrong type.
  PropValue get(int dispid) const;
  PropValue get(std::string_view name) const;
  void set(int dispid, const PropValue& v);
  void set(std::string_view name, const PropValue& v);

  void setValue(double v) { set(kValue, v); }
  double value() const { return p_.Value; }

  // Value += StepValue, then the common notification; no clamp, no wrap.
  void stepIt();
  // Every property back to its default, picture emptied.
  void reset();
  // Replaces every property at once, as a load does: geometry dirty,
  // repaint asked, not modified, no band clamp.
  void replaceAll(const MeterProps& p);

  bool geometryDirty() const { return geometryDirty_; }
  void clearGeometryDirty() { geometryDirty_ = false; }
  bool modified() const { return modified_; }
  void setModified(bool m) { modified_ = m; }

  // Design mode (the container's user mode off): every paint rests the needle at the minimum.
  bool designMode() const { return designMode_; }
  void setDesignMode(bool on);
  // Called at the start of every paint.
  void beginPaint();

  int32_t extentX() const { return extentX_; }
  int32_t extentY() const { return extentY_; }
  void setExtent(int32_t x, int32_t y) {
    extentX_ = x;
    extentY_ = y;
  }

  // Asked for a repaint; the argument is the identifier that changed (0: all).
  std::function<void(int dispid)> onInvalidate;

 private:
  void notify(int dispid, OnChange how);
  void commonNotification(int dispid);

  MeterProps p_;
  bool geometryDirty_ = true;
  bool modified_ = false;
  bool designMode_ = false;
  int32_t extentX_ = kDefaultExtentX;
  int32_t extentY_ = kDefaultExtentY;
};

// HIMETRIC and pixels at 96 dpi, rounded to the nearest.
int32_t pixelsToHimetric(int pixels);
int himetricToPixels(int32_t himetric);

}  // namespace zrq::meter
