// The peak and burst windows: front-panel style read-outs written by the
// main window's display update through the value-window peer.
#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <string>

#include "PanelPeers.h"

class QLabel;
class QProgressBar;

// What both windows share: labels built from a table, annunciators found by
// segment code, texts and bar written only when they change.
class TDisplayWindow : public QWidget, public zrq::app::ValueWindowPeer {
  Q_OBJECT

 public:
  bool isShown() const override { return isVisible(); }
  void showWindow() override;
  void hideWindow() override { hide(); }
  QLabel* segment(zrq::app::SegmentCode code) override;
  void setValueText(const std::string& s) override;
  void setSecondText(const std::string& s) override;
  void setBar(int percent) override;

  // Places the window on the main window's screen when it first shows.
  void setMainWindow(QWidget* main) { main_ = main; }

  QLabel* label(const char* name) const;

  // Where a window of this frame size opens: beside the panel's frame on the
  // panel's screen (right of it where it fits, else left), so it never covers
  // the read-outs; each slot one window height further down.
  static QPoint besidePanel(const QRect& panelFrame, const QSize& frame, const QRect& screen,
                            int slot);

 protected:
  // Kind of a control in the table.
  enum class Font { Segment, Value35, Vswr29, Duty21 };
  struct Control {
    const char* name;
    const char* text;
    Font font;
    int left, top, width, height;
    bool shown;
    zrq::app::SegmentCode code;  // None for read-outs and fixed legends
    Qt::Alignment align;
  };

  TDisplayWindow(QWidget* owner, const char* name, const char* caption, int slot);
  QLabel* addLabel(const Control& c);
  QProgressBar* addBar(const char* name, int left, int top, int width, int height,
                       const char* hint);
  void FormCreate(int contentWidth, int contentHeight);

  QLabel* valueLabel_ = nullptr;
  QLabel* secondLabel_ = nullptr;
  QProgressBar* bar_ = nullptr;

 private:
  static void setTextIfChanged(QLabel* l, const std::string& s);

  std::map<zrq::app::SegmentCode, QLabel*> segments_;
  QPointer<QWidget> main_;
  int slot_;
  bool placed_ = false;
};

class TfrmdisplayPeak : public TDisplayWindow {
  Q_OBJECT

 public:
  explicit TfrmdisplayPeak(QWidget* owner = nullptr);
  QLabel *peakDisplay, *vswrDisplay;
  QProgressBar* ProgressBar2;
};

class TfrmdisplayBurst : public TDisplayWindow {
  Q_OBJECT

 public:
  explicit TfrmdisplayBurst(QWidget* owner = nullptr);
  QLabel *burstDisplay, *txtBDuty;
  QProgressBar* ProgressBar3;
};

extern TfrmdisplayPeak* frmdisplayPeak;
extern TfrmdisplayBurst* frmdisplayBurst;
