#include <gtest/gtest.h>

#include "model/param_model.h"
#include "recording_grid.h"

using namespace km27;

namespace {

class Editing : public ::testing::Test {
 protected:
  Editing() : model(cat) { model.AttachGrid(&grid); }

  // Fills the current block with n steps (codes 1..n, 3 s + i) the way the operator would.
  void AddSteps(int n) {
    for (int i = 0; i < n; ++i) model.Add(i + 1, 3 + i);
  }
  ParamEntry Slot(int s) const { return model.table.Entry(model.currentCarrier, s); }

  CodeCatalogue cat;
  RecordingGrid grid;
  ParamModel model;
};

}  // namespace

TEST_F(Editing, AddToAnEmptyBlockGoesToRowOne) {
  EditOutcome out = model.Add(2, 8);
  EXPECT_TRUE(out.changed);
  EXPECT_TRUE(out.showCounts);
  EXPECT_EQ(Slot(0), (ParamEntry{2, 8}));
  EXPECT_EQ(model.highlightRow, 1);
  EXPECT_EQ(model.lastRow, 1);
  EXPECT_TRUE(grid.IsGrey(1));
  EXPECT_EQ(grid.Text(1, 1), "8.0 Hz");
  EXPECT_EQ(grid.Text(1, 2), "8 s");
  const TableCounts c = model.Counts();
  EXPECT_EQ(c.families, 1);
  EXPECT_EQ(c.carriers, 1);
  EXPECT_EQ(c.entries, 1);
  EXPECT_EQ(model.options.MaskByte(0), 0x01);
}

TEST_F(Editing, AddGoesBelowTheHighlightAndTakesIt) {
  AddSteps(5);
  model.HighlightRow(3);
  model.Add(9, 60);
  EXPECT_EQ(Slot(3), (ParamEntry{9, 60}));
  EXPECT_EQ(Slot(4), (ParamEntry{4, 6}));  // former row 4 is now row 5
  EXPECT_EQ(Slot(5), (ParamEntry{5, 7}));
  EXPECT_EQ(model.highlightRow, 4);
  EXPECT_EQ(grid.GreyRowCount(), 1);
  EXPECT_EQ(model.lastRow, 6);
}

TEST_F(Editing, FullBlockRefusesAddButStillShowsCounts) {
  AddSteps(20);
  const ParamTable before = model.table;
  const uint8_t highlight = model.highlightRow;
  EditOutcome out = model.Add(1, 3);
  EXPECT_FALSE(out.changed);
  EXPECT_TRUE(out.showCounts);
  EXPECT_EQ(model.table, before);
  EXPECT_EQ(model.highlightRow, highlight);
  EXPECT_EQ(model.Counts().entries, 20);
}

TEST_F(Editing, MovesCarryTheHighlightAndStopAtTheEnds) {
  AddSteps(4);
  model.HighlightRow(1);
  const ParamTable before = model.table;
  EXPECT_FALSE(model.MoveUp().changed);
  EXPECT_EQ(model.table, before);

  EditOutcome out = model.MoveDown();
  EXPECT_TRUE(out.changed);
  EXPECT_FALSE(out.showCounts);  // moves never touch the counts
  EXPECT_EQ(Slot(0), (ParamEntry{2, 4}));
  EXPECT_EQ(Slot(1), (ParamEntry{1, 3}));
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_TRUE(grid.IsGrey(2));
  EXPECT_EQ(grid.Text(1, 1), "8.0 Hz");
  EXPECT_EQ(grid.Text(2, 1), "7.0 Hz");
  EXPECT_EQ(grid.Text(2, 2), "3 s");

  model.MoveUp();
  EXPECT_EQ(model.table, before);
  EXPECT_EQ(model.highlightRow, 1);

  model.HighlightRow(4);  // last occupied row
  EXPECT_FALSE(model.MoveDown().changed);
  EXPECT_EQ(model.table, before);
}

TEST_F(Editing, MovesWithoutHighlightDoNothing) {
  AddSteps(3);
  model.highlightRow = 0;
  const ParamTable before = model.table;
  EXPECT_FALSE(model.MoveDown().changed);
  EXPECT_FALSE(model.MoveUp().changed);
  EXPECT_FALSE(model.Delete().changed);
  EXPECT_FALSE(model.Delete().showCounts);
  EXPECT_EQ(model.table, before);
}

TEST_F(Editing, DeleteKeepsTheRowOrFollowsTheLastEntry) {
  AddSteps(5);
  model.HighlightRow(2);
  model.Delete();
  EXPECT_EQ(Slot(1), (ParamEntry{3, 5}));  // the following entry moved up under the highlight
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_EQ(model.lastRow, 4);
  EXPECT_EQ(Slot(4), (ParamEntry{0, 0}));

  model.HighlightRow(4);
  model.Delete();
  EXPECT_EQ(model.highlightRow, 3);
  EXPECT_TRUE(grid.IsGrey(3));
  EXPECT_EQ(grid.GreyRowCount(), 1);
  EXPECT_EQ(grid.Text(4, 0), "");
}

TEST_F(Editing, DeletingTheOnlyEntryEmptiesTheBlockAndItsMaskBit) {
  model.SelectCarrier(5);
  model.Add(0, 3);
  EXPECT_EQ(model.options.MaskByte(1), 0x02);
  EXPECT_TRUE(model.Delete().showCounts);
  EXPECT_EQ(model.highlightRow, 0);
  EXPECT_EQ(model.lastRow, 0);
  EXPECT_EQ(grid.GreyRowCount(), 0);
  EXPECT_EQ(model.options.MaskByte(1), 0x00);
}

TEST_F(Editing, ClearEmptiesEveryCarrierAndTheOptions) {
  AddSteps(3);
  model.SelectCarrier(17);
  AddSteps(2);
  model.options.SetLineOption(1, 1);
  model.options.SetCheckByte(0x33);
  model.table.SetEntry(19, 0, {1, 1});  // even the spare block
  model.ClearAll();
  EXPECT_EQ(model.table, ParamTable{});
  EXPECT_EQ(model.options, ParamOptions{});
  EXPECT_EQ(model.highlightRow, 0);
  EXPECT_EQ(model.currentCarrier, 17);  // the selection stays
  EXPECT_EQ(grid.GreyRowCount(), 0);
  EXPECT_EQ(model.Counts().entries, 0);
}

TEST_F(Editing, SelectingACarrierShowsItsBlock) {
  AddSteps(2);
  EXPECT_FALSE(model.SelectCarrier(0));  // already selected: nothing happens
  bool familyChanged = true;
  EXPECT_TRUE(model.SelectCarrier(1, &familyChanged));
  EXPECT_FALSE(familyChanged);
  EXPECT_EQ(model.lastRow, 0);
  EXPECT_EQ(model.highlightRow, 0);
  EXPECT_EQ(grid.Text(1, 0), "");
  EXPECT_TRUE(model.SelectCarrier(4, &familyChanged));
  EXPECT_TRUE(familyChanged);
  EXPECT_EQ(model.currentFamily, 1);
  EXPECT_TRUE(model.SelectCarrier(0, &familyChanged));
  EXPECT_EQ(model.highlightRow, 2);  // back to a block of two: the last row is highlighted
  EXPECT_FALSE(model.SelectCarrier(19));
  EXPECT_FALSE(model.SelectCarrier(-1));
}

TEST_F(Editing, LineOptionsAreKeptPerFamily) {
  model.SelectCarrier(4);
  model.SetLineOption(1);
  model.SelectCarrier(8);
  model.SetLineOption(0);
  model.SelectCarrier(16);
  model.SetLineOption(1);  // AC counting has no line option
  EXPECT_EQ(model.options.LineOption(1), 1);
  EXPECT_EQ(model.options.LineOption(2), 0);
  EXPECT_EQ(model.options.bytes[3], 0);
  EXPECT_EQ(model.options.bytes[7], 0);
}
