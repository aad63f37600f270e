#include "ui/controls/ms_flex_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace {

constexpr int kTwipsPerInch = 1440;
const QColor kFixedCellColor(0xC0, 0xC0, 0xC0);
const QColor kGridLineColor(0x80, 0x80, 0x80);
const QColor kEmptyAreaColor(0x80, 0x80, 0x80);  // the area right of and below the cells

// Leaves out the focus and selection states, so only the painted background marks a row.
class PlainCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem o(option);
    o.state &= ~(QStyle::State_HasFocus | QStyle::State_Selected | QStyle::State_MouseOver);
    QStyledItemDelegate::paint(p, o, index);
  }
};

Qt::Alignment AlignmentOf(int flexAlignment) {
  // The flex grid's codes: 0-2 left, 3-5 centre, 6-8 right; each top/centre/bottom.
  Qt::Alignment h = flexAlignment <= 2 ? Qt::AlignLeft : flexAlignment <= 5 ? Qt::AlignHCenter : Qt::AlignRight;
  const int v = flexAlignment % 3;
  return h | (v == 0 ? Qt::AlignTop : v == 1 ? Qt::AlignVCenter : Qt::AlignBottom);
}

}  // namespace

CMSFlexGrid::CMSFlexGrid(QWidget* parent) : QTableWidget(km27::kGridRows, km27::kGridCols, parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);  // Tab leaves the grid, as between dialog tab stops
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setItemDelegate(new PlainCellDelegate(this));
  setGridStyle(Qt::SolidLine);
  setStyleSheet(QStringLiteral("QTableWidget { gridline-color: %1; background-color: %2; }")
                    .arg(kGridLineColor.name(), kEmptyAreaColor.name()));
  verticalHeader()->setMinimumSectionSize(1);
  for (int r = 0; r < km27::kGridRows; ++r) {
    for (int c = 0; c < km27::kGridCols; ++c) {
      auto* item = new QTableWidgetItem;
      item->setFlags(Qt::ItemIsEnabled);
      const bool fixed = r == 0 || c == 0;
      item->setBackground(fixed ? kFixedCellColor : QColor(Qt::white));
      setItem(r, c, item);
    }
  }
}

QTableWidgetItem* CMSFlexGrid::Cell(int row, int col) const {
  if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount()) return nullptr;
  return item(row, col);
}

void CMSFlexGrid::SetRow(int row) { curRow = row; }
void CMSFlexGrid::SetCol(int col) { curCol = col; }

void CMSFlexGrid::SetCellBackColor(uint32_t colorref) {
  if (auto* it = Cell(curRow, curCol))
    it->setBackground(QColor(int(colorref & 0xFF), int((colorref >> 8) & 0xFF), int((colorref >> 16) & 0xFF)));
}

void CMSFlexGrid::SetColAlignment(int col, int alignment) {
  for (int r = 0; r < rowCount(); ++r)
    if (auto* it = Cell(r, col)) it->setTextAlignment(AlignmentOf(alignment));
}

void CMSFlexGrid::SetColWidth(int col, int twips) {
  if (col < 0 || col >= columnCount()) return;
  setColumnWidth(col, (twips * logicalDpiX() + kTwipsPerInch / 2) / kTwipsPerInch);
}

void CMSFlexGrid::SetTextMatrix(int row, int col, const std::string& utf8) {
  if (auto* it = Cell(row, col)) it->setText(QString::fromStdString(utf8));
}

QString CMSFlexGrid::TextMatrix(int row, int col) const {
  auto* it = Cell(row, col);
  return it ? it->text() : QString();
}

uint32_t CMSFlexGrid::CellBackColor(int row, int col) const {
  auto* it = Cell(row, col);
  if (!it) return 0;
  const QColor c = it->background().color();
  return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
}

QRect CMSFlexGrid::CellRect(int row, int col) const { return visualRect(model()->index(row, col)); }

int CMSFlexGrid::VirtualKey(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Up: return km27::kKeyUp;
    case Qt::Key_Down: return km27::kKeyDown;
    case Qt::Key_Left: return 37;
    case Qt::Key_Right: return 39;
    case Qt::Key_Tab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    default:
      if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)) return qtKey;
      if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) return 112 + (qtKey - Qt::Key_F1);
      return 0;
  }
}

void CMSFlexGrid::keyReleaseEvent(QKeyEvent* e) {
  if (!e->isAutoRepeat()) {
    int shift = 0;
    if (e->modifiers() & Qt::ShiftModifier) shift |= 1;
    if (e->modifiers() & Qt::ControlModifier) shift |= 2;
    if (e->modifiers() & Qt::AltModifier) shift |= 4;
    emit KeyUp(VirtualKey(e->key()), shift);
  }
  QTableWidget::keyReleaseEvent(e);
}

void CMSFlexGrid::mousePressEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  const int r = rowAt(p.y());
  mouseRow = r < 0 ? 0 : r;
  int button = 0;
  if (e->button() == Qt::LeftButton) button = 1;
  else if (e->button() == Qt::RightButton) button = 2;
  else if (e->button() == Qt::MiddleButton) button = 4;
  // MouseDown reports x and y in twips, as the flex grid does.
  const int x = p.x() * kTwipsPerInch / logicalDpiX();
  const int y = p.y() * kTwipsPerInch / logicalDpiY();
  QTableWidget::mousePressEvent(e);
  emit MouseDown(button, int(e->modifiers() & Qt::ShiftModifier ? 1 : 0), x, y);
}

void CMSFlexGrid::resizeEvent(QResizeEvent* e) {
  QTableWidget::resizeEvent(e);
  FitRows();
}

void CMSFlexGrid::FitRows() {
  // All 21 rows share the control's height, so the whole block shows without scrolling.
  const int h = viewport()->height() / rowCount();
  const int minimum = fontMetrics().height() + 2;
  for (int r = 0; r < rowCount(); ++r) setRowHeight(r, std::max(h, minimum));
}
