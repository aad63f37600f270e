#pragma once
#include <QWidget>

class QPlainTextEdit;

// The title a window showing the help carries; any window with it counts as the help viewer.
inline constexpr const char kHelpViewerTitle[] = "KM27A - 记事本";

// Read-only window showing the GBK help file as it was when the window opened.
class CHelpViewer : public QWidget {
  Q_OBJECT
 public:
  explicit CHelpViewer(const QString& fileName, QWidget* owner = nullptr);
  QString Text() const;

 private:
  QPlainTextEdit* view;
};
