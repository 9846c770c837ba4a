#include <gtest/gtest.h>

#include <QApplication>
#include <vector>

#include "QtTestApp.h"
#include "DIALIXHQLib_OCX.h"
#include "DialixHQCtrl.h"
#include "DialixHQFactory.h"

using Dialixhqlib_tlb::TDialixHQ;
namespace m = zrq::meter;

namespace {

using zrq::test::qt::ensureApplication;

class Wrapper : public ::testing::Test {
 protected:
  void SetUp() override { ensureApplication(); }
};

}  // namespace

// Each typed accessor reaches the control's property of its own identifier:
// a swapped binding would show up as a value under another name.
TEST_F(Wrapper, AccessorsReachTheirDispatchIdentifiers) {
  TDialixHQ w;
  w.setMaximumValue(300);
  w.setMinimumValue(-100);
  w.setValue(42.5);
  w.setValueFormatString("%.2f");
  w.setCaption("Forward Power In W");
  w.setNumberOfDivisions(5);
  w.setIndexColor(m::OleColor{0x00FF00});
  w.setRelativeTextRadius(0.9);
  m::FontDesc f = w.SmallScaleFont();
  f.size = 90000;
  w.setSmallScaleFont(f);

  CDialixHQCtrl* c = w.GetDefaultInterface();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::get<double>(c->getProp("MaximumValue")), 300);
  EXPECT_EQ(std::get<double>(c->getProp("MinimumValue")), -100);
  EXPECT_EQ(std::get<double>(c->getProp("Value")), 42.5);
  EXPECT_EQ(std::get<std::string>(c->getProp("ValueFormatString")), "%.2f");
  EXPECT_EQ(std::get<std::string>(c->getProp("Caption")), "Forward Power In W");
  EXPECT_EQ(std::get<int16_t>(c->getProp("NumberOfDivisions")), 5);
  EXPECT_EQ(std::get<m::OleColor>(c->getProp("IndexColor")).value, 0x00FF00u);
  EXPECT_EQ(std::get<double>(c->getProp("RelativeTextRadius")), 0.9);
  EXPECT_EQ(std::get<m::FontDesc>(c->getProp("SmallScaleFont")).size, 90000u);
  EXPECT_EQ(w.Caption(), "Forward Power In W");
  EXPECT_EQ(w.MaximumValue(), 300);
}

TEST_F(Wrapper, StepItAddsTheStepThroughTheControl) {
  TDialixHQ w;
  w.setValue(10);
  w.setStepValue(2.5);
  w.StepIt();
  w.StepIt();
  EXPECT_DOUBLE_EQ(w.Value(), 15);
}

TEST_F(Wrapper, ControlDataReplacesTheWholeStateAndBadBytesChangeNothing) {
  TDialixHQ a;
  a.setCaption("Rho");
  a.setMaximumValue(1);
  a.setRelativeTextRadius(0.94);
  const std::vector<uint8_t> bytes = a.controlData();

  TDialixHQ b;
  b.setControlData(bytes);
  EXPECT_EQ(b.Caption(), "Rho");
  EXPECT_EQ(b.MaximumValue(), 1);
  EXPECT_EQ(b.RelativeTextRadius(), 0.94);

  const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() / 2);
  EXPECT_ANY_THROW(b.setControlData(cut));
  EXPECT_EQ(b.Caption(), "Rho");
}

TEST_F(Wrapper, ControlFillsTheComponent) {
  TDialixHQ w;
  w.resize(300, 200);
  w.show();  // a hidden widget gets its resize events when shown
  CDialixHQCtrl* c = w.GetDefaultInterface();
  EXPECT_EQ(c->QWidget::geometry(), QRect(0, 0, 300, 200));
  w.resize(234, 155);
  EXPECT_EQ(c->QWidget::geometry(), QRect(0, 0, 234, 155));
}

TEST_F(Wrapper, ObserverSeesWritesInOrder) {
  TDialixHQ w;
  std::vector<int> seen;
  w.setWriteObserver([&](int id) { seen.push_back(id); });
  w.setValue(1);
  w.setCaption("x");
  w.setMaximumValue(5);
  EXPECT_EQ(seen, (std::vector<int>{m::kValue, m::kCaption, m::kMaximumValue}));
}

// Without a registered class there is no default interface to bind.
TEST_F(Wrapper, UnregisteredControlFailsTheDefaultDispatchAssertion) {
  ASSERT_EQ(DllUnregisterServer(), m::kSOk);
  TDialixHQ w;
  try {
    w.CreateControl();
    ADD_FAILURE() << "no assertion";
  } catch (const Dialixhqlib_tlb::AssertionFailed& e) {
    EXPECT_EQ(e.condition(), "DefaultDispatch");
    EXPECT_NE(std::string(e.what()).find("DIALIXHQLib_OCX"), std::string::npos);
  }
  ASSERT_EQ(DllRegisterServer(), m::kSOk);
  w.CreateControl();
  EXPECT_NE(w.GetDefaultInterface(), nullptr);
}
