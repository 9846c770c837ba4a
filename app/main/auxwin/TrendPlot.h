// The trend's drawing: one lane per chosen quantity, each with its own axis
// in its unit, over a time axis of the chosen span.
//
// Drawn as the meter control is: the axes' labels are one cached layer,
// rebuilt only when the geometry, span, unit or a lane's range changes; the
// lines live in a second cached image, opaque over the grid and the hold
// lines, whose columns form a ring, so a new reading draws only the columns
// it touched and the view moving on by a column costs nothing but that
// column. The store reduces the readings to one min/max pair per pixel
// column, so a spike is never hidden. Limits, when set, are dashed lines
// over a lane.
#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QRegion>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/PowerUnit.h"
#include "core/TrendStore.h"

class QFontMetrics;
class QPainter;

class TrendPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TrendPlot(QWidget* parent = nullptr);

  // Not owned; must outlive the plot. Null shows an empty plot.
  void setStore(zrq::core::TrendStore* store);
  // The lanes, top to bottom.
  void setQuantities(const std::vector<zrq::core::TrendQuantity>& quantities);
  const std::vector<zrq::core::TrendQuantity>& quantities() const { return quantities_; }
  // The panel's power unit: dBm, anything else is watts.
  void setPowerUnit(zrq::core::PowerUnit unit);
  // Span in ms; 0 shows every reading kept.
  void setSpan(std::int64_t spanMs);
  std::int64_t span() const { return spanMs_; }
  // The time at the right edge; empty follows the newest reading.
  void setEnd(std::optional<std::int64_t> endMs);
  // Lines a limit check may draw on a lane, in the lane's display unit;
  // empty draws none.
  void setLimits(zrq::core::TrendQuantity q, std::optional<double> lower,
                 std::optional<double> upper);

  // The least time between two paints of what new readings changed; 0 paints
  // after every reading.
  void setPaintInterval(int ms) { paintIntervalMs_ = ms; }

  // After a reading was pushed to the store: draws what it changed.
  void readingAdded();
  // Draws every shown column again (the holds were reset, the store changed).
  void refresh();

  // The shown time range [first, end) in ms; empty when nothing is shown.
  std::optional<std::pair<std::int64_t, std::int64_t>> shownRange() const;
  // The reading under the cursor (index into the store), if any.
  std::optional<std::size_t> cursorReading() const;
  // Places the cursor at a time (tests, keyboard); empty removes it.
  void setCursorTime(std::optional<std::int64_t> timeMs);

  // A quantity in its display unit (dBm or W for powers).
  double display(zrq::core::TrendQuantity q, double stored) const;
  QString unitText(zrq::core::TrendQuantity q) const;
  static QString quantityName(zrq::core::TrendQuantity q);

  // Where things are drawn, in widget coordinates: a lane, the pixel column
  // of a time (empty when not shown), and the colour of a quantity's line.
  QRect laneRect(zrq::core::TrendQuantity q) const;
  std::optional<int> xOf(std::int64_t timeMs) const;
  static QColor colorOf(zrq::core::TrendQuantity q);

  // Counters for tests and the benchmark: full data redraws and layer builds.
  int fullRedraws() const { return fullRedraws_; }
  int layerBuilds() const { return layerBuilds_; }

 signals:
  void cursorMoved();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

 private:
  struct Lane {
    zrq::core::TrendQuantity q{};
    QRect rect;  // in plot coordinates
    double lo = 0, hi = 1, step = 0.5;
    std::optional<double> lower, upper;
  };
  struct View {
    std::int64_t widthMs = 0, first = 0;
    int count = 0;
    bool valid() const { return count > 0 && widthMs > 0; }
  };

  View currentView() const;
  // Asks for a paint of what a reading changed, at most one per paint
  // interval: each paint of a window costs a round trip to the display.
  void paintSoon(const QRegion& changed);
  void paintPending();
  // The axes and grid too: the lanes, span or unit changed.
  void relayout();
  QRect plotRect() const;
  void layoutLanes();
  bool fitRanges(const View& v, bool growOnly);
  void buildLayer();
  void redrawData();
  void fillRowColors();
  // Returns the part of the plot whose pixels it set, x counted from the view's first column.
  QRegion drawColumns(const View& v, std::int64_t from, std::int64_t to);
  void clearColumns(const View& v, std::int64_t from, std::int64_t to);
  int ringX(std::int64_t column) const;
  // Repaints the data image's rows under hold lines that moved; returns
  // them in widget coordinates (empty when it asked for a full redraw).
  QRegion moveHoldRows();
  double yOf(const Lane& lane, double value) const;
  std::int64_t timeAtX(int x) const;
  QString timeLabel(std::int64_t t, std::int64_t stepMs) const;
  std::vector<int> holdPixels() const;
  QStringList holdStrings() const;
  QRect holdLine(std::size_t k, const QFontMetrics& fm) const;
  QRegion changedHoldLines() const;
  void paintPart(QPainter& p, const QRect& exposed, const QImage& axis, const QImage& holds);
  const QImage& holdTexts();
  struct Piece {
    QImage image;  // the text on a clear background, kPieceMargin wider each side
    qreal advance = 0;
  };
  const Piece& piece(const QString& text);
  const QImage& timeAxis();
  bool gridColumn(std::int64_t k) const;
  void paintGridColumn(int x);
  void chooseTimeStep();

  zrq::core::TrendStore* store_ = nullptr;
  std::vector<zrq::core::TrendQuantity> quantities_;
  std::vector<Lane> lanes_;
  std::array<std::pair<std::optional<double>, std::optional<double>>, zrq::core::kTrendQuantities>
      limits_{};
  bool dbm_ = true;
  std::int64_t spanMs_ = 10 * 60 * 1000;
  std::optional<std::int64_t> endMs_;
  View drawn_;                                   // the view the data image shows
  std::int64_t dataEnd_ = 0;                     // the newest reading's column it shows
  QImage layer_;                                 // background, lanes, grid, labels
  QImage data_;                                  // the lines, columns in a ring of the plot's width
  std::vector<QRgb> rowColor_;                   // the data image's background, row by row
  std::int64_t timeStep_ = 60'000, zoneMs_ = 0;  // the time grid: a line every step of local time
  QImage axis_;                                  // the time labels of the view starting at
  std::int64_t axisFirst_ = 0, axisWidth_ = 0;   // column axisFirst_, axisWidth_ ms wide
  bool holdStale_ = true;                        // titles or units changed
  bool layerDirty_ = true, dataDirty_ = true;
  std::optional<std::int64_t> cursor_;  // the time of that reading: indices move as the ring turns
  std::vector<int> holdYs_;             // where the hold lines were last painted
  QStringList holdKey_;                 // the hold texts holdImage_ shows
  QImage holdImage_;
  QHash<QString, Piece> pieces_;  // parts of hold lines drawn, by their text
  QRegion pending_;               // changed, not yet asked to be painted
  QBasicTimer paintTimer_;
  QElapsedTimer sincePaint_;   // since the last paint asked for
  int paintIntervalMs_ = 200;  // readings come ten a second: five paints a second show them
  int fullRedraws_ = 0, layerBuilds_ = 0;
};
