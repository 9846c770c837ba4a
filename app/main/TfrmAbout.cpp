#include "TfrmAbout.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "frame/Fonts.h"
#include "frame/Scaling.h"
#include "frame/Version.h"

TfrmAbout* frmAbout = nullptr;

namespace {
constexpr int kBorder = 5;
constexpr int kWidth = 330;
constexpr int kHeight = 182;
}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("frmAbout");
  setWindowTitle("7730  ZRQ");
  const QFont font = zrq::frame::designFont("Arial", 10);

  auto label = [&](const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->move(x, y);
    l->adjustSize();
    return l;
  };
  lblVersion = label("lblVersion", "Version: X.X.X.X", kBorder + 4, kBorder + 4);
  lblDate = label("lblDate", "XX/XX/XXXX", kWidth - kBorder - 90, kBorder + 4);
  lblDate->setFixedWidth(86);
  lblDate->setAlignment(Qt::AlignRight);
  lbl7730 = label("lbl7730", "7730 Firmware Version: X.XX", kBorder + 4, kBorder + 24);
  lbl7730->setFixedWidth(kWidth - 2 * kBorder - 8);
  lbl7730->hide();
  for (int i = 0; i < 5; ++i) {
    lblLegal[i] = label(("lblLegal" + std::to_string(i + 1)).c_str(),
                        QString::fromLatin1(zrq::frame::kLegalLines[i]), kBorder + 4,
                        kBorder + 52 + 17 * i);
  }

  btnAboutOK = new QPushButton("OK", this);
  btnAboutOK->setObjectName("btnAboutOK");
  btnAboutOK->setGeometry((kWidth - 75) / 2, kHeight - kBorder - 27, 75, 25);
  btnAboutOK->setDefault(true);
  connect(btnAboutOK, &QPushButton::clicked, this, &TfrmAbout::btnAboutOKClick);

  Button1 = new QPushButton("D", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(104, 36, 2, 2);
  Button1->setFlat(true);
  Button1->setFocusPolicy(Qt::NoFocus);
  connect(Button1, &QPushButton::clicked, this, &TfrmAbout::Button1Click);

  // FormCreate: by width / 1024, again by height / 1024, then the window's own
  // size by width / 1024 (a 32-bit factor, truncated).
  const double fw = zrq::frame::screenScale();
  double fh = fw;
  if (const QScreen* s = QGuiApplication::primaryScreen(); s && !qEnvironmentVariableIsSet(
                                                               "ZRQ_SCREEN_SCALE"))
    fh = static_cast<double>(s->geometry().height()) / zrq::frame::kDesignScreenWidth;
  zrq::frame::scaleChildren(this, fw);
  zrq::frame::scaleChildren(this, fh);
  const float f32 = static_cast<float>(fw);
  setFixedSize(static_cast<int>(kWidth * fw * fh * f32), static_cast<int>(kHeight * fw * fh * f32));
  // The last step grows the window past its scaled content: keep OK centred.
  btnAboutOK->move((width() - btnAboutOK->width()) / 2, btnAboutOK->y());
}

void TfrmAbout::prepare(const std::string& firmwareVersion) {
  lblVersion->setText(QString::fromLatin1(zrq::frame::kVersionText));
  lblDate->setText(QString::fromLatin1(zrq::frame::kBuildDateText));
  lbl7730->setText(QStringLiteral("7730 Firmware Version ") +
                   QString::fromStdString(firmwareVersion));
}

void TfrmAbout::btnAboutOKClick() { done(QDialog::Accepted); }

void TfrmAbout::Button1Click() {
  if (showConnectionWindow) showConnectionWindow();
}
