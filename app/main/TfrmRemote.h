// The "Remote Control..." dialog: whether ZRQ answers SCPI commands, on which
// port, and from this computer only or from the network. The choice is
// remembered for the next start.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QRadioButton;
class QSpinBox;
class QDialogButtonBox;

namespace zrq::app {
class RemoteControl;
}

class TfrmRemote : public QDialog {
  Q_OBJECT

 public:
  TfrmRemote(zrq::app::RemoteControl& remote, QWidget* parent = nullptr);

  QCheckBox* chkEnabled;
  QSpinBox* spnPort;
  QRadioButton *rbLocal, *rbNetwork;
  QLabel* lblStatus;
  QDialogButtonBox* buttons;

  // OK: starts or stops listening and saves the choice; stays open with the
  // reason when the port cannot be opened.
  void okClick();

 private:
  void showStatus();
  zrq::app::RemoteControl& remote_;
};
