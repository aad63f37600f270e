#include <QApplication>

#include "app/param_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The classic look: group box captions sit on the frame, as the dialog layouts assume.
  QApplication::setStyle(QStringLiteral("Windows"));
  CParamApp::InstallQtTranslations(app);
  CParamApp theApp;
  theApp.InitInstance();
  return 0;
}
