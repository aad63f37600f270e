// Verification as the operator meets it: on by default, a menu entry that turns it off and is
// remembered, a mismatch named in a message, and nothing of the window's changed by it.
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "link/box_frame.h"
#include "link/link_timing.h"
#include "link/verify.h"
#include "model/fingerprint.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "sim/box_sim.h"
#include "sim/transmitter_sim.h"
#include "store/device_info.h"
#include "store/param_file.h"
#include "store/transfer_log.h"
#include "ui/controls/hover_button.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui/difference_view.h"
#include "ui/programme_documents.h"
#include "ui/transfer_log_writer.h"
#include "ui_test_support.h"

using namespace km27;

namespace {

// A window serving one simulated lower machine on COM1, every message box answered OK.
class WindowOnOneDevice : public ::testing::Test {
 protected:
  void OpenWindow(DeviceModel model) {
    dlg = std::make_unique<CParamDlg>();
    answers.InstallOn(*dlg);
    answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Ok; };
    dlg->SetDeviceModel(model);
    dlg->SetLinkTiming(ports.timing);
    dlg->SetTransferLogPath(Log());
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->lamp->LampState() == 1; }, 15000));
  }
  QString Status() const { return dlg->statusLine->text(); }
  std::string Log() const { return work.Path("transfers.jsonl").toStdString(); }
  // F7, then until the buttons come back with a final text.
  bool Download(const std::string& expected) {
    QTest::keyClick(dlg->grid, Qt::Key_F7);
    return QTest::qWaitFor(
        [&] { return Status() == QString::fromStdString(expected) && dlg->Button(ui::kButtonDownload)->isEnabled(); }, 30000);
  }

  TempWorkDir work;
  SimulatedComPorts ports{work};
  ScriptedAnswers answers;
  std::unique_ptr<CParamDlg> dlg;
};

class VerifyWindow : public WindowOnOneDevice {
 protected:
  void SetUp() override { EnsureApp(); }
  void TearDown() override {
    dlg.reset();
    sim.Stop();
    QSettings().clear();
  }
  void Open() {
    ASSERT_TRUE(SaveDeviceInfo(".", DeviceInfo{}).ok);  // sent as it is, not read from the device first
    OpenWindow(CodeTransmitter);
  }

  const std::string& comDir = ports.Dir();
  sim::TransmitterSim sim;
};

TEST_F(VerifyWindow, OnByDefaultAndTheOperatorsChoiceIsRemembered) {
  ASSERT_TRUE(sim.Start(comDir, 1)) << sim.Error();
  Open();
  QAction* entry = dlg->VerifyAction();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->text(), QString::fromUtf8("下载后校验"));
  EXPECT_TRUE(entry->isCheckable());
  EXPECT_TRUE(entry->isChecked());
  EXPECT_TRUE(dlg->SystemMenu()->actions().contains(entry));
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kSame))) << Status().toStdString();
  EXPECT_EQ(sim.GetStats().reads[16], 1);

  entry->trigger();  // off
  EXPECT_FALSE(entry->isChecked());
  ASSERT_TRUE(Download(text::kDownloadOk())) << Status().toStdString();
  EXPECT_EQ(sim.GetStats().reads[16], 1) << "nothing is read back once the operator turned it off";
  QTest::keyClick(dlg->grid, Qt::Key_F9);
  dlg.reset();

  // The next window starts with the operator's choice.
  Open();
  EXPECT_FALSE(dlg->VerifyAction()->isChecked());
  ASSERT_TRUE(Download(text::kDownloadOk())) << Status().toStdString();
  dlg->VerifyAction()->trigger();
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kSame))) << Status().toStdString();
  EXPECT_TRUE(answers.asked.empty());

  // A log that cannot be written is said once on the status line; the transfers go on.
  dlg->SetTransferLogPath(work.Path(kDeviceInfoFileName).toStdString() + "/transfers.jsonl");
  QTest::keyClick(dlg->grid, Qt::Key_F7);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status().startsWith(QString::fromUtf8("传输记录无法写入：")); }, 30000));
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kSame))) << Status().toStdString();
  ASSERT_TRUE(dlg->TransferLog().WaitIdle(5000));
  QCoreApplication::processEvents();
  EXPECT_FALSE(Status().startsWith(QString::fromUtf8("传输记录无法写入"))) << "said once, not after every transfer";
  EXPECT_TRUE(answers.asked.empty());
}

TEST_F(VerifyWindow, AMismatchIsNamedAndChangesNothingOfTheWindows) {
  // 1701.4 Hz travels as device block 8; step 1's seconds come back one higher.
  sim.SetStoreWrongByte(int(kImageTableOffset + 8 * kBlockBytes + 1));
  ASSERT_TRUE(sim.Start(comDir, 1)) << sim.Error();
  Open();
  QTest::mouseClick(dlg->Control(1033), Qt::LeftButton, {}, QPoint(6, 5));  // 1701.4Hz
  QTest::keyClick(dlg->grid, Qt::Key_F2);                                 // 无码 3 s
  const ParamTable table = dlg->Param().table;
  const ParamOptions options = dlg->Param().options;
  answers.answer = [](const ScriptedAnswers::Asked& a) {
    return a.buttons.testFlag(QMessageBox::Open) ? QMessageBox::Open : QMessageBox::Ok;  // 查看差异
  };
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kMismatch))) << Status().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.asked.empty(); }, 5000));
  const QString told = answers.asked[0].text;
  EXPECT_TRUE(told.contains(QString::fromUtf8("载频 1701.4Hz（ZPW2000）第 1 步：下发 无码 3 秒，读回 无码 4 秒"))) << told.toStdString();
  EXPECT_TRUE(told.contains(QString::fromUtf8("共 1 个字节不同"))) << told.toStdString();

  // The difference view marks that one step, with the device's value beside ours.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->findChildren<ui::DifferenceView*>().isEmpty(); }, 5000));
  const QTableWidget* steps = dlg->findChildren<ui::DifferenceView*>().front()->Table();
  QStringList marked;
  for (int r = 0; r < steps->rowCount(); ++r)
    for (int c = 0; c < steps->columnCount(); ++c)
      if (steps->item(r, c)->background().style() != Qt::NoBrush) marked << steps->item(r, c)->text();
  EXPECT_EQ(marked, QStringList{QString::fromUtf8("无码 3 s\n读回 无码 4 s")});

  // One record of it, off the window's thread.
  ASSERT_TRUE(dlg->TransferLog().WaitIdle(5000));
  const std::vector<TransferRecord> logged = ReadTransferLog(Log());
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].action, "download");
  EXPECT_EQ(logged[0].model, "KM27C");
  EXPECT_EQ(logged[0].com, 1);
  EXPECT_EQ(logged[0].result, "verify_mismatch");
  EXPECT_FALSE(logged[0].verified);
  EXPECT_NE(logged[0].differences.find(R"("step":1)"), std::string::npos) << logged[0].differences;
  EXPECT_EQ(logged[0].programmeSha256, ProgrammeFingerprint(options, table));
  const DeviceInfo sentInfo{};
  EXPECT_EQ(logged[0].deviceInfoSha256, Sha256Hex(sentInfo.data(), sentInfo.size()));
  EXPECT_TRUE(dlg->Param().table == table);
  EXPECT_TRUE(dlg->Param().options == options);
  EXPECT_EQ(dlg->grid->TextMatrix(1, 2), QString::fromUtf8("3 s"));
  // Nothing reached the files either: the programme is saved at exit only, the device
  // information after an upload only.
  EXPECT_FALSE(QFile::exists(work.Path(kParamFileName)));
  QFile info(work.Path(kDeviceInfoFileName));
  ASSERT_TRUE(info.open(QIODevice::ReadOnly));
  const DeviceInfo zeros{};
  EXPECT_EQ(info.readAll().toStdString(), FormatDeviceInfo(zeros.data()));
}

}  // namespace

namespace {

// The same through the window serving a simulated code box.
class VerifyBoxWindow : public WindowOnOneDevice {
 protected:
  void SetUp() override {
    sim::BoxSimOptions o;
    o.comDir = ports.Dir();
    o.com = 1;
    o.presenceMs = 40;  // within the scaled watchdog period
    o.paced = false;
    box = std::make_unique<sim::BoxSim>(o);
    ASSERT_TRUE(box->Start()) << box->Error();
    OpenWindow(CodeBox);
  }
  void TearDown() override {
    dlg.reset();
    box.reset();
    QSettings().clear();
  }

  std::unique_ptr<sim::BoxSim> box;
};

TEST_F(VerifyBoxWindow, ProvenMismatchedOrNotReadBackAndNothingOfTheWindowsChanged) {
  QTest::mouseClick(dlg->Control(1005), Qt::LeftButton, {}, QPoint(6, 5));  // 1700 Hz
  QTest::keyClick(dlg->grid, Qt::Key_F2);
  QTest::keyClick(dlg->grid, Qt::Key_F2);
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kSame))) << Status().toStdString();
  EXPECT_TRUE(answers.asked.empty());
  const ParamTable table = dlg->Param().table;
  // The check byte the download sealed is the window's from then on (and no step: see below).
  ParamOptions sealed = dlg->Param().options;
  SealBoxHeader(sealed);
  EXPECT_NE(sealed.CheckByte(), 0);
  EXPECT_EQ(dlg->Param().options, sealed);

  // 1700 Hz is block 4; its step 2's seconds byte (frame offset 8 + 4 * 48 + 3) is kept one higher.
  box->SetStoreWrongByte(8 + 4 * 48 + 3);
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kMismatch))) << Status().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.asked.size() == 1; }, 5000));
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("载频 1700 Hz（UM71）第 2 步：下发 无码 3 秒，读回 无码 4 秒")))
      << answers.asked[0].text.toStdString();

  box->SetStoreWrongByte(-1);
  box->SetNoUploadAnswer(true);
  ASSERT_TRUE(Download(VerifyStatusText(VerifyOutcome::kReadBackFailed))) << Status().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.asked.size() == 2; }, 5000));
  EXPECT_EQ(answers.asked[1].text, QString::fromUtf8(text::kVerifyFailedMessage()));

  EXPECT_TRUE(dlg->Param().table == table);
  EXPECT_EQ(dlg->grid->TextMatrix(2, 2), QString::fromUtf8("3 s"));
  EXPECT_FALSE(QFile::exists(work.Path(kParamFileName)));
  // Nor is the read-back a step to undo: the last step is still the second add.
  QAction* undo = dlg->Documents().Action(QString::fromUtf8("撤销(&U)"));
  ASSERT_NE(undo, nullptr);
  EXPECT_EQ(undo->text(), QString::fromUtf8("撤销(&U) 添加"));
  undo->trigger();
  EXPECT_EQ(CountTable(dlg->Param().table).entries, 1);
}

}  // namespace
