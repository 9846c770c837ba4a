#include "QtMessageBoxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QString>

#include <memory>
#include <utility>

namespace zrq::frame {

using zrq::ui::MsgButtons;
using zrq::ui::MsgIcon;
using zrq::ui::MsgResult;

namespace {

QMessageBox::Icon toQt(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The texts carry the "\r\n" line ends of the original boxes; a lone CR would
// show as a blank glyph in a Qt label.
QString plainLines(const std::string& s) {
  QString t = QString::fromStdString(s);
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1String("\n\r"), QLatin1String("\n"));
  t.remove(QLatin1Char('\r'));
  return t;
}

// A box as narrow as its text cuts its caption in the title bar ("Calib...
// ailed"). The title bar is the window manager's: allow for a bold font
// and its buttons.
void keepCaptionWhole(QMessageBox* box) {
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (!grid) return;
  QFont bold = box->font();
  bold.setBold(true);
  const int need = QFontMetrics(bold).horizontalAdvance(box->windowTitle()) * 5 / 4 + 120;
  grid->addItem(new QSpacerItem(need, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

void QtMessageBoxes::notify(const zrq::ui::MsgRequest& r, std::function<void()> closed) {
  auto* box = new QMessageBox(toQt(r.icon), QString::fromStdString(r.caption), plainLines(r.text),
                              QMessageBox::Ok, QApplication::activeWindow());
  box->setAttribute(Qt::WA_DeleteOnClose);
  keepCaptionWhole(box);
  // Closed by the user, or gone with its parent window: told once either way.
  auto once = std::make_shared<std::function<void()>>(std::move(closed));
  auto tell = [once] {
    if (auto f = std::exchange(*once, nullptr)) f();
  };
  QObject::connect(box, &QDialog::finished, box, tell);
  QObject::connect(box, &QObject::destroyed, tell);
  // Modal for the user, but the caller returns and every timer goes on.
  box->open();
}

MsgResult QtMessageBoxes::show(const zrq::ui::MsgRequest& r) {
  QMessageBox box(toQt(r.icon), QString::fromStdString(r.caption), plainLines(r.text),
                  QMessageBox::NoButton, QApplication::activeWindow());
  switch (r.buttons) {
    case MsgButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MsgButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MsgButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  keepCaptionWhole(&box);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MsgResult::Ok;
    case QMessageBox::Yes:
      return MsgResult::Yes;
    case QMessageBox::No:
      return MsgResult::No;
    default:
      return MsgResult::Cancel;  // closed with Escape or the title bar
  }
}

}  // namespace zrq::frame
