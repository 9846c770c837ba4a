// libhhctrl.so: the HTML Help entry point over the help viewer.
#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <map>

#include "HelpConsts.h"
#include "HelpViewer.h"
#include "ThbHHTopics.h"

namespace {

using hhc::HelpViewer;

// "file::/topic>window" split into its parts.
struct HelpFileText {
  QString file, topic, window;
};
HelpFileText splitFile(const char* text) {
  HelpFileText r;
  QString s = QString::fromUtf8(text ? text : "");
  const int gt = s.indexOf('>');
  if (gt >= 0) {
    r.window = s.mid(gt + 1);
    s = s.left(gt);
  }
  const int sep = s.indexOf(QLatin1String("::"));
  if (sep >= 0) {
    r.topic = s.mid(sep + 2);
    s = s.left(sep);
  }
  r.file = s;
  return r;
}

// A text pop-up: closes on any click or key.
class Popup : public QLabel {
 public:
  Popup() : QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("ZRQHelpPopup"));
    setWordWrap(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameStyle(QFrame::Box | QFrame::Plain);
  }

 protected:
  void mousePressEvent(QMouseEvent*) override { close(); }
  void keyPressEvent(QKeyEvent*) override { close(); }
  void focusOutEvent(QFocusEvent*) override { close(); }
};

struct State {
  std::map<QString, QPointer<HelpViewer>> viewers;
  bool haveWinType = false;
  hb::HhWinType winType;
  QPointer<Popup> popup;
};
State& state() {
  static State s;
  return s;
}

QString canonical(const QString& file) {
  const QFileInfo fi(file);
  return fi.exists() ? fi.canonicalFilePath() : fi.absoluteFilePath();
}

// Shown above a modal dialog (F1 pressed in it) as a modal window itself, or
// the dialog would block it until closed; otherwise as an ordinary window.
void showAbove(HelpViewer* v) {
  QWidget* modal = QApplication::activeModalWidget();
  const Qt::WindowModality want = modal && modal != v ? Qt::ApplicationModal : Qt::NonModal;
  if (v->windowModality() != want) {
    // Modality is taken at show time.
    v->hide();
    v->setWindowModality(want);
  }
  v->show();
}

// The viewer of that file, created (and opened) on first use.
HelpViewer* viewerFor(const QString& file, bool* opened) {
  auto& s = state();
  const QString key = canonical(file);
  auto& v = s.viewers[key];
  *opened = true;
  if (!v) {
    v = new HelpViewer;
    v->setAttribute(Qt::WA_DeleteOnClose, false);
    *opened = v->openFile(file);
    if (s.haveWinType) {
      const auto& w = s.winType;
      if ((w.fsValidMembers & hb::HHWIN_PARAM_RECT) && w.right > w.left && w.bottom > w.top)
        v->setGeometry(w.left, w.top, w.right - w.left, w.bottom - w.top);
      if (w.fsWinProperties & hb::HHWIN_PROP_TRACKING)
        v->setNotify(w.notify, w.notifyContext, w.hwndCaller, w.idNotify);
    }
    showAbove(v);
    if (s.haveWinType && s.winType.notify)
      s.winType.notify(s.winType.notifyContext, s.winType.hwndCaller, s.winType.idNotify,
                       hb::HHN_WINDOW_CREATE, "");
  } else {
    *opened = v->isFileOpen();
    showAbove(v);
  }
  v->raise();
  v->activateWindow();
  return v;
}

QString topicFromData(uintptr_t data) {
  return data ? QString::fromUtf8(reinterpret_cast<const char*>(data)) : QString();
}

// Shows the default topic when nothing is shown yet.
void ensureTopic(HelpViewer* v, const QString& topic) {
  if (!topic.isEmpty() && v->showTopic(topic)) return;
  if (v->currentTopic().isEmpty()) v->goHome();
}

intptr_t handle(HelpViewer* v) { return reinterpret_cast<intptr_t>(v); }

intptr_t showPopup(const hb::HhPopup* p) {
  if (!p || p->cbStruct != static_cast<int>(sizeof(hb::HhPopup))) return 0;
  auto& s = state();
  if (s.popup) s.popup->close();
  auto* w = new Popup;
  w->setText(QString::fromUtf8(p->pszText ? p->pszText : ""));
  w->setContentsMargins(p->marginLeft, p->marginTop, p->marginRight, p->marginBottom);
  w->setStyleSheet(QStringLiteral("QLabel { background: #%1; color: #%2; }")
                       .arg(p->clrBackground & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                       .arg(p->clrForeground & 0xFFFFFF, 6, 16, QLatin1Char('0')));
  if (p->pszFont && *p->pszFont) {
    QFont f = w->font();
    f.setFamily(QString::fromUtf8(p->pszFont));
    if (p->fontPointSize > 0) f.setPointSize(p->fontPointSize);
    w->setFont(f);
  }
  w->setMaximumWidth(420);
  w->adjustSize();
  QPoint at = (p->x == -1 && p->y == -1) ? QCursor::pos() : QPoint(p->x, p->y);
  w->move(at.x() - w->width() / 2, at.y());
  w->show();
  s.popup = w;
  return reinterpret_cast<intptr_t>(w);
}

intptr_t helpContext(HelpViewer* v, const QString& file, uintptr_t number) {
  // The file's own map points at build paths: the alias file beside it
  // decides. Read once per help file, not at every request.
  static hb::ThbHHTopics aliases("ali");
  std::string error;
  auto topic = aliases.find(static_cast<long>(number), file.toStdString(), true, &error);
  if (!topic || !v->showTopic(QString::fromStdString(*topic))) {
    ensureTopic(v, {});
    return 0;
  }
  return handle(v);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) intptr_t HtmlHelpA(uintptr_t /*caller*/,
                                                                     const char* file,
                                                                     unsigned command,
                                                                     uintptr_t data) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
  auto& s = state();
  const HelpFileText f = splitFile(file);
  switch (command) {
    case hb::HH_CLOSE_ALL: {
      for (auto& [k, v] : s.viewers)
        if (v) v->deleteLater(), v->hide();
      s.viewers.clear();
      if (s.popup) s.popup->close();
      return 1;
    }
    case hb::HH_GET_WIN_TYPE: {
      if (!data) return 0;
      auto* w = reinterpret_cast<hb::HhWinType*>(data);
      if (w->cbStruct != static_cast<int>(sizeof(hb::HhWinType))) return 0;
      if (s.haveWinType) {
        *w = s.winType;
      } else {
        *w = hb::HhWinType{};
        const QScreen* sc = QGuiApplication::primaryScreen();
        const QRect a = sc ? sc->availableGeometry() : QRect(0, 0, 1024, 768);
        const int width = std::min(960, a.width()), height = std::min(680, a.height());
        w->left = a.left() + (a.width() - width) / 2;
        w->top = a.top() + (a.height() - height) / 2;
        w->right = w->left + width;
        w->bottom = w->top + height;
        w->fsValidMembers = hb::HHWIN_PARAM_RECT;
      }
      return 1;
    }
    case hb::HH_SET_WIN_TYPE: {
      if (!data) return 0;
      const auto* w = reinterpret_cast<const hb::HhWinType*>(data);
      if (w->cbStruct != static_cast<int>(sizeof(hb::HhWinType))) return 0;
      s.winType = *w;
      s.haveWinType = true;
      return 1;
    }
    case hb::HH_DISPLAY_TEXT_POPUP:
      return showPopup(reinterpret_cast<const hb::HhPopup*>(data));
    default:
      break;
  }
  if (f.file.isEmpty()) return 0;
  bool opened = false;
  HelpViewer* v = nullptr;
  switch (command) {
    case hb::HH_DISPLAY_TOPIC: {
      v = viewerFor(f.file, &opened);
      if (!opened) return 0;
      const QString topic = f.topic.isEmpty() ? topicFromData(data) : f.topic;
      if (topic.isEmpty()) {
        ensureTopic(v, {});
        return handle(v);
      }
      return v->showTopic(topic) ? handle(v) : 0;
    }
    case hb::HH_DISPLAY_TOC:
      v = viewerFor(f.file, &opened);
      if (!opened) return 0;
      v->showTab(HelpViewer::Tab::Contents);
      ensureTopic(v, f.topic);
      return handle(v);
    case hb::HH_DISPLAY_INDEX:
      v = viewerFor(f.file, &opened);
      if (!opened) return 0;
      ensureTopic(v, f.topic);
      v->showIndex(topicFromData(data));
      return handle(v);
    case hb::HH_DISPLAY_SEARCH: {
      const auto* q = reinterpret_cast<const hb::HhFtsQuery*>(data);
      if (q && q->cbStruct != static_cast<int>(sizeof(hb::HhFtsQuery))) return 0;
      v = viewerFor(f.file, &opened);
      if (!opened) return 0;
      ensureTopic(v, f.topic);
      v->showSearch(q && q->pszSearchQuery ? QString::fromUtf8(q->pszSearchQuery) : QString(),
                    q && q->fExecute);
      return handle(v);
    }
    case hb::HH_HELP_CONTEXT:
      v = viewerFor(f.file, &opened);
      if (!opened) return 0;
      return helpContext(v, f.file, data);
    case hb::HH_SYNC:
      v = viewerFor(f.file, &opened);
      if (!opened) return 0;
      v->syncContents(f.topic.isEmpty() ? topicFromData(data) : f.topic);
      return handle(v);
    default:
      return 0;
  }
}
