#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

// One QApplication for the whole test program, on the offscreen platform.
inline QApplication* EnsureApp() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A window serving the code transmitter scans COM ports: never let it reach real ones.
    qputenv("KM27_COM_DIR", "/nonexistent/km27-no-com-ports");
    auto* a = new QApplication(argc, argv);
    // Settings (the recent files) go to a test location, never the user's own.
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setStyle(QStringLiteral("Windows"));
    return a;
  }();
  return app;
}

// Each test runs in a fresh working directory of its own.
class TempWorkDir {
 public:
  TempWorkDir() : old_(QDir::currentPath()) {
    EXPECT_TRUE(dir_.isValid());
    QDir::setCurrent(dir_.path());
  }
  ~TempWorkDir() { QDir::setCurrent(old_); }
  QString Path(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
  QString old_;
};

// Answers message boxes in place of the operator and records what was asked.
struct ScriptedAnswers {
  struct Asked {
    QMessageBox::Icon icon;
    QString caption, text;
    QMessageBox::StandardButtons buttons;
  };
  std::vector<Asked> asked;
  std::function<QMessageBox::StandardButton(const Asked&)> answer = [](const Asked&) { return QMessageBox::No; };

  template <class Dlg>
  void InstallOn(Dlg& dlg) {
    dlg.SetMessageBox([this](QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text,
                             QMessageBox::StandardButtons buttons) {
      asked.push_back({icon, caption, text, buttons});
      return answer(asked.back());
    });
  }
};
