#include "ThbFormHelpSocket.h"

#include "QtHelpPlatform.h"

namespace hb {

ThbFormHelpSocket::ThbFormHelpSocket(QWidget* form, HtmlHelpEngine& engine)
    : QObject(form), form_(form), target_(), socket_(target_, engine) {
  HelpKeyFilter::registerForm(form, &target_);
  HelpKeyFilter::install();
  socket_.SetHHCaller(QtHelpPlatform::handleOf(form));
}

ThbFormHelpSocket::~ThbFormHelpSocket() { HelpKeyFilter::unregisterForm(form_); }

}  // namespace hb
