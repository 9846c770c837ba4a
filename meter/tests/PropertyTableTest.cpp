#include <gtest/gtest.h>

#include <cmath>

#include "MeterProperties.h"

using namespace zrq::meter;

TEST(MeterProperties, TableListsEveryPropertyWithItsTypeAndDefault) {
  struct Row {
    int id;
    const char* name;
    PropValue def;
    bool geometry;
  };
  const std::vector<Row> rows = {
      {1, "ShadedAreaRelativeSize", 0.1, true},
      {2, "ScaledCircleRelativeDiameter", 1.2, true},
      {3, "ScaledCircleRelativeShifting", 0.2, true},
      {4, "VisibleScaleRelativeSize", 1.2, true},
      {5, "ScaleRelativeWidth", 0.06, true},
      {6, "ScaleThickLineWidth", int16_t(2), true},
      {7, "ScaleThinLineWidth", int16_t(1), true},
      {8, "ScaleColor", OleColor{0}, true},
      {9, "NumberOfDivisions", int16_t(10), true},
      {10, "MinimumValue", 1e-13, true},
      {11, "MaximumValue", 100.0, true},
      {12, "StepValue", 1.0, true},
      {13, "Value", 0.0, false},
      {14, "IndexThickness", int16_t(1), false},
      {15, "IndexColor", OleColor{0x0000FF}, false},
      {16, "ValueFormatString", std::string("%.1f"), true},
      {17, "BottomCoverRelativeHeight", 0.2, true},
      {18, "BottomCoverColor", OleColor{0}, false},
      {19, "BottomCoverTextColor", OleColor{0xFFFFFF}, false},
      {20, "InstrumentBackGroundColor", OleColor{0xCFFFFF}, false},
      {21, "RelativeIndexLength", 1.1, true},
      {22, "RelativeTextRadius", 0.96, true},
      {23, "NumberOfSubdivisions", int16_t(2), true},
      {24, "GreenStartValue", 60.0, true},
      {25, "YellowStartValue", 75.0, true},
      {26, "RedStartValue", 90.0, true},
      {27, "GreenColor", OleColor{0x00FF00}, false},
      {28, "YellowColor", OleColor{0x00FFFF}, false},
      {29, "RedColor", OleColor{0x0000FF}, false},
      {30, "SmallScaleFont", FontDesc{"Arial", 60000, 700, 0, false, false, false}, false},
      {31, "BottomCoverLabelFont", FontDesc{"MS Sans Serif", 120000, 700, 0, false, false, false},
       false},
      {32, "BackgroundImage", Picture{}, false},
      {-518, "Caption", std::string(), false},
  };
  ASSERT_EQ(propertyTable().size(), rows.size());
  const MeterModel m;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(r.name);
    const PropInfo& info = propertyTable()[i];
    EXPECT_EQ(info.dispid, r.id);
    EXPECT_STREQ(info.name, r.name);
    EXPECT_EQ(static_cast<size_t>(info.type), r.def.index());
    EXPECT_EQ(m.get(r.id), r.def);
    EXPECT_EQ(m.get(r.name), r.def);
    EXPECT_EQ(info.onChange == OnChange::Geometry, r.geometry);
  }
}

TEST(MeterProperties, ReadsAfterWritesByNameAndByIdentifier) {
  MeterModel m;
  m.set("MaximumValue", 150.0);
  EXPECT_EQ(std::get<double>(m.get(kMaximumValue)), 150.0);
  m.set(kValueFormatString, std::string("%.0f"));
  EXPECT_EQ(std::get<std::string>(m.get("valueformatstring")), "%.0f");
  m.set("INDEXCOLOR", OleColor{0x123456});
  EXPECT_EQ(std::get<OleColor>(m.get(15)).value, 0x123456u);
  m.set(kNumberOfDivisions, int16_t(-3));
  EXPECT_EQ(std::get<int16_t>(m.get("NumberOfDivisions")), -3);
  m.set(kCaption, std::string("Average Power"));
  EXPECT_EQ(std::get<std::string>(m.get("Caption")), "Average Power");
  m.set(kBackgroundImage, Picture{{9, 8}});
  EXPECT_EQ(std::get<Picture>(m.get("BackgroundImage")).data.size(), 2u);
}

TEST(MeterProperties, BadIdentifiersNamesAndTypesAreRefused) {
  MeterModel m;
  EXPECT_THROW(m.get(0), MeterError);
  EXPECT_THROW(m.get(33), MeterError);  // StepIt is a method
  EXPECT_THROW(m.get("Valu"), MeterError);
  EXPECT_THROW(m.set(kValue, int16_t(3)), MeterError);
  EXPECT_THROW(m.set(kNumberOfDivisions, 3.0), MeterError);
  EXPECT_THROW(m.set("Nope", 1.0), MeterError);
  EXPECT_THROW(
      m.set(kSmallScaleFont, FontDesc{std::string(256, 'f'), 60000, 700, 0, false, false, false}),
      MeterError);
  EXPECT_EQ(m.props(), MeterProps{});
  EXPECT_FALSE(m.modified());
}

TEST(MeterProperties, BandStartsAreClampedIntoTheScale) {
  MeterModel m;
  m.set(kMinimumValue, 70.0);
  EXPECT_EQ(m.props().GreenStartValue, 70);
  EXPECT_EQ(m.props().YellowStartValue, 75);
  EXPECT_EQ(m.props().RedStartValue, 90);

  MeterModel n;
  n.set(kMaximumValue, 50.0);
  EXPECT_EQ(n.props().GreenStartValue, 50);
  EXPECT_EQ(n.props().YellowStartValue, 50);
  EXPECT_EQ(n.props().RedStartValue, 50);

  // Any write runs the clamp, also one that is not a scale property.
  MeterModel k;
  k.set(kGreenStartValue, -5.0);
  EXPECT_EQ(k.props().GreenStartValue, 1e-13);
  k.set(kRedStartValue, 500.0);
  EXPECT_EQ(k.props().RedStartValue, 100);
}

TEST(MeterProperties, StepItAddsTheStepWithoutClamping) {
  MeterModel m;
  m.setValue(99.5);
  m.setModified(false);
  int repaints = 0;
  m.onInvalidate = [&](int) { ++repaints; };
  m.stepIt();
  EXPECT_EQ(m.value(), 100.5);
  EXPECT_EQ(repaints, 1);
  EXPECT_TRUE(m.modified());
  m.set(kStepValue, -250.0);
  m.stepIt();
  EXPECT_EQ(m.value(), -149.5);
}

TEST(MeterProperties, GeometryWritesMarkTheGeometryCommonOnesOnlyRepaint) {
  for (const PropInfo& info : propertyTable()) {
    SCOPED_TRACE(info.name);
    MeterModel m;
    m.clearGeometryDirty();
    std::vector<int> repaints;
    m.onInvalidate = [&](int id) { repaints.push_back(id); };
    m.set(info.dispid, info.get(MeterProps{}));  // the default again: no band moves
    EXPECT_EQ(m.geometryDirty(), info.onChange == OnChange::Geometry);
    EXPECT_EQ(repaints, std::vector<int>{info.dispid});
    EXPECT_TRUE(m.modified());
  }
}

TEST(MeterProperties, ResetGivesAFreshInstanceBack) {
  MeterModel m;
  m.set(kBackgroundImage, Picture{{1}});
  m.set(kMinimumValue, 80.0);
  m.set(kSmallScaleFont, FontDesc{"Courier", 10000, 400, 0, false, false, false});
  m.set(kCaption, std::string("x"));
  m.clearGeometryDirty();
  m.reset();
  EXPECT_EQ(m.props(), MeterProps{});
  EXPECT_TRUE(m.props().BackgroundImage.empty());
  EXPECT_EQ(std::get<std::string>(m.get(kValueFormatString)), "%.1f");
  EXPECT_EQ(std::get<OleColor>(m.get(kInstrumentBackGroundColor)).value, 0xCFFFFFu);
  EXPECT_EQ(std::get<double>(m.get(kMinimumValue)), 1e-13);
  EXPECT_TRUE(m.geometryDirty());
  EXPECT_FALSE(m.modified());
}

TEST(MeterProperties, DesignModeRestsTheValueAtTheMinimumOnEveryPaint) {
  MeterModel m;
  m.set(kMinimumValue, 5.0);
  m.setValue(42);
  m.beginPaint();
  EXPECT_EQ(m.value(), 42);
  m.setDesignMode(true);
  m.setModified(false);
  m.beginPaint();
  EXPECT_EQ(m.value(), 5);
  EXPECT_FALSE(m.modified());  // not a property write
  m.setValue(60);
  m.beginPaint();
  EXPECT_EQ(m.value(), 5);
}

TEST(MeterProperties, ExtentConvertsAt96Dpi) {
  EXPECT_EQ(pixelsToHimetric(234), 6191);
  EXPECT_EQ(pixelsToHimetric(155), 4101);
  EXPECT_EQ(himetricToPixels(6191), 234);
  EXPECT_EQ(himetricToPixels(4101), 155);
}
