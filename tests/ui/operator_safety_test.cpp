// What the window does with the operator's files and keys where doing the obvious thing would
// lose a programme, report a failure as success, or take a key meant for the desktop.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <fstream>
#include <iterator>
#include <memory>

#include "link/link_timing.h"
#include "link/verify.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "sim/transmitter_sim.h"
#include "store/device_info.h"
#include "store/help_text.h"
#include "store/param_file.h"
#include "ui/controls/hover_button.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/help_viewer.h"
#include "ui/param_dlg.h"
#include "ui/programme_documents.h"
#include "ui_test_support.h"

using namespace km27;

namespace {

using Bytes = std::string;

Bytes ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const QString& path, const Bytes& b) { std::ofstream(path.toStdString(), std::ios::binary) << b; }

Bytes ValidFile(int entries) {
  ParamOptions o;
  ParamTable t;
  for (int s = 0; s < entries; ++s) t.SetEntry(0, s, {uint8_t(s + 1), uint8_t(5 + s)});
  UpdateCarrierMask(t, o);
  const auto image = BuildParamFileImage(o, t);
  return Bytes(image.begin(), image.end());
}

class OperatorSafety : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApp(); }
  void TearDown() override {
    dlg.reset();
    chmod(work.Path(kParamFileName).toLocal8Bit().constData(), 0644);
  }
  void Open(DeviceModel m = CodeBox) {
    dlg = std::make_unique<CParamDlg>();
    answers.InstallOn(*dlg);
    dlg->SetDeviceModel(m);
    dlg->SetLinkTiming(timing);
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }
  void Key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(dlg->grid, k, mods); }
  int Entries() const { return CountTable(dlg->Param().table).entries; }
  // Files of the working directory whose bytes are exactly `b`.
  int CopiesOf(const Bytes& b) const {
    int n = 0;
    for (const QString& f : QDir(work.Path(".")).entryList(QDir::Files))
      if (ReadAll(work.Path(f)) == b) ++n;
    return n;
  }

  TempWorkDir work;
  ScriptedAnswers answers;
  LinkTiming timing;  // the lower machines' own, unless a fixture scales it
  std::unique_ptr<CParamDlg> dlg;
};

TEST_F(OperatorSafety, AFileOfAnotherVersionSurvivesStartAndExitAndTheOperatorIsTold) {
  Bytes otherVersion = ValidFile(3);
  otherVersion[50 + 6] = '2';  // "KM27A 2.0": made by another version of the tool
  Bytes otherMaker = ValidFile(3);
  otherMaker[1] ^= 0x01;
  Bytes damaged = ValidFile(3).substr(0, 700);
  for (const Bytes& b : {otherVersion, otherMaker, damaged}) {
    for (const QString& f : QDir(work.Path(".")).entryList(QDir::Files)) QFile::remove(work.Path(f));
    WriteAll(work.Path(kParamFileName), b);
    answers.asked.clear();
    answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Ok; };
    Open();
    EXPECT_EQ(Entries(), 0) << "nothing of it is loaded";
    // Told once the window is up: which file, why, and where its bytes were kept.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.asked.empty(); }, 5000)) << "the operator was never told";
    const QString told = answers.asked[0].text;
    EXPECT_EQ(answers.asked[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(told.contains(work.Path(kParamFileName))) << told.toStdString();
    EXPECT_TRUE(told.contains(QString::fromUtf8("原因："))) << told.toStdString();
    EXPECT_TRUE(told.contains(QString(kParamFileName) + ".unreadable-")) << told.toStdString();

    Key(Qt::Key_F2);
    Key(Qt::Key_F9);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(answers.asked.size(), 1u) << "the exit save needs no question";
    // The exit save wrote the new programme; the old bytes are still in the directory.
    ParamOptions o;
    ParamTable t;
    ASSERT_TRUE(LoadParamFile(kParamFileName, o, t));
    EXPECT_EQ(CountTable(t).entries, 1);
    EXPECT_EQ(CopiesOf(b), 1) << "the unreadable file was lost";
    dlg.reset();
  }
}

TEST_F(OperatorSafety, AFolderNamedLikeTheFileIsReportedAndNeverReplaced) {
  ASSERT_TRUE(QDir(work.Path(".")).mkdir(kParamFileName));
  WriteAll(work.Path(QString(kParamFileName) + "/inside"), "the operator's");
  answers.answer = [](const ScriptedAnswers::Asked& a) {
    return a.buttons.testFlag(QMessageBox::Discard) ? QMessageBox::Discard : QMessageBox::Ok;
  };
  Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.asked.empty(); }, 5000));
  EXPECT_TRUE(answers.asked[0].text.contains(work.Path(kParamFileName))) << answers.asked[0].text.toStdString();
  Key(Qt::Key_F2);
  Key(Qt::Key_F9);  // the save refuses: told why, the operator gives up
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_EQ(answers.asked[1].icon, QMessageBox::Critical);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(ReadAll(work.Path(QString(kParamFileName) + "/inside")), "the operator's");
}

TEST_F(OperatorSafety, AReadOnlyFileIsNotReplacedAtExit) {
  const Bytes protectedFile = ValidFile(2);
  const QString file = work.Path(kParamFileName);
  WriteAll(file, protectedFile);
  ASSERT_EQ(chmod(file.toLocal8Bit().constData(), 0444), 0);
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Discard; };
  Open();
  EXPECT_EQ(Entries(), 2);
  Key(Qt::Key_F2);
  Key(Qt::Key_F9);
  ASSERT_EQ(answers.asked.size(), 1u) << "a read-only file was replaced without a word";
  EXPECT_EQ(answers.asked[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(answers.asked[0].text.contains(file)) << answers.asked[0].text.toStdString();
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(ReadAll(file), protectedFile);
  struct stat st{};
  ASSERT_EQ(stat(file.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// The exit save replaces the working file unasked only when it holds what the window read and
// the programme came from it; otherwise it asks once, and each answer does what it says.
TEST_F(OperatorSafety, ExitAsksOnceBeforeReplacingAWorkingFileThatIsNotWhatTheWindowRead) {
  const QString file = work.Path(kParamFileName), kept = work.Path("kept.dat");
  const Bytes start = ValidFile(2), theirs = ValidFile(4), none;
  WriteAll(work.Path("other.dat"), ValidFile(6));
  const struct {
    bool onDisk, opened;  // changed on disk meanwhile; the programme opened from another file
    QMessageBox::StandardButton answer;
    const Bytes* left;  // the working file after; null: the window's programme
  } rows[] = {{true, false, QMessageBox::Save, nullptr},   {true, false, QMessageBox::SaveAll, &theirs},
              {true, false, QMessageBox::Cancel, &theirs}, {false, true, QMessageBox::Save, nullptr},
              {false, true, QMessageBox::Discard, &start}, {true, true, QMessageBox::Save, nullptr}};
  for (const auto& row : rows) {
    SCOPED_TRACE(int(&row - rows));
    WriteAll(file, start);
    QFile::remove(kept);
    answers.asked.clear();
    answers.answer = [&](const ScriptedAnswers::Asked&) { return row.answer; };
    Open();
    dlg->Documents().SetFileChooser([&](QWidget*, const ui::FileRequest&) { return kept; });
    if (row.opened) {
      ASSERT_TRUE(dlg->Documents().OpenFile(work.Path("other.dat")));
    }
    Key(Qt::Key_F2);
    if (row.onDisk) WriteAll(file, theirs);
    const auto image = BuildParamFileImage(dlg->Param().options, dlg->Param().table);
    Key(Qt::Key_F9);
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_TRUE(answers.asked[0].text.contains(file)) << answers.asked[0].text.toStdString();
    EXPECT_EQ(dlg->isVisible(), row.answer == QMessageBox::Cancel);
    EXPECT_EQ(ReadAll(file), row.left ? *row.left : Bytes(image.begin(), image.end()));
    EXPECT_EQ(ReadAll(kept), row.answer == QMessageBox::SaveAll ? Bytes(image.begin(), image.end()) : none);
    dlg.reset();
  }
}

TEST_F(OperatorSafety, FunctionKeysWithAltCtrlOrSuperBelongToTheDesktop) {
  Open();
  Key(Qt::Key_F2);
  Key(Qt::Key_F2);
  ASSERT_EQ(Entries(), 2);
  Key(Qt::Key_Up);  // the highlight to row 1, so that a move down would show
  ASSERT_EQ(dlg->Param().highlightRow, 1);
  const ParamTable before = dlg->Param().table;
  for (Qt::KeyboardModifiers mods : {Qt::KeyboardModifiers(Qt::AltModifier), Qt::KeyboardModifiers(Qt::ControlModifier),
                                     Qt::KeyboardModifiers(Qt::MetaModifier)}) {
    Key(Qt::Key_F2, mods);  // add
    Key(Qt::Key_F4, mods);  // move down
    Key(Qt::Key_F5, mods);  // delete
    Key(Qt::Key_F9, mods);  // exit
    EXPECT_TRUE(dlg->Param().table == before) << int(mods);
    EXPECT_EQ(dlg->Param().highlightRow, 1) << int(mods);
    EXPECT_TRUE(dlg->isVisible()) << int(mods);
  }
  EXPECT_TRUE(answers.asked.empty());
  // The plain key, and with Shift as it always was, are still the commands.
  Key(Qt::Key_F2, Qt::ShiftModifier);
  Key(Qt::Key_F2);
  EXPECT_EQ(Entries(), 4);
}

TEST_F(OperatorSafety, AHelpFileThatCannotBeReadShowsWhyNotAnEmptyViewer) {
  ASSERT_TRUE(QDir(work.Path(".")).mkdir(kHelpFileName));
  Open();
  Key(Qt::Key_F1);
  ASSERT_EQ(answers.asked.size(), 1u) << "an empty viewer opened instead of a reason";
  EXPECT_TRUE(answers.asked[0].text.contains(work.Path(kHelpFileName))) << answers.asked[0].text.toStdString();
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("原因："))) << answers.asked[0].text.toStdString();
  EXPECT_EQ(dlg->HelpViewer(), nullptr);
  // Once the operator has put things right, the help opens as usual.
  ASSERT_TRUE(QDir(work.Path(".")).rmdir(kHelpFileName));
  Key(Qt::Key_F1);
  ASSERT_NE(dlg->HelpViewer(), nullptr);
  EXPECT_FALSE(dlg->HelpViewer()->Text().isEmpty());
  dlg->HelpViewer()->close();
}

// The same window against a simulated code transmitter.
class OperatorSafetyOnTheLine : public OperatorSafety {
 protected:
  void SetUp() override {
    OperatorSafety::SetUp();
    timing = ports.timing;
    ASSERT_TRUE(sim.Start(ports.Dir(), 1)) << sim.Error();
  }
  void TearDown() override {
    OperatorSafety::TearDown();
    sim.Stop();
  }
  bool WaitLamp(int state) {
    return QTest::qWaitFor([&] { return dlg->lamp->LampState() == state; }, 15000);
  }
  QString Status() const { return dlg->statusLine->text(); }

  SimulatedComPorts ports{work};
  sim::TransmitterSim sim;
};

TEST_F(OperatorSafetyOnTheLine, AnUploadWhoseDeviceInformationCannotBeSavedSaysSo) {
  // A folder where the device information file belongs: its save fails even for root.
  ASSERT_TRUE(QDir(work.Path(".")).mkdir(kDeviceInfoFileName));
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Ok; };
  Open(CodeTransmitter);
  ASSERT_TRUE(WaitLamp(1));
  Key(Qt::Key_F6);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status().startsWith(QString::fromUtf8(text::kUploadOk())); }, 20000))
      << Status().toStdString();
  EXPECT_TRUE(Status().contains(QString::fromUtf8(text::kDeviceInfoNotSaved()))) << Status().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.asked.empty(); }, 5000)) << "the failed save was not reported";
  EXPECT_TRUE(answers.asked[0].text.contains(work.Path(kDeviceInfoFileName))) << answers.asked[0].text.toStdString();
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("原因："))) << answers.asked[0].text.toStdString();
}

TEST_F(OperatorSafetyOnTheLine, CancelAfterAFailedExitSaveLeavesTheWindowFullyAlive) {
  // A folder in the file's place: the exit save fails, whoever runs the test.
  ASSERT_TRUE(QDir(work.Path(".")).mkdir(kParamFileName));
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Ok; };
  ASSERT_TRUE(SaveDeviceInfo(".", DeviceInfo{}).ok);
  Open(CodeTransmitter);
  ASSERT_TRUE(WaitLamp(1));
  const QString downloaded = QString::fromStdString(VerifyStatusText(VerifyOutcome::kSame));
  Key(Qt::Key_F7);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == downloaded; }, 20000)) << Status().toStdString();

  answers.asked.clear();
  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Cancel; };
  Key(Qt::Key_F9);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].icon, QMessageBox::Critical);
  ASSERT_TRUE(dlg->isVisible());

  // The result text still goes back to the welcome text after its period ...
  EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == QString::fromUtf8(text::kWelcome()); }, 5000))
      << Status().toStdString();
  // ... the lamp follows the device as it goes and comes back ...
  sim.Unplug();
  EXPECT_TRUE(WaitLamp(0)) << "the lamp stayed lit with the device gone";
  ASSERT_TRUE(sim.Plug());
  EXPECT_TRUE(WaitLamp(1));
  EXPECT_TRUE(dlg->Button(ui::kButtonDownload)->isEnabled());
  // ... and transfers work as before.
  Key(Qt::Key_F7);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == downloaded; }, 20000)) << Status().toStdString();

  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Discard; };
  Key(Qt::Key_F9);
  EXPECT_FALSE(dlg->isVisible());
}

}  // namespace
