// CDialixHQCtrl: the needle-meter control of libDialixHQ.so, a Qt widget.
//
// Public API (for containers and the wrapper component):
//   - Create it directly (new CDialixHQCtrl(parent)) or by class identifier
//     or ProgID through DialixHQFactory.h. A new control holds every default.
//   - Properties by dispatch identifier or by automation name (names compare
//     case-insensitively): getProp / setProp take a zrq::meter::PropValue of
//     the property's type (double, int16_t, OleColor, std::string, FontDesc,
//     Picture); getPropText / setPropText use the text forms of ValueText.h.
//     The table itself (names, types, defaults) is propertyTable() in
//     model/MeterProperties.h. A write stores the value and runs the change
//     notification (band-start clamp, repaint, modified flag). Unknown
//     identifiers, names, wrong types and bad texts throw zrq::meter::MeterError.
//   - StepIt() adds StepValue to Value; AboutBox() shows the modal About box.
//   - saveState() gives the persisted state (the binary stream form, as a
//     container keeps it in its ControlData); loadState(bytes) replaces every
//     property and the extent from such a stream, resizes the widget to the
//     extent (HIMETRIC at 96 dpi) and throws zrq::meter::StreamError, changing
//     nothing, when the stream is cut short or malformed. resetState() gives
//     a fresh instance's properties back.
//   - setDesignMode(true): the container's user mode is off; the needle rests
//     at the minimum.
//   - paintMeter(painter) draws the whole meter at (0, 0) in the widget's
//     size; renderImage(dpr) gives it as an image (for pictures and tests).
//
// Painting: everything but the needle is kept in a layer image at the
// screen's device pixel ratio, rebuilt only when something other than Value
// changes; a Value change restores the old needle's rectangle from the layer
// and draws the new needle, and the frame reaches the widget in one draw.
// The geometry stays in logical pixels.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "DialixHQExport.h"
#include "model/MeterGeometry.h"
#include "model/MeterProperties.h"

class QDialog;

class DIALIXHQ_EXPORT CDialixHQCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CDialixHQCtrl(QWidget* parent = nullptr);
  ~CDialixHQCtrl() override;

  zrq::meter::PropValue getProp(int dispid) const;
  zrq::meter::PropValue getProp(std::string_view name) const;
  void setProp(int dispid, const zrq::meter::PropValue& v);
  void setProp(std::string_view name, const zrq::meter::PropValue& v);
  std::string getPropText(std::string_view name) const;
  void setPropText(std::string_view name, std::string_view text);

  void StepIt();
  void AboutBox();
  // The About box, not yet shown; the caller owns it.
  static QDialog* createAboutBox(QWidget* parent);

  std::vector<uint8_t> saveState() const;
  void loadState(std::span<const uint8_t> bytes);
  void resetState();

  void setDesignMode(bool on);
  bool designMode() const { return model_.designMode(); }

  const zrq::meter::MeterModel& model() const { return model_; }
  // The geometry of the last paint (rebuilt then if needed).
  const zrq::meter::MeterGeometry& geometry() const { return cache_.geometry(); }

  void paintMeter(QPainter& painter);
  QImage renderImage(qreal dpr = 1.0);

  // How often the cached geometry and the layer were rebuilt (tests, bench).
  int geometryRebuilds() const { return cache_.rebuilds(); }
  int layerRebuilds() const { return layerRebuilds_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void changed(int dispid);
  void ensureFrame(qreal dpr);
  void rebuildLayer(qreal dpr);
  void drawNeedle();
  // The logical pixels a needle may touch, within the visible part of the dial.
  QRect needleBox(const zrq::meter::NeedleLine& n) const;

  zrq::meter::MeterModel model_;
  zrq::meter::GeometryCache cache_;
  QImage layer_;
  QImage frame_;
  bool layerDirty_ = true;
  int layerRebuilds_ = 0;
  zrq::meter::NeedleLine needle_;
  QRect needleRect_;              // device pixels of the needle in frame_, empty if none
  zrq::meter::NeedleLine drawn_;  // the needle in frame_
  double needleReach_ = 0;        // logical pixels the pen reaches off its line
  std::vector<uint8_t> pictureBytes_;
  QImage picture_;
};
