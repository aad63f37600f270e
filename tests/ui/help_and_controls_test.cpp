#include <QCursor>
#include <QFile>
#include <QImage>
#include <QTest>
#include <memory>

#include "res/strings.h"
#include "store/gbk.h"
#include "store/help_text.h"
#include "ui/controls/hover_button.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/help_viewer.h"
#include "ui/param_dlg.h"
#include "ui_test_support.h"

using namespace km27;

namespace {

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    dlg = std::make_unique<CParamDlg>();
    answers.InstallOn(*dlg);
    dlg->SetDeviceModel(CodeBox);
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }
  int Viewers() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<CHelpViewer*>(w) && w->isVisible()) ++n;
    return n;
  }
  QByteArray FileBytes() {
    QFile f(kHelpFileName);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  TempWorkDir work;
  ScriptedAnswers answers;
  std::unique_ptr<CParamDlg> dlg;
};

TEST_F(HelpTest, F1WritesTheFileOnceAndReusesTheViewer) {
  QTest::keyClick(dlg->grid, Qt::Key_F1);
  const QByteArray bytes = FileBytes();
  EXPECT_EQ(bytes.toStdString(), HelpFileContent(res::LoadString(102), res::LoadString(103)));
  EXPECT_TRUE(bytes.startsWith(QByteArray::fromStdString(Utf8ToGbk("KM27A软件功能简介：\r\n"))));
  ASSERT_EQ(Viewers(), 1);
  CHelpViewer* viewer = dlg->HelpViewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->windowTitle(), QString::fromUtf8("KM27A - 记事本"));
  EXPECT_TRUE(viewer->Text().contains(QString::fromUtf8("4. 通信状态：")));

  // Deleted meanwhile and minimised: written again, but the open viewer is only restored.
  viewer->showMinimized();
  QFile::remove(kHelpFileName);
  QTest::keyClick(dlg.get(), Qt::Key_F1);
  EXPECT_EQ(Viewers(), 1);
  EXPECT_EQ(dlg->HelpViewer(), viewer);
  EXPECT_FALSE(viewer->isMinimized());
  EXPECT_FALSE(FileBytes().isEmpty());
}

TEST_F(HelpTest, AnExistingFileIsShownUnchanged) {
  {
    QFile f(kHelpFileName);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xC4\xE3\xBA\xC3\r\n");  // "你好" in GBK
  }
  QTest::keyClick(dlg->grid, Qt::Key_F1);
  EXPECT_EQ(FileBytes(), QByteArray("\xC4\xE3\xBA\xC3\r\n"));
  ASSERT_NE(dlg->HelpViewer(), nullptr);
  EXPECT_EQ(dlg->HelpViewer()->Text(), QString::fromUtf8("你好\n"));
}

TEST_F(HelpTest, AFileThatCannotBeMadeIsReported) {
  ASSERT_TRUE(QDir().mkdir("sub"));
  dlg->ShowHelpText("sub/missing/KM27A.txt");
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_TRUE(answers.asked[0].text.contains("sub/missing/KM27A.txt"));
  EXPECT_EQ(Viewers(), 0);
}

// The lamp's colour at the centre of its disc.
QColor LampCentre(CLampStatic& lamp) {
  const QImage img = lamp.grab().toImage();
  const QRect c = lamp.contentsRect();
  return img.pixelColor(c.left() + c.height() / 2, c.top() + c.height() / 2);
}

TEST(LampTest, RedOnlyForStateOneAndRepaintedEveryTime) {
  EnsureApp();
  CLampStatic lamp;
  lamp.resize(20, 20);
  lamp.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&lamp));
  EXPECT_EQ(LampCentre(lamp), QColor(0, 0, 0));
  lamp.SetLampState(1);
  EXPECT_EQ(LampCentre(lamp), QColor(255, 0, 0));
  for (int state : {2, -1, 0}) {
    lamp.SetLampState(state);
    EXPECT_EQ(LampCentre(lamp), QColor(0, 0, 0)) << state;
  }
  // The ring between rim and disc is white; outside the disc, the corner is not painted.
  const QImage img = lamp.grab().toImage();
  const QRect c = lamp.contentsRect();
  EXPECT_EQ(img.pixelColor(c.left() + c.height() / 2, c.top() + 1), QColor(255, 255, 255));
  const int before = lamp.PaintCount();
  lamp.SetLampState(0);
  lamp.SetLampState(0);
  QTRY_VERIFY(lamp.PaintCount() > before);
}

TEST(HoverButtonTest, PressedUntilReleaseOrTheCursorIsSeenOutside) {
  EnsureApp();
  QWidget host;
  host.resize(200, 100);
  auto* b = new CHoverButton(&host);
  b->setGeometry(10, 10, 80, 30);
  int clicks = 0;
  QObject::connect(b, &QAbstractButton::clicked, [&] { ++clicks; });
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));

  QTest::mouseClick(b, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(b->pressed);

  QCursor::setPos(b->mapToGlobal(QPoint(5, 5)));
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(b->pressed);
  QTest::mouseMove(b, QPoint(6, 6));
  QTest::qWait(3 * CHoverButton::kLeaveCheckMs);
  EXPECT_TRUE(b->pressed);  // the cursor rests on the button
  // The cursor leaves: exactly on the right edge counts as outside.
  QCursor::setPos(b->mapToGlobal(QPoint(b->width(), 5)));
  QTest::mouseMove(b, QPoint(b->width(), 5));
  QTRY_VERIFY_WITH_TIMEOUT(!b->pressed, 5000);
  EXPECT_FALSE(b->LeaveCheckRunning());
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(b->width() + 20, 5));
  EXPECT_EQ(clicks, 1);  // released outside: no click
}

TEST(FlexGridTest, FixedCellsColoursAndTwips) {
  EnsureApp();
  CMSFlexGrid grid;
  EXPECT_EQ(grid.rowCount(), 21);
  EXPECT_EQ(grid.columnCount(), 3);
  grid.SetColWidth(1, 1440);
  EXPECT_EQ(grid.columnWidth(1), grid.logicalDpiX());
  grid.SetRow(4);
  grid.SetCol(2);
  grid.SetCellBackColor(0x0000FF);  // COLORREF red
  EXPECT_EQ(grid.item(4, 2)->background().color(), QColor(255, 0, 0));
  EXPECT_EQ(grid.CellBackColor(4, 1), 0xFFFFFFu);
  EXPECT_NE(grid.CellBackColor(0, 1), 0xFFFFFFu);  // fixed cells keep their own colour
  grid.SetTextMatrix(25, 1, "x");                   // outside the grid: ignored
  grid.SetColAlignment(1, 4);
  EXPECT_EQ(grid.item(3, 1)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
  EXPECT_EQ(CMSFlexGrid::VirtualKey(Qt::Key_Up), 38);
  EXPECT_EQ(CMSFlexGrid::VirtualKey(Qt::Key_Down), 40);
}

}  // namespace
