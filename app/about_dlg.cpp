#include "app/about_dlg.h"

#include <QAbstractButton>

#include "res/app_icon.h"
#include "res/dialog_templates.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(km27::res::AppIcon());
  built = km27::ui::BuildDialog(this, *km27::res::FindDialogTemplate(km27::res::IDD_ABOUTBOX));
  connect(static_cast<QAbstractButton*>(Control(km27::res::IDOK)), &QAbstractButton::clicked, this,
          &QDialog::accept);
}
