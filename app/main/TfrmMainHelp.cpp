#include "TfrmMainHelp.h"

#include <QApplication>
#include <cstring>

#include "HelpContexts.h"
#include "QtHelpPlatform.h"
#include "TfrmMain.h"
#include "ThbAppHelpSocket.h"
#include "uiface/MsgBox.h"

namespace zrq::app {

namespace {

// Boxes go through the application's own, so unattended runs answer them.
class AppHelpPlatform : public hb::QtHelpPlatform {
 public:
  bool okCancelBox(const std::string& caption, const std::string& text) override {
    return ui::showMessage(text, caption, ui::MsgButtons::OkCancel, ui::MsgIcon::Error) ==
           ui::MsgResult::Ok;
  }
  void errorBox(const std::string& text) override {
    ui::showMessage(text, "Error", ui::MsgButtons::Ok, ui::MsgIcon::Error);
  }
};

struct WindowContext {
  const char* name;
  int context;
};
constexpr WindowContext kContexts[] = {
    {"frmMain", help::HC_FRONT_PANEL},
    {"frmComm", help::HC_CONNECTION_WINDOW},
    {"frmLogFreq", help::HC_LOG_SETUP},
    {"frmFilterValue", help::HC_FILTER},
    {"frmRemote", help::HC_REMOTE_CONTROL},
    {"frmAbout", help::HC_ABOUT},
    {"frmMeter", help::HC_METER_WINDOWS},
    {"frmRflMeter", help::HC_METER_WINDOWS},
    {"frmdisplayPeak", help::HC_PEAK_BURST},
    {"frmdisplayBurst", help::HC_PEAK_BURST},
    {"frmTrend", help::HC_TREND},
    {"frmAlarms", help::HC_TREND},
};

}  // namespace

int MainHelp::contextOf(const char* windowName) {
  for (const auto& c : kContexts)
    if (std::strcmp(c.name, windowName) == 0) return c.context;
  return 0;
}

MainHelp::MainHelp(TfrmMain& main) : platform_(std::make_unique<AppHelpPlatform>()) {
  hb::HelpPlatform::setCurrent(platform_.get());
  hb::HelpTarget::application().HelpFile = main.helpFile.toStdString();
  hbAppHelpSocket1 = std::make_unique<hb::ThbAppHelpSocket>();
  hbAppHelpSocket1->ShowWarning = false;
  hbAppHelpSocket1->OnGetWinHelpFile = [this](std::string& file) {
    hbAppHelpSocket1GetWinHelpFile(file);
  };
  for (const auto& c : kContexts) {
    QWidget* w = main.objectName() == QLatin1String(c.name)
                     ? &main
                     : main.findChild<QWidget*>(QString::fromLatin1(c.name));
    if (w) hb::setHelpContext(w, c.context);
  }
  hb::HelpKeyFilter::install();
}

MainHelp::~MainHelp() {
  hbAppHelpSocket1.reset();
  hb::HelpPlatform::setCurrent(nullptr);
}

void MainHelp::hbAppHelpSocket1GetWinHelpFile(std::string&) { hbAppHelpSocket1->ShowTOCTab(); }

void MainHelp::showTopic(const std::string&, const std::string&) {
  // A jump to a named topic has no HTML Help counterpart and would do
  // nothing: the contents at the default topic stand in for it.
  hb::HelpTarget::application().HelpCommand(hb::HELP_FINDER, 0);
}

void MainHelp::quit() {
  if (hb::HtmlHelpEngine::process().loaded()) hbAppHelpSocket1->CloseAll();
}

}  // namespace zrq::app
