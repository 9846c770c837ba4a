#include "DisplayWindows.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <algorithm>

#include "frame/Fonts.h"
#include "frame/Scaling.h"

TfrmdisplayPeak* frmdisplayPeak = nullptr;
TfrmdisplayBurst* frmdisplayBurst = nullptr;

using zrq::app::SegmentCode;

namespace {

constexpr int kBorderWidth = 5;

QFont fontOf(int kind) {
  QFont f;
  switch (kind) {
    case 0:
      return zrq::frame::designFont("Arial", 8);
    case 1:
      f = zrq::frame::designFont("Arial Black", 8);
      f.setPixelSize(35);
      return f;
    case 2:
      f = zrq::frame::designFont("Arial Black", 8);
      f.setPixelSize(29);
      f.setFixedPitch(true);
      return f;
    default:
      f = zrq::frame::designFont("Arial Black", 8);
      f.setPixelSize(21);
      return f;
  }
}

}  // namespace

TDisplayWindow::TDisplayWindow(QWidget* owner, const char* name, const char* caption, int slot)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      slot_(slot) {
  setObjectName(QString::fromLatin1(name));
  setWindowTitle(QString::fromLatin1(caption));
  setFont(zrq::frame::designFont("MS Sans Serif", 8));
}

QLabel* TDisplayWindow::addLabel(const Control& c) {
  auto* l = new QLabel(QString::fromUtf8(c.text), this);
  l->setObjectName(QString::fromLatin1(c.name));
  l->setTextFormat(Qt::PlainText);
  l->setFont(fontOf(static_cast<int>(c.font)));
  // Annunciators size themselves to their text, as auto-sized labels do: a
  // substitute font a pixel wider must not clip "Peak" to "Peal".
  const int width = c.font == Font::Segment ? std::max(c.width, l->sizeHint().width()) : c.width;
  l->setGeometry(kBorderWidth + c.left, kBorderWidth + c.top, width, c.height);
  l->setAlignment(c.align | Qt::AlignVCenter);
  l->setVisible(c.shown);
  if (c.code != SegmentCode::None) segments_[c.code] = l;
  return l;
}

QProgressBar* TDisplayWindow::addBar(const char* name, int left, int top, int width, int height,
                                     const char* hint) {
  auto* b = new QProgressBar(this);
  b->setObjectName(QString::fromLatin1(name));
  b->setRange(0, 100);
  b->setValue(0);
  b->setTextVisible(false);
  b->setGeometry(kBorderWidth + left, kBorderWidth + top, width, height);
  b->setToolTip(QString::fromLatin1(hint));
  return b;
}

void TDisplayWindow::FormCreate(int contentWidth, int contentHeight) {
  const double factor = zrq::frame::screenScale();
  const float f32 = static_cast<float>(factor);
  zrq::frame::scaleChildren(this, factor);
  setFixedSize(static_cast<int>((contentWidth + 2 * kBorderWidth) * f32),
               static_cast<int>((contentHeight + 2 * kBorderWidth) * f32));
  hide();
}

QLabel* TDisplayWindow::segment(SegmentCode code) {
  auto it = segments_.find(code);
  return it == segments_.end() ? nullptr : it->second;
}

QLabel* TDisplayWindow::label(const char* name) const {
  return findChild<QLabel*>(QString::fromLatin1(name));
}

void TDisplayWindow::setTextIfChanged(QLabel* l, const std::string& s) {
  if (!l) return;
  const QString q = QString::fromStdString(s);
  if (l->text() != q) l->setText(q);
}

void TDisplayWindow::setValueText(const std::string& s) { setTextIfChanged(valueLabel_, s); }
void TDisplayWindow::setSecondText(const std::string& s) { setTextIfChanged(secondLabel_, s); }

void TDisplayWindow::setBar(int percent) {
  if (bar_ && bar_->value() != percent) bar_->setValue(percent);
}

QPoint TDisplayWindow::besidePanel(const QRect& panelFrame, const QSize& frame, const QRect& screen,
                                   int slot) {
  constexpr int kGap = 8;
  int x = panelFrame.right() + 1 + kGap;
  if (x + frame.width() > screen.right() + 1) x = panelFrame.left() - kGap - frame.width();
  if (x < screen.left()) {
    // No room on either side: centred on the screen, as a last resort.
    QRect r(QPoint(0, 0), frame);
    r.moveCenter(screen.center());
    return r.topLeft();
  }
  int y = panelFrame.top() + slot * (frame.height() + kGap);
  y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - frame.height()));
  return {x, y};
}

void TDisplayWindow::showWindow() {
  if (!placed_ && main_) {
    if (QScreen* s = main_->screen()) {
      // The frame's decorations are known only once shown: a title bar's worth.
      const QSize frame = size() + QSize(2, 30);
      move(besidePanel(main_->frameGeometry(), frame, s->availableGeometry(), slot_));
    }
    placed_ = true;
  }
  show();
}

// ---- Peak ------------------------------------------------------------------

TfrmdisplayPeak::TfrmdisplayPeak(QWidget* owner)
    : TDisplayWindow(owner, "frmdisplayPeak", "Peak Power", 0) {
  using S = SegmentCode;
  const Qt::Alignment L = Qt::AlignLeft, R = Qt::AlignRight;
  const Control table[] = {
      {"peakDisplay", "-0.0000", Font::Value35, 56, 0, 151, 49, true, S::None, R},
      {"vswrDisplay", "-0.0000", Font::Vswr29, 40, 71, 154, 50, true, S::None, R},
      {"segFwdPeak", "Forward", Font::Segment, 10, 22, 42, 14, true, S::None, L},
      {"segPover", "Over Range", Font::Segment, 10, 6, 58, 14, false, S::segPover, L},
      {"segPunder", "Under Range", Font::Segment, 10, 38, 63, 14, false, S::segPunder, L},
      {"segRflV", "Reflected", Font::Segment, 10, 86, 46, 14, false, S::None, L},
      {"segVover", "Over Range", Font::Segment, 10, 70, 58, 14, false, S::segVover, L},
      {"segVunder", "Under Range", Font::Segment, 10, 102, 63, 14, false, S::segVunder, L},
      {"segpeak", "Peak", Font::Segment, 112, 57, 23, 14, false, S::segpeak, L},
      {"segPOffset", "Offset", Font::Segment, 66, 62, 31, 14, false, S::segPOffset, L},
      {"segPdb", "dB", Font::Segment, 142, 57, 13, 14, false, S::segPdb, L},
      {"segPm", "m", Font::Segment, 155, 57, 8, 14, false, S::segPm, L},
      {"segPW", "W", Font::Segment, 165, 57, 10, 14, false, S::segPW, L},
      {"segPuW", "\u00b5W", Font::Segment, 179, 57, 16, 14, false, S::segPuW, L},
      {"segPKW", "KW", Font::Segment, 197, 57, 17, 14, false, S::segPKW, L},
      {"segPRVSWR", "VSW", Font::Segment, 109, 111, 25, 14, false, S::segPRVSWR, L},
      {"segPRR", "R", Font::Segment, 133, 111, 7, 14, false, S::segPRR, L},
  };
  for (const Control& c : table) addLabel(c);
  peakDisplay = label("peakDisplay");
  vswrDisplay = label("vswrDisplay");
  ProgressBar2 =
      addBar("ProgressBar2", 0, 137, 225, 18, "Indicates Input Peak Power As % Full Scale");
  valueLabel_ = peakDisplay;
  secondLabel_ = vswrDisplay;
  bar_ = ProgressBar2;
  FormCreate(225, 155);
}

// ---- Burst -----------------------------------------------------------------

TfrmdisplayBurst::TfrmdisplayBurst(QWidget* owner)
    : TDisplayWindow(owner, "frmdisplayBurst", "Burst Power", 1) {
  using S = SegmentCode;
  const Qt::Alignment L = Qt::AlignLeft, R = Qt::AlignRight, C = Qt::AlignHCenter;
  const Control table[] = {
      {"burstDisplay", "-0.0000", Font::Value35, 48, 0, 145, 48, true, S::None, R},
      {"segBFwd", "Forward", Font::Segment, 2, 23, 42, 14, true, S::None, L},
      {"segBover", "Over Range", Font::Segment, 2, 7, 58, 14, false, S::segBover, L},
      {"segBunder", "Under Range", Font::Segment, 2, 39, 63, 14, false, S::segBunder, L},
      {"segBBurst", "Burst", Font::Segment, 96, 58, 26, 14, true, S::None, L},
      {"segBOffset2", "Offset", Font::Segment, 66, 79, 31, 14, false, S::segBOffset2, L},
      {"segBdb", "dB", Font::Segment, 125, 58, 13, 14, false, S::segBdb, L},
      {"segBm", "m", Font::Segment, 139, 58, 8, 14, false, S::segBm, L},
      {"segBW", "W", Font::Segment, 148, 58, 10, 14, false, S::segBW, L},
      {"segBuW", "\u00b5W", Font::Segment, 160, 58, 16, 14, false, S::segBuW, L},
      {"segBKW", "KW", Font::Segment, 180, 58, 17, 14, false, S::segBKW, L},
      {"txtBDuty", "", Font::Duty21, 160, 74, 47, 33, true, S::None, R},
      {"segBdutyCycle", "% Duty", Font::Segment, 177, 104, 35, 14, true, S::None, C},
  };
  for (const Control& c : table) addLabel(c);
  burstDisplay = label("burstDisplay");
  txtBDuty = label("txtBDuty");
  ProgressBar3 = addBar("ProgressBar3", 0, 128, 225, 18, "Indicates Burst Power As % Full Scale");
  valueLabel_ = burstDisplay;
  secondLabel_ = txtBDuty;
  bar_ = ProgressBar3;
  FormCreate(225, 146);
}
