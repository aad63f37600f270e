#pragma once
#include <QDialog>

#include "port/com_names.h"
#include "ui/dialog_builder.h"

// 端口设置: what COM1–COM11 name (automatic, a device, a URL), and setting or clearing one in
// the COM directory in use. The search reads the directory afresh each time, so a change
// applies from the next search on.
class CPortSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CPortSettingsDlg(const km27::ComEnvironment& env, QWidget* parent = nullptr);

  QWidget* Control(int id) const { return built.Control(id); }

  void OnPortChosen();
  void OnSet();
  void OnClear();

 private:
  int ChosenPort() const;
  void ShowEntries();
  void Tell(const QString& text);
  bool Write(int n, const std::string& target);

  km27::ComEnvironment env;
  km27::ui::BuiltDialog built;
};
