#include "QtHelpPlatform.h"

#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>

namespace hb {

void QtHelpPlatform::beep(int, int) { QApplication::beep(); }

bool QtHelpPlatform::okCancelBox(const std::string& caption, const std::string& text) {
  return QMessageBox::critical(nullptr, QString::fromStdString(caption),
                               QString::fromStdString(text),
                               QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void QtHelpPlatform::errorBox(const std::string& text) {
  QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(text));
}

QWidget* QtHelpPlatform::widgetOf(uintptr_t handle) {
  if (handle == 0) return nullptr;
  for (QWidget* w : QApplication::allWidgets())
    if (reinterpret_cast<uintptr_t>(w) == handle) return w;
  return nullptr;
}

bool QtHelpPlatform::isWindow(uintptr_t handle) {
  return handle == desktopWindow() || widgetOf(handle) != nullptr;
}

HbRect QtHelpPlatform::workArea() {
  QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return HelpPlatform::workArea();
  const QRect r = s->availableGeometry();
  return {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

std::string QtHelpPlatform::activeFormHelpFile() {
  QWidget* w = QApplication::activeWindow();
  return w ? w->property("HelpFile").toString().toStdString() : std::string();
}

int helpContextOf(QWidget* w) {
  for (; w; w = w->parentWidget()) {
    const int c = w->property("HelpContext").toInt();
    if (c != 0) return c;
  }
  return 0;
}

void setHelpContext(QWidget* w, int context) { w->setProperty("HelpContext", context); }

namespace {
QHash<QWidget*, HelpTarget*>& forms() {
  static QHash<QWidget*, HelpTarget*> map;
  return map;
}
}  // namespace

void HelpKeyFilter::install() {
  static QPointer<HelpKeyFilter> filter;
  if (filter || !qApp) return;
  filter = new HelpKeyFilter(qApp);
  qApp->installEventFilter(filter);
}

void HelpKeyFilter::registerForm(QWidget* form, HelpTarget* target) { forms()[form] = target; }
void HelpKeyFilter::unregisterForm(QWidget* form) { forms().remove(form); }
HelpTarget* HelpKeyFilter::targetOf(QWidget* form) { return forms().value(form, nullptr); }

bool HelpKeyFilter::requestHelp(QWidget* w) {
  if (!w) return false;
  int context = helpContextOf(w);
  if (context == 0) context = helpContextOf(w->window());
  if (context == 0) return false;
  HelpTarget* target = targetOf(w->window());
  (target ? *target : HelpTarget::application()).HelpContext(context);
  return true;
}

bool HelpKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* w = qobject_cast<QWidget*>(watched);
    // Only the widget the key was first sent to, not each parent it bubbles to.
    if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier && w &&
        (w == QApplication::focusWidget() || !QApplication::focusWidget() || w == w->window())) {
      if (!key->isAutoRepeat() && requestHelp(w)) return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace hb
