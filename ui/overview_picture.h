#pragma once
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <utility>
#include <vector>

#include "model/programme_overview.h"

class QPaintDevice;
class QPainter;

namespace km27::ui {

// The colour of a code in the overview (the model's colour index): 无码 grey, the others hues
// far apart from one another, all light enough for black text.
QColor OverviewColour(int index);

// The whole programme as a picture, laid out for one width on one paint device: the screen,
// an image, an SVG file or a page. Every measure follows the font's height, so the picture
// reads the same at any resolution.
class OverviewPicture {
  Q_DECLARE_TR_FUNCTIONS(OverviewPicture)

 public:
  OverviewPicture(const Programme& programme, const CodeCatalogue& catalogue, int currentCarrier, const QFont& font);

  // The height the picture takes at `width` on `device`.
  qreal HeightFor(qreal width, const QPaintDevice* device) const;
  // Paints into `area` (its width sets the layout) and remembers where each carrier's row is.
  void Paint(QPainter& painter, const QRectF& area);
  // The carrier whose row holds `point` as last painted; -1 for none.
  int CarrierAt(const QPointF& point) const;
  int CurrentCarrier() const { return currentCarrier_; }  // the row shown highlighted

  // The picture at `width` logical pixels as PNG (drawn at twice that for sharpness) or SVG.
  QByteArray Png(int width) const;
  QByteArray Svg(int width) const;

 private:
  struct Metrics;
  Metrics Measure(qreal width, const QPaintDevice* device) const;
  qreal LegendHeight(const Metrics& m, const ProgrammeOverview& ov) const;
  qreal MarkHeight(const QPaintDevice* device) const;
  void PaintMarked(QPainter& p, int width, int height) const;

  Programme programme_;
  const CodeCatalogue& catalogue_;
  int currentCarrier_;
  QFont font_;
  std::vector<std::pair<QRectF, int>> rows_;  // painted row, carrier
};

}  // namespace km27::ui
