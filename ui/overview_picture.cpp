#include "ui/overview_picture.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

#include "model/fingerprint.h"

namespace km27::ui {

namespace {

QString U(const std::string& s) { return QString::fromStdString(s); }

QString SecondsText(int seconds) { return OverviewPicture::tr("%1 秒").arg(seconds); }

// A tick every so many seconds, so that a cycle of `longest` seconds gets at most eight.
int TickStep(int longest) {
  for (int step : {5, 10, 15, 20, 30, 60, 120, 300, 600})
    if (longest <= step * 8) return step;
  return 1200;
}

}  // namespace

QColor OverviewColour(int index) {
  if (index == 0) return QColor(208, 208, 208);
  // Golden-angle steps around the hue circle keep neighbouring indices far apart.
  const int hue = int(std::fmod(index * 137.508, 360.0));
  return QColor::fromHsv(hue, 80 + (index % 3) * 40, 245 - (index % 2) * 25);
}

struct OverviewPicture::Metrics {
  qreal h = 0;  // the font's line height: every other measure follows it
  qreal margin = 0, rowH = 0, groupH = 0, groupGap = 0, axisH = 0;
  qreal captionW = 0, totalW = 0, chartX = 0, chartW = 0, width = 0;
  QFont bold, small;
  const QPaintDevice* device = nullptr;
};

OverviewPicture::OverviewPicture(const Programme& programme, const CodeCatalogue& catalogue, int currentCarrier,
                                 const QFont& font)
    : programme_(programme), catalogue_(catalogue), currentCarrier_(currentCarrier), font_(font) {}

OverviewPicture::Metrics OverviewPicture::Measure(qreal width, const QPaintDevice* device) const {
  Metrics m;
  m.device = device;
  m.width = width;
  m.bold = font_;
  m.bold.setBold(true);
  m.small = font_;
  m.small.setPointSizeF(font_.pointSizeF() > 0 ? font_.pointSizeF() * 0.85 : 8);
  const QFontMetricsF fm(m.bold, device);
  m.h = fm.height();
  m.margin = 0.6 * m.h;
  m.rowH = 1.6 * m.h;
  m.groupH = 1.6 * m.h;
  m.groupGap = 0.4 * m.h;
  m.axisH = 1.4 * m.h;
  for (int c = 0; c < kCarrierCount; ++c) m.captionW = std::max(m.captionW, fm.horizontalAdvance(Carrier(c).caption));
  m.captionW += m.h;
  m.totalW = fm.horizontalAdvance(SecondsText(9999)) + m.h;
  m.chartX = m.margin + m.captionW;
  m.chartW = std::max<qreal>(m.h, width - 2 * m.margin - m.captionW - m.totalW);
  return m;
}

qreal OverviewPicture::LegendHeight(const Metrics& m, const ProgrammeOverview& ov) const {
  const QFontMetricsF fm(font_, m.device);
  qreal x = m.margin + fm.horizontalAdvance(tr("图例：")), lines = 1;
  for (const OverviewLegendEntry& e : ov.legend) {
    const qreal w = 1.4 * m.h + fm.horizontalAdvance(U(e.name)) + m.h;
    if (x + w > m.width - m.margin && x > m.margin * 2) {
      x = m.margin;
      ++lines;
    }
    x += w;
  }
  return lines * 1.5 * m.h;
}

qreal OverviewPicture::HeightFor(qreal width, const QPaintDevice* device) const {
  const Metrics m = Measure(width, device);
  const ProgrammeOverview ov = LayoutOverview(programme_.table, programme_.options, catalogue_, int(m.chartW));
  if (ov.Empty()) return 2 * m.margin + 2 * m.h;
  qreal height = 2 * m.margin + m.axisH + LegendHeight(m, ov);
  for (const OverviewGroup& g : ov.groups) height += m.groupH + qreal(g.rows.size()) * m.rowH + m.groupGap;
  return std::ceil(height);
}

void OverviewPicture::Paint(QPainter& p, const QRectF& area) {
  rows_.clear();
  const Metrics m = Measure(area.width(), p.device());
  const ProgrammeOverview ov = LayoutOverview(programme_.table, programme_.options, catalogue_, int(m.chartW));
  const qreal left = area.left();
  p.save();
  p.fillRect(area, Qt::white);
  p.setFont(font_);
  p.setPen(Qt::black);
  if (ov.Empty()) {
    p.drawText(area, Qt::AlignCenter, tr("程序表中没有步骤"));
    p.restore();
    return;
  }
  const qreal chartLeft = left + m.chartX;
  const QPen thin(QColor(150, 150, 150), m.h / 16);

  // Rows first: the tick lines go behind the segments, so they are drawn once the height is known.
  qreal y = area.top() + m.margin;
  const qreal chartTop = y;
  struct PaintedRow {
    qreal y;
    const OverviewRow* row;
  };
  std::vector<PaintedRow> painted;
  for (const OverviewGroup& g : ov.groups) {
    y += m.groupH;
    for (const OverviewRow& r : g.rows) {
      painted.push_back({y, &r});
      y += m.rowH;
    }
    y += m.groupGap;
  }
  const qreal chartBottom = y - m.groupGap;

  for (const PaintedRow& pr : painted) {
    const QRectF band(left + m.margin / 2, pr.y, area.width() - m.margin, m.rowH);
    rows_.push_back({band, pr.row->carrier});
    if (pr.row->carrier == currentCarrier_) {
      p.setPen(QPen(QColor(70, 120, 200), m.h / 10));
      p.setBrush(QColor(220, 232, 250));
      p.drawRect(band);
    }
  }
  p.setPen(QPen(QColor(225, 225, 225), m.h / 16));
  const int step = TickStep(ov.longestCycle);
  for (int t = 0; t <= ov.longestCycle; t += step) {
    const qreal x = chartLeft + m.chartW * t / ov.longestCycle;
    p.drawLine(QPointF(x, chartTop), QPointF(x, chartBottom));
  }

  y = area.top() + m.margin;
  for (const OverviewGroup& g : ov.groups) {
    p.setFont(m.bold);
    p.setPen(Qt::black);
    QString head = U(g.caption);
    if (!g.lineOption.empty()) head += tr("　　线路：%1").arg(U(g.lineOption));
    p.drawText(QRectF(left + m.margin, y, area.width() - 2 * m.margin, m.groupH), Qt::AlignLeft | Qt::AlignVCenter,
               head);
    y += m.groupH;
    for (const OverviewRow& r : g.rows) {
      const bool current = r.carrier == currentCarrier_;
      p.setFont(current ? m.bold : font_);
      p.setPen(Qt::black);
      p.drawText(QRectF(left + m.margin, y, m.captionW, m.rowH), Qt::AlignLeft | Qt::AlignVCenter, U(r.caption));
      const qreal top = y + 0.2 * m.rowH, height = 0.6 * m.rowH;
      for (const OverviewSegment& s : r.segments) {
        const QRectF box(chartLeft + s.x, top, s.width, height);
        p.setPen(thin);
        p.setBrush(OverviewColour(s.colour));
        p.drawRect(box);
        p.setFont(m.small);
        const QString label = U(s.label);
        if (QFontMetricsF(m.small, p.device()).horizontalAdvance(label) + 0.3 * m.h <= box.width()) {
          p.setPen(Qt::black);
          p.drawText(box, Qt::AlignCenter, label);
        }
      }
      p.setFont(font_);
      p.setPen(Qt::black);
      p.drawText(QRectF(chartLeft + m.chartW, y, m.totalW, m.rowH), Qt::AlignRight | Qt::AlignVCenter,
                 SecondsText(r.totalSeconds));
      y += m.rowH;
    }
    y += m.groupGap;
  }

  // The time axis under the rows.
  y = chartBottom;
  p.setFont(m.small);
  p.setPen(QColor(90, 90, 90));
  for (int t = 0; t <= ov.longestCycle; t += step) {
    const qreal x = chartLeft + m.chartW * t / ov.longestCycle;
    p.drawText(QRectF(x - 2 * m.h, y, 4 * m.h, m.axisH), Qt::AlignHCenter | Qt::AlignVCenter, QString::number(t));
  }
  p.drawText(QRectF(chartLeft + m.chartW, y, m.totalW, m.axisH), Qt::AlignRight | Qt::AlignVCenter,
             tr("秒"));
  y += m.axisH;

  // The legend: one swatch per code used.
  p.setFont(font_);
  p.setPen(Qt::black);
  const QFontMetricsF fm(font_, p.device());
  const QString title = tr("图例：");
  p.drawText(QRectF(left + m.margin, y, fm.horizontalAdvance(title), 1.5 * m.h), Qt::AlignVCenter, title);
  qreal x = m.margin + fm.horizontalAdvance(title);
  for (const OverviewLegendEntry& e : ov.legend) {
    const QString name = U(e.name);
    const qreal w = 1.4 * m.h + fm.horizontalAdvance(name) + m.h;
    if (x + w > m.width - m.margin && x > m.margin * 2) {
      x = m.margin;
      y += 1.5 * m.h;
    }
    p.setPen(thin);
    p.setBrush(OverviewColour(e.colour));
    p.drawRect(QRectF(left + x, y + 0.3 * m.h, m.h, 0.9 * m.h));
    p.setPen(Qt::black);
    p.drawText(QRectF(left + x + 1.4 * m.h, y, w, 1.5 * m.h), Qt::AlignLeft | Qt::AlignVCenter, name);
    x += w;
  }
  p.restore();
}

int OverviewPicture::CarrierAt(const QPointF& point) const {
  for (const auto& [rect, carrier] : rows_)
    if (rect.contains(point)) return carrier;
  return -1;
}

qreal OverviewPicture::MarkHeight(const QPaintDevice* device) const {
  return QFontMetricsF(font_, device).height() * 1.6;
}

// A saved picture says which programme it shows: the fingerprint in its bottom right corner.
void OverviewPicture::PaintMarked(QPainter& p, int width, int height) const {
  const qreal mark = MarkHeight(p.device());
  OverviewPicture copy(*this);
  copy.Paint(p, QRectF(0, 0, width, height - mark));
  const std::string hex = ProgrammeFingerprint(programme_.options, programme_.table);
  p.setFont(font_);
  p.setPen(QColor(90, 90, 90));
  p.drawText(QRectF(0, height - mark, width - 4, mark), Qt::AlignRight | Qt::AlignVCenter,
             tr("程序指纹 %1…").arg(QString::fromStdString(GroupedFingerprint(hex.substr(0, 16)))));
}

QByteArray OverviewPicture::Png(int width) const {
  QImage probe(1, 1, QImage::Format_RGB32);
  const int height = int(HeightFor(width, &probe) + MarkHeight(&probe));
  QImage image(width * 2, height * 2, QImage::Format_RGB32);
  image.setDevicePixelRatio(2);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    PaintMarked(p, width, height);
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

QByteArray OverviewPicture::Svg(int width) const {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setResolution(96);
  svg.setTitle(tr("程序总览"));
  const int height = int(HeightFor(width, &svg) + MarkHeight(&svg));
  svg.setSize(QSize(width, height));
  svg.setViewBox(QRect(0, 0, width, height));
  {
    QPainter p(&svg);
    PaintMarked(p, width, height);
  }
  return bytes;
}

}  // namespace km27::ui
