#include "app/param_app.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QLibraryInfo>
#include <QTranslator>
#include <cerrno>
#include <cstring>

#include "app/about_dlg.h"
#include "app/device_select_dlg.h"
#include "ui/param_dlg.h"

char g_startDir[260];

namespace {

int g_signalPipe[2] = {-1, -1};

void OnEndSignal(int) {
  // Only what is safe in a handler: the window's thread reads the byte and does the rest.
  const int saved = errno;
  const char byte = 1;
  (void)!write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

// SIGTERM and SIGHUP (a kill, a logout, a closed terminal) and the session's end close the
// window as 退出 does, with its exit save, for as long as the object lives.
class EndRequests {
 public:
  explicit EndRequests(CParamDlg& dlg) {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &dlg);
    QObject::connect(notifier_, &QSocketNotifier::activated, &dlg, [&dlg] {
      char buf[16];
      while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
      }
      dlg.LeaveUnattended();
    });
    struct sigaction sa {};
    sa.sa_handler = OnEndSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &dlg, [&dlg](QSessionManager&) { dlg.LeaveUnattended(); });
  }
  ~EndRequests() {
    if (g_signalPipe[0] < 0) return;
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    delete notifier_;
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
  }
  EndRequests(const EndRequests&) = delete;
  EndRequests& operator=(const EndRequests&) = delete;

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace

bool CParamApp::InitInstance() {
  std::memset(g_startDir, 0, sizeof g_startDir);
  if (!getcwd(g_startDir, sizeof g_startDir)) g_startDir[0] = '\0';

  CParamDlg dlg;
  PrepareMainWindow(dlg);
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

QTranslator* CParamApp::InstallQtTranslations(QCoreApplication& app) {
  auto* qt = new QTranslator(&app);
  if (!qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(qt)) {
    delete qt;
    return nullptr;
  }
  return qt;
}
