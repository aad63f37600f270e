#pragma once
#include <QDialog>

#include "ui/dialog_builder.h"

// Dialog 100: the About box.
class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  int DoModal() { return exec(); }
  QWidget* Control(int id) const { return built.Control(id); }

 private:
  km27::ui::BuiltDialog built;
};
