#include "ui/programme_history.h"

namespace km27::ui {

class ProgrammeHistory::Step : public QUndoCommand {
 public:
  Step(ProgrammeHistory& history, const QString& text, ChangeScope scope, const Placement& before,
       const Placement& after)
      : QUndoCommand(text), history_(history), scope_(scope), before_(before), after_(after) {}

  void undo() override { history_.Apply(before_, scope_); }
  void redo() override {
    // The change is already in place when the step is pushed.
    if (pushed_) history_.Apply(after_, scope_);
    pushed_ = true;
  }

 private:
  ProgrammeHistory& history_;
  ChangeScope scope_;
  Placement before_, after_;
  bool pushed_ = false;
};

ProgrammeHistory::ProgrammeHistory(ParamModel& model, QObject* parent)
    : QObject(parent), model_(model), known_(model.Snapshot()) {}

ProgrammeHistory::Placement ProgrammeHistory::Here() const {
  return {model_.Snapshot(), model_.currentCarrier, model_.highlightRow};
}

void ProgrammeHistory::Push(const QString& text, ChangeScope scope, const Placement& before, const Placement& after) {
  known_ = after.programme;
  if (after.programme == before.programme) return;
  stack_.push(new Step(*this, text, scope, before, after));
  emit Changed();
}

void ProgrammeHistory::Edit(const QString& text, ChangeScope scope, const std::function<void()>& edit) {
  if (busy_) {  // an edit within an edit is part of it
    edit();
    return;
  }
  const Placement before = Here();
  busy_ = true;
  edit();
  busy_ = false;
  Push(text, scope, before, Here());
}

void ProgrammeHistory::Undo() { stack_.undo(); }

void ProgrammeHistory::Redo() { stack_.redo(); }

QAction* ProgrammeHistory::CreateUndoAction(QObject* parent) { return CreateAction(parent, true); }
QAction* ProgrammeHistory::CreateRedoAction(QObject* parent) { return CreateAction(parent, false); }

QAction* ProgrammeHistory::CreateAction(QObject* parent, bool undo) {
  auto* a = new QAction(parent);
  const auto follow = [this, a, undo] {
    const bool can = undo ? stack_.canUndo() : stack_.canRedo();
    const QString verb = undo ? tr("撤销(&U)") : tr("重做(&R)");
    a->setEnabled(can);
    a->setText(can ? verb + QLatin1Char(' ') + (undo ? stack_.undoText() : stack_.redoText()) : verb);
  };
  connect(&stack_, &QUndoStack::indexChanged, a, follow);
  connect(a, &QAction::triggered, this, undo ? &ProgrammeHistory::Undo : &ProgrammeHistory::Redo);
  follow();
  return a;
}

void ProgrammeHistory::Adopt() { known_ = model_.Snapshot(); }

void ProgrammeHistory::Apply(const Placement& at, ChangeScope scope) {
  busy_ = true;
  bool carrierChanged = false;
  if (scope == ChangeScope::kCarrier && at.carrier != model_.currentCarrier)
    carrierChanged = model_.SelectCarrier(at.carrier);
  // A whole-programme step seen from another carrier than its own puts the highlight on the
  // last step, as switching carriers does.
  const bool sameCarrier = at.carrier == model_.currentCarrier;
  model_.ShowProgramme(at.programme, sameCarrier ? at.row : -1);
  known_ = at.programme;
  busy_ = false;
  emit Restored(carrierChanged);
  emit Changed();
}

}  // namespace km27::ui
