#include "TfrmFilterValue.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "TfrmMain.h"
#include "frame/Fonts.h"
#include "frame/Scaling.h"

TfrmFilterValue* frmFilterValue = nullptr;

namespace {
constexpr int kBorder = 5;
}

TfrmFilterValue::TfrmFilterValue(TfrmMain* main, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      main_(main) {
  setObjectName("frmFilterValue");
  setWindowTitle("Select");
  setModal(false);
  setFont(zrq::frame::designFont("Arial", 8));

  RadioGroup1 = new QGroupBox("Select Filter Value", this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setFont(zrq::frame::designFont("Arial", 9));
  RadioGroup1->setGeometry(kBorder, kBorder, 123, 123);
  items_ = new QButtonGroup(this);
  int y = 26;
  for (const char* text : {"4.5 KHz", "400 KHz", "Full"}) {
    auto* b = new QRadioButton(QString::fromLatin1(text), RadioGroup1);
    b->setFont(zrq::frame::designFont("Arial", 9));
    b->setGeometry(10, y, 105, 22);
    items_->addButton(b, items_->buttons().size());
    y += 30;
  }
  setItemIndex(0);

  btnAboutOK = new QPushButton("OK", this);
  btnAboutOK->setObjectName("btnAboutOK");
  btnAboutOK->setGeometry(kBorder, kBorder + 123 + 6, 123, 23);
  btnAboutOK->setDefault(true);
  connect(btnAboutOK, &QPushButton::clicked, this, &TfrmFilterValue::btnAboutOKClick);

  // FormCreate: scale the controls, then the window by the same factor.
  const double f = zrq::frame::screenScale();
  zrq::frame::scaleChildren(this, f);
  const int w = 123 + 2 * kBorder, h = 123 + 6 + 23 + 2 * kBorder;
  setFixedSize(static_cast<int>(w * f), static_cast<int>(h * f));
}

void TfrmFilterValue::showEvent(QShowEvent* event) {
  // A script may have changed the filter since the dialog was last closed.
  const float hz = main_->state.filterHz;
  setItemIndex(hz == 400 ? 1 : hz == 10000 ? 2 : 0);
  // Centred on the desktop, not on the main window.
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}

int TfrmFilterValue::itemIndex() const { return items_->checkedId(); }

void TfrmFilterValue::setItemIndex(int index) {
  if (QAbstractButton* b = items_->button(index)) {
    b->setChecked(true);
    return;
  }
  // A radio group may have nothing selected; Qt needs exclusivity lifted for that.
  items_->setExclusive(false);
  for (QAbstractButton* b : items_->buttons()) b->setChecked(false);
  items_->setExclusive(true);
}

void TfrmFilterValue::btnAboutOKClick() {
  if (QAbstractButton* b = items_->checkedButton()) {
    const QString text = b->text();
    if (text == "4.5 KHz")
      main_->state.filterHz = 4500;
    else if (text == "400 KHz")
      main_->state.filterHz = 400;
    else if (text == "Full")
      main_->state.filterHz = 10000;
  }
  main_->state.settingsChanged = true;
  hide();
}
