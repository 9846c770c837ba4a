// Takes a picture of the real main window in a streaming state (Average,
// 100 W forward, VSWR on the reflected read-out) and checks that what was
// written is a real image, not an empty or single-colour one.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <cstdio>
#include <string>

#include "TfrmAbout.h"
#include "TfrmFilterValue.h"
#include "TfrmMain.h"
#include "core/DataString.h"
#include "frame/Frame.h"
#include "uiface/MsgBox.h"

using zrq::core::CommState;

namespace {

struct Streaming : zrq::app::NullCommPeer {
  bool portConnected() const override { return true; }
  bool interrogationAccepted() const override { return true; }
  bool settingsAccepted() const override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: panel_screenshot OUTPUT.png "
                 "[average|nosensor|burst|ccdf|dbm|zerocal|about|filter]\n");
    return 2;
  }
  const std::string state = argc >= 3 ? argv[2] : "average";
  QApplication app(argc, argv);
  zrq::frame::installFrame();
  zrq::ui::ScopedScriptedMessageBoxes boxes;  // nothing may block the picture

  Streaming comm;
  TfrmMain w;
  w.displayTimer->stop();
  zrq::app::PanelPeers peers;
  peers.comm = &comm;
  w.setPeers(peers);
  w.show();
  if (!QTest::qWaitForWindowExposed(&w)) {
    std::fprintf(stderr, "main window never became exposed\n");
    return 1;
  }
  w.displayTimerTimer();  // no connection yet
  w.state.commState = CommState::Streaming;
  w.state.measType = zrq::core::MeasType::Average;
  w.state.rflUnit = zrq::core::PowerUnit::VSWR;
  w.rflIsPower = false;
  w.state.offsetDb = 3;
  const char* line =
      ",+8.0000E+01,+2.5000E+01 ,+1.0000E+02,+1.0000E+00,+1.5000E+02,+0.0000E+00, 1, 9,"
      "+2.5000E-01,+2.5000E+00,+3.7500E+01,,";
  const auto r = zrq::core::decodeDataString(
      line, {zrq::core::MeasType::Average, w.state.fwdFullScale, w.state.featureMask, false},
      w.state.reading, w.state.settingsChanged);
  if (!r.accepted()) {
    std::fprintf(stderr, "prepared reading refused: %s\n", r.errorText.c_str());
    return 1;
  }
  w.state.offsetDb = 0;
  w.displayTimerTimer();
  w.displayTimerTimer();
  // Other states, for looking at the layout by hand.
  if (state == "nosensor") {
    w.state.commState = CommState::NoConnection;
    w.displayTimerTimer();
  } else if (state == "burst" || state == "ccdf") {
    for (int i = 0; i < (state == "burst" ? 2 : 4); ++i) {
      w.btnTypeClick();
      w.displayTimerTimer();
    }
  } else if (state == "dbm") {
    w.btnFwdUnitsClick();
    w.btnRflUnitsClick();
    w.state.offsetDb = 3;
    w.displayTimerTimer();
  } else if (state == "zerocal") {
    // Both questions answered OK, the command sent, 15 s of the 40.
    w.btnZeroCal->click();
    w.ProgressBar1->setMaximum(180);
    for (int i = 0; i < 60; ++i) w.displayTimerTimer();
  }
  QTest::qWait(100);

  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(QFileInfo(out).absolutePath());
  TfrmAbout about(&w);
  TfrmFilterValue filter(&w, &w);
  QWidget* target = &w;
  if (state == "about") {
    about.prepare("1.07");
    about.lbl7730->show();
    about.show();
    target = &about;
  } else if (state == "filter") {
    filter.show();
    target = &filter;
  }
  if (target != &w && !QTest::qWaitForWindowExposed(target)) return 1;
  const QPixmap shot = target->grab();
  if (!shot.save(out, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  const QImage back(out);
  QSet<QRgb> colours;
  for (int y = 0; y < back.height(); y += 2)
    for (int x = 0; x < back.width(); x += 2) colours.insert(back.pixel(x, y));
  std::printf("%s: %dx%d, %lld colours, read-outs \"%s\" / \"%s\"\n", argv[1], back.width(),
              back.height(), static_cast<long long>(colours.size()),
              w.fwdDisplay->text().toUtf8().constData(), w.rflDisplay->text().toUtf8().constData());
  const bool expectAverage = state == "average";
  if (state == "zerocal" &&
      (w.state.commState != CommState::ZeroCal || w.ProgressBar1->value() != 60 ||
       !w.fwdDisplay->text().isEmpty() || w.lblZeroCal->text() != "Zero")) {
    std::fprintf(stderr, "the panel is not in the middle of a calibration\n");
    return 1;
  }
  const int minSide = expectAverage ? 250 : 100;
  const bool ok =
      back.width() >= minSide && back.height() >= minSide && colours.size() >= 16 &&
      (!expectAverage || (w.fwdDisplay->text() == "100.00" && w.rflDisplay->text() == "1.222"));
  zrq::frame::uninstallFrame();
  return ok ? 0 : 1;
}
