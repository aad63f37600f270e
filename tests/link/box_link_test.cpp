#include "link/box_link.h"

#include <gtest/gtest.h>

#include <termios.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include "box_fakes.h"
#include "fake_observer.h"
#include "link/box_frame.h"
#include "model/param_model.h"
#include "port/com_names.h"
#include "port/held_port.h"
#include "sim/sim_line.h"

namespace km27 {
namespace {

using testing::FakeComm;
using testing::FakeObserver;
using testing::ManualLoop;
using Bytes = std::vector<uint8_t>;

Bytes FrameBytes(const ParamOptions& o, const ParamTable& t) {
  const BoxFrame f = BuildBoxFrame(o, t);
  return Bytes(f.begin(), f.end());
}

class BoxLinkTest : public ::testing::Test {
 protected:
  BoxLinkTest() : model(catalogue) {}

  // COM ports in `present` exist and are free.
  void Make(std::set<int> present = {1, 2, 3, 4, 5, 6, 7, 8, 9}) {
    ports = std::move(present);
    link.reset();
    obs = std::make_unique<FakeObserver>();
    link = std::make_unique<BoxLink>(loop, *obs, comm, LinkTiming{}, [this](int n) { return ports.count(n) != 0; });
    link->SetVerifyAfterDownload(false);  // the download alone, unless a test asks for its read-back
  }

  // Ends the pauses the link asks for, as its loop would, and records their lengths; the test's
  // hook stands for bytes arriving during a pause. Held events follow each pause.
  void RunPauses() {
    for (int ms = loop.OneShotMs(); ms >= 0; ms = loop.OneShotMs()) {
      waits.push_back(ms);
      if (duringWait) duringWait(ms);
      loop.FireOneShot();
      comm.Pump();
    }
  }

  void Download() { link->OnDownload(model.Snapshot()); }
  // Every transfer begun has ended: the link is ready for the next command.
  bool Ended() const {
    return std::count(obs->order.begin(), obs->order.end(), 'S') == std::count(obs->order.begin(), obs->order.end(), 'E');
  }
  bool TransferButtonsEnabled() const { return obs->linkUp && Ended(); }
  // The last verdict, in short.
  std::string Verdict() const { return obs->verdicts.empty() ? "" : obs->verdicts.back(); }
  // The programme the window would have after the last upload.
  Programme Uploaded() const { return obs->received.back().Over(model.Snapshot()); }

  void BringUp() {
    Make();
    link->Start();
    comm.Receive({CMD_BOX_PRESENCE});
    ASSERT_TRUE(link->LinkUp());
  }

  // The upload up to the point where the box may answer.
  void StartUpload() {
    link->OnUpload();
    RunPauses();
    comm.Drain();
  }

  CodeCatalogue catalogue;
  ParamModel model;
  ManualLoop loop;
  std::unique_ptr<FakeObserver> obs = std::make_unique<FakeObserver>();
  FakeComm comm;
  std::set<int> ports;
  std::vector<int> waits;
  std::function<void(int)> duringWait;
  std::unique_ptr<BoxLink> link;
};

TEST_F(BoxLinkTest, StartOpensComOneWithThePropertiesInOrder) {
  Make();
  link->Start();
  EXPECT_EQ(comm.calls, (std::vector<std::string>{"RThreshold", "SThreshold", "InputLen", "InBufferCount",
                                                  "InputMode", "CommPort", "PortOpen(true)"}));
  EXPECT_EQ(comm.port, 1);
  EXPECT_EQ(comm.rThreshold, 1);
  EXPECT_EQ(comm.sThreshold, 1);
  EXPECT_EQ(comm.inputMode, kInputModeBinary);
  EXPECT_EQ(loop.Running(800), true);
  EXPECT_FALSE(link->LinkUp());
}

TEST_F(BoxLinkTest, ScanFindsTheBoxBehindSilentPortsAndSkipsMissingOnes) {
  Make({1, 2, 3, 4});
  link->Start();
  for (int expected = 2; expected <= 4; ++expected) {
    comm.calls.clear();
    loop.Fire(800);
    EXPECT_EQ(comm.calls.front(), "PortOpen(false)");  // the port tried last is closed first
    EXPECT_FALSE(obs->linkUp);
    EXPECT_EQ(comm.port, expected);
    EXPECT_TRUE(comm.open);
  }
  comm.Receive({CMD_BOX_PRESENCE, 0x11});
  EXPECT_TRUE(link->LinkUp());
  EXPECT_TRUE(obs->linkUp);
  EXPECT_FALSE(loop.Running(800));
  EXPECT_EQ(loop.Running(500), true);
  EXPECT_TRUE(TransferButtonsEnabled());

  // Ports 5..9 do not exist: nothing is opened, and after 9 the scan wraps to COM1.
  Make({1, 2, 3, 4});
  link->Start();
  for (int i = 0; i < 8; ++i) loop.Fire(800);
  EXPECT_EQ(link->PortNumber(), 9);
  EXPECT_FALSE(link->PortOpenFlag());
  EXPECT_FALSE(comm.open);
  loop.Fire(800);
  EXPECT_EQ(link->PortNumber(), 1);
  EXPECT_TRUE(comm.open);
}

TEST_F(BoxLinkTest, TheRealProbeSkipsAPortAnotherProgramHolds) {
  char tmpl[] = "/tmp/km27-boxprobe-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  setenv(kComDirVariable, dir.c_str(), 1);
  {
    sim::SimLine com1, com3;
    ASSERT_TRUE(com1.Open(dir, 1)) << com1.Error();
    ASSERT_TRUE(com3.Open(dir, 3)) << com3.Error();
    testing::HeldPort other(com1.SlavePath());
    ASSERT_TRUE(other.Ready());
    link = std::make_unique<BoxLink>(loop, *obs, comm, LinkTiming{});
    link->Start();
    EXPECT_FALSE(comm.open);  // COM1 is taken
    loop.Fire(800);
    EXPECT_FALSE(comm.open);  // COM2 is absent
    loop.Fire(800);
    EXPECT_TRUE(comm.open);
    EXPECT_EQ(comm.port, 3);
    termios t{};
    ASSERT_EQ(tcgetattr(com1.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));  // the probe did not set the taken line
  }
  setenv(kComDirVariable, "/nonexistent/km27-no-com-ports", 1);
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST_F(BoxLinkTest, OnlyAChunkStartingWithPresenceBringsTheLinkUp) {
  Make();
  link->Start();
  comm.Receive({CMD_BOX_ACCEPT, CMD_BOX_PRESENCE});
  EXPECT_FALSE(link->LinkUp());
  EXPECT_FALSE(TransferButtonsEnabled());
  comm.Receive({CMD_BOX_PRESENCE, CMD_BOX_ACCEPT});
  EXPECT_TRUE(link->LinkUp());
  EXPECT_TRUE(TransferButtonsEnabled());
}

TEST_F(BoxLinkTest, SilenceForAWatchPeriodLosesTheLinkAndScansAgain) {
  BringUp();
  EXPECT_FALSE(loop.Running(800));  // found: no more scanning
  EXPECT_TRUE(comm.open);
  loop.Fire(500);  // the presence byte counted as activity
  EXPECT_TRUE(link->LinkUp());
  comm.Receive({0x01});
  loop.Fire(500);
  EXPECT_TRUE(link->LinkUp());

  comm.calls.clear();
  loop.Fire(500);
  EXPECT_FALSE(link->LinkUp());
  EXPECT_FALSE(obs->linkUp);
  EXPECT_FALSE(TransferButtonsEnabled());
  EXPECT_FALSE(loop.Running(500));
  EXPECT_EQ(loop.Running(800), true);
  EXPECT_EQ(comm.calls.front(), "PortOpen(false)");
  EXPECT_EQ(comm.port, 1);
  EXPECT_TRUE(comm.open);
}

TEST_F(BoxLinkTest, DownloadSendsAnnouncementThenTheFrameAndStoresTheCheckByte) {
  BringUp();
  model.table.SetEntry(0, 0, {3, 8});
  model.table.SetEntry(5, 1, {20, 60});
  model.options.bytes = {1, 0, 1, 0x01, 0x02, 0, 0, 0};
  const ParamTable tableBefore = model.table;

  Download();
  EXPECT_FALSE(loop.Running(500));
  EXPECT_FALSE(Ended());
  ASSERT_EQ(comm.written.size(), 1u) << "the frame waits for its pause";
  RunPauses();
  ASSERT_EQ(comm.written.size(), 2u);
  EXPECT_EQ(comm.written[0], Bytes{CMD_BOX_DOWNLOAD});
  EXPECT_EQ(waits, std::vector<int>{200});
  // The sealed check byte is told, for the caller's programme; the link changed nothing of it.
  EXPECT_EQ(obs->sealed, std::vector<uint8_t>{uint8_t(-(1 + 1 + 1 + 2))});
  EXPECT_EQ(model.options.CheckByte(), 0);
  EXPECT_EQ(comm.written[1], FrameBytes(model.options, tableBefore));
}

TEST_F(BoxLinkTest, DownloadIsJudgedByTheAcceptByteBeforeOrDuringTheWait) {
  BringUp();
  comm.Receive({CMD_BOX_ACCEPT});  // before the download: does not count
  Download();
  RunPauses();
  comm.Receive({0x00, CMD_BOX_ACCEPT});
  comm.Drain();
  RunPauses();
  EXPECT_EQ(Verdict(), "download ok");
  EXPECT_EQ(waits, (std::vector<int>{200, 1000, 500}));
  EXPECT_TRUE(TransferButtonsEnabled());
  EXPECT_EQ(loop.Running(500), true);
  EXPECT_FALSE(link->TransferRunning());

  // Bytes and their events that come during a pause are handled after it, as a host blocked in
  // the pause would handle them: an accept during the pause before the frame counts.
  for (int pause : {200, 1000}) {
    duringWait = [this, pause](int ms) {
      if (ms == pause) comm.Receive({0x11, CMD_BOX_ACCEPT, 0x22});
    };
    Download();
    RunPauses();
    comm.Drain();
    RunPauses();
    EXPECT_EQ(Verdict(), "download ok") << pause;
    EXPECT_TRUE(comm.heldEvents.empty());
  }

  duringWait = nullptr;
  Download();
  RunPauses();
  comm.Receive({CMD_BOX_PRESENCE});
  comm.Drain();
  RunPauses();
  EXPECT_EQ(Verdict(), "download failed");
  EXPECT_TRUE(TransferButtonsEnabled());

  // A 'Z' left over after a download does not count for the next one.
  comm.Receive({CMD_BOX_ACCEPT});
  Download();
  RunPauses();
  comm.Drain();
  RunPauses();
  EXPECT_EQ(Verdict(), "download failed");
}

TEST_F(BoxLinkTest, TheEditedProgrammeIsTheOneAskedForAndTimersWaitForThePause) {
  BringUp();
  model.table.SetEntry(0, 0, {3, 8});
  const ParamTable asked = model.table;
  Download();
  model.table.SetEntry(0, 1, {4, 9});  // an edit during the pause before the frame: not sent
  RunPauses();
  ASSERT_EQ(comm.written.size(), 2u);
  EXPECT_EQ(comm.written[1], FrameBytes(model.options, asked));
  comm.Drain();
  RunPauses();

  // An upload without a link while the scan runs: scan ticks that fall into a pause run once,
  // after it.
  Make({1, 2, 3});
  link->Start();
  link->OnUpload();
  ASSERT_TRUE(link->Paused());
  loop.Fire(800);
  loop.Fire(800);
  EXPECT_EQ(link->PortNumber(), 1);
  RunPauses();
  EXPECT_EQ(link->PortNumber(), 2);
}

TEST_F(BoxLinkTest, DownloadNeedsTheLinkAndRefusesASecondTransfer) {
  Make();
  link->Start();
  Download();
  EXPECT_TRUE(comm.written.empty());

  comm.Receive({CMD_BOX_PRESENCE});
  Download();
  Download();  // F7 while the buttons are disabled, in the pause ...
  RunPauses();
  ASSERT_EQ(comm.written.size(), 2u);
  Download();  // ... and after it
  link->OnUpload();    // F6 likewise
  EXPECT_EQ(comm.written.size(), 2u);
  EXPECT_FALSE(loop.Running(2000));
  comm.Drain();
  RunPauses();
  EXPECT_FALSE(link->TransferRunning());
}

TEST_F(BoxLinkTest, UploadInPiecesReplacesTableAndOptions) {
  BringUp();
  model.currentCarrier = 4;
  model.currentFamily = 1;
  ParamOptions boxOptions;
  boxOptions.bytes = {0, 1, 1, 0, 0x01, 0, 0, 0};
  SealBoxHeader(boxOptions);
  ParamTable boxTable;
  for (int s = 0; s < 5; ++s) boxTable.SetEntry(4, s, {uint8_t(s), 10});
  const Bytes answer = FrameBytes(boxOptions, boxTable);

  comm.Receive({CMD_BOX_PRESENCE});
  link->OnUpload();
  EXPECT_EQ(comm.written.back(), Bytes{CMD_BOX_UPLOAD});
  RunPauses();
  EXPECT_EQ(waits, std::vector<int>{10});
  EXPECT_EQ(loop.Running(2000), true);
  EXPECT_FALSE(loop.Running(500));
  comm.Receive({CMD_BOX_PRESENCE});  // before the send event: not part of the answer
  comm.Drain();
  comm.Receive(Bytes(answer.begin(), answer.begin() + 100));
  comm.Receive(Bytes(answer.begin() + 100, answer.begin() + 900));
  EXPECT_EQ(Verdict(), "");
  Bytes tail(answer.begin() + 900, answer.end());
  tail.insert(tail.end(), {0xEE, 0xEE, 0xEE});  // beyond 968: dropped with the buffer
  comm.Receive(tail);
  RunPauses();

  EXPECT_EQ(Verdict(), "upload ok");
  EXPECT_EQ(waits, (std::vector<int>{10, 500}));
  ASSERT_EQ(obs->received.size(), 1u);
  EXPECT_FALSE(obs->received[0].masksOnly);
  EXPECT_EQ(Uploaded().options, boxOptions);
  ParamTable expected = boxTable;
  for (int g = 0; g < kBlockCount; ++g) expected.bytes[size_t(48 * g + 47)] = answer[size_t(8 + 48 * g + 47)];
  EXPECT_EQ(Uploaded().table, expected);
  EXPECT_FALSE(loop.Running(2000));
  EXPECT_EQ(loop.Running(500), true);
  EXPECT_TRUE(TransferButtonsEnabled());

  // A second copy arriving afterwards is not collected.
  comm.Receive(answer);
  EXPECT_EQ(obs->received.size(), 1u);
}

TEST_F(BoxLinkTest, UploadWithBadGroupSumLeavesTableAndOptions) {
  BringUp();
  model.table.SetEntry(0, 0, {1, 5});
  model.options.bytes = {1, 1, 1, 1, 0, 0, 0, 0};
  ParamTable boxTable;
  boxTable.SetEntry(2, 0, {4, 30});
  Bytes answer = FrameBytes(ParamOptions{}, boxTable);
  answer[8 + 48 * 2 + 47] ^= 0x01;

  StartUpload();
  comm.Receive(answer);
  RunPauses();
  EXPECT_EQ(Verdict(), "") << "judged before the chatter after it showed no frame can be behind a stray byte";
  comm.Receive(Bytes(16, CMD_BOX_PRESENCE));
  RunPauses();
  EXPECT_EQ(Verdict(), "upload failed");
  EXPECT_TRUE(obs->received.empty());
  EXPECT_FALSE(loop.Running(2000));
  EXPECT_TRUE(TransferButtonsEnabled());
}

TEST_F(BoxLinkTest, UploadOfZeroBytesIsAccepted) {
  BringUp();
  model.table.SetEntry(0, 0, {1, 5});
  model.options.bytes = {1, 1, 1, 1, 0, 0, 0, 0};
  StartUpload();
  comm.Receive(Bytes(kBoxFrameBytes, 0));
  EXPECT_EQ(Verdict(), "upload ok");
  EXPECT_EQ(Uploaded(), Programme{});
}

TEST_F(BoxLinkTest, UploadTimesOutAndLateBytesAreIgnored) {
  BringUp();
  StartUpload();
  comm.Receive(Bytes(500, 0));
  loop.Fire(2000);
  RunPauses();
  EXPECT_EQ(Verdict(), "upload failed");
  EXPECT_FALSE(link->TransferRunning());
  EXPECT_TRUE(TransferButtonsEnabled());
  EXPECT_EQ(loop.Running(500), true);
  obs->verdicts.clear();
  comm.Receive(Bytes(kBoxFrameBytes, 0));
  EXPECT_FALSE(loop.Running(2000));
  EXPECT_TRUE(obs->verdicts.empty());
}

TEST_F(BoxLinkTest, UploadWithoutAnyPortFailsByItsTimeLimit) {
  Make({});
  link->Start();
  link->OnUpload();
  RunPauses();
  EXPECT_EQ(comm.outputsWhileClosed, 1);
  loop.Fire(2000);
  RunPauses();
  EXPECT_EQ(Verdict(), "upload failed");
  EXPECT_FALSE(TransferButtonsEnabled());

  // The request that never left must not make a later send event start collecting.
  ports = {1};
  loop.Fire(500);  // set by the end of the upload; no link: back to scanning
  EXPECT_TRUE(comm.open);
  comm.Receive({CMD_BOX_PRESENCE});
  ASSERT_TRUE(link->LinkUp());
  Download();
  RunPauses();
  comm.Drain();
  RunPauses();
  obs->verdicts.clear();
  ParamTable other;
  other.SetEntry(0, 0, {2, 9});
  comm.Receive(FrameBytes(ParamOptions{}, other));
  EXPECT_TRUE(obs->received.empty());
  EXPECT_TRUE(obs->verdicts.empty());
}

TEST_F(BoxLinkTest, WatchdogAfterAnUploadWithoutLinkClosesTheScannedPortFirst) {
  Make();
  link->Start();
  loop.Fire(800);  // COM2 open, nothing talks
  link->OnUpload();
  RunPauses();
  loop.Fire(2000);
  RunPauses();
  comm.calls.clear();
  loop.Fire(500);
  ASSERT_GE(comm.calls.size(), 2u);
  EXPECT_EQ(comm.calls.front(), "PortOpen(false)");
  EXPECT_EQ(comm.calls.back(), "PortOpen(true)");
  EXPECT_EQ(comm.port, 1);
}

TEST_F(BoxLinkTest, BoxFoundDuringAnUploadKeepsTheButtonsDisabled) {
  Make();
  link->Start();
  link->OnUpload();
  RunPauses();
  comm.Receive({CMD_BOX_PRESENCE});
  EXPECT_TRUE(link->LinkUp());
  EXPECT_FALSE(Ended());
  loop.Fire(2000);
  RunPauses();
  EXPECT_TRUE(TransferButtonsEnabled());
}

// After an accepted download the box's frame is read back with the upload request and
// compared with what was sent; the window's programme is never touched by it.
TEST_F(BoxLinkTest, AnAcceptedDownloadIsReadBackAndCompared) {
  BringUp();
  link->SetVerifyAfterDownload(true);
  model.table.SetEntry(3, 0, {5, 20});
  model.table.SetEntry(3, 1, {6, 30});
  UpdateCarrierMask(model.table, model.options);

  // The box answers with `answer` (or not at all) and the read-back ends.
  auto downloadAndReadBack = [&](const std::function<Bytes(const Bytes& sent)>& answer) {
    obs->verdicts.clear();
    waits.clear();
    Download();
    RunPauses();
    comm.Receive({CMD_BOX_ACCEPT});
    comm.Drain();
    RunPauses();
    EXPECT_EQ(comm.written.back(), Bytes{CMD_BOX_UPLOAD});
    EXPECT_EQ(Verdict(), "download ok");
    EXPECT_EQ(obs->progress.back().kind, TransferKind::kReadBack);
    EXPECT_FALSE(Ended());
    comm.Drain();  // the request has left: what comes now is the answer
    const Bytes sent = comm.written[comm.written.size() - 2];
    const Bytes reply = answer(sent);
    if (reply.empty()) {
      EXPECT_EQ(loop.Running(2000), true);
      loop.Fire(2000);
    } else {
      comm.Receive(reply);
    }
    RunPauses();
    EXPECT_FALSE(link->TransferRunning());
    EXPECT_TRUE(TransferButtonsEnabled());
    EXPECT_TRUE(obs->received.empty()) << "a read-back handed a programme over";
  };

  downloadAndReadBack([](const Bytes& sent) { return sent; });
  EXPECT_EQ(Verdict(), "same");
  EXPECT_EQ(waits, (std::vector<int>{200, 1000, 500, 10, 500}));
  EXPECT_EQ(loop.Running(500), true);
  // A box holding one other step (its sums right): a mismatch, named.
  downloadAndReadBack([](const Bytes& sent) {
    ParamOptions o;
    ParamTable t;
    EXPECT_TRUE(ParseBoxFrame(sent.data(), o, t));
    t.SetEntry(3, 1, {7, 30});
    return FrameBytes(o, t);
  });
  EXPECT_EQ(Verdict(), "mismatch");
  const VerifyDifference& d = obs->judged.back().difference;
  ASSERT_FALSE(d.items.empty());
  EXPECT_EQ(DescribeDifference(d.items[0], catalogue), "载频 850 Hz（移频）第 2 步：下发 11.0 Hz 30 秒，读回 12.5 Hz 30 秒");

  // A chatter byte that crossed the request stands in front of the frame: the frame behind it.
  downloadAndReadBack([](const Bytes& sent) {
    Bytes late{0x01};
    late.insert(late.end(), sent.begin(), sent.end());
    return late;
  });
  EXPECT_EQ(Verdict(), "same");

  // An answer damaged on the way (a sum fails; the box chatters on after it), or none at all:
  // the read-back failed.
  downloadAndReadBack([](const Bytes& sent) {
    Bytes damaged = sent;
    damaged[100] ^= 0x01;
    damaged.insert(damaged.end(), 16, CMD_BOX_PRESENCE);
    return damaged;
  });
  EXPECT_EQ(Verdict(), "readback failed");
  downloadAndReadBack([](const Bytes&) { return Bytes{}; });
  EXPECT_EQ(Verdict(), "readback failed");

  // A download the box did not accept is not read back.
  const size_t written = comm.written.size();
  Download();
  RunPauses();
  comm.Drain();
  RunPauses();
  EXPECT_EQ(Verdict(), "download failed");
  EXPECT_EQ(comm.written.size(), written + 2);
  EXPECT_TRUE(TransferButtonsEnabled());
}

TEST_F(BoxLinkTest, StopClosesAnOpenPort) {
  Make();
  link->Start();
  link->Stop();
  EXPECT_FALSE(comm.open);
  EXPECT_FALSE(comm.onComm);
  Make({});
  link->Start();
  comm.calls.clear();
  link->Stop();
  EXPECT_TRUE(comm.calls.empty());
}

}  // namespace
}  // namespace km27
