#include "TfrmRemote.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "RemoteControl.h"

using zrq::app::RemoteChoice;

TfrmRemote::TfrmRemote(zrq::app::RemoteControl& remote, QWidget* parent)
    : QDialog(parent), remote_(remote) {
  setObjectName("frmRemote");
  setWindowTitle("Remote Control");
  const RemoteChoice c = zrq::app::loadRemoteChoice();

  chkEnabled = new QCheckBox("Answer SCPI commands over TCP", this);
  chkEnabled->setObjectName("chkEnabled");
  chkEnabled->setChecked(remote.listening());
  spnPort = new QSpinBox(this);
  spnPort->setObjectName("spnPort");
  spnPort->setRange(1, 65535);
  spnPort->setValue(remote.listening() && remote.port() > 0 ? remote.port() : c.port);
  rbLocal = new QRadioButton("This computer only (127.0.0.1)", this);
  rbLocal->setObjectName("rbLocal");
  rbNetwork = new QRadioButton(
      "The network: anyone who can reach this computer can\n"
      "change the settings and start a zero calibration",
      this);
  rbNetwork->setObjectName("rbNetwork");
  const bool network = remote.listening() ? remote.address().host != "127.0.0.1" : c.network;
  (network ? rbNetwork : rbLocal)->setChecked(true);
  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setWordWrap(true);
  buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  auto* form = new QFormLayout;
  form->addRow("Port:", spnPort);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(chkEnabled);
  layout->addLayout(form);
  layout->addWidget(rbLocal);
  layout->addWidget(rbNetwork);
  layout->addWidget(lblStatus);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TfrmRemote::okClick);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(&remote_, &zrq::app::RemoteControl::clientsChanged, this, &TfrmRemote::showStatus);
  showStatus();
}

void TfrmRemote::showStatus() {
  if (!remote_.listening()) {
    lblStatus->setText("Off: no script can reach ZRQ.");
    return;
  }
  const int n = remote_.clients();
  lblStatus->setText(
      QStringLiteral("Listening on %1:%2; %3 connected.")
          .arg(QString::fromStdString(remote_.address().host))
          .arg(remote_.port())
          .arg(n == 1 ? QStringLiteral("1 client") : QStringLiteral("%1 clients").arg(n)));
}

void TfrmRemote::okClick() {
  RemoteChoice c;
  c.enabled = chkEnabled->isChecked();
  c.network = rbNetwork->isChecked();
  c.port = spnPort->value();
  if (!c.enabled) {
    remote_.close();
  } else {
    const zrq::remote::ListenAddress at = c.address();
    const bool same =
        remote_.listening() && remote_.address().host == at.host && remote_.port() == at.port;
    std::string why;
    if (!same && !remote_.listen(at, &why)) {
      lblStatus->setText(QStringLiteral("Port %1 cannot be opened: %2")
                             .arg(c.port)
                             .arg(QString::fromStdString(why)));
      return;
    }
  }
  zrq::app::saveRemoteChoice(c);
  accept();
}
