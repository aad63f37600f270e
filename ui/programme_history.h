#pragma once
#include <QAction>
#include <QObject>
#include <QString>
#include <QUndoStack>
#include <functional>

#include "model/param_model.h"

namespace km27::ui {

// What a recorded change touched, so that undoing it shows it: an edit of one carrier's steps
// (or of its family's line setting) goes back to that carrier with the highlight where it was;
// a change of the whole programme (clear, upload, open, import) stays on the carrier being edited.
enum class ChangeScope { kCarrier, kProgramme };

// The undo history of the programme. Every step keeps the whole programme before and after it
// (968 bytes each), so undo and redo give back exactly the bytes that were there.
class ProgrammeHistory : public QObject {
  Q_OBJECT
 public:
  explicit ProgrammeHistory(ParamModel& model, QObject* parent = nullptr);

  QUndoStack& Stack() { return stack_; }

  // Runs an edit of the model; it becomes a step when it changed the programme.
  void Edit(const QString& text, ChangeScope scope, const std::function<void()>& edit);
  // Undo and redo the last step.
  void Undo();
  void Redo();
  // Menu entries for them, named after the step they would undo or redo ("撤销 添加").
  QAction* CreateUndoAction(QObject* parent);
  QAction* CreateRedoAction(QObject* parent);

  // The programme as it now stands is taken as known without a step of its own: the first
  // programme of the window, and the check byte a download sealed into it.
  void Adopt();

 signals:
  // Undo or redo put a programme in place; the carrier being edited changed with it when
  // carrierChanged.
  void Restored(bool carrierChanged);
  // The programme changed: an edit, undo or redo.
  void Changed();

 private:
  struct Placement {
    Programme programme;
    int carrier = 0;
    int row = 0;
  };
  class Step;
  QAction* CreateAction(QObject* parent, bool undo);
  Placement Here() const;
  void Push(const QString& text, ChangeScope scope, const Placement& before, const Placement& after);
  void Apply(const Placement& at, ChangeScope scope);

  ParamModel& model_;
  QUndoStack stack_;
  Programme known_;   // the programme as the last step (or Adopt) left it
  bool busy_ = false;  // inside an edit or a restore: the programme is ours to change
};

}  // namespace km27::ui
