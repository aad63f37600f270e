// Ctrl+C in the middle of a transfer, at the links' real timing: the program stops at once,
// not when the wait it was in would have ended, exits with 130 and leaves no file touched.
#include <signal.h>

#include "ctl/ctl_fixture.h"

namespace km27::testing {
namespace {

class CtlInterrupt : public CtlTest {
 protected:
  void SetUp() override {
    CtlTest::SetUp();
    divisor = 1;  // the real waits: what is interrupted would last seconds
  }
  // Starts km27ctl, waits until its progress shows `stage`, then sends SIGINT; returns how
  // long it took to end after that.
  std::chrono::milliseconds InterruptAt(const Strings& args, const std::string& stage, CtlResult& r) {
    auto p = Start(args);
    EXPECT_TRUE(WaitFor([&] { return p->Err().find(stage) != std::string::npos; }, 60000)) << p->Err();
    const auto sent = Clock::now();
    p->Signal(SIGINT);
    EXPECT_TRUE(p->WaitExit(30000));
    r.code = p->ExitCode();
    r.out = p->Out();
    r.err = p->Err();
    return std::chrono::duration_cast<std::chrono::milliseconds>(p->EndedAt() - sent);
  }
};

TEST_F(CtlInterrupt, CodeTransmitterDownloadAndUploadStopPromptlyAndWriteNothing) {
  // Block 5 is never answered: each of its attempts waits out the 6 s read limit.
  sim::TransmitterSimOptions t;
  t.noAckBlock = 5;
  AddTransmitter(1, t);
  const std::string file = WriteProgramme();
  WriteDeviceInfo();
  const std::string bytes = ReadAll(file);
  const std::set<std::string> before = Listing(work);

  CtlResult r;
  auto took = InterruptAt({"download", "--model", "KM27C", "--com", "1", "KM27A.dat"}, "下载 5/17", r);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_LT(took.count(), 3000);  // well inside the read it cut short
  // Blocks 0..4 were acknowledged: the device may hold a mix of both programmes.
  EXPECT_TRUE(Has(r.err, "新旧混杂")) << r.err;
  size_t logged = 0;
  NewRecord(logged, "interrupted");
  // Uploading into the programme file: interrupted, the file stays as it was and nothing is
  // left beside it.
  took = InterruptAt({"upload", "--model", "KM27C", "--com", "1", "KM27A.dat"}, "上传 5/17", r);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_LT(took.count(), 3000);
  EXPECT_EQ(ReadAll(file), bytes);
  EXPECT_EQ(Listing(work), before);
  EXPECT_EQ(NewRecord(logged, "interrupted")["action"], "upload");
}

TEST_F(CtlInterrupt, CodeBoxReadBackStopsPromptly) {
  // The read-back is never answered: its upload time limit is 2 s, then 0.5 s more.
  sim::BoxSimOptions b;
  b.noUploadAnswer = true;
  AddBox(1, b);
  WriteProgramme();
  const std::set<std::string> before = Listing(work);
  CtlResult r;
  const auto took = InterruptAt({"download", "--model", "KM27A", "--com", "1", "KM27A.dat"}, "读回校验 0/1", r);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_LT(took.count(), 1500);
  EXPECT_TRUE(Has(r.err, "读回校验被中断")) << r.err;  // the download itself went through
  size_t logged = 0;
  NewRecord(logged, "interrupted");
  EXPECT_EQ(Listing(work), before);
}

}  // namespace
}  // namespace km27::testing
