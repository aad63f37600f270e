#include "ui/help_viewer.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "res/app_icon.h"
#include "store/gbk.h"
#include "ui/dialog_builder.h"

namespace {
constexpr int kViewerPointSize = 11;
}  // namespace

CHelpViewer::CHelpViewer(const std::string& fileBytes, QWidget* owner) : QWidget(owner, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8(kHelpViewerTitle));
  setWindowIcon(km27::res::AppIcon());
  view = new QPlainTextEdit(this);
  view->setReadOnly(true);
  view->setFont(km27::ui::DialogFont("宋体", kViewerPointSize));
  view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  view->setTabStopDistance(QFontMetrics(view->font()).horizontalAdvance(QLatin1Char(' ')) * 4);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view);

  bool ok = false;
  const std::string utf8 = km27::GbkToUtf8(fileBytes, &ok);
  // A file that is not GBK (edited elsewhere) is shown as UTF-8 rather than not at all.
  QString text = QString::fromStdString(ok ? utf8 : fileBytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  view->setPlainText(text);
  resize(640, 480);
}

QString CHelpViewer::Text() const { return view->toPlainText(); }
