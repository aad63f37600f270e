#pragma once
#include <cstdint>
#include <string>

namespace km27 {

// The operations of the table grid that the view rules use (row 0 and column 0 are fixed cells).
// The Qt adapter implements it for the window; tests use a recording fake.
class GridSurface {
 public:
  virtual ~GridSurface() = default;
  virtual void SetRow(int row) = 0;                        // current row for the next cell property
  virtual void SetCol(int col) = 0;                        // current column
  virtual void SetCellBackColor(uint32_t colorref) = 0;    // 0x00BBGGRR, current cell only
  virtual int MouseRow() const = 0;                        // row under the pointer, 0 = header
  virtual void SetColAlignment(int col, int alignment) = 0;  // 4 = centre, centre
  virtual void SetColWidth(int col, int twips) = 0;
  virtual void SetTextMatrix(int row, int col, const std::string& utf8) = 0;
};

inline constexpr int kGridRows = 21;
inline constexpr int kGridCols = 3;
inline constexpr uint32_t kHighlightColor = 0xC8C8C8;
inline constexpr uint32_t kPlainColor = 0xFFFFFF;
inline constexpr int kAlignCentreCentre = 4;
inline constexpr int kKeyUp = 38;    // virtual-key codes the grid reports
inline constexpr int kKeyDown = 40;

}  // namespace km27
