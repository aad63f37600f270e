#include "app/param_app.h"

#include <unistd.h>

#include <cstring>

#include "app/device_select_dlg.h"
#include "ui/param_dlg.h"

char g_startDir[260];

bool CParamApp::InitInstance() {
  std::memset(g_startDir, 0, sizeof g_startDir);
  if (!getcwd(g_startDir, sizeof g_startDir)) g_startDir[0] = '\0';

  CParamDlg dlg;
  CDeviceSelectDlg select;
  if (select.DoModal() == QDialog::Accepted) {
    dlg.SetDeviceModel(select.GetDeviceModel());
    dlg.DoModal();
  }
  return false;
}
