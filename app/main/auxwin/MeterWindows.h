// The forward and reflected meter windows: one meter each, fed by the main
// window's display update through the meter peers.
#pragma once

#include <QWidget>

#include "PanelPeers.h"
#include "core/MeterScale.h"

namespace Dialixhqlib_tlb {
class TDialixHQ;
}
namespace zrq::core {
struct InstrumentState;
}

// What the two meter windows share: creation from the stored state, scaling
// and writing a list of properties to the meter.
class TMeterWindow : public QWidget {
  Q_OBJECT

 public:
  Dialixhqlib_tlb::TDialixHQ* DialixHQ1 = nullptr;

  // Writes each property whose value differs, in the list's order: a write
  // of an unchanged value would only repaint the meter.
  void applyWrites(const zrq::core::MeterWrites& writes);

  bool isShown() const { return isVisible(); }
  void showWindow() { show(); }
  void hideWindow() { hide(); }

 protected:
  TMeterWindow(QWidget* owner, const char* name, const char* caption, QPoint designPos,
               const char* controlData);
  void FormCreate();
  void showMeter();
};

class TfrmMeter : public TMeterWindow, public zrq::app::ForwardMeterPeer {
  Q_OBJECT

 public:
  explicit TfrmMeter(QWidget* owner = nullptr);

  bool isShown() const override { return TMeterWindow::isShown(); }
  void showWindow() override { TMeterWindow::showWindow(); }
  void hideWindow() override { TMeterWindow::hideWindow(); }
  void updateForward(zrq::core::MeasType type, double value, zrq::core::PowerUnit unit) override;
};

class TfrmRflMeter : public TMeterWindow, public zrq::app::ReflectedMeterPeer {
  Q_OBJECT

 public:
  // state gives rflFullScale, the scale of the unit None; may be null (15 W).
  explicit TfrmRflMeter(const zrq::core::InstrumentState* state, QWidget* owner = nullptr);

  bool isShown() const override { return TMeterWindow::isShown(); }
  void showWindow() override { TMeterWindow::showWindow(); }
  void hideWindow() override { TMeterWindow::hideWindow(); }
  void setValue(double v) override;
  void updateReflected(zrq::core::PowerUnit unit, bool mayShow) override;
  void setScale(const std::string& caption, double min, double max,
                const std::string& valueFormat) override;

 private:
  const zrq::core::InstrumentState* state_;
  double value_ = 0;
};

extern TfrmMeter* frmMeter;
extern TfrmRflMeter* frmRflMeter;
