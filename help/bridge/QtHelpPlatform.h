// The routing's desktop on Qt: boxes, beep, windows, the work area, and F1.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "HelpTarget.h"

namespace hb {

class HB_API QtHelpPlatform : public HelpPlatform {
 public:
  void beep(int hz, int ms) override;
  bool okCancelBox(const std::string& caption, const std::string& text) override;
  void errorBox(const std::string& text) override;
  bool isWindow(uintptr_t handle) override;
  HbRect workArea() override;
  std::string activeFormHelpFile() override;

  // A widget as the routing's window handle, and back (null when gone).
  static uintptr_t handleOf(QWidget* w) { return reinterpret_cast<uintptr_t>(w); }
  static QWidget* widgetOf(uintptr_t handle);
};

// The help context of a widget: its own "HelpContext" property, else its
// parents', else 0. A window's help file: its "HelpFile" property.
HB_API int helpContextOf(QWidget* w);
HB_API void setHelpContext(QWidget* w, int context);

// F1 anywhere in the application sends the context of the focused widget (or
// the active window) through the help command of that window's form socket,
// else of the application.
class HB_API HelpKeyFilter : public QObject {
  Q_OBJECT
 public:
  explicit HelpKeyFilter(QObject* parent = nullptr) : QObject(parent) {}
  static void install();
  // The window's own help target (set by a form socket), or null.
  static void registerForm(QWidget* form, HelpTarget* target);
  static void unregisterForm(QWidget* form);
  static HelpTarget* targetOf(QWidget* form);
  // What F1 does in `w`; false when no context applies.
  static bool requestHelp(QWidget* w);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace hb
