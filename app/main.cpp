#include <QApplication>
#include <QMessageBox>

#include "app/command_line.h"
#include "app/param_app.h"
#include "res/translations.h"

int main(int argc, char** argv) {
  SetHomeFromAccount();
  const StartOptions options = ReadStartOptions(argc, argv);
  if (options.exitCode >= 0) return options.exitCode;
  // Before anything reads the working directory: the files live where the operator asked.
  std::string workDirError;
  const bool inWorkDir = options.workDir.empty() || EnterWorkDir(options.workDir, &workDirError);
  QApplication app(argc, argv);
  // Where the operator's choices are remembered (~/.config/km27/km27param.conf).
  QCoreApplication::setOrganizationName(QStringLiteral("km27"));
  QCoreApplication::setApplicationName(QStringLiteral("km27param"));
  // The classic look: group box captions sit on the frame, as the dialog layouts assume.
  QApplication::setStyle(QStringLiteral("Windows"));
  km27::res::InstallInterfaceLanguage(app, km27::CurrentLanguage());
  if (!inWorkDir) {
    // Started from the menu there is no terminal to read an error in.
    QMessageBox::critical(nullptr, QCoreApplication::translate("main", "参数设置工具"),
                          QCoreApplication::translate("main", "工作目录不可用：\n%1\n原因：%2")
                              .arg(QString::fromStdString(options.workDir), QString::fromStdString(workDirError)));
    return 1;
  }
  CParamApp theApp;
  if (options.logChosen) theApp.SetTransferLog(options.logPath);
  theApp.InitInstance();
  return 0;
}
