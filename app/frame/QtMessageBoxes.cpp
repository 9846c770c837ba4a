#include "QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

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

}  // namespace

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
