// The log set-up dialog: when the CSV log writes a record. Created once and
// kept; its controls are the stored settings, which the log writer reads at
// every display tick through settings().
#pragma once

#include <QDialog>
#include <functional>

#include "core/LogSettings.h"
#include "core/MeasType.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TfrmLogFreq : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmLogFreq(QWidget* parent = nullptr);

  // What the dialog reads from and gives to the main window. Unset: the
  // type counts as Average, the full scale as 150 W, and OK stores nothing.
  std::function<zrq::core::MeasType()> measTypeSource;
  std::function<double()> fwdFullScaleSource;
  std::function<void(int ticks)> storeIntervalTicks;

  QGroupBox* rgrpTime;
  QSpinBox* cspinLogSampleTime;
  QGroupBox* triggerRadioGroup;
  QGroupBox* eventRadioGroup;
  QLineEdit* forwardLimit;
  QLineEdit* reflectedLimit;
  QLineEdit* peakLimit;
  QLineEdit* burstLimit;
  QLabel* fwdTriggerLimit;
  QLabel* rflTriggerLimit;
  QLabel* peakTriggerLimit;
  QLabel* burstTriggerLimit;
  QPushButton* btnOK;
  QPushButton* btnCancel;

  // The settings as the controls hold them now.
  zrq::core::LogSettings settings() const;
  // Sample time in 500 ms ticks.
  int intervalTicks() const;

  int timeIndex() const;
  int triggerIndex() const;
  int eventIndex() const;
  // As if the user clicked the item (the click handlers run; -1 is ignored).
  void clickTime(int index);
  void clickTrigger(int index);
  void clickEvent(int index);
  // Sets the sample time through the range check.
  void setSampleTime(int value);

  // Handlers.
  void eventRadioGroupClick();
  void triggerRadioGroupClick();
  void limitChange(QLineEdit* edit);
  // Converts the edit's text; false (after the error box) when it is not a number.
  bool limitExit(QLineEdit* edit);
  // A key typed into a limit edit, before the edit takes it. True: eaten.
  bool limitKeyPress(QLineEdit* edit, int key, const QString& text);
  void cspinLogSampleTimeChange(int value);
  void btnOKClick();
  void btnCancelClick();
  // Shows the limit of the chosen trigger and the sample-time controls as
  // the chosen event needs them.
  void applyVisibility();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  zrq::core::LogTrigger triggerOf(const QLineEdit* edit) const;
  QLineEdit* limitEdit(int trigger) const;
  QLabel* limitLabel(int trigger) const;
  void markRange(QLineEdit* edit, double watts);
  double fwdFullScale() const;

  QButtonGroup* timeItems_;
  QButtonGroup* triggerItems_;
  QButtonGroup* eventItems_;
  // The trigger in force before the latest click, put back when Burst is refused.
  int rememberedTrigger_ = 0;
};

extern TfrmLogFreq* frmLogFreq;
