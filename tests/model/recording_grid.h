#pragma once
#include <map>
#include <string>
#include <utility>

#include "model/grid_surface.h"

// Keeps what the view rules wrote, cell by cell, the way the real grid would show it.
class RecordingGrid : public km27::GridSurface {
 public:
  void SetRow(int row) override { row_ = row; }
  void SetCol(int col) override { col_ = col; }
  void SetCellBackColor(uint32_t colorref) override { colors[{row_, col_}] = colorref; }
  int MouseRow() const override { return mouseRow; }
  void SetColAlignment(int col, int alignment) override { alignments[col] = alignment; }
  void SetColWidth(int col, int twips) override { widths[col] = twips; }
  void SetTextMatrix(int row, int col, const std::string& text) override { texts[{row, col}] = text; }

  std::string Text(int row, int col) const {
    auto it = texts.find({row, col});
    return it == texts.end() ? std::string() : it->second;
  }
  uint32_t Color(int row, int col) const {
    auto it = colors.find({row, col});
    return it == colors.end() ? km27::kPlainColor : it->second;
  }
  // Rows whose code and time cells are both grey.
  int GreyRowCount() const {
    int n = 0;
    for (int r = 1; r <= 20; ++r) n += Color(r, 1) == km27::kHighlightColor && Color(r, 2) == km27::kHighlightColor;
    return n;
  }
  bool IsGrey(int row) const {
    return Color(row, 1) == km27::kHighlightColor && Color(row, 2) == km27::kHighlightColor;
  }

  std::map<std::pair<int, int>, std::string> texts;
  std::map<std::pair<int, int>, uint32_t> colors;
  std::map<int, int> alignments, widths;
  int mouseRow = 0;

 private:
  int row_ = 0, col_ = 0;
};
