// The filter dialog: picks the sensor's video filter. Not modal; the main
// window's Filter button shows and hides it.
#pragma once

#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;
class TfrmMain;

class TfrmFilterValue : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmFilterValue(TfrmMain* main, QWidget* parent = nullptr);

  QGroupBox* RadioGroup1;
  QPushButton* btnAboutOK;

  // Index of the checked item, -1 when none is.
  int itemIndex() const;
  void setItemIndex(int index);
  void btnAboutOKClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TfrmMain* main_;
  QButtonGroup* items_;
};

extern TfrmFilterValue* frmFilterValue;
