#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/about_dlg.h"
#include "app/device_select_dlg.h"
#include "app/param_app.h"
#include "res/dialog_templates.h"
#include "store/param_file.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui/ui_test_support.h"

using namespace km27;
using namespace km27::res;

namespace {

void Click(QWidget* w) {
  // Radios react to a click on their indicator or text, so aim near the left edge.
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
}

struct SelectCase {
  std::vector<int> clicks;
  DeviceModel expected;
};

TEST(DeviceSelectTest, LastClickWinsAndNoClickMeansCodeTransmitter) {
  EnsureApp();
  for (const SelectCase& c : {SelectCase{{}, CodeTransmitter}, SelectCase{{IDC_CODE_BOX, IDC_CODE_TRANSMITTER}, CodeTransmitter},
                              SelectCase{{IDC_CODE_TRANSMITTER, IDC_CODE_BOX}, CodeBox}}) {
    CDeviceSelectDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_TRUE(static_cast<QAbstractButton*>(dlg.Control(IDC_CODE_TRANSMITTER))->isChecked());
    for (int id : c.clicks) Click(dlg.Control(id));
    QTest::mouseClick(dlg.Control(IDOK), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.GetDeviceModel(), c.expected) << c.clicks.size();
  }
}

TEST(DeviceSelectTest, BuiltFromTheTemplateInDialogUnits) {
  EnsureApp();
  CDeviceSelectDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("下位机选择"));
  const ui::DialogUnits u = ui::BaseUnitsOf(dlg.font());
  EXPECT_GT(u.baseX, 0);
  EXPECT_GT(u.baseY, 0);
  EXPECT_EQ(dlg.size(), QSize(u.X(187), u.Y(94)));
  EXPECT_EQ(dlg.Control(IDCANCEL)->geometry(), u.ToPixels(112, 67, 50, 14));
  // Every text of the dialog has glyphs in the dialog font.
  const QFontMetrics fm(dlg.font());
  for (int id : {IDC_CODE_TRANSMITTER, IDC_CODE_BOX}) {
    const QString t = static_cast<QAbstractButton*>(dlg.Control(id))->text();
    for (QChar ch : t) EXPECT_TRUE(fm.inFont(ch)) << t.toStdString();
  }
}

// Runs InitInstance while `act` answers whatever modal window comes up.
void RunApp(const std::function<void(QWidget* modal)>& act, bool* mainShown) {
  QTimer poll;
  QWidget* last = nullptr;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<CParamDlg*>(w) && w->isVisible()) *mainShown = true;
    if (modal && modal != last && modal->isVisible()) {
      last = modal;
      act(modal);
    }
  });
  poll.start(10);
  CParamApp app;
  EXPECT_FALSE(app.InitInstance());
}

TEST(StartUpTest, CancelShowsNoWindowAndLeavesTheFileAlone) {
  EnsureApp();
  TempWorkDir work;
  {
    QFile f(kParamFileName);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a parameter file");
  }
  for (bool byEscape : {false, true}) {
    bool mainShown = false;
    RunApp(
        [&](QWidget* modal) {
          if (byEscape) QTest::keyClick(modal, Qt::Key_Escape);
          else QTest::mouseClick(static_cast<CDeviceSelectDlg*>(modal)->Control(IDCANCEL), Qt::LeftButton);
        },
        &mainShown);
    EXPECT_FALSE(mainShown);
    QFile f(kParamFileName);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("not a parameter file"));
  }
  EXPECT_STRNE(g_startDir, "");
}

TEST(StartUpTest, ConfirmedChoiceRunsTheMainWindowWhichSavesOnExit) {
  EnsureApp();
  TempWorkDir work;
  bool mainShown = false;
  DeviceModel served = CodeTransmitter;
  RunApp(
      [&](QWidget* modal) {
        if (auto* select = qobject_cast<CDeviceSelectDlg*>(modal)) {
          Click(select->Control(IDC_CODE_BOX));
          QTest::keyClick(select, Qt::Key_Return);  // the default button
        } else if (auto* main = qobject_cast<CParamDlg*>(modal)) {
          served = main->DeviceModel();
          QTest::keyClick(main->grid, Qt::Key_F2);
          QTest::keyClick(main->grid, Qt::Key_F9);
        }
      },
      &mainShown);
  EXPECT_TRUE(mainShown);
  EXPECT_EQ(served, CodeBox);
  ParamOptions o;
  ParamTable t;
  ASSERT_TRUE(LoadParamFile(kParamFileName, o, t));
  EXPECT_EQ(CountTable(t).entries, 1);
}

TEST(AboutTest, OpensFromTheWindowMenuAndClosesByOkOrEscape) {
  EnsureApp();
  TempWorkDir work;
  CParamDlg dlg;
  CParamApp::PrepareMainWindow(dlg);
  dlg.SetDeviceModel(CodeBox);
  dlg.OnInitDialog();
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  // The entry comes last, after a separator.
  const QList<QAction*> entries = dlg.SystemMenu()->actions();
  ASSERT_GE(entries.size(), 2);
  QAction* aboutEntry = entries.back();
  EXPECT_TRUE(entries[entries.size() - 2]->isSeparator());
  EXPECT_EQ(aboutEntry->text(), QString::fromUtf8("关于 KM27A(&A)..."));
  for (bool byEscape : {false, true}) {
    bool seen = false;
    QTimer::singleShot(20, [&] {
      auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(about, nullptr);
      seen = true;
      EXPECT_EQ(about->windowTitle(), QString::fromUtf8("关于 KM27A"));
      if (byEscape) QTest::keyClick(about, Qt::Key_Escape);
      else QTest::mouseClick(about->Control(IDOK), Qt::LeftButton);
    });
    aboutEntry->trigger();
    EXPECT_TRUE(seen);
  }
  EXPECT_TRUE(dlg.isVisible());  // Escape in the About box does not reach the main window
}

}  // namespace

namespace {

// No caption of any dialog is cut off by its control, in the font the dialogs actually use.
TEST(DialogLayoutTest, EveryCaptionFitsItsControl) {
  EnsureApp();
  TempWorkDir work;
  CParamDlg main;
  main.SetDeviceModel(CodeBox);
  main.OnInitDialog();
  CDeviceSelectDlg select;
  CAboutDlg about;
  const std::vector<std::pair<QDialog*, int>> dialogs = {{&main, IDD_PARAM}, {&select, IDD_DEVICE_SELECT},
                                                         {&about, IDD_ABOUTBOX}};
  for (auto [dlg, id] : dialogs) {
    const QFontMetrics fm(dlg->font());
    for (QWidget* w : dlg->findChildren<QWidget*>()) {
      QString text;
      int room = w->width();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        text = b->text();
        if (qobject_cast<QRadioButton*>(w))
          room -= w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                  w->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        text = l->text();
        room -= 2 * l->frameWidth();
      } else {
        continue;
      }
      EXPECT_LE(fm.horizontalAdvance(text), room) << id << " " << text.toStdString();
      EXPECT_LE(fm.height(), w->height()) << id << " " << text.toStdString();
      for (QChar ch : text) EXPECT_TRUE(fm.inFont(ch) || ch.isSpace()) << text.toStdString();
    }
  }
  // The longest line captions and the welcome text fit as well.
  const QFontMetrics fm(main.font());
  EXPECT_LE(fm.horizontalAdvance(QString::fromUtf8("TB3060-2002")) + 20, main.Control(IDC_LINE_SECOND)->width());
  EXPECT_EQ(main.Control(1001)->geometry(), ui::BaseUnitsOf(main.font()).ToPixels(21, 43, 47, 11));
}

TEST(AboutTest, AltSpaceOpensTheWindowMenu) {
  EnsureApp();
  TempWorkDir work;
  CParamDlg dlg;
  dlg.SetDeviceModel(CodeTransmitter);
  dlg.OnInitDialog();
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  QTest::keyClick(dlg.grid, Qt::Key_Space, Qt::AltModifier);
  QTRY_VERIFY(dlg.SystemMenu()->isVisible());
  dlg.SystemMenu()->hide();
}

}  // namespace

namespace {

// Qt's own dialogs and buttons speak Chinese from Qt's translation, not from labels of ours.
TEST(QtTranslationTest, MessageBoxButtonsAreChinese) {
  EnsureApp();
  QTranslator* qt = CParamApp::InstallQtTranslations(*qApp);
  ASSERT_NE(qt, nullptr) << "qtbase_zh_CN.qm (qt6-translations-l10n) is needed";
  QMessageBox box(QMessageBox::Information, "c", "t", QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QString::fromUtf8("是(&Y)"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QString::fromUtf8("否(&N)"));
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
  QCoreApplication::removeTranslator(qt);
  delete qt;
}

}  // namespace
