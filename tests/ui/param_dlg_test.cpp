#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "model/status_texts.h"
#include "res/dialog_templates.h"
#include "store/param_file.h"
#include "ui/controls/hover_button.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui_test_support.h"

using namespace km27;
using namespace km27::res;

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void Open(DeviceModel model) {
    EnsureApp();
    dlg = std::make_unique<CParamDlg>();
    answers.InstallOn(*dlg);
    dlg->SetDeviceModel(model);
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }
  void TearDown() override { dlg.reset(); }

  QAbstractButton* Btn(int id) { return static_cast<QAbstractButton*>(dlg->Control(id)); }
  QComboBox* CodeCombo() { return dlg->codeCombo; }
  CMSFlexGrid* Grid() { return dlg->grid; }
  void ClickRadio(int id) {
    QWidget* r = dlg->Control(id);
    QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(6, r->height() / 2));
  }
  void ClickCarrier(int carrier) { ClickRadio(CarrierRadioId(carrier)); }
  void ClickButton(int id) { QTest::mouseClick(Btn(id), Qt::LeftButton); }
  void Key(QWidget* w, Qt::Key k) { QTest::keyClick(w, k); }
  QStringList ComboTexts(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
  }
  QString Counts() {
    return dlg->typeCountText->text() + "|" + dlg->carrierCountText->text() + "|" + dlg->codeCountText->text();
  }
  int Highlight() { return dlg->Param().highlightRow; }
  bool RowGrey(int row) { return Grid()->CellBackColor(row, 1) == kHighlightColor; }
  void AddByKey(int n, QWidget* focus = nullptr) {
    for (int i = 0; i < n; ++i) Key(focus ? focus : Grid(), Qt::Key_F2);
  }
  QStringList Column(int col) {
    QStringList out;
    for (int r = 1; r <= 20; ++r) out << Grid()->TextMatrix(r, col);
    return out;
  }

  TempWorkDir work;
  ScriptedAnswers answers;
  std::unique_ptr<CParamDlg> dlg;
};

TEST_F(MainWindowTest, StartsWithWelcomeButtonsByLinkAndCountsPerModel) {
  Open(CodeBox);
  EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8("参数设置工具"));
  EXPECT_EQ(dlg->statusLine->text(), QString::fromUtf8(text::kWelcome()));
  EXPECT_FALSE(Btn(IDC_UPLOAD)->isEnabled());
  EXPECT_FALSE(Btn(IDC_DOWNLOAD)->isEnabled());
  for (int id : {IDC_CLEAR, IDC_EXIT, IDC_MOVE_UP, IDC_MOVE_DOWN, IDC_DELETE, IDC_ADD})
    EXPECT_TRUE(Btn(id)->isEnabled()) << id;
  EXPECT_EQ(dlg->lamp->LampState(), 0);
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:0| 载频:0| 低频:0"));
  EXPECT_EQ(dlg->timeCombo->currentText(), QString::fromUtf8("3 秒"));
  EXPECT_EQ(dlg->timeCombo->count(), 14);
  EXPECT_EQ(Grid()->TextMatrix(0, 0), QString::fromUtf8("序号"));
  EXPECT_FALSE(dlg->isSizeGripEnabled());
  EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());  // not resizable
  const char* captions[] = {"上传", "下载", "清空", "退出", "上移", "下移", "删除", "添加"};
  for (int i = 0; i < ui::kButtonCount; ++i) EXPECT_EQ(dlg->Button(i)->caption, QString::fromUtf8(captions[i]));
  EXPECT_EQ(Btn(IDC_UPLOAD)->text(), QString::fromUtf8("上 传"));  // the platform shows the template text

  // The status controls sit in pixels from the bottom-left corner.
  const int top = dlg->height() - 31;
  EXPECT_EQ(dlg->lamp->geometry(), QRect(20, top, 20, 20));
  EXPECT_EQ(dlg->statusLine->geometry(), QRect(45, top, 369, 20));
  EXPECT_EQ(dlg->codeCountText->geometry(), QRect(555, top, 72, 20));
}

TEST_F(MainWindowTest, CodeTransmitterCountsStayEmptyUntilFirstAdd) {
  Open(CodeTransmitter);
  EXPECT_EQ(Counts(), "||");
  Key(Grid(), Qt::Key_F3);  // a move never writes the counts
  EXPECT_EQ(Counts(), "||");
  Key(Grid(), Qt::Key_F2);
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:1| 载频:1| 低频:1"));
  // The line radios stay disabled with their template captions whatever the family.
  for (int carrier : {0, 4, 16}) {
    ClickCarrier(carrier);
    EXPECT_FALSE(Btn(IDC_LINE_FIRST)->isEnabled());
    EXPECT_EQ(Btn(IDC_LINE_SECOND)->text(), QString::fromUtf8("无"));
  }
}

TEST_F(MainWindowTest, EachCarrierRadioSelectsItsOwnCarrier) {
  Open(CodeBox);
  EXPECT_EQ(CarrierRadioId(0), 1001);
  EXPECT_EQ(CarrierRadioId(8), 1033);
  EXPECT_EQ(CarrierRadioId(18), 1063);
  for (int c : {18, 0, 12, 7, 16, 3, 9}) {
    ClickCarrier(c);
    EXPECT_EQ(dlg->Param().currentCarrier, c);
    EXPECT_EQ(dlg->Param().currentFamily, FamilyOfCarrier(c));
    EXPECT_EQ(Btn(CarrierRadioId(c))->text(), QString::fromUtf8(Carrier(c).caption)) << c;
  }
}

TEST_F(MainWindowTest, CarrierChangesRefillCodeComboOnlyOnFamilyChange) {
  Open(CodeBox);
  EXPECT_EQ(CodeCombo()->count(), 21);
  CodeCombo()->setCurrentIndex(5);
  ClickCarrier(1);  // 650 Hz, same family
  EXPECT_EQ(dlg->Param().currentCarrier, 1);
  EXPECT_EQ(CodeCombo()->currentIndex(), 5);
  ClickCarrier(4);  // 1700 Hz: UM71 list, back to "无码"
  EXPECT_EQ(dlg->Param().currentFamily, 1);
  EXPECT_EQ(CodeCombo()->currentIndex(), 0);
  EXPECT_EQ(CodeCombo()->itemText(1), QString::fromUtf8("10.3 Hz"));
  CodeCombo()->setCurrentIndex(3);
  ClickCarrier(8);  // ZPW2000 shares the list but is another family: refilled
  EXPECT_EQ(CodeCombo()->currentIndex(), 0);
  ClickCarrier(17);  // AC counting: twelve items, no placeholders
  EXPECT_EQ(ComboTexts(CodeCombo()),
            QString::fromUtf8("无码,AL,ALU,AU,AUU,AHU,BL,BLU,BU,BUU,BHU,上边频").split(','));
  EXPECT_EQ(dlg->timeCombo->currentIndex(), 0);  // never touched by a carrier change
  // Clicking the selected carrier again changes nothing.
  CodeCombo()->setCurrentIndex(2);
  ClickCarrier(17);
  EXPECT_EQ(CodeCombo()->currentIndex(), 2);
}

TEST_F(MainWindowTest, LineRadiosShowCaptionsAndStoredOptionPerFamily) {
  Open(CodeBox);
  EXPECT_EQ(Btn(IDC_LINE_FIRST)->text(), QString::fromUtf8("\"1.9\"移频"));
  EXPECT_EQ(Btn(IDC_LINE_SECOND)->text(), QString::fromUtf8("TB3060-2002"));
  ClickCarrier(5);  // UM71
  EXPECT_EQ(Btn(IDC_LINE_FIRST)->text(), QString::fromUtf8("TB3060"));
  EXPECT_EQ(Btn(IDC_LINE_SECOND)->text(), QString::fromUtf8("规范模式"));
  ClickRadio(IDC_LINE_SECOND);
  EXPECT_EQ(dlg->Param().options.bytes[0], 0);
  EXPECT_EQ(dlg->Param().options.bytes[1], 1);
  EXPECT_EQ(dlg->Param().options.bytes[2], 0);  // ZPW2000 keeps its own
  ClickCarrier(0);
  EXPECT_TRUE(Btn(IDC_LINE_FIRST)->isChecked());
  ClickCarrier(16);  // AC counting: "无", disabled, options untouched
  EXPECT_FALSE(Btn(IDC_LINE_FIRST)->isEnabled());
  EXPECT_EQ(Btn(IDC_LINE_SECOND)->text(), QString::fromUtf8("无"));
  EXPECT_TRUE(Btn(IDC_LINE_FIRST)->isChecked());
  ClickCarrier(4);
  EXPECT_TRUE(Btn(IDC_LINE_SECOND)->isChecked());
  EXPECT_TRUE(Btn(IDC_LINE_SECOND)->isEnabled());
  ClickCarrier(9);
  EXPECT_TRUE(Btn(IDC_LINE_FIRST)->isChecked());
}

TEST_F(MainWindowTest, ArrowKeysMoveWithinARadioGroupAndTabBetweenStops) {
  Open(CodeBox);
  QWidget* r550 = dlg->Control(1001);
  r550->setFocus();
  Key(r550, Qt::Key_Down);
  EXPECT_EQ(dlg->Param().currentCarrier, 1);
  EXPECT_TRUE(dlg->Control(1002)->hasFocus());
  Key(dlg->Control(1002), Qt::Key_Up);
  Key(dlg->Control(1001), Qt::Key_Up);  // wraps to the last radio of the group
  EXPECT_EQ(dlg->Param().currentCarrier, 18);
  EXPECT_EQ(CodeCombo()->count(), 12);
  // Tab goes from the checked carrier to the checked line radio, the grid and the two combos,
  // then round again; buttons are never tab stops.
  // The line radios of AC counting are disabled, so Tab passes them by.
  dlg->activateWindow();
  dlg->Control(1063)->setFocus();
  Key(dlg->Control(1063), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Grid());
  Key(Grid(), Qt::Key_Backtab);
  Key(dlg->Control(1063), Qt::Key_Down);  // wraps to 550 Hz
  EXPECT_EQ(dlg->Param().currentCarrier, 0);
  const std::vector<QWidget*> expected = {dlg->Control(IDC_LINE_FIRST), Grid(), CodeCombo(), dlg->timeCombo,
                                          dlg->Control(1001)};
  for (QWidget* want : expected) {
    Key(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), want) << QApplication::focusWidget()->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, GridHighlightFollowsArrowsAndClicks) {
  Open(CodeBox);
  // An empty block: arrows and clicks highlight nothing.
  Key(Grid(), Qt::Key_Down);
  QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->CellRect(1, 1).center());
  EXPECT_EQ(Highlight(), 0);
  AddByKey(5);
  EXPECT_EQ(Highlight(), 5);
  EXPECT_EQ(Column(0).mid(0, 6), QStringList({"1", "2", "3", "4", "5", ""}));
  EXPECT_EQ(Grid()->TextMatrix(1, 2), "3 s");
  Key(Grid(), Qt::Key_Down);  // last row: stays
  EXPECT_EQ(Highlight(), 5);
  Key(Grid(), Qt::Key_Up);
  Key(Grid(), Qt::Key_Up);
  EXPECT_EQ(Highlight(), 3);
  EXPECT_TRUE(RowGrey(3));
  EXPECT_FALSE(RowGrey(5));
  QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->CellRect(1, 2).center());
  EXPECT_EQ(Highlight(), 1);
  Key(Grid(), Qt::Key_Up);  // first row: stays
  EXPECT_EQ(Highlight(), 1);
  for (int row : {12, 0}) {  // below the last entry, and the header
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->CellRect(row, 1).center());
    EXPECT_EQ(Highlight(), 1) << row;
  }
  QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->CellRect(4, 0).center());
  EXPECT_EQ(Highlight(), 4);
  // Only the grey background marks the row: the table's own selection stays empty.
  EXPECT_TRUE(Grid()->selectedItems().isEmpty());
}

TEST_F(MainWindowTest, EditingByButtonsAndFunctionKeysFromGridOrCombo) {
  Open(CodeBox);
  CodeCombo()->setCurrentIndex(2);  // "8.0 Hz"
  dlg->timeCombo->setCurrentIndex(7);  // "10 秒"
  ClickButton(IDC_ADD);
  CodeCombo()->setFocus();
  CodeCombo()->setCurrentIndex(19);
  Key(CodeCombo(), Qt::Key_F2);  // focus in a combo
  dlg->timeCombo->setFocus();
  Key(dlg->timeCombo, Qt::Key_F2);
  EXPECT_EQ(Column(1).mid(0, 3), QString::fromUtf8("8.0 Hz,上边频,上边频").split(','));
  EXPECT_EQ(Column(2).mid(0, 3), QStringList({"10 s", "10 s", "10 s"}));
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:1| 载频:1| 低频:3"));
  EXPECT_EQ(Highlight(), 3);

  Key(Grid(), Qt::Key_F3);  // move up from the grid
  EXPECT_EQ(Highlight(), 2);
  ClickButton(IDC_MOVE_UP);
  EXPECT_EQ(Highlight(), 1);
  EXPECT_EQ(Column(1).mid(0, 3), QString::fromUtf8("上边频,8.0 Hz,上边频").split(','));
  Key(CodeCombo(), Qt::Key_F4);  // move down from a combo
  EXPECT_EQ(Highlight(), 2);
  ClickButton(IDC_MOVE_DOWN);
  EXPECT_EQ(Highlight(), 3);
  ClickButton(IDC_MOVE_DOWN);  // already last: nothing
  EXPECT_EQ(Highlight(), 3);

  Key(Grid(), Qt::Key_F5);
  EXPECT_EQ(Highlight(), 2);
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:1| 载频:1| 低频:2"));
  ClickButton(IDC_DELETE);
  ClickButton(IDC_DELETE);
  EXPECT_EQ(Highlight(), 0);
  EXPECT_EQ(Column(0).join(""), "");
  EXPECT_EQ(dlg->Param().options.MaskByte(0), 0);

  // Another carrier's block is edited separately and counted.
  ClickCarrier(4);
  AddByKey(2);
  ClickCarrier(0);
  EXPECT_EQ(Column(0).join(""), "");
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:1| 载频:1| 低频:2"));
}

TEST_F(MainWindowTest, ClearAsksFirstAndActsOnlyOnYes) {
  Open(CodeBox);
  AddByKey(3);
  ClickCarrier(5);
  ClickRadio(IDC_LINE_SECOND);
  AddByKey(1);
  const ParamTable before = dlg->Param().table;

  answers.answer = [](const auto&) { return QMessageBox::No; };
  ClickButton(IDC_CLEAR);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].text, QString::fromUtf8("确定要清空所有数据吗？"));
  EXPECT_EQ(answers.asked[0].caption, QString::fromUtf8("KM27A参数数据设置"));
  EXPECT_EQ(answers.asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(dlg->Param().table == before);
  EXPECT_EQ(Highlight(), 1);

  answers.answer = [](const auto&) { return QMessageBox::Yes; };
  Key(Grid(), Qt::Key_F8);
  EXPECT_EQ(answers.asked.size(), 2u);
  EXPECT_TRUE(dlg->Param().table == ParamTable{});
  EXPECT_TRUE(dlg->Param().options == ParamOptions{});
  EXPECT_EQ(Highlight(), 0);
  EXPECT_TRUE(Btn(IDC_LINE_FIRST)->isChecked());
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:0| 载频:0| 低频:0"));
  EXPECT_EQ(dlg->Param().currentCarrier, 5);  // the selection stays
}

TEST_F(MainWindowTest, EscapeAndEnterNeverClose) {
  Open(CodeBox);
  for (QWidget* w : {static_cast<QWidget*>(dlg.get()), static_cast<QWidget*>(Grid()),
                     static_cast<QWidget*>(CodeCombo()), dlg->Control(1001)}) {
    for (Qt::Key k : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) Key(w, k);
  }
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_FALSE(QFile::exists(kParamFileName));
  EXPECT_EQ(Highlight(), 0);  // Enter pressed no button
}

TEST_F(MainWindowTest, F9SavesTheProgrammeOnce) {
  Open(CodeBox);
  AddByKey(2);
  Key(CodeCombo(), Qt::Key_F9);
  EXPECT_FALSE(dlg->isVisible());
  ParamOptions o;
  ParamTable t;
  ASSERT_TRUE(LoadParamFile(kParamFileName, o, t));
  EXPECT_TRUE(t == dlg->Param().table);
  // Closing again does not save again.
  QFile::remove(kParamFileName);
  dlg->close();
  EXPECT_FALSE(QFile::exists(kParamFileName));
}

TEST_F(MainWindowTest, ExitButtonAndCloseBoxBothSave) {
  Open(CodeTransmitter);
  AddByKey(1);
  ClickButton(IDC_EXIT);
  EXPECT_TRUE(QFile::exists(kParamFileName));
  dlg.reset();
  QFile::remove(kParamFileName);
  Open(CodeBox);
  AddByKey(4);
  dlg->close();  // the window manager's close
  ParamOptions o;
  ParamTable t;
  ASSERT_TRUE(LoadParamFile(kParamFileName, o, t));
  EXPECT_EQ(CountTable(t).entries, 4);
}

TEST_F(MainWindowTest, LoadsTheProgrammeAtStartAndHighlightsTheLastRow) {
  EnsureApp();
  ParamOptions o;
  ParamTable t;
  for (int s = 0; s < 7; ++s) t.SetEntry(0, s, {uint8_t(s), uint8_t(3 + s)});
  t.SetEntry(16, 0, {13, 5});  // an "FF" code on an AC-counting carrier
  o.SetLineOption(0, 1);
  ASSERT_TRUE(SaveParamFile(kParamFileName, o, t).ok);
  Open(CodeBox);
  EXPECT_EQ(Highlight(), 7);
  EXPECT_EQ(Grid()->TextMatrix(7, 2), "9 s");
  EXPECT_EQ(Grid()->TextMatrix(8, 0), "");
  EXPECT_TRUE(Btn(IDC_LINE_SECOND)->isChecked());
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:2| 载频:2| 低频:8"));
  ClickCarrier(16);
  EXPECT_EQ(Grid()->TextMatrix(1, 1), "FF");
}

TEST_F(MainWindowTest, FailedSaveOffersRetryAndLosesNothing) {
  Open(CodeBox);
  AddByKey(3);
  // A directory in the file's place makes every save fail.
  ASSERT_TRUE(QDir().mkdir(kParamFileName));
  int failures = 0;
  answers.answer = [&](const ScriptedAnswers::Asked& a) {
    EXPECT_EQ(a.icon, QMessageBox::Critical);
    EXPECT_TRUE(a.text.contains(QDir::current().absoluteFilePath(kParamFileName))) << a.text.toStdString();
    ++failures;
    if (failures == 1) return QMessageBox::Cancel;  // back to the window
    if (failures == 2) return QMessageBox::Retry;   // still failing
    QDir().rmdir(kParamFileName);                   // the operator fixes it
    return QMessageBox::Retry;
  };
  Key(Grid(), Qt::Key_F9);
  EXPECT_EQ(failures, 1);
  EXPECT_TRUE(dlg->isVisible());
  AddByKey(1);  // still editable
  Key(Grid(), Qt::Key_F9);
  EXPECT_EQ(failures, 3);
  EXPECT_FALSE(dlg->isVisible());
  ParamOptions o;
  ParamTable t;
  ASSERT_TRUE(LoadParamFile(kParamFileName, o, t));
  EXPECT_EQ(CountTable(t).entries, 4);
}

TEST_F(MainWindowTest, StatusTimerPutsTheWelcomeTextBack) {
  Open(CodeBox);
  dlg->SetStatusText(text::kDownloadOk());
  dlg->Presenter().RestartStatusReset(20);
  EXPECT_EQ(dlg->statusLine->text(), QString::fromUtf8(text::kDownloadOk()));
  QTRY_COMPARE_WITH_TIMEOUT(dlg->statusLine->text(), QString::fromUtf8(text::kWelcome()), 5000);
  EXPECT_FALSE(dlg->Presenter().StatusResetActive());
}

TEST_F(MainWindowTest, TransferKeysWithoutALinkLoseNothing) {
  Open(CodeTransmitter);
  AddByKey(1);
  const ParamTable before = dlg->Param().table;
  Key(Grid(), Qt::Key_F7);  // download needs a link: nothing happens
  EXPECT_EQ(dlg->statusLine->text(), QString::fromUtf8(text::kWelcome()));
  Key(Grid(), Qt::Key_F6);  // upload tries regardless, and fails with no device
  QTRY_COMPARE_WITH_TIMEOUT(dlg->statusLine->text(), QString::fromUtf8(text::kUploadFailed()), 10000);
  EXPECT_TRUE(dlg->Param().table == before);
  EXPECT_TRUE(answers.asked.empty());
}

}  // namespace
