#pragma once
#include <QWidget>
#include <string>

class QPlainTextEdit;

// The title a window showing the help carries; any window with it counts as the help viewer.
inline constexpr const char kHelpViewerTitle[] = "KM27A - 记事本";

// Read-only window showing the help file's bytes (GBK) as they were when the window opened.
class CHelpViewer : public QWidget {
  Q_OBJECT
 public:
  explicit CHelpViewer(const std::string& fileBytes, QWidget* owner = nullptr);
  QString Text() const;

 private:
  QPlainTextEdit* view;
};
