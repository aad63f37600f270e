// The grid rules of ParamModel: which rows show what, and where the highlight sits.
#include <string>

#include "model/messages.h"
#include "model/param_model.h"

namespace km27 {

namespace {
constexpr int kColumnWidthsTwips[kGridCols] = {600, 1040, 1060};
constexpr Msg kColumnHeaders[kGridCols] = {Msg::kColumnNo, Msg::kColumnCode, Msg::kColumnTime};
}  // namespace

std::string ParamModel::RowText(int row, int col) const {
  if (row < 1 || row > kEditableSlots) return {};
  const ParamEntry e = table.Entry(currentCarrier, row - 1);
  if (!e.Occupied()) return {};
  switch (col) {
    case 0:
      return std::to_string(row);
    case 1:
      return catalogue_.Name(currentFamily, e.code);
    case 2:
      return std::to_string(e.seconds) + " s";
    default:
      return {};
  }
}

void ParamModel::SetupColumns() {
  if (!grid_) return;
  for (int c = 0; c < kGridCols; ++c) {
    grid_->SetColAlignment(c, kAlignCentreCentre);
    grid_->SetColWidth(c, kColumnWidthsTwips[c]);
    grid_->SetTextMatrix(0, c, Text(kColumnHeaders[c]));
  }
}

void ParamModel::WriteRowTexts(int row) {
  const bool occupied = table.Occupied(currentCarrier, row - 1);
  if (occupied) lastRow = row;
  if (!grid_) return;
  for (int c = 0; c < kGridCols; ++c) grid_->SetTextMatrix(row, c, occupied ? RowText(row, c) : std::string());
}

void ParamModel::PaintRow(int row, bool grey) {
  if (!grid_) return;
  grid_->SetRow(row);
  for (int c = 1; c < kGridCols; ++c) {
    grid_->SetCol(c);
    grid_->SetCellBackColor(grey ? kHighlightColor : kPlainColor);
  }
}

void ParamModel::RefreshRows() {
  lastRow = 0;
  for (int r = 1; r <= kEditableSlots; ++r) WriteRowTexts(r);
}

void ParamModel::RefreshGrid() {
  lastRow = 0;
  for (int r = 1; r <= kEditableSlots; ++r)
    if (table.Occupied(currentCarrier, r - 1)) lastRow = r;
  highlightRow = uint8_t(lastRow);
  for (int r = 1; r <= kEditableSlots; ++r) {
    PaintRow(r, r == highlightRow && lastRow > 0);
    WriteRowTexts(r);
  }
}

void ParamModel::HighlightRow(int row) {
  // A row outside 1..20 whitens every row and leaves highlightRow alone.
  for (int r = 1; r <= kEditableSlots; ++r) {
    PaintRow(r, r == row);
    if (r == row) highlightRow = uint8_t(row);
  }
}

void ParamModel::ClampHighlight() {
  if (highlightRow > lastRow) highlightRow = uint8_t(lastRow);
  for (int r = 1; r <= kEditableSlots; ++r) {
    if (lastRow >= 1 && r == highlightRow) {
      PaintRow(r, true);
    } else if (lastRow >= 1 && highlightRow == 0) {
      PaintRow(r, true);  // only reached at r = 1
      highlightRow = 1;
    } else {
      PaintRow(r, false);
    }
  }
}

void ParamModel::OnGridKeyUp(int keyCode) {
  const int r = highlightRow;
  if (keyCode == kKeyDown) {
    HighlightRow(r < lastRow ? r + 1 : lastRow);
  } else if (keyCode == kKeyUp) {
    if (lastRow == 0) {
      HighlightRow(0);
    } else {
      HighlightRow(r > 1 ? r - 1 : 1);
    }
  }
}

void ParamModel::OnGridMouseDown() {
  if (!grid_) return;
  const int row = grid_->MouseRow() & 0xFF;
  if (row != 0 && row <= lastRow) HighlightRow(row);
}

}  // namespace km27
