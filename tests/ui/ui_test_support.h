#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <functional>
#include <string>
#include <vector>

#include "link/link_timing.h"
#include "port/com_names.h"
#include "temp_dir.h"

// One QApplication for the whole test program, on the offscreen platform.
inline QApplication* EnsureApp() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A window serving the code transmitter scans COM ports: never let it reach real ones.
    qputenv("KM27_COM_DIR", "/nonexistent/km27-no-com-ports");
    // Transfers are recorded in a log of this process's own, never the user's.
    static TempDir log{"log"};
    qputenv("KM27_LOG", QByteArray::fromStdString(log / "transfers.jsonl"));
    auto* a = new QApplication(argc, argv);
    // Remembered settings (the verification switch, recent files) go to a directory of this
    // process's own: never the user's, and never another test's that runs at the same time.
    QStandardPaths::setTestModeEnabled(true);
    static TempDir settings{"settings"};
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.path));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(settings.path));
    QCoreApplication::setOrganizationName(QStringLiteral("km27-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("ui_tests"));
    QApplication::setStyle(QStringLiteral("Windows"));
    return a;
  }();
  return app;
}

// Each test runs in a fresh working directory of its own.
class TempWorkDir {
 public:
  TempWorkDir() : old_(QDir::currentPath()) {
    EXPECT_FALSE(dir_.path.empty());
    QDir::setCurrent(QString::fromStdString(dir_.path));
  }
  ~TempWorkDir() { QDir::setCurrent(old_); }
  QString Path(const QString& name) const {
    return QString::fromStdString(name.isEmpty() ? dir_.path : dir_ / name.toStdString());
  }

 private:
  TempDir dir_{"work"};
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

// COM ports of the test's own (a directory of COM links that simulators fill), found by the
// window through KM27_COM_DIR, put back when the object goes, and `timing`, a fifth of the
// real one, for the windows the test opens (a test may change it before it opens one). Fails
// the test if the directory cannot be made.
class SimulatedComPorts {
 public:
  explicit SimulatedComPorts(const TempWorkDir& work, int timingDivisor = 5)
      : timing(km27::LinkTiming{}.Scaled(timingDivisor)), dir_(work.Path("com").toStdString()) {
    EnsureApp();  // first: the application's start points KM27_COM_DIR at nothing
    EXPECT_TRUE(QDir().mkpath(QString::fromStdString(dir_)));
    setenv(km27::kComDirVariable, dir_.c_str(), 1);
  }
  ~SimulatedComPorts() { setenv(km27::kComDirVariable, "/nonexistent/km27-no-com-ports", 1); }
  SimulatedComPorts(const SimulatedComPorts&) = delete;
  SimulatedComPorts& operator=(const SimulatedComPorts&) = delete;
  const std::string& Dir() const { return dir_; }

  km27::LinkTiming timing;

 private:
  std::string dir_;
};
