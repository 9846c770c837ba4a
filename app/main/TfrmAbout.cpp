#include "TfrmAbout.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

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
    lblLegal[i] =
        label(("lblLegal" + std::to_string(i + 1)).c_str(),
              QString::fromLatin1(zrq::frame::kLegalLines[i]), kBorder + 4, kBorder + 52 + 17 * i);
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

  // FormCreate: by width / 1024, again by height / 1024. The window takes
  // the factor its contents took: scaled by width once more it would leave a
  // large empty area on a wide screen.
  const double fw = zrq::frame::screenScale();
  double fh = fw;
  if (const QScreen* s = QGuiApplication::primaryScreen();
      s && !qEnvironmentVariableIsSet("ZRQ_SCREEN_SCALE"))
    fh = static_cast<double>(s->geometry().height()) / zrq::frame::kDesignScreenWidth;
  zrq::frame::scaleChildren(this, fw);
  zrq::frame::scaleChildren(this, fh);
  setFixedSize(static_cast<int>(kWidth * fw * fh), static_cast<int>(kHeight * fw * fh));
  fitToTexts();
}

void TfrmAbout::fitToTexts() {
  // On a screen less tall than wide in design terms (1024 x 768) the height
  // step shrinks the window below its texts: never clip them.
  const int border = std::max(kBorder, lblVersion->x() / 2);
  int textRight = 0;
  for (QLabel* l : findChildren<QLabel*>()) {
    const QSize need = l->sizeHint();
    if (l->width() < need.width() || l->height() < need.height()) {
      l->setMinimumSize(0, 0);
      l->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      l->resize(std::max(l->width(), need.width()), std::max(l->height(), need.height()));
    }
    if (l != lblDate) textRight = std::max(textRight, l->x() + l->width());
  }
  // The date stays right-aligned beside the version.
  const int dateRight =
      std::max({width() - border, textRight,
                lblVersion->x() + lblVersion->width() + 2 * border + lblDate->width()});
  lblDate->move(dateRight - lblDate->width(), lblDate->y());
  const int legalBottom = lblLegal[4]->y() + lblLegal[4]->height();
  if (btnAboutOK->y() < legalBottom + border)
    btnAboutOK->move(btnAboutOK->x(), legalBottom + border);
  // The hidden button stays big enough to be clicked.
  Button1->resize(std::max(Button1->width(), 2), std::max(Button1->height(), 2));
  setFixedSize(std::max(width(), dateRight + border),
               std::max(height(), btnAboutOK->y() + btnAboutOK->height() + border));
  // The window may be wider than its content: keep OK centred.
  btnAboutOK->move((width() - btnAboutOK->width()) / 2, btnAboutOK->y());
}

void TfrmAbout::prepare(const std::string& firmwareVersion) {
  lblVersion->setText(QString::fromLatin1(zrq::frame::kVersionText));
  lblDate->setText(QString::fromLatin1(zrq::frame::kBuildDateText));
  lbl7730->setText(QStringLiteral("7730 Firmware Version ") +
                   QString::fromStdString(firmwareVersion));
  fitToTexts();
}

void TfrmAbout::btnAboutOKClick() { done(QDialog::Accepted); }

void TfrmAbout::Button1Click() {
  if (showConnectionWindow) showConnectionWindow();
}
