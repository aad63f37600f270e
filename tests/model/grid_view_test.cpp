#include <gtest/gtest.h>

#include "model/param_model.h"
#include "recording_grid.h"

using namespace km27;

namespace {

class GridView : public ::testing::Test {
 protected:
  GridView() : model(cat) {
    model.AttachGrid(&grid);
    model.SetupColumns();
  }
  void Fill(int block, int n, uint8_t code = 1) {
    for (int s = 0; s < n; ++s) model.table.SetEntry(block, s, {code, uint8_t(3 + s)});
  }
  void Click(int row) {
    grid.mouseRow = row;
    model.OnGridMouseDown();
  }

  CodeCatalogue cat;
  RecordingGrid grid;
  ParamModel model;
};

}  // namespace

TEST_F(GridView, ColumnsAreSetUpOnce) {
  EXPECT_EQ(grid.Text(0, 0), "序号");
  EXPECT_EQ(grid.Text(0, 1), "低频");
  EXPECT_EQ(grid.Text(0, 2), "时间");
  EXPECT_EQ(grid.widths[0], 600);
  EXPECT_EQ(grid.widths[1], 1040);
  EXPECT_EQ(grid.widths[2], 1060);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(grid.alignments[c], 4);
}

TEST_F(GridView, BlockOfSevenShowsSevenRowsAndHighlightsTheLast) {
  Fill(0, 7);
  model.RefreshGrid();
  EXPECT_EQ(model.lastRow, 7);
  EXPECT_EQ(model.highlightRow, 7);
  EXPECT_EQ(grid.Text(7, 0), "7");
  EXPECT_EQ(grid.Text(7, 1), "7.0 Hz");
  EXPECT_EQ(grid.Text(7, 2), "9 s");
  for (int c = 0; c < 3; ++c) EXPECT_EQ(grid.Text(8, c), "");
  EXPECT_TRUE(grid.IsGrey(7));
  EXPECT_EQ(grid.GreyRowCount(), 1);
  EXPECT_EQ(grid.colors.count({7, 0}), 0u);  // the number column is never coloured
}

TEST_F(GridView, EmptyBlockHighlightsNothing) {
  model.RefreshGrid();
  EXPECT_EQ(model.highlightRow, 0);
  model.OnGridKeyUp(kKeyDown);
  model.OnGridKeyUp(kKeyUp);
  Click(1);
  EXPECT_EQ(model.highlightRow, 0);
  EXPECT_EQ(grid.GreyRowCount(), 0);
}

TEST_F(GridView, ArrowsStopAtTheEnds) {
  Fill(0, 3);
  model.RefreshGrid();
  model.OnGridKeyUp(kKeyDown);  // already on the last row
  EXPECT_EQ(model.highlightRow, 3);
  model.OnGridKeyUp(kKeyUp);
  model.OnGridKeyUp(kKeyUp);
  EXPECT_EQ(model.highlightRow, 1);
  model.OnGridKeyUp(kKeyUp);
  EXPECT_EQ(model.highlightRow, 1);
  EXPECT_TRUE(grid.IsGrey(1));
  model.OnGridKeyUp(kKeyDown);
  EXPECT_EQ(model.highlightRow, 2);
  model.OnGridKeyUp(37);  // other keys do nothing
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_EQ(grid.GreyRowCount(), 1);
}

TEST_F(GridView, ClicksOnlyReachOccupiedRows) {
  Fill(0, 5);
  model.RefreshGrid();
  Click(12);
  EXPECT_EQ(model.highlightRow, 5);
  Click(0);
  EXPECT_EQ(model.highlightRow, 5);
  Click(3);
  EXPECT_EQ(model.highlightRow, 3);
  EXPECT_TRUE(grid.IsGrey(3));
  EXPECT_FALSE(grid.IsGrey(5));
  Click(256 + 2);  // only the low 8 bits of the mouse row count
  EXPECT_EQ(model.highlightRow, 2);
}

TEST_F(GridView, StoredCodesOutsideTheListShowSafely) {
  model.table.SetEntry(16, 0, {13, 5});
  model.table.SetEntry(16, 1, {200, 5});
  model.SelectCarrier(16);
  EXPECT_EQ(grid.Text(1, 1), "FF");
  EXPECT_EQ(grid.Text(2, 1), "200");
}

TEST_F(GridView, ClampAfterTheBlockWasReplaced) {
  Fill(0, 6);
  model.RefreshGrid();
  EXPECT_EQ(model.highlightRow, 6);
  model.table.Clear();
  Fill(0, 2);
  model.RefreshRows();
  model.ClampHighlight();
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_EQ(grid.GreyRowCount(), 1);

  model.highlightRow = 0;  // as an upload leaves it
  model.ClampHighlight();
  EXPECT_EQ(model.highlightRow, 1);
  EXPECT_TRUE(grid.IsGrey(1));
}
