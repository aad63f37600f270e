// In English every window and dialog the program opens shows no Chinese character and no cut
// text: the translations are loaded the way the program loads them, then each window's widgets
// are walked.
#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <functional>

#include "app/device_select_dlg.h"
#include "app/param_app.h"
#include "model/status_texts.h"
#include "model/transfer_texts.h"
#include "ui/difference_view.h"
#include "ui/help_viewer.h"
#include "ui/overview_window.h"
#include "ui/param_dlg.h"
#include "ui/programme_documents.h"
#include "ui/transfer_log_window.h"
#include "ui/ui_test_support.h"

using namespace km27;

namespace {

// Ideographs, CJK punctuation and kana, and the full-width forms (：，（）).
bool HasCjk(const QString& text) {
  static const QRegularExpression cjk(QStringLiteral("[\\x{2E80}-\\x{9FFF}\\x{F900}-\\x{FAFF}\\x{FE30}-\\x{FE4F}\\x{FF00}-\\x{FFEF}]"));
  return text.contains(cjk);
}

// Collects every Chinese character shown and every text cut short.
struct Walker {
  std::vector<std::string> problems;

  void Text(const QString& where, const QString& text) {
    if (HasCjk(text)) problems.push_back(where.toStdString() + ": " + text.toStdString());
  }
  void Menu(const QString& where, const QMenu* menu) {
    for (const QAction* a : menu->actions()) {
      Text(where, a->text());
      if (a->menu()) Menu(where + " > " + a->text(), a->menu());
    }
  }

  void Window(QWidget* top) {
    QList<QWidget*> widgets = top->findChildren<QWidget*>();
    widgets.prepend(top);
    for (QWidget* w : widgets) {
      if (w != top && !w->isVisibleTo(top)) continue;
      const QString at = QString::fromLatin1(top->metaObject()->className()) + "/" +
                         QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
      for (const char* shown : {"windowTitle", "toolTip", "text", "title", "placeholderText", "plainText"})
        Text(at, w->property(shown).toString());
      if (auto* c = qobject_cast<QComboBox*>(w))
        for (int i = 0; i < c->count(); ++i) Text(at, c->itemText(i));
      // A header shows its view's header data, walked with the view.
      if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model() && !qobject_cast<QHeaderView*>(w)) {
        const QAbstractItemModel* m = v->model();
        for (int c = 0; c < m->columnCount(); ++c) {
          Text(at, m->headerData(c, Qt::Horizontal).toString());
          for (int r = 0; r < m->rowCount(); ++r) Text(at, m->index(r, c).data().toString());
        }
      }
      // Cut texts: the style's least width of a push button is no measure of its text.
      QString text = w->property("text").toString();
      text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
      int need = 0;
      if (qobject_cast<QPushButton*>(w) && !text.isEmpty())
        need = w->fontMetrics().horizontalAdvance(text) + w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) +
               2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
      else if ((qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w)) && !text.isEmpty() &&
               !w->property("wordWrap").toBool())
        need = w->sizeHint().width();
      if (need > w->width())
        problems.push_back(at.toStdString() + " is cut: \"" + text.toStdString() + "\" needs " + std::to_string(need) +
                           " px, has " + std::to_string(w->width()));
    }
  }

  std::string Report() const {
    std::string all = std::to_string(problems.size()) + " problems:";
    for (const std::string& p : problems) all += "\n  " + p;
    return all;
  }
};

// Walks the modal dialog `open` brings up, then closes it.
void WalkModal(Walker& walker, const std::function<void()>& open, const char* what) {
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!modal || !modal->isVisible()) return;
    poll.stop();
    seen = true;
    walker.Window(modal);
    modal->reject();
  });
  poll.start(20);
  open();
  EXPECT_TRUE(seen) << what << " did not open";
}

// The program's language for one test: English, its translators installed as the program
// installs them; Chinese again afterwards, since the other tests of this program read Chinese.
class EnglishInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    before_ = qApp->findChildren<QTranslator*>();
    SetLanguage(Language::kEnglish);
    CParamApp::InstallLanguage(*qApp, Language::kEnglish);
  }
  void TearDown() override {
    SetLanguage(Language::kChinese);
    for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
      if (before_.contains(t)) continue;
      QCoreApplication::removeTranslator(t);
      delete t;
    }
  }

 private:
  QList<QTranslator*> before_;
};

TEST_F(EnglishInterface, EveryWindowAndDialog) {
  TempWorkDir work;
  // A working file the window cannot read whole: it says so once it is up.
  QFile bad(work.Path(QStringLiteral("KM27A.dat")));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("KM27");
  bad.close();

  Walker walker;
  CDeviceSelectDlg select;
  select.show();
  walker.Window(&select);

  CParamDlg dlg;
  ScriptedAnswers answers;
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Ok; };
  answers.InstallOn(dlg);
  CParamApp::PrepareMainWindow(dlg);
  dlg.SetDeviceModel(CodeTransmitter);
  dlg.OnInitDialog();
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  QTRY_VERIFY(!answers.asked.empty());
  for (int i = 0; i < 12; ++i) dlg.OnAdd();  // the counts in the status bar show
  // The longest the status line says: a download's outcome, its verdict and the information's source.
  dlg.statusLine->setText(QString::fromStdString(VerifyStatusText(VerifyOutcome::kReadBackFailed) + text::kInfoFromDevice()));
  walker.Window(&dlg);
  walker.Menu(QStringLiteral("right-click"), dlg.SystemMenu());

  // The language menu's own message, besides the start-up's.
  QMenu* languages = nullptr;
  for (QAction* a : dlg.SystemMenu()->actions())
    if (a->menu() && a->menu()->actions().size() == 2 && a->menu()->actions().front()->isCheckable())
      languages = a->menu();
  ASSERT_NE(languages, nullptr);
  languages->actions().back()->trigger();
  ASSERT_GE(answers.asked.size(), 2u);
  for (const ScriptedAnswers::Asked& a : answers.asked) walker.Text(QStringLiteral("message"), a.caption + " | " + a.text);

  WalkModal(walker, [&] { dlg.OnSysCommand(); }, "About");
  WalkModal(walker, [&] { dlg.OnPortSettings(); }, "port settings");

  dlg.OnTransferLog();
  auto logs = dlg.findChildren<ui::TransferLogWindow*>();
  ASSERT_EQ(logs.size(), 1);
  walker.Window(logs.front());

  dlg.Documents().ShowOverview();
  ASSERT_NE(dlg.Documents().Overview(), nullptr);
  walker.Window(dlg.Documents().Overview());

  VerifyDifference difference;
  difference.items.resize(2);
  difference.items[0].carrier = 0;
  difference.items[0].step = 1;
  difference.items[1].where = DifferenceItem::kDeviceInfo;  // listed below the table
  difference.bytes = 3;
  ui::DifferenceView view(dlg.Param().Snapshot(), difference, dlg.Catalogue(), &dlg);
  view.show();
  walker.Window(&view);

  dlg.OnHelpInfo();
  ASSERT_NE(dlg.HelpViewer(), nullptr);
  walker.Window(dlg.HelpViewer());
  EXPECT_FALSE(QFile::exists(work.Path(QStringLiteral("KM27A.txt")))) << "the Chinese help file is not written";

  EXPECT_TRUE(walker.problems.empty()) << walker.Report();
}

}  // namespace
