#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QToolTip>
#include <memory>

#include "model/messages.h"
#include "res/translations.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui_test_support.h"

using namespace km27;

namespace {

QString OneLine(QString s) { return s.replace(QLatin1Char('\n'), QStringLiteral("\\n")); }

// Every text the operator can read in the window, its menu included, one per line, in the order
// the window made them.
QStringList WindowTexts(CParamDlg& dlg) {
  QStringList out;
  const auto add = [&out](const QString& where, const QString& text) {
    if (!text.isEmpty()) out << where + QStringLiteral(": ") + OneLine(text);
  };
  add(QStringLiteral("title"), dlg.windowTitle());
  for (QWidget* w : dlg.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&dlg)) continue;
    const QString where =
        QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->objectName();
    add(where + QStringLiteral(" tooltip"), w->toolTip());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) add(where, b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) add(where, l->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) add(where, g->title());
    if (auto* e = qobject_cast<QLineEdit*>(w)) add(where + QStringLiteral(" placeholder"), e->placeholderText());
    if (auto* c = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < c->count(); ++i) add(where + QStringLiteral(" item"), c->itemText(i));
  }
  for (int col = 0; col < dlg.grid->columnCount(); ++col) add(QStringLiteral("grid head"), dlg.grid->TextMatrix(0, col));
  std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& where) {
    for (QAction* a : menu->actions()) {
      if (a->isSeparator()) continue;
      const QString keys = a->shortcut().toString(QKeySequence::PortableText);
      add(where, a->text() + (keys.isEmpty() ? QString() : QStringLiteral("\t") + keys));
      if (a->toolTip() != QString(a->text()).remove(QLatin1Char('&')).trimmed()) add(where + QStringLiteral(" tooltip"), a->toolTip());
      // A submenu's entries are the recent files, which depend on what ran before.
      if (a->menu()) add(where + QStringLiteral(" submenu"), a->menu()->title());
    }
  };
  walk(dlg.SystemMenu(), QStringLiteral("menu"));
  QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), dlg.lamp->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(dlg.lamp, &hover);
  add(QStringLiteral("lamp tooltip"), QToolTip::text());
  QToolTip::hideText();
  return out;
}

// Under Chinese the window reads exactly as before the tool learnt a second language: the
// snapshot was taken from the Chinese-only window. A text added on purpose (a new menu entry)
// goes into it with KM27_WRITE_SNAPSHOT=1 set for one run, and the diff is read before commit.
TEST(MainWindowTexts, ChineseWindowEqualsItsSnapshot) {
  EnsureApp();
  SetLanguage(Language::kChinese);
  res::InstallInterfaceLanguage(*qApp, Language::kChinese);
  TempWorkDir work;
  QStringList texts;
  for (DeviceModel model : {CodeBox, CodeTransmitter}) {
    CParamDlg dlg;
    dlg.SetMessageBox([](QWidget*, QMessageBox::Icon, const QString&, const QString&, QMessageBox::StandardButtons) {
      return QMessageBox::Ok;
    });
    dlg.SetDeviceModel(model);
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    texts << QStringLiteral("[%1]").arg(IsCodeTransmitter(model) ? "code transmitter" : "code box") << WindowTexts(dlg);
  }
  const QString path = QStringLiteral(KM27_SOURCE_DIR "/tests/ui/data/main_window_zh.txt");
  QFile file(path);
  if (qEnvironmentVariableIsSet("KM27_WRITE_SNAPSHOT")) {
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write((texts.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return;
  }
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  const QStringList expected = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  EXPECT_EQ(texts.join(QLatin1Char('\n')).toStdString(), expected.join(QLatin1Char('\n')).toStdString());
}

}  // namespace
