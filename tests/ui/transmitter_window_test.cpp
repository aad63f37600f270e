// The main window serving a simulated code transmitter through a pty: the real engine, the real
// queued reports to the window thread, the real exit path.
#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>

#include "link/link_timing.h"
#include "link/transmitter_image.h"
#include "link/verify.h"
#include "model/fingerprint.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "res/dialog_templates.h"
#include "sim/transmitter_sim.h"
#include "store/device_info.h"
#include "store/param_file.h"
#include "store/transfer_log.h"
#include "ui/controls/lamp_static.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui/programme_documents.h"
#include "ui/transfer_log_writer.h"
#include "ui_test_support.h"

using namespace km27;
using namespace km27::res;

namespace {

class TransmitterWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    ASSERT_TRUE(sim.Start(ports.Dir(), 1)) << sim.Error();
  }
  void TearDown() override {
    dlg.reset();
    sim.Stop();
  }
  void Open() {
    dlg = std::make_unique<CParamDlg>();
    answers.InstallOn(*dlg);
    dlg->SetDeviceModel(CodeTransmitter);
    dlg->SetLinkTiming(ports.timing);
    dlg->OnInitDialog();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }
  QAbstractButton* Btn(int id) { return static_cast<QAbstractButton*>(dlg->Control(id)); }
  QString Status() { return dlg->statusLine->text(); }
  bool WaitStatus(const char* text, int ms = 20000) {
    return QTest::qWaitFor([&] { return Status() == QString::fromUtf8(text); }, ms);
  }
  void Key(Qt::Key k) { QTest::keyClick(dlg->grid, k); }

  TempWorkDir work;
  SimulatedComPorts ports{work};
  ScriptedAnswers answers;
  sim::TransmitterSim sim;
  std::unique_ptr<CParamDlg> dlg;
};

TEST_F(TransmitterWindow, LinkDownloadAndUploadThroughTheWindow) {
  ASSERT_TRUE(SaveDeviceInfo(".", DeviceInfo{}).ok);  // as after an earlier upload
  Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->lamp->LampState() == 1; }, 10000));
  for (int id : {IDC_UPLOAD, IDC_DOWNLOAD, IDC_CLEAR, IDC_ADD}) EXPECT_TRUE(Btn(id)->isEnabled()) << id;
  EXPECT_EQ(dlg->typeCountText->text(), "");  // counts wait for the first edit

  // Two steps on 650 Hz, which the device keeps in its block 2.
  QTest::mouseClick(dlg->Control(CarrierRadioId(1)), Qt::LeftButton, {}, QPoint(6, 5));
  Key(Qt::Key_F2);
  Key(Qt::Key_F2);
  const ParamTable programme = dlg->Param().table;
  Key(Qt::Key_F7);
  EXPECT_FALSE(Btn(IDC_DOWNLOAD)->isEnabled());
  Key(Qt::Key_F6);  // refused while the download runs
  // Read back after the download, on by default: the status line keeps the success and adds the verdict.
  const std::string verified = VerifyStatusText(VerifyOutcome::kSame);
  ASSERT_TRUE(WaitStatus(verified.c_str())) << Status().toStdString();
  EXPECT_TRUE(Btn(IDC_UPLOAD)->isEnabled());
  // A wrongly queued upload would start at once and hold the line; the monitor polling twice
  // more shows the line free.
  const int polls = sim.GetStats().identify;
  ASSERT_TRUE(QTest::qWaitFor([&] { return sim.GetStats().identify >= polls + 2; }, 10000));
  EXPECT_EQ(Status(), QString::fromStdString(verified));
  EXPECT_EQ(sim.GetStats().reads[0], 1) << "only the read-back may have read the device";
  const TransmitterImage image = sim.Image();
  EXPECT_EQ(image.bytes[kImageTableOffset + 2 * kBlockBytes + 1], programme.bytes[1 * kBlockBytes + 1]);
  EXPECT_NE(image.bytes[kImageTableOffset + 2 * kBlockBytes + 1], 0);

  Key(Qt::Key_F8);  // Clear, answered No by the scripted operator: nothing changes
  dlg->Param().table.Clear();
  Key(Qt::Key_F6);
  ASSERT_TRUE(WaitStatus(text::kUploadOk())) << Status().toStdString();
  EXPECT_TRUE(dlg->Param().table == programme);
  EXPECT_EQ(dlg->codeCountText->text(), QString::fromUtf8(" 低频:2"));
  // The welcome text comes back after the status period.
  EXPECT_TRUE(WaitStatus(text::kWelcome(), 5000));
}

// An upload that replaced the programme is one step to undo, like an edit.
TEST_F(TransmitterWindow, AnUploadIsUndoneAndRedoneAsOneStep) {
  ASSERT_TRUE(SaveDeviceInfo(".", DeviceInfo{}).ok);
  Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->lamp->LampState() == 1; }, 10000));
  Key(Qt::Key_F2);
  Key(Qt::Key_F2);
  const Programme sent = dlg->Param().Snapshot();
  Key(Qt::Key_F7);
  ASSERT_TRUE(WaitStatus(VerifyStatusText(VerifyOutcome::kSame).c_str())) << Status().toStdString();
  Key(Qt::Key_F2);  // edited after the download
  const Programme edited = dlg->Param().Snapshot();
  Key(Qt::Key_F6);
  ASSERT_TRUE(WaitStatus(text::kUploadOk())) << Status().toStdString();
  ASSERT_TRUE(dlg->Param().table == sent.table);
  // The programme has one fingerprint, sent or brought back; the edit made in between has none.
  ASSERT_TRUE(dlg->TransferLog().WaitIdle(5000));
  const std::vector<TransferRecord> logged = ReadTransferLog(dlg->TransferLogPath());
  ASSERT_GE(logged.size(), 2u);
  EXPECT_EQ(logged.back().action, "upload");
  EXPECT_EQ(logged.back().programmeSha256, ProgrammeFingerprint(sent.options, sent.table));
  EXPECT_EQ(logged[logged.size() - 2].programmeSha256, logged.back().programmeSha256);
  QAction* undo = dlg->Documents().Action(QString::fromUtf8("撤销(&U)"));
  ASSERT_NE(undo, nullptr);
  EXPECT_EQ(undo->text(), QString::fromUtf8("撤销(&U) 上传"));
  undo->trigger();
  EXPECT_TRUE(dlg->Param().Snapshot() == edited);
  EXPECT_EQ(dlg->grid->TextMatrix(3, 0), "3");
  EXPECT_EQ(dlg->codeCountText->text(), QString::fromUtf8(" 低频:3"));
  dlg->Documents().Action(QString::fromUtf8("重做(&R)"))->trigger();
  EXPECT_TRUE(dlg->Param().table == sent.table);
  EXPECT_EQ(dlg->codeCountText->text(), QString::fromUtf8(" 低频:2"));
}

// Three ways a download used to change the device without a word: steps it cannot carry out,
// no device information of ours (zeros sent in its place), and a failure after blocks went in.
TEST_F(TransmitterWindow, ADownloadSaysWhatItDoesToTheDevice) {
  ports.timing.readTotalConstantMs = 200;  // failing exchanges wait the short limit
  DeviceInfo own;
  for (size_t i = 0; i < own.size(); ++i) own[i] = uint8_t(200 - i);
  TransmitterImage held;
  held.SetInfo(own);
  sim.SetImage(held);
  Open();  // no DDINFO.txt in the working directory
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->lamp->LampState() == 1; }, 10000));
  Key(Qt::Key_F2);
  dlg->Param().table.SetEntry(0, 1, ParamEntry{25, 5});  // as a damaged file would hold it

  const int opens = sim.GetStats().open;
  Key(Qt::Key_F7);  // asked; the scripted operator does not say yes
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_TRUE(answers.asked[0].text.contains(QString::fromUtf8("第 2 步：低频代码 25 不存在"))) << answers.asked[0].text.toStdString();
  EXPECT_TRUE(answers.asked[0].buttons.testFlag(QMessageBox::Cancel));
  EXPECT_TRUE(Btn(IDC_DOWNLOAD)->isEnabled());
  EXPECT_EQ(sim.GetStats().open, opens);

  answers.answer = [](const ScriptedAnswers::Asked&) { return QMessageBox::Yes; };
  Key(Qt::Key_F7);
  const std::string verified = VerifyStatusText(VerifyOutcome::kSame) + text::kInfoFromDevice();
  ASSERT_TRUE(WaitStatus(verified.c_str())) << Status().toStdString();
  EXPECT_EQ(sim.Image().Info(), own);  // sent back as the device held it

  // An upload brings the device's information: from now on it is sent without reading first.
  Key(Qt::Key_F6);
  ASSERT_TRUE(WaitStatus(text::kUploadOk())) << Status().toStdString();
  answers.asked.clear();
  sim.SetNoAckBlock(3);
  Key(Qt::Key_F7);
  ASSERT_TRUE(WaitStatus((std::string(text::kDownloadFailed())).c_str())) << Status().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.asked.size() == 2; }, 2000));  // impossible steps, then this
  EXPECT_EQ(answers.asked[1].text, QString::fromUtf8(text::kPartialDownloadMessage()));
}

// Leaving during a download asks. Waiting closes the window once the download has ended;
// leaving anyway cuts it short at once and says the device may now hold part of the programme.
TEST_F(TransmitterWindow, ClosingDuringATransferAsksThenWaitsOrEndsPromptlyAndSaves) {
  ASSERT_TRUE(SaveDeviceInfo(".", DeviceInfo{}).ok);  // the download goes straight to its blocks
  for (const bool wait : {true, false}) {
    SCOPED_TRACE(wait ? "wait" : "leave anyway");
    if (!wait) ports.timing.readTotalConstantMs = 6000;  // a silent read waits the full 6 s
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->lamp->LampState() == 1; }, 10000));
    Key(Qt::Key_F2);
    sim.SetNoAckBlock(3);  // three blocks reach the device, then no answer
    sim.ResetStats();
    Key(Qt::Key_F7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.GetStats().writes[2] > 0; }, 10000));
    answers.asked.clear();
    answers.answer = [&](const ScriptedAnswers::Asked& a) {
      return !a.buttons.testFlag(QMessageBox::Retry) ? QMessageBox::Ok : wait ? QMessageBox::Retry : QMessageBox::Discard;
    };
    const auto t0 = std::chrono::steady_clock::now();
    Key(Qt::Key_F9);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(dlg->isVisible(), wait);
    if (wait) {
      sim.SetNoAckBlock(-1);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->isVisible(); }, 20000));
    }
    // Leaving cuts the read short instead of sitting out its 6 s limit.
    if (!wait) {
      EXPECT_LT(ms, 3000) << "the exit path waited for the transfer";
    }
    ASSERT_EQ(answers.asked.size(), wait ? 1u : 2u);
    if (!wait) {
      EXPECT_TRUE(answers.asked[1].text.contains(QString::fromUtf8("可能不完整")));
    }
    ParamOptions o;
    ParamTable t;
    ASSERT_TRUE(LoadParamFile(kParamFileName, o, t));
    EXPECT_EQ(CountTable(t).entries, wait ? 1 : 2);
    // The exit waited for the record, which tells how the transfer ended.
    const std::vector<TransferRecord> logged = ReadTransferLog(dlg->TransferLogPath());
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back().result, wait ? "ok" : "interrupted");
    dlg.reset();  // the threads are gone: destroying the window reaches nothing freed
  }
  QTest::qWait(50);
}

}  // namespace
