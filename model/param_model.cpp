#include "model/param_model.h"

namespace km27 {

ParamModel::ParamModel(const CodeCatalogue& catalogue) : catalogue_(catalogue) {}

void ParamModel::ResetSelection() {
  currentFamily = 0;
  currentCarrier = 0;
  highlightRow = 0;
  lastRow = 0;
}

bool ParamModel::SelectCarrier(int carrier, bool* familyChanged) {
  if (familyChanged) *familyChanged = false;
  if (carrier < 0 || carrier >= kCarrierCount || carrier == currentCarrier) return false;
  const SignalFamily family = FamilyOfCarrier(carrier);
  if (familyChanged) *familyChanged = family != currentFamily;
  highlightRow = 0;
  currentCarrier = uint8_t(carrier);
  currentFamily = family;
  RefreshGrid();
  return true;
}

void ParamModel::SetLineOption(int choice) {
  if (currentFamily < kLineOptionFamilies) options.SetLineOption(currentFamily, uint8_t(choice));
}

bool ParamModel::InsertEntry(int slot, uint8_t code, uint8_t seconds) {
  if (slot < 0 || slot >= kEditableSlots) return false;
  if (table.Occupied(currentCarrier, kEditableSlots - 1)) return false;  // block already holds 20
  for (int i = kEditableSlots - 1; i > slot; --i)
    table.SetEntry(currentCarrier, i, table.Entry(currentCarrier, i - 1));
  table.SetEntry(currentCarrier, slot, {code, seconds});
  return true;
}

bool ParamModel::RemoveEntry(int row) {
  if (row < 1 || row > kEditableSlots || !table.Occupied(currentCarrier, row - 1)) return false;
  for (int i = row - 1; i < kEditableSlots - 1; ++i)
    table.SetEntry(currentCarrier, i, table.Entry(currentCarrier, i + 1));
  table.SetEntry(currentCarrier, kEditableSlots - 1, {0, 0});
  return true;
}

void ParamModel::SwapEntries(int first, int second, bool movingUp) {
  (void)movingUp;  // both directions end with the highlight on the moved entry's new row
  const ParamEntry a = table.Entry(currentCarrier, first);
  table.SetEntry(currentCarrier, first, table.Entry(currentCarrier, second));
  table.SetEntry(currentCarrier, second, a);
  HighlightRow(second + 1);
  if (!grid_) return;
  for (int slot : {first, second}) {
    grid_->SetTextMatrix(slot + 1, 1, RowText(slot + 1, 1));
    grid_->SetTextMatrix(slot + 1, 2, RowText(slot + 1, 2));
  }
}

EditOutcome ParamModel::Add(int code, int seconds) {
  EditOutcome out;
  out.showCounts = true;  // shown again even when the block is full
  if (InsertEntry(highlightRow, uint8_t(code), uint8_t(seconds))) {
    HighlightRow(highlightRow + 1);
    RefreshRows();
    UpdateCarrierMask(table, options);
    out.changed = true;
  }
  return out;
}

EditOutcome ParamModel::MoveUp() {
  const int r = highlightRow;
  if (r < 2 || r > kEditableSlots || !table.Occupied(currentCarrier, r - 1)) return {};
  SwapEntries(r - 1, r - 2, true);
  return {true, false};
}

EditOutcome ParamModel::MoveDown() {
  const int r = highlightRow;
  // The row below must be a grid row: slot 20 and beyond are never shown or edited.
  if (r < 1 || r >= kEditableSlots || !table.Occupied(currentCarrier, r)) return {};
  SwapEntries(r - 1, r, false);
  return {true, false};
}

EditOutcome ParamModel::Delete() {
  if (!RemoveEntry(highlightRow)) return {};
  RefreshRows();
  ClampHighlight();
  UpdateCarrierMask(table, options);
  return {true, true};
}

EditOutcome ParamModel::ClearAll() {
  options.Clear();
  table.Clear();
  RefreshRows();
  ClampHighlight();
  UpdateCarrierMask(table, options);
  highlightRow = 0;
  return {true, true};
}

void ParamModel::ShowProgramme(const Programme& programme, int row) {
  options = programme.options;
  table = programme.table;
  RefreshRows();
  highlightRow = uint8_t(row < 0 ? lastRow : row > kEditableSlots ? kEditableSlots : row);
  ClampHighlight();
}

}  // namespace km27
