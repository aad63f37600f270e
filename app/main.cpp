#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "app/command_line.h"
#include "app/param_app.h"
#include "port/user_dirs.h"
#include "ui/interface_language.h"

int main(int argc, char** argv) {
  SetHomeFromAccount();
  // Where the operator's choices are remembered (~/.config/km27/km27param.conf): the language
  // among them is read before the application starts.
  QCoreApplication::setOrganizationName(QStringLiteral("km27"));
  QCoreApplication::setApplicationName(QStringLiteral("km27param"));
  const StartOptions options = ReadStartOptions(argc, argv);
  if (options.exitCode >= 0 && !options.say) return options.exitCode;
  // Before anything builds a text.
  km27::SetLanguage(ChooseLanguage(options.language, km27::ui::RememberedLanguage(), km27::SystemLanguage()));
  if (options.exitCode >= 0) {
    // Translations need an application, though not a display.
    QCoreApplication words(argc, argv);
    CParamApp::InstallLanguage(words, km27::CurrentLanguage());
    std::fputs(UsageText(options).c_str(), options.exitCode == 0 ? stdout : stderr);
    return options.exitCode;
  }
  // Before anything reads the working directory: the files live where the operator asked.
  std::string workDirError;
  const bool inWorkDir = options.workDir.empty() || EnterWorkDir(options.workDir, &workDirError);
  QApplication app(argc, argv);
  // The classic look: group box captions sit on the frame, as the dialog layouts assume.
  QApplication::setStyle(QStringLiteral("Windows"));
  CParamApp::InstallLanguage(app, km27::CurrentLanguage());
  if (!inWorkDir) {
    // Started from the menu there is no terminal to read an error in.
    QMessageBox::critical(nullptr, QCoreApplication::translate("CParamApp", "参数设置工具"),
                          QCoreApplication::translate("CParamApp", "工作目录不可用：\n%1\n原因：%2")
                              .arg(QString::fromStdString(options.workDir), QString::fromStdString(workDirError)));
    return 1;
  }
  CParamApp theApp;
  if (options.logChosen) theApp.SetTransferLog(options.logPath);
  theApp.InitInstance();
  return 0;
}
