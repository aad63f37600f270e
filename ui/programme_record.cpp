#include "ui/programme_record.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <vector>

#include "model/fingerprint.h"
#include "res/dialog_templates.h"
#include "ui/overview_picture.h"

namespace km27::ui {

namespace {

QString U(const std::string& s) { return QString::fromStdString(s); }

// The words of the record; its context for the translation.
class ProgrammeRecord {
  Q_DECLARE_TR_FUNCTIONS(ProgrammeRecord)
};

// The lower machine's name as the start-up choice shows it.
QString ModelName(DeviceModel model) {
  const int id = IsCodeTransmitter(model) ? res::IDC_CODE_TRANSMITTER : res::IDC_CODE_BOX;
  if (const res::DialogTemplate* t = res::FindDialogTemplate(res::IDD_DEVICE_SELECT))
    for (const res::ControlTemplate& c : t->controls)
      if (c.id == id) return QCoreApplication::translate(res::kDialogTextContext, c.text);
  return {};
}

constexpr int kTablesPerBand = 3;
constexpr qreal kColumnShares[] = {0.16, 0.36, 0.24, 0.24};
const char* const kColumnHeads[] = {QT_TRANSLATE_NOOP("ProgrammeRecord", "步"), QT_TRANSLATE_NOOP("ProgrammeRecord", "低频"),
                                    QT_TRANSLATE_NOOP("ProgrammeRecord", "时间(秒)"),
                                    QT_TRANSLATE_NOOP("ProgrammeRecord", "累计(秒)")};

// Lays the record out from the top of page 1 down; the same walk paints it when given a
// painter, so the page count the footers show is the count the first walk found.
class RecordWriter {
 public:
  RecordWriter(QPagedPaintDevice& device, QPainter* painter, int pageCount)
      : device_(device), p_(painter), pages_(pageCount) {
    width_ = device.width();
    usable_ = device.height() - Mm(9);
  }

  qreal Mm(qreal mm) const { return mm * device_.logicalDpiY() / 25.4; }
  qreal Width() const { return width_; }
  qreal Height(const QFont& f) const { return QFontMetricsF(f, &device_).height(); }
  QPainter* Painter() { return p_; }

  // The top of a block `height` high, on a new page when it does not fit on this one.
  qreal Place(qreal height) {
    if (y_ > 0 && y_ + height > usable_) NextPage();
    const qreal top = y_;
    y_ += height;
    return top;
  }
  qreal Room() const { return usable_ - y_; }
  qreal PageHeight() const { return usable_; }
  void Skip(qreal height) { y_ = std::min(usable_, y_ + height); }

  void NextPage() {
    if (p_) {
      Footer();
      device_.newPage();
    }
    ++page_;
    y_ = 0;
  }
  int Finish() {
    if (p_) Footer();
    return page_ + 1;
  }

  void Text(const QRectF& r, const QString& text, const QFont& font, int flags = Qt::AlignLeft | Qt::AlignVCenter) {
    if (!p_) return;
    p_->setFont(font);
    p_->setPen(Qt::black);
    p_->drawText(r, flags, text);
  }
  void Cell(const QRectF& r, const QString& text, const QFont& font, bool shaded) {
    if (!p_) return;
    p_->setPen(QPen(QColor(110, 110, 110), Mm(0.2)));
    p_->setBrush(shaded ? QBrush(QColor(232, 232, 232)) : QBrush(Qt::NoBrush));
    p_->drawRect(r);
    Text(r, text, font, Qt::AlignCenter);
  }

 private:
  void Footer() {
    const QRectF r(0, device_.height() - Mm(6), width_, Mm(6));
    Text(r, ProgrammeRecord::tr("第 %1 页，共 %2 页").arg(page_ + 1).arg(pages_), RecordFont(8), Qt::AlignCenter);
  }

  QPagedPaintDevice& device_;
  QPainter* p_;
  int pages_;
  int page_ = 0;
  qreal y_ = 0, width_ = 0, usable_ = 0;
};

void PaintHeader(RecordWriter& w, const RecordContent& c) {
  const QFont title = [] {
    QFont f = RecordFont(16);
    f.setBold(true);
    return f;
  }();
  const QFont body = RecordFont(10);
  const TableCounts counts = CountTable(c.programme.table);
  QStringList lines = {
      ProgrammeRecord::tr("文件：%1%2").arg(c.file, c.changed ? ProgrammeRecord::tr("（打开或保存后又有修改）") : QString()),
      ProgrammeRecord::tr("日期时间：%1").arg(c.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
      ProgrammeRecord::tr("下位机：%1").arg(ModelName(c.model)),
      ProgrammeRecord::tr("统计：类型 %1，载频 %2，低频 %3").arg(counts.families).arg(counts.carriers).arg(counts.entries),
      ProgrammeRecord::tr("程序指纹：%1")
          .arg(U(GroupedFingerprint(ProgrammeFingerprint(c.programme.options, c.programme.table)))),
      ProgrammeRecord::tr("最近一次传输：%1").arg(c.lastTransfer.isEmpty() ? ProgrammeRecord::tr("无记录") : c.lastTransfer),
  };
  const qreal titleH = w.Height(title) * 1.6, lineH = w.Height(body) * 1.35;
  const qreal top = w.Place(titleH + lineH * qreal(lines.size()) + w.Mm(3));
  w.Text(QRectF(0, top, w.Width(), titleH), ProgrammeRecord::tr("参数设置记录"), title);
  for (int i = 0; i < lines.size(); ++i)
    w.Text(QRectF(0, top + titleH + lineH * i, w.Width(), lineH), lines[i], body);
  if (QPainter* p = w.Painter()) {
    p->setPen(QPen(Qt::black, w.Mm(0.3)));
    const qreal y = top + titleH + lineH * qreal(lines.size()) + w.Mm(1.5);
    p->drawLine(QPointF(0, y), QPointF(w.Width(), y));
  }
}

void PaintDeviceInfo(RecordWriter& w, const RecordContent& c) {
  if (!c.hasDeviceInfo) return;
  const QFont head = RecordFont(10), small = RecordFont(7);
  const qreal headH = w.Height(head) * 1.5, rowH = w.Height(small) * 1.5;
  const qreal top = w.Place(headH + rowH * kDeviceInfoRows + w.Mm(3));
  w.Text(QRectF(0, top, w.Width(), headH), ProgrammeRecord::tr("设备信息（下位机的 96 个设备信息值）"), head);
  const qreal labelW = w.Mm(18), cellW = (w.Width() - labelW) / qreal(kDeviceInfoRowBytes);
  for (size_t r = 0; r < kDeviceInfoRows; ++r) {
    const qreal y = top + headH + rowH * qreal(r);
    w.Cell(QRectF(0, y, labelW, rowH), QString::fromUtf8(FamilyName(SignalFamily(r))), small, true);
    for (size_t i = 0; i < kDeviceInfoRowBytes; ++i)
      w.Cell(QRectF(labelW + cellW * qreal(i), y, cellW, rowH),
             QString::number(c.deviceInfo[r * kDeviceInfoRowBytes + i]), small, false);
  }
}

void PaintLineOptions(RecordWriter& w, const RecordContent& c) {
  const QFont body = RecordFont(10);
  QStringList parts;
  for (SignalFamily f = 0; f < kLineOptionFamilies; ++f)
    parts << ProgrammeRecord::tr("%1：%2").arg(QString::fromUtf8(FamilyName(f)), U(LineOptionCaption(f, c.programme.options)));
  const qreal h = w.Height(body) * 1.6;
  w.Text(QRectF(0, w.Place(h), w.Width(), h),
         ProgrammeRecord::tr("线路设置　%1").arg(parts.join(ProgrammeRecord::tr("　　", "between the line settings"))), body);
}

void PaintOverview(RecordWriter& w, QPagedPaintDevice& device, const RecordContent& c, const CodeCatalogue& catalogue) {
  const QFont head = RecordFont(10);
  const qreal headH = w.Height(head) * 1.6;
  OverviewPicture picture(c.programme, catalogue, -1, RecordFont(7.5));
  const qreal height = picture.HeightFor(w.Width(), &device);
  // A picture taller than a page is drawn smaller rather than cut.
  const qreal scale = std::min<qreal>(1.0, (w.PageHeight() - headH) / height);
  const qreal top = w.Place(headH + height * scale + w.Mm(3));
  w.Text(QRectF(0, top, w.Width(), headH), ProgrammeRecord::tr("程序总览"), head);
  if (QPainter* p = w.Painter()) {
    p->save();
    p->translate(0, top + headH);
    p->scale(scale, scale);
    p->setPen(QPen(QColor(160, 160, 160), w.Mm(0.2)));
    picture.Paint(*p, QRectF(0, 0, w.Width() / scale, height));
    p->setBrush(Qt::NoBrush);
    p->setPen(QPen(QColor(160, 160, 160), w.Mm(0.2) / scale));
    p->drawRect(QRectF(0, 0, w.Width() / scale, height));
    p->restore();
  }
}

struct CarrierSteps {
  int carrier;
  std::vector<ParamEntry> steps;
  std::vector<int> rows;  // each step's grid row
};

// Three carriers side by side; a band that does not fit goes on over the next page, with its
// titles and column heads again.
void PaintTables(RecordWriter& w, const RecordContent& c, const CodeCatalogue& catalogue) {
  std::vector<CarrierSteps> carriers;
  for (int ci = 0; ci < kCarrierCount; ++ci) {
    CarrierSteps cs{ci, {}, {}};
    for (int s = 0; s < kEditableSlots; ++s)
      if (c.programme.table.Occupied(ci, s)) {
        cs.steps.push_back(c.programme.table.Entry(ci, s));
        cs.rows.push_back(s + 1);
      }
    if (!cs.steps.empty()) carriers.push_back(cs);
  }
  const QFont head = RecordFont(10), cellFont = RecordFont(8);
  QFont bold = cellFont;
  bold.setBold(true);
  const qreal headH = w.Height(head) * 1.6, rowH = w.Height(cellFont) * 1.45, gap = w.Mm(4);
  const qreal tableW = (w.Width() - gap * (kTablesPerBand - 1)) / kTablesPerBand;
  w.Text(QRectF(0, w.Place(headH), w.Width(), headH),
         carriers.empty() ? ProgrammeRecord::tr("各载频程序：程序表中没有步骤") : ProgrammeRecord::tr("各载频程序"), head);

  for (size_t b = 0; b < carriers.size(); b += kTablesPerBand) {
    const size_t n = std::min<size_t>(kTablesPerBand, carriers.size() - b);
    size_t rows = 0;  // the steps and the total row of the longest table
    for (size_t i = 0; i < n; ++i) rows = std::max(rows, carriers[b + i].steps.size() + 1);
    size_t done = 0;
    while (done < rows) {
      // At least the titles, the heads and three rows (or what is left) together.
      const size_t least = std::min<size_t>(3, rows - done);
      if (w.Room() < rowH * qreal(2 + least)) w.NextPage();
      const size_t fit = std::min(rows - done, size_t(std::max<qreal>(1, w.Room() / rowH - 2)));
      const qreal top = w.Place(rowH * qreal(2 + fit));
      for (size_t i = 0; i < n; ++i) {
        const CarrierSteps& cs = carriers[b + i];
        if (done > cs.steps.size()) continue;  // this table ended on an earlier page
        const SignalFamily family = FamilyOfCarrier(cs.carrier);
        const qreal x = qreal(i) * (tableW + gap);
        QString title = ProgrammeRecord::tr("%1　%2").arg(QString::fromUtf8(Carrier(cs.carrier).caption),
                                                        QString::fromUtf8(FamilyName(family)));
        if (done > 0) title = ProgrammeRecord::tr("%1（续）").arg(title);
        w.Text(QRectF(x, top, tableW, rowH), title, bold);
        qreal cx = x;
        for (int col = 0; col < 4; ++col) {
          w.Cell(QRectF(cx, top + rowH, tableW * kColumnShares[col], rowH), ProgrammeRecord::tr(kColumnHeads[col]),
                 cellFont, true);
          cx += tableW * kColumnShares[col];
        }
        int total = 0;
        for (size_t s = 0; s < done && s < cs.steps.size(); ++s) total += cs.steps[s].seconds;
        for (size_t r = done; r < done + fit; ++r) {
          const qreal y = top + rowH * qreal(2 + r - done);
          if (r < cs.steps.size()) {
            total += cs.steps[r].seconds;
            const QString cells[] = {QString::number(cs.rows[r]), U(catalogue.Name(family, cs.steps[r].code)),
                                     QString::number(cs.steps[r].seconds), QString::number(total)};
            cx = x;
            for (int col = 0; col < 4; ++col) {
              w.Cell(QRectF(cx, y, tableW * kColumnShares[col], rowH), cells[col], cellFont, false);
              cx += tableW * kColumnShares[col];
            }
          } else if (r == cs.steps.size()) {
            w.Cell(QRectF(x, y, tableW, rowH), ProgrammeRecord::tr("循环合计 %1 秒").arg(total), bold, true);
          }
        }
      }
      done += fit;
    }
    w.Skip(w.Mm(4));
  }
}

// Who drew the programme up and who checked it sign the paper, not the file.
void PaintSignatures(RecordWriter& w) {
  const QFont body = RecordFont(11);
  const qreal h = w.Height(body) * 2.2;
  const qreal top = w.Place(w.Mm(6) + h) + w.Mm(6);
  const qreal third = w.Width() / 3;
  const QString labels[] = {ProgrammeRecord::tr("编制："), ProgrammeRecord::tr("复核："), ProgrammeRecord::tr("日期：")};
  for (int i = 0; i < 3; ++i) {
    const QRectF r(third * i, top, third - w.Mm(6), h);
    w.Text(r, labels[i], body, Qt::AlignLeft | Qt::AlignBottom);
    if (QPainter* p = w.Painter()) {
      p->setPen(QPen(Qt::black, w.Mm(0.25)));
      const qreal x = r.left() + QFontMetricsF(body, p->device()).horizontalAdvance(labels[i]);
      p->drawLine(QPointF(x, r.bottom()), QPointF(r.right(), r.bottom()));
    }
  }
}

int Walk(QPagedPaintDevice& device, QPainter* painter, int pages, const RecordContent& c,
         const CodeCatalogue& catalogue) {
  RecordWriter w(device, painter, pages);
  PaintHeader(w, c);
  PaintDeviceInfo(w, c);
  PaintLineOptions(w, c);
  PaintOverview(w, device, c, catalogue);
  PaintTables(w, c, catalogue);
  PaintSignatures(w);
  return w.Finish();
}

}  // namespace

void PrepareRecordPages(QPagedPaintDevice& device) {
  device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 12),
                                   QPageLayout::Millimeter));
}

QFont RecordFont(qreal pointSize) {
  QStringList families = {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                          QStringLiteral("Source Han Sans SC")};
  const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  if (!chinese.isEmpty()) families << chinese.first();
  QFont f;
  f.setFamilies(families);
  f.setPointSizeF(pointSize);
  return f;
}

int PaintRecord(QPagedPaintDevice& device, const RecordContent& content, const CodeCatalogue& catalogue) {
  const int pages = Walk(device, nullptr, 0, content, catalogue);
  QPainter painter(&device);
  painter.setRenderHint(QPainter::Antialiasing);
  Walk(device, &painter, pages, content, catalogue);
  return pages;
}

QByteArray RecordPdf(const RecordContent& content, const CodeCatalogue& catalogue, int* pages) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter pdf(&buffer);
    pdf.setResolution(300);
    pdf.setTitle(ProgrammeRecord::tr("参数设置记录"));
    pdf.setCreator(ProgrammeRecord::tr("参数设置工具"));
    PrepareRecordPages(pdf);
    const int n = PaintRecord(pdf, content, catalogue);
    if (pages) *pages = n;
  }
  return bytes;
}

}  // namespace km27::ui
