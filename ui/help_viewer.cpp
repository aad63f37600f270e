#include "ui/help_viewer.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "res/app_icon.h"
#include "store/gbk.h"
#include "ui/dialog_builder.h"

namespace {

constexpr int kViewerPointSize = 11;

// A file that is not GBK (edited elsewhere) is shown as UTF-8 rather than not at all.
QString DecodeHelpFile(const std::string& bytes) {
  bool ok = false;
  const std::string utf8 = km27::GbkToUtf8(bytes, &ok);
  return QString::fromStdString(ok ? utf8 : bytes);
}

}  // namespace

QString HelpViewerTitle() { return QCoreApplication::translate("CHelpViewer", kHelpViewerTitle); }

QString ShippedEnglishHelp() {
  km27::res::AppIcon();  // registers the program's resources, the help among them
  QFile file(QStringLiteral(":/km27/help_en.txt"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

CHelpViewer::CHelpViewer(const std::string& fileBytes, QWidget* owner) : CHelpViewer(DecodeHelpFile(fileBytes), owner) {}

CHelpViewer::CHelpViewer(const QString& shown, QWidget* owner) : QWidget(owner, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(HelpViewerTitle());
  setWindowIcon(km27::res::AppIcon());
  view = new QPlainTextEdit(this);
  view->setReadOnly(true);
  view->setFont(km27::ui::DialogFont("宋体", kViewerPointSize));
  view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  view->setTabStopDistance(QFontMetrics(view->font()).horizontalAdvance(QLatin1Char(' ')) * 4);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view);

  QString text = shown;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  view->setPlainText(text);
  resize(640, 480);
}

QString CHelpViewer::Text() const { return view->toPlainText(); }
