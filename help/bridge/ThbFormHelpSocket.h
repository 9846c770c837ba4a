// The per-window socket: the same routing, for the help requests of one
// window (F1 in it) instead of the whole application's.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "ThbAppHelpSocket.h"

namespace hb {

class HB_API ThbFormHelpSocket : public QObject {
  Q_OBJECT
 public:
  explicit ThbFormHelpSocket(QWidget* form, HtmlHelpEngine& engine = HtmlHelpEngine::process());
  ~ThbFormHelpSocket() override;

  ThbAppHelpSocket& socket() { return socket_; }
  // The window's help target: its own help file (empty: the application's).
  HelpTarget& target() { return target_; }

 private:
  QWidget* form_;  // key of the registry, also during the form's destruction
  HelpTarget target_;
  ThbAppHelpSocket socket_;
};

}  // namespace hb
