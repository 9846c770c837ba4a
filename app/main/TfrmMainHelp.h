// The main window's help: its help socket hbAppHelpSocket1 (HTML Help through
// libhhctrl.so, the application's help file ZRQHelp.chm), the help menu's and
// shutdown's requests, and F1 in every window with that window's topic.
#pragma once

#include <memory>
#include <string>

#include "PanelPeers.h"

class QWidget;
class TfrmMain;
namespace hb {
class ThbAppHelpSocket;
class HelpPlatform;
}  // namespace hb

namespace zrq::app {

class MainHelp : public HelpPeer {
 public:
  // After every window exists: sets the application's help file, hooks the
  // socket in and gives each window its help context for F1.
  explicit MainHelp(TfrmMain& main);
  ~MainHelp() override;

  // Help > ZRQ Help: the viewer on its contents at the default topic.
  void showTopic(const std::string& helpFile, const std::string& topic) override;
  // Tells the viewer to quit; nothing to tell when it was never loaded.
  void quit() override;

  hb::ThbAppHelpSocket& socket() { return *hbAppHelpSocket1; }
  void hbAppHelpSocket1GetWinHelpFile(std::string& file);

  // The F1 context of each window, by its instance name.
  static int contextOf(const char* windowName);

 private:
  std::unique_ptr<hb::HelpPlatform> platform_;
  std::unique_ptr<hb::ThbAppHelpSocket> hbAppHelpSocket1;
};

}  // namespace zrq::app
