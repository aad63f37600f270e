#pragma once
#include <string>

#include "model/messages.h"

// The working directory at start-up (the device information file is found through it).
extern char g_startDir[260];

class CParamDlg;
class QCoreApplication;
class QTranslator;

// Start-up: remembers the directory, asks which lower machine is served, runs the main window.
class CParamApp {
 public:
  // Returns false always: the process ends when this returns.
  bool InitInstance();
  // --log FILE / --no-log (empty path): the window records there instead of the shared log.
  void SetTransferLog(const std::string& path) {
    logChosen_ = true;
    logPath_ = path;
  }
  // What the application gives its main window: the start-up directory and the About box.
  static void PrepareMainWindow(CParamDlg& dlg);
  // Qt's own dialogs and buttons (file choosers, the print dialog, 是/否) speak Chinese like the
  // rest of the tool, whatever the system's language. nullptr when the translation is missing.
  static QTranslator* InstallQtTranslations(QCoreApplication& app);
  // The translators of the interface's language: Qt's own Chinese for Chinese; nothing yet for
  // English, the toolkit's own language. Tests install the language through this too.
  static void InstallLanguage(QCoreApplication& app, km27::Language language);

 private:
  bool logChosen_ = false;
  std::string logPath_;
};
