#include "app/param_app.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <cstring>
#include <memory>

#include "app/about_dlg.h"
#include "app/device_select_dlg.h"
#include "port/stop_requests.h"
#include "res/translations.h"
#include "store/file_io.h"
#include "ui/param_dlg.h"
#include "ui/qt_event_loop.h"

char g_startDir[260];

namespace {

// SIGTERM and SIGHUP (a kill, a logout, a closed terminal) and the session's end close the
// window as 退出 does, with its exit save, for as long as the object lives. The handler only
// marks the request; the window's thread does the rest.
class EndRequests {
 public:
  explicit EndRequests(CParamDlg& dlg) : requests_(km27::kStopTerminate | km27::kStopHangUp) {
    if (!requests_.Ok()) return;
    loop_ = std::make_unique<QtEventLoop>();
    loop_->WatchHandle(requests_.Handle(), km27::kReadable, [this, &dlg](unsigned) {
      requests_.Take();
      dlg.LeaveUnattended();
    });
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &dlg, [&dlg](QSessionManager&) { dlg.LeaveUnattended(); });
  }
  EndRequests(const EndRequests&) = delete;
  EndRequests& operator=(const EndRequests&) = delete;

 private:
  km27::StopRequests requests_;
  std::unique_ptr<QtEventLoop> loop_;  // destroyed first: nothing watches the handle once it closes
};

}  // namespace

bool CParamApp::InitInstance() {
  std::memset(g_startDir, 0, sizeof g_startDir);
  // A longer path than fits is no start directory at all, rather than a cut one.
  if (const std::string cwd = km27::CurrentDirectory(); cwd.size() < sizeof g_startDir)
    std::memcpy(g_startDir, cwd.data(), cwd.size());

  CParamDlg dlg;
  PrepareMainWindow(dlg);
  if (logChosen_) dlg.SetTransferLogPath(logPath_);
  CDeviceSelectDlg select;
  if (select.DoModal() == QDialog::Accepted) {
    dlg.SetDeviceModel(select.GetDeviceModel());
    EndRequests ends(dlg);
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

QTranslator* CParamApp::InstallQtTranslations(QCoreApplication& app) { return km27::res::InstallQtChinese(app); }

void CParamApp::InstallLanguage(QCoreApplication& app, km27::Language language) {
  km27::res::InstallInterfaceLanguage(app, language);
}
