#include <QApplication>

#include "app/command_line.h"
#include "app/param_app.h"

int main(int argc, char** argv) {
  if (const int rc = HandleInformationOptions(argc, argv); rc >= 0) return rc;
  QApplication app(argc, argv);
  // Where the operator's choices are remembered (~/.config/km27/km27param.conf).
  QCoreApplication::setOrganizationName(QStringLiteral("km27"));
  QCoreApplication::setApplicationName(QStringLiteral("km27param"));
  // The classic look: group box captions sit on the frame, as the dialog layouts assume.
  QApplication::setStyle(QStringLiteral("Windows"));
  CParamApp::InstallQtTranslations(app);
  CParamApp theApp;
  theApp.InitInstance();
  return 0;
}
