// The programme as documents, through the main window: open and save as, the table file,
// undo by keys, the overview window, the record for commissioning.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <deque>
#include <memory>

#include "model/fingerprint.h"
#include "model/status_texts.h"
#include "res/dialog_templates.h"
#include "store/param_file.h"
#include "store/programme_csv.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/overview_window.h"
#include "ui/param_dlg.h"
#include "ui/programme_documents.h"
#include "ui/programme_history.h"
#include "ui/transfer_log_window.h"
#include "ui_test_support.h"

using namespace km27;
using namespace km27::res;
using km27::ui::FileRequest;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Image(const Programme& p) {
  const auto image = BuildParamFileImage(p.options, p.table);
  return QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size()));
}

// What a poppler tool says about a file; empty when it could not run.
QString Poppler(const QString& tool, const QStringList& args) {
  QProcess p;
  p.start(tool, args);
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

class Documents : public ::testing::Test {
 protected:
  void Open(DeviceModel model = CodeBox) {
    EnsureApp();
    dlg = std::make_unique<CParamDlg>();
    answers.InstallOn(*dlg);
    answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Yes; };
    dlg->SetDeviceModel(model);
    dlg->SetTransferLogPath(Log());
    dlg->OnInitDialog();
    Docs().SetSettingsFile(work.Path("settings.ini"));
    Docs().SetFileChooser([this](QWidget*, const FileRequest& r) {
      requests.push_back(r);
      if (chosen.empty()) return QString();
      const QString path = chosen.front();
      chosen.pop_front();
      return path;
    });
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }
  void TearDown() override { dlg.reset(); }

  ui::ProgrammeDocuments& Docs() { return dlg->Documents(); }
  std::string Log() { return work.Path("transfers.jsonl").toStdString(); }
  void Logged(const Programme& p, const std::string& file, const std::string& result) {
    TransferRecord r;
    r.time = "2026-12-08T13:45:02+08:00";
    r.action = "download";
    r.com = 3;
    r.file = file;
    r.programmeSha256 = ProgrammeFingerprint(p.options, p.table);
    r.result = result;
    ASSERT_TRUE(AppendTransferRecord(Log(), r).ok);
  }
  Programme Now() { return dlg->Param().Snapshot(); }
  void Key(Qt::Key k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(dlg->grid, k, mods); }
  void ClickCarrier(int c) {
    QWidget* r = dlg->Control(CarrierRadioId(c));
    QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(6, r->height() / 2));
  }
  QString Status() { return dlg->statusLine->text(); }
  QString Counts() {
    return dlg->typeCountText->text() + "|" + dlg->carrierCountText->text() + "|" + dlg->codeCountText->text();
  }
  // A programme on three carriers, entered by keys.
  void Compose() {
    dlg->codeCombo->setCurrentIndex(2);
    Key(Qt::Key_F2);
    dlg->timeCombo->setCurrentIndex(13);
    Key(Qt::Key_F2);
    ClickCarrier(5);
    QTest::mouseClick(dlg->Control(IDC_LINE_SECOND), Qt::LeftButton, {}, QPoint(6, 5));
    Key(Qt::Key_F2);
    ClickCarrier(16);
    dlg->codeCombo->setCurrentIndex(11);
    Key(Qt::Key_F2);
  }
  void ExpectStatusThenWelcome(const QString& text) {
    EXPECT_EQ(Status(), text);
    EXPECT_TRUE(dlg->Presenter().StatusResetActive());
    dlg->Presenter().StatusResetDue();
    EXPECT_EQ(Status(), QString::fromUtf8(text::kWelcome()));
  }

  TempWorkDir work;
  ScriptedAnswers answers;
  std::unique_ptr<CParamDlg> dlg;
  std::deque<QString> chosen;
  std::vector<FileRequest> requests;
};

TEST_F(Documents, SaveAsThenOpenGivesTheProgrammeBackAndExitStillSavesTheWorkingFile) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  Compose();
  const Programme composed = Now();
  chosen = {work.Path("station5")};
  Key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].save);
  EXPECT_EQ(requests[0].suffix, "dat");
  // The dialog adds the suffix; a scripted choice keeps the name as given.
  EXPECT_EQ(ReadAll(work.Path("station5")), Image(composed));
  ExpectStatusThenWelcome(QString::fromUtf8(" 已另存为 station5"));

  Key(Qt::Key_F8);  // cleared, answered yes
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:0| 载频:0| 低频:0"));
  chosen = {work.Path("station5")};
  Key(Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[1].save);
  EXPECT_EQ(requests[1].path, work.Path(""));  // the folder last used
  EXPECT_EQ(Image(Now()), Image(composed));
  // Shown as an upload is: the current carrier's steps, highlight on the last, counts, radios.
  EXPECT_EQ(dlg->grid->TextMatrix(1, 1), QString::fromUtf8("上边频"));
  EXPECT_EQ(dlg->Param().highlightRow, 1);
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:3| 载频:3| 低频:4"));
  ClickCarrier(5);
  EXPECT_TRUE(static_cast<QAbstractButton*>(dlg->Control(IDC_LINE_SECOND))->isChecked());
  EXPECT_EQ(Status(), QString::fromUtf8(" 已打开 station5"));
  EXPECT_EQ(Docs().RecentFiles(), QStringList({work.Path("station5")}));

  // The exit path saves the working file once the operator says so; the opened file stays as it was.
  Key(Qt::Key_F2);
  const QByteArray opened = ReadAll(work.Path("station5"));
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Save; };
  Key(Qt::Key_F9);
  EXPECT_EQ(ReadAll(work.Path(kParamFileName)), Image(Now()));
  EXPECT_EQ(ReadAll(work.Path("station5")), opened);
}

TEST_F(Documents, InvalidFilesAreRefusedWithTheReasonAndChangeNothing) {
  Open();
  Compose();
  const QByteArray before = Image(Now());
  const int steps = dlg->History().Stack().count();
  QFile shortFile(work.Path("short.dat"));
  ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
  shortFile.write(QByteArray(1055, '\0'));
  shortFile.close();
  QByteArray otherVersion = before;
  otherVersion[58] = '2';
  QFile other(work.Path("other.dat"));
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  other.write(otherVersion);
  other.close();
  const struct {
    QString path;
    const char* reason;
  } cases[] = {
      {work.Path("short.dat"), "文件长度为 1055 字节，应为 1056 字节"},
      {work.Path("other.dat"), "版本"},
      {work.Path("missing.dat"), "无法打开"},
      {work.Path(""), "不是普通文件"},
  };
  for (const auto& c : cases) {
    answers.asked.clear();
    EXPECT_FALSE(Docs().OpenFile(c.path));
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8(c.reason))) << answers.asked[0].text.toStdString();
    EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("程序表没有改变")));
    EXPECT_EQ(Image(Now()), before);
    EXPECT_EQ(dlg->History().Stack().count(), steps);
  }
  EXPECT_TRUE(Docs().RecentFiles().isEmpty());
  EXPECT_EQ(ReadAll(work.Path("other.dat")), otherVersion);
}

// Such a file opens (the operator may want to mend it) but never without a word.
TEST_F(Documents, StepsTheDeviceCannotCarryOutAreToldAtStartAndOnOpen) {
  Programme bad;
  bad.table.SetEntry(16, 0, ParamEntry{14, 5});  // AC counting has no code 14
  bad.table.SetEntry(2, 3, ParamEntry{1, 200});
  UpdateCarrierMask(bad.table, bad.options);
  ASSERT_TRUE(SaveParamFile(work.Path(kParamFileName).toStdString(), bad.options, bad.table).ok);
  ASSERT_TRUE(SaveParamFile(work.Path("bad.dat").toStdString(), bad.options, bad.table).ok);
  Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.asked.empty(); }, 2000));
  QTest::qWait(50);
  ASSERT_EQ(answers.asked.size(), 1u);  // once
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("载频 750 Hz（移频）第 4 步：时间 200 秒超出 3 秒–60 秒（共 2 处）")))
      << answers.asked[0].text.toStdString();
  EXPECT_TRUE(Now() == bad);
  EXPECT_TRUE(Docs().OpenFile(work.Path("bad.dat")));
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_TRUE(answers.asked[1].text.contains(QString::fromUtf8("bad.dat 中有下位机无法执行的内容"))) << answers.asked[1].text.toStdString();
}

TEST_F(Documents, RecentFilesNewestFirstAndOpenedFromTheirMenu) {
  Open();
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(Docs().SaveAsFile(work.Path(QStringLiteral("s%1.dat").arg(i))));
  QStringList expected;
  for (int i = 7; i >= 2; --i) expected << work.Path(QStringLiteral("s%1.dat").arg(i));
  EXPECT_EQ(Docs().RecentFiles(), expected);
  Key(Qt::Key_F2);
  emit Docs().RecentMenu()->aboutToShow();
  ASSERT_EQ(Docs().RecentMenu()->actions().size(), 6);
  EXPECT_EQ(Docs().RecentMenu()->actions()[5]->text(), QString::fromUtf8("&6 s2.dat"));
  Docs().RecentMenu()->actions()[5]->trigger();
  EXPECT_EQ(dlg->Param().lastRow, 0);  // the empty programme s2.dat holds
  EXPECT_EQ(Docs().RecentFiles().first(), work.Path("s2.dat"));
  // A file that is gone leaves the list once opening it failed.
  ASSERT_TRUE(QFile::remove(work.Path("s7.dat")));
  emit Docs().RecentMenu()->aboutToShow();
  Docs().RecentMenu()->actions()[1]->trigger();
  EXPECT_FALSE(Docs().RecentFiles().contains(work.Path("s7.dat")));
  EXPECT_EQ(Docs().RecentMenu()->actions().size(), 5);
}

// A file dialog never reads a file to tell its type (one of /proc blocks that read for good),
// and never starts in, nor remembers, a folder of the system's own file systems.
TEST_F(Documents, FileDialogsReadNoFileAndKeepAwayFromSystemFolders) {
  Open();
  QSettings(work.Path("settings.ini"), QSettings::IniFormat).setValue("lastFolder", "/proc/self");
  chosen = {"/proc/version"};
  Docs().ImportCsv();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, QString::fromStdString(dlg->StartDir()));
  EXPECT_EQ(QSettings(work.Path("settings.ini"), QSettings::IniFormat).value("lastFolder"), "/proc/self");
  // The real dialog, in a folder holding a PDF whose name does not say so.
  QDir().mkpath(work.Path("sub"));
  QFile pdf(work.Path("sub/record"));
  ASSERT_TRUE(pdf.open(QIODevice::WriteOnly) && pdf.write("%PDF-1.4\n") > 0);
  pdf.close();
  CParamDlg other;
  other.OnInitDialog();
  QString type;
  QTimer::singleShot(0, [&] {
    auto* dialog = static_cast<QFileDialog*>(QApplication::activeModalWidget());
    auto* model = dialog->findChild<QFileSystemModel*>();
    dialog->setDirectory(work.Path("sub"));
    (void)QTest::qWaitFor([&] { return !(type = model->type(model->index(work.Path("sub/record")))).isEmpty(); }, 10000);
    dialog->reject();
  });
  other.Documents().Open();
  EXPECT_FALSE(type.isEmpty() || type.contains("PDF", Qt::CaseInsensitive)) << type.toStdString();
}

TEST_F(Documents, TableExportAndImportGiveTheSameFileAndABadRowChangesNothing) {
  Open();
  Compose();
  const QByteArray composed = Image(Now());
  chosen = {work.Path("table.csv")};
  Docs().ExportCsv();
  EXPECT_TRUE(answers.asked.empty());  // nothing the table cannot carry: no question
  EXPECT_EQ(Status(), QString::fromUtf8(" 已导出表格 table.csv"));
  Key(Qt::Key_F8);
  ASSERT_TRUE(Docs().ImportCsvFile(work.Path("table.csv")));
  EXPECT_EQ(Image(Now()), composed);
  Key(Qt::Key_F9);
  EXPECT_EQ(ReadAll(work.Path(kParamFileName)), composed);

  // A bad row: the reason names the line; the programme and the undo history stay as they were.
  Open();
  Compose();
  QFile bad(work.Path("bad.csv"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("载频,步,低频,时间(秒)\n550 Hz,1,7.0 Hz,3\n550 Hz,2,7.0 Hz,7 秒\n550 Hz,3,7.0 Hz,70\n");
  bad.close();
  const QByteArray before = Image(Now());
  const int steps = dlg->History().Stack().count();
  answers.asked.clear();
  EXPECT_FALSE(Docs().ImportCsvFile(work.Path("bad.csv")));
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("第 4 行：时间“70”不是可选的时间")))
      << answers.asked[0].text.toStdString();
  EXPECT_EQ(Image(Now()), before);
  EXPECT_EQ(dlg->History().Stack().count(), steps);

  // Only steps: the window's line settings stay, and the status line says so.
  const ParamOptions lines = dlg->Param().options;
  bad.setFileName(work.Path("steps.csv"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("载频,步,低频,时间(秒)\n550 Hz,1,7.0 Hz,3\n");
  bad.close();
  ASSERT_TRUE(Docs().ImportCsvFile(work.Path("steps.csv")));
  for (int f = 0; f < kLineOptionFamilies; ++f) EXPECT_EQ(dlg->Param().options.LineOption(f), lines.LineOption(f)) << f;
  EXPECT_EQ(Status(), QString::fromUtf8(" 已导入表格 steps.csv：步骤，线路设置未变"));

  // A programme the table cannot carry exactly: asked first, and No writes nothing.
  dlg->Param().table.SetEntry(0, 0, {2, 2});  // 2 s, from an upload say
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::No; };
  answers.asked.clear();
  chosen = {work.Path("lossy.csv")};
  Docs().ExportCsv();
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("时间 2 秒")));
  EXPECT_FALSE(QFile::exists(work.Path("lossy.csv")));
}

TEST_F(Documents, UndoAndRedoByKeysFollowGridRadiosAndCounts) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  const QByteArray empty = Image(Now());
  Compose();  // four adds on three carriers and a line setting
  Key(Qt::Key_F3);  // nothing to move on a one-step carrier: no step
  ClickCarrier(0);
  Key(Qt::Key_F3);  // 8.0 Hz up
  Key(Qt::Key_F5);  // and deleted
  const QByteArray composed = Image(Now());
  EXPECT_EQ(dlg->History().Stack().count(), 7);
  QAction* undo = Docs().Action(QString::fromUtf8("撤销(&U)"));
  ASSERT_NE(undo, nullptr);
  EXPECT_EQ(undo->text(), QString::fromUtf8("撤销(&U) 删除"));

  Key(Qt::Key_Z, Qt::ControlModifier);  // the delete: back on row 1, two steps, counts again
  EXPECT_EQ(dlg->grid->TextMatrix(1, 2), "60 s");
  EXPECT_EQ(dlg->grid->TextMatrix(2, 2), "3 s");
  EXPECT_EQ(dlg->Param().highlightRow, 1);
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:3| 载频:3| 低频:4"));
  Key(Qt::Key_Z, Qt::ControlModifier);  // the move
  Key(Qt::Key_Z, Qt::ControlModifier);  // the add on 25 Hz: shown there, its combo refilled
  EXPECT_EQ(dlg->Param().currentCarrier, 16);
  EXPECT_TRUE(static_cast<QAbstractButton*>(dlg->Control(CarrierRadioId(16)))->isChecked());
  EXPECT_EQ(dlg->codeCombo->count(), 12);
  EXPECT_EQ(dlg->Param().lastRow, 0);
  Key(Qt::Key_Z, Qt::ControlModifier);  // the add on 2000 Hz
  Key(Qt::Key_Z, Qt::ControlModifier);  // its line setting: the radio follows
  EXPECT_EQ(dlg->Param().currentCarrier, 5);
  EXPECT_TRUE(static_cast<QAbstractButton*>(dlg->Control(IDC_LINE_FIRST))->isChecked());
  Key(Qt::Key_Z, Qt::ControlModifier);
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Image(Now()), empty);
  EXPECT_EQ(Counts(), QString::fromUtf8(" 类型:0| 载频:0| 低频:0"));
  EXPECT_FALSE(undo->isEnabled());

  for (int i = 0; i < 4; ++i) Key(Qt::Key_Y, Qt::ControlModifier);
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Image(Now()), composed);
  EXPECT_FALSE(Docs().Action(QString::fromUtf8("重做(&R)"))->isEnabled());

  // Clear asks first; undone, the whole programme is back.
  Key(Qt::Key_F8);
  EXPECT_EQ(answers.asked.back().text, QString::fromUtf8(text::kClearQuestion()));
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Image(Now()), composed);
}

TEST_F(Documents, OverviewFollowsEditsHighlightsTheCarrierAndSelectsItByClick) {
  Open();
  Compose();
  Key(Qt::Key_G, Qt::ControlModifier);
  ui::COverviewWindow* ov = Docs().Overview();
  ASSERT_NE(ov, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(ov));
  EXPECT_TRUE(ov->isWindow());
  EXPECT_FALSE(ov->isModal());
  EXPECT_EQ(ov->windowTitle(), QString::fromUtf8("程序总览"));
  ui::OverviewCanvas* canvas = ov->Canvas();
  // Rows are where the picture painted them; find 2000 Hz's by probing down the middle.
  const auto rowOf = [&](int carrier) {
    for (int y = 0; y < canvas->height(); ++y)
      if (canvas->Picture()->CarrierAt(QPointF(canvas->width() / 2.0, y)) == carrier) return y;
    return -1;
  };
  QTRY_VERIFY(rowOf(5) >= 0);
  EXPECT_LT(rowOf(0), rowOf(5));
  EXPECT_LT(rowOf(5), rowOf(16));
  EXPECT_EQ(rowOf(1), -1);  // no steps, no row

  // It follows edits live: a step on 650 Hz gives it a row.
  ClickCarrier(1);
  Key(Qt::Key_F2);
  QTRY_VERIFY(rowOf(1) >= 0);
  // A click on a row selects that carrier in the main window, as its radio would.
  QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(canvas->width() / 2, rowOf(5) + 2));
  EXPECT_EQ(dlg->Param().currentCarrier, 5);
  EXPECT_TRUE(static_cast<QAbstractButton*>(dlg->Control(CarrierRadioId(5)))->isChecked());
  EXPECT_EQ(dlg->codeCombo->itemText(1), QString::fromUtf8("10.3 Hz"));
  EXPECT_EQ(dlg->grid->TextMatrix(1, 1), QString::fromUtf8("无码"));
  QTRY_COMPARE(canvas->Picture()->CurrentCarrier(), 5);  // its row is the highlighted one

  // Saved as PNG and SVG, each reported on the status line.
  chosen = {work.Path("overview.png"), work.Path("overview.svg")};
  ov->PngButton()->click();
  ov->SvgButton()->click();
  EXPECT_TRUE(ReadAll(work.Path("overview.png")).startsWith("\x89PNG\r\n"));
  const QString svg = QString::fromUtf8(ReadAll(work.Path("overview.svg")));
  EXPECT_TRUE(svg.contains("<svg"));
  EXPECT_TRUE(svg.contains(QString::fromUtf8("上边频")));
  EXPECT_TRUE(svg.contains(QString::fromUtf8("规范模式")));
  const std::string hex = ProgrammeFingerprint(Now().options, Now().table);
  EXPECT_TRUE(svg.contains(QString::fromStdString(GroupedFingerprint(hex.substr(0, 16))))) << "which programme it shows";
  EXPECT_EQ(Status(), QString::fromUtf8(" 已保存总览图 overview.svg"));
}

TEST_F(Documents, RecordAsPdfEmbedsAChineseFontAndPrintsThroughThePrinter) {
  QFile info(work.Path("DDINFO.txt"));  // the device information the code transmitter left
  ASSERT_TRUE(info.open(QIODevice::WriteOnly));
  for (int r = 0; r < 4; ++r) info.write("//\r\n" + QByteArray("17,").repeated(24) + "\r\n");
  info.close();
  Open(CodeTransmitter);
  for (int c = 0; c < kCarrierCount; ++c) {  // a full programme: every carrier, 20 steps
    ClickCarrier(c);
    for (int s = 0; s < 20; ++s) {
      dlg->codeCombo->setCurrentIndex(s % dlg->codeCombo->count());
      dlg->timeCombo->setCurrentIndex(s % 14);
      Key(Qt::Key_F2);
    }
  }
  // The record names the last transfer of this programme, not the last transfer of all.
  Logged(Now(), "", "ok");
  Logged(Programme{}, "", "transfer_failed");
  ASSERT_TRUE(Docs().ExportPdfFile(work.Path("record.pdf")));
  EXPECT_TRUE(Status().startsWith(QString::fromUtf8(" 已导出PDF record.pdf（"))) << Status().toStdString();
  EXPECT_TRUE(ReadAll(work.Path("record.pdf")).startsWith("%PDF"));
  const QString text = Poppler("pdftotext", {"-layout", work.Path("record.pdf"), "-"});
  ASSERT_FALSE(text.isEmpty()) << "pdftotext (poppler-utils) is needed";
  for (const char* want : {"参数设置记录", "下位机：KM27C通用机车信号发码器", "设备信息", "线路设置", "程序总览", "图例",
                           "2598.7Hz", "循环合计", "第 1 页，共"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(want))) << want;
  EXPECT_TRUE(text.contains(QString::fromUtf8("（打开或保存后又有修改）")));
  const std::string grouped = GroupedFingerprint(ProgrammeFingerprint(Now().options, Now().table));
  EXPECT_TRUE(text.contains(QString::fromStdString(grouped))) << grouped;
  EXPECT_TRUE(text.contains(QString::fromUtf8("2026-12-08 13:45:02+08:00 下载 COM3 成功")));
  for (const char* sign : {"编制：", "复核：", "日期："}) EXPECT_TRUE(text.contains(QString::fromUtf8(sign))) << sign;
  const QString fonts = Poppler("pdffonts", {work.Path("record.pdf")});
  EXPECT_TRUE(fonts.contains("WenQuanYi")) << fonts.toStdString();
  for (const QString& line : fonts.split('\n').mid(2)) {
    if (!line.trimmed().isEmpty()) {
      EXPECT_TRUE(line.contains(" yes ")) << "not embedded: " << line.toStdString();
    }
  }
  const QString pdfPages = Poppler("pdfinfo", {work.Path("record.pdf")});
  EXPECT_TRUE(pdfPages.contains("A4")) << pdfPages.toStdString();

  // Printing goes through the print dialog's printer: here one that writes a PDF.
  Docs().SetPrinterChooser([&](QPrinter& printer, QWidget*) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(work.Path("printed.pdf"));
    return true;
  });
  Key(Qt::Key_P, Qt::ControlModifier);
  EXPECT_TRUE(ReadAll(work.Path("printed.pdf")).startsWith("%PDF"));
  EXPECT_TRUE(Status().startsWith(QString::fromUtf8(" 已打印参数记录，共 "))) << Status().toStdString();
}

// 传输记录's open button brings back only the programme that was transferred.
TEST_F(Documents, TransferLogOpensTheRecordedFileOnlyWhileItHoldsTheRecordedProgramme) {
  Open();
  Compose();
  const Programme sent = Now();
  const QString file = work.Path("sent.dat");
  ASSERT_TRUE(SaveParamFile(file.toStdString(), sent.options, sent.table).ok);
  Logged(sent, file.toStdString(), "ok");
  Programme other = sent;
  other.table.SetEntry(0, 0, ParamEntry{1, 9});
  ASSERT_TRUE(SaveParamFile(file.toStdString(), other.options, other.table).ok);  // changed since
  Key(Qt::Key_F8);  // cleared: what an open would replace
  const Programme before = Now();
  answers.asked.clear();

  Logged(sent, work.Path("gone.dat").toStdString(), "transfer_failed");

  ui::TransferLogWindow log(*dlg);
  ASSERT_EQ(log.Table()->rowCount(), 2);
  EXPECT_EQ(log.Table()->item(0, 4)->text(), QString::fromUtf8("传输失败")) << "newest first";
  log.Table()->selectRow(0);
  log.OpenButton()->click();
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("已不存在"))) << answers.asked[0].text.toStdString();
  log.Filter()->setText(QStringLiteral("nothing-like-this"));
  EXPECT_TRUE(log.Table()->isRowHidden(1));
  log.Filter()->setText(QStringLiteral("sent.dat"));  // the file is searched too
  EXPECT_TRUE(log.Table()->isRowHidden(0));
  EXPECT_FALSE(log.Table()->isRowHidden(1));
  log.Table()->selectRow(1);
  log.OpenButton()->click();
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_TRUE(answers.asked[1].text.contains(QString::fromUtf8("已被修改"))) << answers.asked[1].text.toStdString();
  EXPECT_TRUE(Now().table == before.table) << "a changed file must not be opened";

  ASSERT_TRUE(SaveParamFile(file.toStdString(), sent.options, sent.table).ok);
  log.OpenButton()->click();
  EXPECT_EQ(answers.asked.size(), 2u);
  EXPECT_TRUE(Now().table == sent.table);
  EXPECT_EQ(QFileInfo(Docs().DocumentPath()).absoluteFilePath(), file);
}

}  // namespace
