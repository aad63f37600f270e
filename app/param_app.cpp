#include "app/param_app.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstring>

#include "app/about_dlg.h"
#include "app/device_select_dlg.h"
#include "ui/param_dlg.h"

char g_startDir[260];

bool CParamApp::InitInstance() {
  std::memset(g_startDir, 0, sizeof g_startDir);
  if (!getcwd(g_startDir, sizeof g_startDir)) g_startDir[0] = '\0';

  CParamDlg dlg;
  PrepareMainWindow(dlg);
  CDeviceSelectDlg select;
  if (select.DoModal() == QDialog::Accepted) {
    dlg.SetDeviceModel(select.GetDeviceModel());
    dlg.DoModal();
  }
  return false;
}

void CParamApp::PrepareMainWindow(CParamDlg& dlg) {
  if (g_startDir[0] != '\0') dlg.SetStartDir(g_startDir);
  dlg.SetAboutBox([](QWidget* parent) {
    CAboutDlg about(parent);
    about.DoModal();
  });
}

QTranslator* CParamApp::InstallQtTranslations(QCoreApplication& app) {
  auto* qt = new QTranslator(&app);
  if (!qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(qt)) {
    delete qt;
    return nullptr;
  }
  return qt;
}
