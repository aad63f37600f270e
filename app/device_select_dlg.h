#pragma once
#include <QDialog>

#include "model/device_model.h"
#include "ui/dialog_builder.h"

// Dialog 146: which lower machine is served. The code transmitter is shown checked.
class CDeviceSelectDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CDeviceSelectDlg(QWidget* parent = nullptr);

  int DoModal();
  km27::DeviceModel GetDeviceModel() const { return model; }
  QWidget* Control(int id) const { return built.Control(id); }

  void OnCodeTransmitter();
  void OnCodeBox();

 private:
  void OnInitDialog();

  km27::DeviceModel model = km27::CodeTransmitter;
  km27::ui::BuiltDialog built;
};
