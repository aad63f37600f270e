#include "app/device_select_dlg.h"

#include <QAbstractButton>

#include "res/app_icon.h"
#include "res/dialog_templates.h"

using namespace km27::res;

CDeviceSelectDlg::CDeviceSelectDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  built = km27::ui::BuildDialog(this, *FindDialogTemplate(IDD_DEVICE_SELECT));
  connect(static_cast<QAbstractButton*>(Control(IDOK)), &QAbstractButton::clicked, this, &QDialog::accept);
  connect(static_cast<QAbstractButton*>(Control(IDCANCEL)), &QAbstractButton::clicked, this, &QDialog::reject);
  connect(static_cast<QAbstractButton*>(Control(IDC_CODE_TRANSMITTER)), &QAbstractButton::clicked, this,
          &CDeviceSelectDlg::OnCodeTransmitter);
  connect(static_cast<QAbstractButton*>(Control(IDC_CODE_BOX)), &QAbstractButton::clicked, this,
          &CDeviceSelectDlg::OnCodeBox);
  OnInitDialog();
}

void CDeviceSelectDlg::OnInitDialog() {
  // Checking by code sends no click, so `model` keeps its initial value until a radio is clicked.
  static_cast<QAbstractButton*>(Control(IDC_CODE_TRANSMITTER))->setChecked(true);
}

int CDeviceSelectDlg::DoModal() { return exec(); }

void CDeviceSelectDlg::OnCodeTransmitter() { model = km27::CodeTransmitter; }
void CDeviceSelectDlg::OnCodeBox() { model = km27::CodeBox; }
