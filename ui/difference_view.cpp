#include "ui/difference_view.h"

#include <QBrush>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/programme_record.h"

namespace km27::ui {

namespace {

const QColor kMarked(255, 190, 190);

// A step as the grid shows it: the code's name and its seconds, on two lines so that twenty
// steps fit a screen's width.
QString StepText(const CodeCatalogue& catalogue, int carrier, const ParamEntry& e, const QString& between = "\n") {
  if (e.code == 0 && e.seconds == 0) return DifferenceView::tr("空");
  return QString::fromStdString(catalogue.Name(FamilyOfCarrier(carrier), e.code)) + between +
         QStringLiteral("%1 s").arg(e.seconds);
}

}  // namespace

DifferenceView::DifferenceView(const Programme& sent, const VerifyDifference& difference, const CodeCatalogue& catalogue,
                               QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("查看差异"));
  auto* layout = new QVBoxLayout(this);
  int steps = 0;
  QStringList others;
  for (const DifferenceItem& item : difference.items) {
    if (item.where == DifferenceItem::kStep)
      ++steps;
    else
      others << QString::fromStdString(DescribeDifference(item, catalogue));
  }
  layout->addWidget(new QLabel(tr("下位机读回的参数与下发的不同：%1 个步骤、%2 处其他字节，共 %3 个字节。"
                                 "标红的步骤：上行为下发的，下行为下位机读回的。")
                                   .arg(steps)
                                   .arg(others.size())
                                   .arg(qulonglong(difference.bytes))));

  table_ = new QTableWidget(kCarrierCount, kEditableSlots, this);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Measured with the font that draws the Chinese names, or two-line cells come out too low.
  table_->setFont(RecordFont(font().pointSizeF()));
  table_->setTextElideMode(Qt::ElideNone);
  QStringList rows, columns;
  for (int c = 0; c < kCarrierCount; ++c) rows << QString::fromUtf8(Carrier(c).caption);
  for (int s = 1; s <= kEditableSlots; ++s) columns << QString::number(s);
  table_->setVerticalHeaderLabels(rows);
  table_->setHorizontalHeaderLabels(columns);
  for (int c = 0; c < kCarrierCount; ++c)
    for (int s = 0; s < kEditableSlots; ++s) {
      const ParamEntry e = sent.table.Entry(c, s);
      table_->setItem(c, s, new QTableWidgetItem(e.Occupied() ? StepText(catalogue, c, e) : QString()));
    }
  for (const DifferenceItem& item : difference.items) {
    if (item.where != DifferenceItem::kStep || item.carrier < 0 || item.carrier >= kCarrierCount || item.step < 1 ||
        item.step > kEditableSlots)
      continue;
    QTableWidgetItem* cell = table_->item(item.carrier, item.step - 1);
    cell->setText(StepText(catalogue, item.carrier, item.sentStep, " ") + QLatin1Char('\n') +
                  tr("读回 %1").arg(StepText(catalogue, item.carrier, item.readStep, " ")));
    cell->setBackground(QBrush(kMarked));
    cell->setToolTip(QString::fromStdString(DescribeDifference(item, catalogue)));
  }
  table_->resizeColumnsToContents();
  table_->resizeRowsToContents();
  layout->addWidget(table_, 1);

  if (!others.isEmpty()) {
    auto* list = new QListWidget(this);
    list->addItems(others);
    list->setMaximumHeight(list->sizeHintForRow(0) * std::min<int>(int(others.size()), 6) + 8);
    layout->addWidget(list);
  }
  auto* close = new QPushButton(tr("关闭"), this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(close, 0, Qt::AlignRight);
  // The whole table where the screen allows it, scroll bars only where it does not.
  int width = table_->verticalHeader()->sizeHint().width() + 2 * table_->frameWidth() + 40;
  for (int c = 0; c < table_->columnCount(); ++c) width += table_->columnWidth(c);
  int height = table_->horizontalHeader()->sizeHint().height() + 2 * table_->frameWidth() + 140;
  for (int r = 0; r < table_->rowCount(); ++r) height += table_->rowHeight(r);
  const QRect screen = parent && parent->screen() ? parent->screen()->availableGeometry() : QRect(0, 0, 1280, 800);
  resize(std::min(width, screen.width() - 40), std::min(height, screen.height() - 60));
}

}  // namespace km27::ui
