#pragma once
#include <QTableWidget>

#include "model/grid_surface.h"

// The programme grid: a text table with per-cell background colours, row 0 and column 0 fixed.
// The table widget's own selection and current-cell marker never show; the highlight is
// only the background painted through CellBackColor.
class CMSFlexGrid : public QTableWidget, public km27::GridSurface {
  Q_OBJECT
 public:
  explicit CMSFlexGrid(QWidget* parent = nullptr);

  // GridSurface
  void SetRow(int row) override;
  void SetCol(int col) override;
  void SetCellBackColor(uint32_t colorref) override;
  int MouseRow() const override { return mouseRow; }
  void SetColAlignment(int col, int alignment) override;
  void SetColWidth(int col, int twips) override;
  void SetTextMatrix(int row, int col, const std::string& utf8) override;

  int Row() const { return curRow; }
  int Col() const { return curCol; }
  QString TextMatrix(int row, int col) const;
  uint32_t CellBackColor(int row, int col) const;  // 0x00BBGGRR
  QRect CellRect(int row, int col) const;           // in viewport coordinates

  // Windows virtual-key code of a Qt key (0 when it has none we care about).
  static int VirtualKey(int qtKey);

 signals:
  void KeyUp(int keyCode, int shift);
  void MouseDown(int button, int shift, int x, int y);

 protected:
  void keyReleaseEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  QTableWidgetItem* Cell(int row, int col) const;
  void FitRows();

  int curRow = 0;
  int curCol = 0;
  int mouseRow = 0;
};
