// ZRQUSB: creates the windows once, in their fixed order, shows the main
// window and runs the event loop.
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include "TfrmAbout.h"
#include "TfrmFilterValue.h"
#include "TfrmMain.h"
#include "frame/Frame.h"
#include "frame/Version.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(zrq::frame::kAppTitle));
  QGuiApplication::setApplicationDisplayName(QString::fromLatin1(zrq::frame::kAppTitle));
  zrq::frame::installFrame();

  // The connection window, log set-up, meters and the peak and burst windows
  // join this sequence in their places as they are built.
  frmMain = new TfrmMain;
  frmAbout = new TfrmAbout(frmMain);
  frmFilterValue = new TfrmFilterValue(frmMain, frmMain);
  frmMain->setDialogs(frmFilterValue, frmAbout);

  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect g = s->availableGeometry();
    frmMain->adjustSize();
    frmMain->move(g.center() - frmMain->rect().center());
  }
  frmMain->show();
  const int rc = QApplication::exec();
  delete frmMain;
  zrq::frame::uninstallFrame();
  return rc;
}
