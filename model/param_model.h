#pragma once
#include <cstdint>

#include "model/code_catalogue.h"
#include "model/grid_surface.h"
#include "model/param_table.h"

namespace km27 {

// What an editing command asks of the window afterwards.
struct EditOutcome {
  bool changed = false;     // the table changed
  bool showCounts = false;  // the window must call ShowCounts
};

// The main window's programme and editing state: the table with its options, the selected
// carrier and family, the highlighted row and the last occupied row, and every rule that
// changes them. Grid drawing goes to the attached surface (none attached: nothing is drawn).
class ParamModel {
 public:
  explicit ParamModel(const CodeCatalogue& catalogue);

  void AttachGrid(GridSurface* grid) { grid_ = grid; }
  const CodeCatalogue& Catalogue() const { return catalogue_; }

  ParamTable table;
  ParamOptions options;
  uint8_t currentFamily = 0;
  uint8_t currentCarrier = 0;
  uint8_t highlightRow = 0;  // 1-based grid row carrying the highlight, 0 = none
  int lastRow = 0;           // last occupied row of the current block, 0 = empty

  // Zeroes the editing selection (carrier, family, highlight, last row).
  void ResetSelection();

  // Carrier radio handler core: returns false when the carrier was already selected.
  // On a change the highlight is cleared and the grid redrawn; familyChanged tells the window
  // to refill the code combo and reset the line radios.
  bool SelectCarrier(int carrier, bool* familyChanged = nullptr);

  // Stores a line radio value (0/1) for the current family; family 3 stores nothing.
  void SetLineOption(int choice);

  // Grid view.
  void SetupColumns();
  void RefreshGrid();
  void RefreshRows();
  void HighlightRow(int row);
  void ClampHighlight();
  void OnGridKeyUp(int keyCode);
  void OnGridMouseDown();
  std::string RowText(int row, int col) const;  // what an occupied/empty row shows

  // Editing on the block of currentCarrier.
  bool InsertEntry(int slot, uint8_t code, uint8_t seconds);
  bool RemoveEntry(int row);
  void SwapEntries(int first, int second, bool movingUp);

  EditOutcome Add(int code, int seconds);
  EditOutcome MoveUp();
  EditOutcome MoveDown();
  EditOutcome Delete();
  EditOutcome ClearAll();  // after the window's confirmation

  TableCounts Counts() const { return CountTable(table); }

  Programme Snapshot() const { return {options, table}; }
  // Puts a whole programme in place of this one and redraws the rows of the current block, with
  // the highlight on `row` as far as the block reaches (an empty block shows none); a negative
  // row puts it on the last step, as an upload does.
  void ShowProgramme(const Programme& programme, int row);

 private:
  void WriteRowTexts(int row);
  void PaintRow(int row, bool grey);

  const CodeCatalogue& catalogue_;
  GridSurface* grid_ = nullptr;
};

}  // namespace km27
