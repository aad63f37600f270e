// Undo and redo against the model: every sequence of edits, uploads and replacements goes back
// to the exact bytes it started from, and forward again to the exact bytes it reached.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "model/recording_grid.h"
#include "store/param_file.h"
#include "ui/programme_history.h"
#include "ui_test_support.h"

using namespace km27;
using km27::ui::ChangeScope;
using km27::ui::ProgrammeHistory;

namespace {

using Image = std::array<uint8_t, kParamFileSize>;

class History : public ::testing::Test {
 protected:
  History() : model(cat), history(model) {
    EnsureApp();
    model.AttachGrid(&grid);
  }
  Image Bytes() const { return BuildParamFileImage(model.options, model.table); }
  void Add(int code = 1, int seconds = 3) {
    history.Edit("添加", ChangeScope::kCarrier, [&] { model.Add(code, seconds); });
  }
  void Select(int carrier) { model.SelectCarrier(carrier); }

  // One random operation of the kinds the window performs.
  void RandomStep(std::mt19937& rng) {
    switch (rng() % 10) {
      case 0: Select(int(rng() % kCarrierCount)); break;
      case 1: model.HighlightRow(1 + int(rng() % 20)); break;
      case 2: history.Edit("上移", ChangeScope::kCarrier, [&] { model.MoveUp(); }); break;
      case 3: history.Edit("下移", ChangeScope::kCarrier, [&] { model.MoveDown(); }); break;
      case 4: history.Edit("删除", ChangeScope::kCarrier, [&] { model.Delete(); }); break;
      case 5:
        history.Edit("线路", ChangeScope::kCarrier, [&] { model.SetLineOption(int(rng() % 2)); });
        break;
      case 6:
        if (rng() % 4 == 0) history.Edit("清空", ChangeScope::kProgramme, [&] { model.ClearAll(); });
        break;
      case 7: {  // an upload: the window puts the programme it brought in place
        Programme p = model.Snapshot();
        p.table.SetEntry(int(rng() % kCarrierCount), int(rng() % 20), {uint8_t(rng() % 21), uint8_t(3 + rng() % 58)});
        p.options.SetCheckByte(uint8_t(rng()));
        history.Edit("上传", ChangeScope::kProgramme, [&] { model.ShowProgramme(p, -1); });
        break;
      }
      case 8: {  // open or import
        Programme p;
        for (int i = 0; i < 30; ++i)
          p.table.SetEntry(int(rng() % kCarrierCount), int(rng() % 20), {uint8_t(rng() % 21), uint8_t(3 + rng() % 58)});
        UpdateCarrierMask(p.table, p.options);
        history.Edit("打开", ChangeScope::kProgramme, [&] { model.ShowProgramme(p, -1); });
        break;
      }
      default: Add(int(rng() % 21), 3 + int(rng() % 58)); break;
    }
  }

  CodeCatalogue cat;
  RecordingGrid grid;
  ParamModel model;
  ProgrammeHistory history;
};

TEST_F(History, RandomSequencesUndoToTheStartingBytesAndRedoToTheEnd) {
  std::mt19937 rng(99);
  for (int round = 0; round < 40; ++round) {
    history.Stack().clear();
    history.Adopt();
    std::vector<Image> states = {Bytes()};  // after each recorded step
    for (int i = 0; i < 60; ++i) {
      const int before = history.Stack().count();
      RandomStep(rng);
      EXPECT_LE(history.Stack().count(), before + 1);
      if (history.Stack().count() > before) states.push_back(Bytes());
      else EXPECT_EQ(Bytes(), states.back()) << "a change without a step";
    }
    for (size_t k = states.size() - 1; k > 0; --k) {
      history.Undo();
      ASSERT_EQ(Bytes(), states[k - 1]) << "round " << round << " undo to " << k - 1;
    }
    EXPECT_FALSE(history.Stack().canUndo());
    for (size_t k = 1; k < states.size(); ++k) {
      history.Redo();
      ASSERT_EQ(Bytes(), states[k]) << "round " << round << " redo to " << k;
    }
  }
}

TEST_F(History, UndoGoesBackToTheEditedCarrierWithItsHighlight) {
  Select(2);
  Add(1, 3);
  Add(2, 4);
  Add(3, 5);
  model.HighlightRow(2);
  history.Edit("删除", ChangeScope::kCarrier, [&] { model.Delete(); });
  Select(9);
  Add(4, 6);
  bool carrierChanged = false;
  QObject::connect(&history, &ProgrammeHistory::Restored, [&](bool changed) { carrierChanged = changed; });

  history.Undo();  // the add on 9
  EXPECT_FALSE(carrierChanged);
  EXPECT_EQ(model.lastRow, 0);
  history.Undo();  // the delete on 2: back there, with the highlight on the row deleted
  EXPECT_TRUE(carrierChanged);
  EXPECT_EQ(model.currentCarrier, 2);
  EXPECT_EQ(model.currentFamily, 0);
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_EQ(model.lastRow, 3);
  EXPECT_EQ(grid.Text(2, 1), "8.0 Hz");
  EXPECT_TRUE(grid.IsGrey(2));
  EXPECT_EQ(grid.GreyRowCount(), 1);
  history.Redo();
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_EQ(model.lastRow, 2);
  EXPECT_EQ(grid.Text(2, 1), "8.5 Hz");

  // Clear stays on the carrier being edited; undone there, the highlight goes to its last step.
  Select(9);
  history.Edit("清空", ChangeScope::kProgramme, [&] { model.ClearAll(); });
  Select(2);
  history.Undo();
  EXPECT_EQ(model.currentCarrier, 2);
  EXPECT_EQ(model.lastRow, 2);
  EXPECT_EQ(model.highlightRow, 2);
  EXPECT_EQ(history.Stack().undoText(), "删除");
}

TEST_F(History, OnlyRealChangesBecomeStepsAndAnUploadIsOneStep) {
  model.MoveUp();  // nothing to move: no step
  history.Edit("上移", ChangeScope::kCarrier, [&] { model.MoveUp(); });
  EXPECT_EQ(history.Stack().count(), 0);
  Add();
  const Image afterAdd = Bytes();

  // The code box's download seals its check byte: taken in without a step of its own.
  model.options.SetCheckByte(0x77);
  history.Adopt();
  const Image sealed = Bytes();
  EXPECT_EQ(history.Stack().count(), 1);

  Programme uploaded;
  uploaded.table.SetEntry(5, 0, {3, 30});
  history.Edit("上传", ChangeScope::kProgramme, [&] { model.ShowProgramme(uploaded, -1); });
  Add();
  ASSERT_EQ(history.Stack().count(), 3);
  EXPECT_EQ(history.Stack().text(1), "上传");
  history.Undo();
  history.Undo();
  EXPECT_EQ(Bytes(), sealed);
  history.Undo();
  EXPECT_NE(Bytes(), afterAdd);
  history.Redo();
  EXPECT_EQ(Bytes(), afterAdd);  // the programme as the add left it, before the seal
}

}  // namespace
