#pragma once
#include <QCoreApplication>
#include <QWidget>
#include <string>

class QPlainTextEdit;

// The title a window showing the help carries; any window with it counts as the help viewer.
inline constexpr const char kHelpViewerTitle[] = QT_TRANSLATE_NOOP("CHelpViewer", "KM27A - 记事本");

// The title in the interface's language.
QString HelpViewerTitle();

// The help in English, shipped with the program: in English the help file is neither shown nor
// written, since KM27A.txt is the Chinese one the operators have always had.
QString ShippedEnglishHelp();

// Read-only window showing the help: the help file's bytes (GBK) as they were when the window
// opened, or a text of the program's own.
class CHelpViewer : public QWidget {
  Q_OBJECT
 public:
  explicit CHelpViewer(const std::string& fileBytes, QWidget* owner = nullptr);
  explicit CHelpViewer(const QString& text, QWidget* owner = nullptr);
  QString Text() const;

 private:
  QPlainTextEdit* view;
};
