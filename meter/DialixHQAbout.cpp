#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialixHQCtrl.h"

QDialog* CDialixHQCtrl::createAboutBox(QWidget* parent) {
  auto* box = new QDialog(parent);
  box->setObjectName(QStringLiteral("DialixHQAboutBox"));
  box->setWindowTitle(QStringLiteral("About DialixHQ"));
  box->setModal(true);
  auto* layout = new QVBoxLayout(box);
  auto* name = new QLabel(QStringLiteral("DialixHQ Control"), box);
  name->setObjectName(QStringLiteral("productName"));
  auto* version = new QLabel(QStringLiteral("Version 1.0"), box);
  version->setObjectName(QStringLiteral("version"));
  auto* buttons = new QDialogButtonBox(box);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
  layout->addWidget(name);
  layout->addWidget(version);
  layout->addWidget(buttons);
  return box;
}

void CDialixHQCtrl::AboutBox() {
  QDialog* box = createAboutBox(this);
  box->exec();
  delete box;
}
