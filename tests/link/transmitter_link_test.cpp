#include <termios.h>

#include "link/fake_port.h"
#include "link/transmitter_fixture.h"
#include "port/held_port.h"

namespace km27::testing {
namespace {

using Clock = std::chrono::steady_clock;

sim::TransmitterSimOptions Silent() {
  sim::TransmitterSimOptions o;
  o.silent = true;
  return o;
}


TEST_F(TransmitterLinkTest, FindsTheDeviceOnCom3BehindSilentPorts) {
  auto& com1 = AddSim(1, Silent());
  auto& com2 = AddSim(2, Silent());
  auto& com3 = AddSim(3);
  StartLink();
  ASSERT_TRUE(WaitLamp(1));
  EXPECT_GE(com1.GetStats().identify, 1);
  EXPECT_GE(com2.GetStats().identify, 1);
  {
    auto lock = window.Lock();
    EXPECT_EQ(window.order, "F");  // the first report of 0 changes nothing
    EXPECT_EQ(window.found[0].com, 3);
    EXPECT_EQ(window.offThread, 0);
  }
  // Later cycles poll COM3 only.
  int before1 = com1.GetStats().identify, before3 = com3.GetStats().identify;
  ASSERT_TRUE(window.WaitFor([&] { return com3.GetStats().identify >= before3 + 5; }, 5000));
  EXPECT_EQ(com1.GetStats().identify, before1);
  EXPECT_EQ(window.order, "F");  // repeated reports of 1 change nothing
}

TEST_F(TransmitterLinkTest, APortAnotherProgramHoldsIsSkippedUntouched) {
  sim::SimLine com1;
  ASSERT_TRUE(com1.Open(com.path, 1)) << com1.Error();
  HeldPort other(com1.SlavePath());
  ASSERT_TRUE(other.Ready());
  termios before{};
  ASSERT_EQ(tcgetattr(com1.MasterFd(), &before), 0);
  auto& com3 = AddSim(3);
  StartLink();
  ASSERT_TRUE(WaitLamp(1));
  EXPECT_GE(com3.GetStats().identify, 1);
  // A whole scan has passed COM1: its line still runs at the other program's speed, and not a
  // byte of ours (no wake-up byte, no poll) reached it.
  termios after{};
  ASSERT_EQ(tcgetattr(com1.MasterFd(), &after), 0);
  EXPECT_EQ(cfgetospeed(&after), speed_t(B4800));
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_TRUE(com1.Read(0).bytes.empty());
  const std::string why = PortProblemText();
  EXPECT_NE(why.find("COM1"), std::string::npos) << why;
  EXPECT_NE(why.find(HeldPort::kName), std::string::npos) << why;
}

TEST_F(TransmitterLinkTest, APortIsTriedAgainOnceTheProgramHoldingItLetsGo) {
  ForgetPortProblems();
  auto& dev = AddSim(1);
  auto other = std::make_unique<HeldPort>(dev.SlavePath());
  ASSERT_TRUE(other->Ready());
  StartLink();
  ASSERT_TRUE(window.WaitFor([] { return PortProblemText().find("COM1") != std::string::npos; }, 5000));
  EXPECT_EQ(dev.GetStats().identify, 0);
  other.reset();
  EXPECT_TRUE(WaitLamp(1));
  EXPECT_EQ(PortProblemText(), "");
}

TEST_F(TransmitterLinkTest, UnpluggedDeviceDropsTheLinkAndTheScanStartsAgainAtCom1) {
  auto& com1 = AddSim(1, Silent());
  auto& com2 = AddSim(2);
  StartLink();
  ASSERT_TRUE(WaitLamp(1));
  int scansOfCom1 = com1.GetStats().identify;
  com2.Unplug();
  ASSERT_TRUE(WaitLamp(0));
  ASSERT_TRUE(window.WaitFor([&] { return com1.GetStats().identify > scansOfCom1; }, 5000));
  ASSERT_TRUE(com2.Plug());
  EXPECT_TRUE(WaitLamp(1));
}

TEST_F(TransmitterLinkTest, BlockNeverAcknowledgedFailsTheDownloadAfterTwentyAttempts) {
  sim::TransmitterSimOptions o;
  o.noAckBlock = 5;
  auto& dev = AddSim(1, o);
  StartLink();
  ASSERT_TRUE(WaitLamp(1));
  Download();
  ASSERT_TRUE(WaitVerdict("download failed"));
  ASSERT_TRUE(WaitEnded(1));
  auto st = dev.GetStats();
  for (int k = 0; k < 5; ++k) EXPECT_EQ(st.writes[size_t(k)], 1) << k;
  EXPECT_EQ(st.writes[5], 20);
  for (int k = 6; k < kTransferBlocks; ++k) EXPECT_EQ(st.writes[size_t(k)], 0) << k;
  EXPECT_TRUE(SawProgress(TransferKind::kDownload, 5));
  auto lock = window.Lock();
  EXPECT_EQ(window.order, "FS" + std::string(5 + 20, 'P') + "JE");  // 5 blocks, then 20 attempts at the sixth
  EXPECT_TRUE(window.ended.back().deviceTouched);
}

TEST_F(TransmitterLinkTest, DownloadThenUploadGivesTheTableBack) {
  // Device information comes from the window and goes to the device with the programme.
  TransmitterImage info;
  for (size_t i = 0; i < kDeviceInfoBytes; ++i) info.bytes[i] = uint8_t(255 - i);
  startInfo = info.Info();

  for (int b = 0; b < 19; ++b)
    for (int s = 0; s <= b % 4; ++s) model.table.SetEntry(b, s, {uint8_t(s + 1), uint8_t(b + 3)});
  UpdateCarrierMask(model.table, model.options);
  model.options.SetLineOption(1, 1);
  const ParamTable table = model.table;
  const ParamOptions options = model.options;

  sim::TransmitterSimOptions vo; vo.verbose = getenv("SIMV") != nullptr;
  auto& dev = AddSim(1, vo);
  StartLink(TestTiming(), true);
  ASSERT_TRUE(WaitLamp(1));
  Download();
  // Read back and found the same; the read-back changes nothing of the window's.
  ASSERT_TRUE(WaitVerdict("same")) << Verdicts();
  EXPECT_EQ(CountVerdicts("download ok"), 1);
  EXPECT_TRUE(SawProgress(TransferKind::kReadBack, 16));
  {
    auto lock = window.Lock();
    EXPECT_TRUE(window.received.empty());
    EXPECT_EQ(window.ended.size(), 1u);
  }
  for (int k = 0; k < kTransferBlocks; ++k) EXPECT_EQ(dev.GetStats().reads[size_t(k)], 1) << k;

  // On the wire the carriers are in the device's order: 650 Hz travels as block 2.
  TransmitterImage onDevice = dev.Image();
  for (size_t i = 0; i < kDeviceInfoBytes; ++i) ASSERT_EQ(onDevice.bytes[i], info.bytes[i]);
  for (size_t i = 0; i < size_t(kBlockBytes); ++i)
    ASSERT_EQ(onDevice.bytes[kImageTableOffset + 2 * kBlockBytes + i], table.Block(1)[i]);
  EXPECT_EQ(onDevice.bytes[96], TransmitterImage::ExchangeMask(0, options.MaskByte(0)));

  model.table.Clear();
  for (int f = 0; f < 4; ++f) model.options.SetMaskByte(f, 0);
  dev.SetImage([&] {
    TransmitterImage i = dev.Image();
    i.bytes[0] = 7;  // the device's own information comes back to the window
    return i;
  }());
  window.Do([&] { link->OnUpload(); });
  ASSERT_TRUE(WaitVerdict("upload ok")) << Verdicts();
  // The masks and the table come back; the line settings are the window's own.
  const Programme back = Uploaded();
  EXPECT_EQ(back.table, table);
  EXPECT_EQ(back.options, options);
  auto lock = window.Lock();
  ASSERT_EQ(window.received.size(), 1u);
  ASSERT_TRUE(window.received[0].info);
  EXPECT_EQ((*window.received[0].info)[0], 7);
  EXPECT_EQ((*window.received[0].info)[95], info.bytes[95]);
  EXPECT_EQ(window.ended.size(), 2u);
}

TEST_F(TransmitterLinkTest, FailedUploadHandsNothingOver) {
  sim::TransmitterSimOptions o;
  o.noAckBlock = 8;
  auto& dev = AddSim(1, o);
  TransmitterImage other;
  other.bytes.fill(0x11);
  dev.SetImage(other);
  StartLink();
  ASSERT_TRUE(WaitLamp(1));
  window.Do([&] { link->OnUpload(); });
  ASSERT_TRUE(WaitVerdict("upload failed"));
  EXPECT_EQ(dev.GetStats().reads[8], 20);
  ASSERT_TRUE(WaitEnded(1));
  auto lock = window.Lock();
  EXPECT_TRUE(window.received.empty()) << "a failed upload hands nothing over";
}

TEST_F(TransmitterLinkTest, TransferCommandsAreRefusedWhileOneRuns) {
  auto& dev = AddSim(1);
  StartLink();
  ASSERT_TRUE(WaitLamp(1));
  dev.SetSilent(true);  // the upload can't get through its opening stage
  window.Do([&] { link->OnUpload(); });
  window.Do([&] {
    EXPECT_TRUE(link->TransferRunning());
    link->OnDownload(model.Snapshot());  // F7
    link->OnUpload();    // F6
  });
  ASSERT_TRUE(WaitVerdict("upload failed"));
  // Whether the monitor's failed poll closed the port before the upload took it or not, one
  // transfer ran: at most one opening stage of 20 attempts, no block written, one result.
  auto st = dev.GetStats();
  EXPECT_LE(st.open, 20);
  for (int w : st.writes) EXPECT_EQ(w, 0);
  EXPECT_EQ(CountVerdicts("download failed") + CountVerdicts("download ok"), 0);
  // A second result would come at once; the monitor's next polls come after it.
  const int seen = dev.GetStats().identify;
  ASSERT_TRUE(window.WaitFor([&] { return dev.GetStats().identify >= seen + 2; }, 10000));
  EXPECT_EQ(CountVerdicts("upload failed"), 1);
  // Once it has ended, the next command is taken.
  dev.SetSilent(false);
  int polls = dev.GetStats().identify;
  ASSERT_TRUE(window.WaitFor([&] { return dev.GetStats().identify >= polls + 3; }, 10000));
  ASSERT_TRUE(WaitLamp(1));
  Download();
  EXPECT_TRUE(WaitVerdict("download ok"));
}

TEST_F(TransmitterLinkTest, DamagedAnswersAreRetriedNotTrusted) {
  sim::TransmitterSimOptions o;
  o.corruptFraction = 0.01;  // about one 70-byte answer in two is damaged
  o.seed = 7;
  auto& dev = AddSim(1, o);
  StartLink();
  for (int b = 0; b < 19; ++b) model.table.SetEntry(b, 0, {uint8_t(b), 9});
  UpdateCarrierMask(model.table, model.options);
  const ParamTable table = model.table;
  // Damaged polls may drop the link now and then: start once it is up.
  auto startWhenUp = [&](bool download) {
    for (int i = 0; i < 50; ++i) {
      if (!WaitLamp(1)) return false;
      bool started = false;
      window.Do([&] {
        download ? link->OnDownload(model.Snapshot()) : link->OnUpload();
        started = link->TransferRunning();
      });
      if (started) return true;
    }
    return false;
  };
  ASSERT_TRUE(startWhenUp(true));
  ASSERT_TRUE(WaitVerdict("download ok", 30000)) << Verdicts();
  model.table.Clear();
  ASSERT_TRUE(startWhenUp(false));
  ASSERT_TRUE(WaitVerdict("upload ok", 30000)) << Verdicts();
  EXPECT_EQ(Uploaded().table, table);  // no damaged block was taken
  int reads = 0;
  for (int r : dev.GetStats().reads) reads += r;
  EXPECT_GT(reads, kTransferBlocks);  // some answers were damaged and asked for again
}

TEST_F(TransmitterLinkTest, RealTimesAgainstALineAtItsRealSpeed) {
#ifdef KM27_SANITIZED
  GTEST_SKIP() << "exactly one exchange per block needs real-time scheduling, not a sanitizer's slowdown";
#endif
  sim::TransmitterSimOptions o;
  o.paced = true;  // 0.52 ms per byte at 19200 baud, as on a real line
  auto& dev = AddSim(1, o);
  StartLink(LinkTiming());
  ASSERT_TRUE(WaitLamp(1));
  model.table.SetEntry(4, 0, {3, 7});
  const ParamTable table = model.table;
  Download();
  ASSERT_TRUE(WaitVerdict("download ok")) << Verdicts();
  model.table.Clear();
  window.Do([&] { link->OnUpload(); });
  ASSERT_TRUE(WaitVerdict("upload ok")) << Verdicts();
  EXPECT_EQ(Uploaded().table, table);
  auto st = dev.GetStats();
  for (int k = 0; k < kTransferBlocks; ++k) EXPECT_EQ(st.writes[size_t(k)] + st.reads[size_t(k)], 2) << k;
}

TEST_F(TransmitterLinkTest, DownloadWithoutLinkDoesNothing) {
  StartLink();
  Download();
  window.Do([&] { EXPECT_FALSE(link->TransferRunning()); });
  auto lock = window.Lock();
  EXPECT_EQ(window.order, "");
}

// A line that keeps its speed (a terminal server's raw TCP) cannot carry the device's 19200
// baud: the opening stops at the speed change, and no request goes out at the wrong speed.
TEST_F(TransmitterLinkTest, ALineThatCannotChangeSpeedIsNeverTakenForTheDevice) {
  auto owned = std::make_unique<FakePort>();
  FakePort& line = *owned;
  line.refuseSpeedChange = true;
  env.onlyPort = 1;
  env.onlyDevice = "tcp://192.0.2.1:4001";
  link = std::make_unique<TransmitterLink>(window.Loop(), window, startInfo, TestTiming(), std::move(owned));
  link->SetComEnvironment(env);
  window.Do([&] {
    link->Start();
    link->SearchNow();
  });
  ASSERT_TRUE(window.WaitFor([&] { return line.Opens() >= 3; }, 10000)) << "the monitor stopped looking";
  window.Do([&] { EXPECT_FALSE(link->LinkUp()); });
  for (const FakePort::Sent& w : line.Written()) {
    EXPECT_EQ(w.baud, 9600);
    EXPECT_EQ(w.bytes, std::vector<uint8_t>{0x03}) << "only the wake byte goes out";
  }
  auto lock = window.Lock();
  EXPECT_TRUE(window.found.empty());
}

TEST_F(TransmitterLinkTest, ClosingDuringATransferEndsPromptlyAndQuietly) {
  auto& dev = AddSim(1);
  LinkTiming slow = TestTiming();
  slow.readTotalConstantMs = 6000;  // a silent exchange would hold the thread for seconds
  StartLink(slow);
  ASSERT_TRUE(WaitLamp(1));
  dev.SetNoAckBlock(3);  // the upload stalls in a read of block 3
  window.Do([&] { link->OnUpload(); });
  ASSERT_TRUE(window.WaitFor([&] { return dev.GetStats().reads[3] >= 1; }, 10000));
  auto t0 = Clock::now();
  window.Close(*link);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_LT(took, slow.readTotalConstantMs);  // the wait was cut short, not sat out
  auto lock = window.Lock();
  EXPECT_EQ(window.afterClose, 0);
  EXPECT_EQ(window.CountVerdicts("upload failed"), 0);
}

}  // namespace
}  // namespace km27::testing

namespace km27::testing {
namespace {

// The download proven by reading it back: a device that stored a byte wrongly, one whose
// read-back never answers, and the operator's choice not to verify.
TEST_F(TransmitterLinkTest, ReadBackNamesTheFirstWrongByteAndTellsAFailedReadBackApart) {
  sim::TransmitterSimOptions o;
  // 750 Hz travels as device block 1; its step 2 code is stored one higher.
  o.storeWrongByte = int(kImageTableOffset + 1 * kBlockBytes + 2 * 1);
  auto& dev = AddSim(1, o);
  StartLink(TestTiming(), true);
  model.table.SetEntry(2, 0, {1, 3});
  model.table.SetEntry(2, 1, {4, 10});  // "9.0 Hz" 10 s; stored as "9.5 Hz"
  UpdateCarrierMask(model.table, model.options);
  ASSERT_TRUE(WaitLamp(1));
  Download();
  ASSERT_TRUE(WaitVerdict("mismatch")) << Verdicts();
  ASSERT_TRUE(WaitEnded(1));
  {
    auto lock = window.Lock();
    const VerifyDifference& d = window.ended[0].difference;
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(d.bytes, 1u);
    EXPECT_EQ(DescribeDifference(d.items[0], catalogue), "载频 750 Hz（移频）第 2 步：下发 9.0 Hz 10 秒，读回 9.5 Hz 10 秒");
    EXPECT_TRUE(window.received.empty());
  }

  // Read-backs that are never answered: a failure of its own, after the download succeeded.
  dev.SetStoreWrongByte(-1);
  dev.SetFailReads(true);
  Download();
  ASSERT_TRUE(WaitVerdict("readback failed")) << Verdicts();
  EXPECT_EQ(dev.GetStats().reads[0], 1 + kExchangeAttempts);  // one good read before, twenty now

  // Verification off: the download ends with its own text and reads nothing.
  dev.SetFailReads(false);
  const int readsBefore = dev.GetStats().reads[0];
  window.Do([&] { link->SetVerifyAfterDownload(false); });
  ASSERT_TRUE(WaitEnded(2));
  Download();
  ASSERT_TRUE(WaitEnded(3));
  EXPECT_EQ(Verdicts(), "download ok|mismatch|download ok|readback failed|download ok|");
  EXPECT_EQ(dev.GetStats().reads[0], readsBefore);
}

}  // namespace
}  // namespace km27::testing
