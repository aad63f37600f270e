// The code-box link end to end: BoxLink driving the real comm control through pseudo-terminals
// against simulated code boxes, with window timers as QTimers and all periods scaled down.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "link/box_frame.h"
#include "link/box_link.h"
#include "model/param_model.h"
#include "link/verify.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "port/held_port.h"
#include "sim/box_sim.h"
#include "link/fake_observer.h"
#include "link/serial_comm.h"
#include "ui/qt_event_loop.h"
#include "ui_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using km27::sim::BoxSim;
using km27::sim::BoxSimOptions;

// The window's loop, counting the expiries of the link's repeating timers by their period.
class CountingLoop : public km27::EventLoop {
 public:
  TimerId StartTimer(int ms, bool repeat, std::function<void()> fn) override {
    if (!repeat) return qt_.StartTimer(ms, repeat, std::move(fn));
    const TimerId id = qt_.StartTimer(ms, repeat, [this, ms, fn = std::move(fn)] {
      ++ticks[ms];
      fn();
    });
    periods_[id] = ms;
    return id;
  }
  void RestartTimer(TimerId id, int ms) override { qt_.RestartTimer(id, ms); }
  void StopTimer(TimerId id) override {
    qt_.StopTimer(id);
    periods_.erase(id);
  }
  bool TimerActive(TimerId id) const override { return qt_.TimerActive(id); }
  WatchId WatchHandle(km27::NativeHandle h, unsigned interest, std::function<void(unsigned)> fn) override {
    return qt_.WatchHandle(h, interest, std::move(fn));
  }
  void SetInterest(WatchId id, unsigned interest) override { qt_.SetInterest(id, interest); }
  void Unwatch(WatchId id) override { qt_.Unwatch(id); }
  void Post(std::function<void()> fn) override { qt_.Post(std::move(fn)); }

  // A repeating timer of that period runs.
  bool Running(int ms) const {
    for (const auto& [id, period] : periods_)
      if (period == ms && qt_.TimerActive(id)) return true;
    return false;
  }
  std::map<int, int> ticks;  // expiries per period

 private:
  QtEventLoop qt_;
  std::map<TimerId, int> periods_;
};

class BoxEndToEnd : public ::testing::Test {
 protected:
  BoxEndToEnd() : model(catalogue) {}

  void SetUp() override {
    EnsureApp();
    char tmpl[] = "/tmp/km27-boxe2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    setenv(km27::kComDirVariable, dir.c_str(), 1);
    timing = km27::LinkTiming{}.Scaled(5);
  }
  void TearDown() override {
    if (link) link->Stop();
    link.reset();
    boxes.clear();
    rmdir(dir.c_str());
    setenv(km27::kComDirVariable, "/nonexistent/km27-no-com-ports", 1);
  }

  BoxSim& AddBox(int com, bool silent = false, bool paced = false) {
    BoxSimOptions o;
    o.comDir = dir;
    o.com = com;
    // Well inside the (scaled) watchdog period. At the real periods the box only says it is
    // there, and seldom: a byte it sends just as the upload request leaves would land in front
    // of its answer, a race of the protocol that a test can't time its way around.
    o.presenceMs = paced ? 300 : 20;
    o.otherData = !paced;
    o.paced = paced;
    o.silent = silent;
    boxes.push_back(std::make_unique<BoxSim>(o));
    EXPECT_TRUE(boxes.back()->Start()) << boxes.back()->Error();
    return *boxes.back();
  }

  // The download alone, unless a test asks for its read-back.
  void StartLink(bool verify = false) {
    link = std::make_unique<km27::BoxLink>(loop, obs, comm, timing);
    link->SetVerifyAfterDownload(verify);
    link->Start();
  }
  void Download() { link->OnDownload(model.Snapshot()); }
  std::string Verdict() const { return obs.verdicts.empty() ? "" : obs.verdicts.back(); }
  // The link is up and every transfer begun has ended.
  bool TransferButtons() const {
    return obs.linkUp && std::count(obs.order.begin(), obs.order.end(), 'S') == std::count(obs.order.begin(), obs.order.end(), 'E');
  }

  bool WaitUp(int ms = 5000) { return QTest::qWaitFor([&] { return link->LinkUp(); }, ms); }
  // Until the timer of period `period` has expired `n` more times.
  bool WaitTicks(int period, int n, int ms = 10000) {
    const int until = loop.ticks[period] + n;
    return QTest::qWaitFor([&] { return loop.ticks[period] >= until; }, ms);
  }
  // Until the transfer has said how it went and has ended (its last pause included).
  bool WaitStatus(int ms = 3000) {
    return QTest::qWaitFor([&] { return !obs.verdicts.empty() && !link->TransferRunning(); }, ms);
  }

  std::string dir;
  km27::LinkTiming timing;
  km27::CodeCatalogue catalogue;
  km27::ParamModel model;
  CountingLoop loop;
  km27::testing::FakeObserver obs;
  km27::SerialComm comm{loop};
  std::vector<std::unique_ptr<BoxSim>> boxes;
  std::unique_ptr<km27::BoxLink> link;
};

TEST_F(BoxEndToEnd, FindsTheBoxOnCom4BehindThreeSilentPorts) {
  for (int com = 1; com <= 3; ++com) AddBox(com, true);
  AddBox(4);
  StartLink();
  EXPECT_EQ(comm.CommPort(), 1);
  ASSERT_TRUE(WaitUp());
  EXPECT_EQ(comm.CommPort(), 4);
  EXPECT_EQ(link->PortNumber(), 4);
  EXPECT_TRUE(obs.linkUp);
  EXPECT_TRUE(TransferButtons());
  EXPECT_FALSE(loop.Running(timing.portScanMs));
  EXPECT_TRUE(loop.Running(timing.linkWatchMs));
  ASSERT_TRUE(WaitTicks(timing.linkWatchMs, 3));  // the chatter keeps it up through watchdog periods
  EXPECT_TRUE(link->LinkUp());
}

TEST_F(BoxEndToEnd, FindsTheBoxBehindAPortAnotherProgramHolds) {
  km27::sim::SimLine com1;
  ASSERT_TRUE(com1.Open(dir, 1)) << com1.Error();
  km27::testing::HeldPort other(com1.SlavePath());
  ASSERT_TRUE(other.Ready());
  com1.Write({0x31, 0x32});  // the other program's input, which no flush of ours may drop
  ASSERT_TRUE(QTest::qWaitFor([&] { return other.InputCount() == 2; }, 1000));
  AddBox(3);
  StartLink();
  EXPECT_FALSE(comm.PortOpen());  // COM1 was not opened
  ASSERT_TRUE(WaitUp());
  EXPECT_EQ(comm.CommPort(), 3);
  termios t{};
  ASSERT_EQ(tcgetattr(com1.MasterFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
  EXPECT_EQ(other.InputCount(), 2);
}

TEST_F(BoxEndToEnd, OnlyAChunkLedByThePresenceByteBringsTheLinkUp) {
  km27::sim::SimLine line;
  ASSERT_TRUE(line.Open(dir, 1));
  timing.portScanMs = 40;  // COM1 is the only port: it comes round every 9 periods
  std::atomic<bool> leadWithPresence{false}, stop{false};
  std::thread farEnd([&] {
    while (!stop) {
      if (leadWithPresence)
        line.Write({km27::CMD_BOX_PRESENCE, km27::CMD_BOX_ACCEPT});
      else
        line.Write({km27::CMD_BOX_ACCEPT, km27::CMD_BOX_PRESENCE});
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  StartLink();
  ASSERT_TRUE(WaitTicks(timing.portScanMs, 2 * 9 + 1));  // COM1 has come round twice
  EXPECT_FALSE(link->LinkUp());
  EXPECT_FALSE(obs.linkUp);
  leadWithPresence = true;
  EXPECT_TRUE(WaitUp(3000));
  EXPECT_EQ(comm.CommPort(), 1);
  stop = true;
  farEnd.join();
}

TEST_F(BoxEndToEnd, SilenceLosesTheLinkAndScansFromCom1) {
  AddBox(1, true);
  BoxSim& box = AddBox(2);
  StartLink();
  ASSERT_TRUE(WaitUp());
  box.SetSilent(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !link->LinkUp(); }, 2000));
  EXPECT_FALSE(obs.linkUp);
  EXPECT_EQ(comm.CommPort(), 1);
  EXPECT_TRUE(comm.PortOpen());
  EXPECT_TRUE(loop.Running(timing.portScanMs));
  EXPECT_FALSE(loop.Running(timing.linkWatchMs));

  box.SetSilent(false);
  ASSERT_TRUE(WaitUp());
  EXPECT_EQ(comm.CommPort(), 2);
}

// The frame as the box must see it, put together byte by byte from the table.
Bytes HandBuiltFrame(const km27::ParamOptions& o, const km27::ParamTable& t) {
  Bytes f;
  uint8_t sum = 0;
  for (int i = 0; i < 7; ++i) {
    f.push_back(o.bytes[size_t(i)]);
    sum = uint8_t(sum + o.bytes[size_t(i)]);
  }
  f.push_back(uint8_t(0x100 - sum));
  for (int g = 0; g < 20; ++g) {
    sum = 0;
    for (int i = 0; i < 47; ++i) {
      const uint8_t b = t.bytes[size_t(48 * g + i)];
      f.push_back(b);
      sum = uint8_t(sum + b);
    }
    f.push_back(uint8_t(0x100 - sum));
  }
  return f;
}

TEST_F(BoxEndToEnd, DownloadPutsTheFrameOnTheWireAndIsJudgedByZ) {
  BoxSim& box = AddBox(1);
  StartLink();
  ASSERT_TRUE(WaitUp());
  for (int s = 0; s < 6; ++s) model.table.SetEntry(0, s, {uint8_t(s + 1), uint8_t(3 * s + 3)});
  model.table.SetEntry(8, 0, {17, 60});
  model.table.SetEntry(18, 2, {20, 45});
  km27::UpdateCarrierMask(model.table, model.options);
  model.options.SetLineOption(0, 1);
  model.options.SetLineOption(2, 1);
  const Bytes expected = HandBuiltFrame(model.options, model.table);

  Download();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "download ok");
  const Bytes wire = box.LastDownloadFrame();
  ASSERT_EQ(wire.size(), 968u);
  EXPECT_EQ(wire, expected);
  uint8_t sum = 0;
  for (int i = 0; i < 8; ++i) sum = uint8_t(sum + wire[size_t(i)]);
  EXPECT_EQ(sum, 0);
  for (int g = 0; g < 20; ++g) {
    sum = 0;
    for (int i = 0; i < 48; ++i) sum = uint8_t(sum + wire[size_t(8 + 48 * g + i)]);
    EXPECT_EQ(sum, 0) << "group " << g;
  }
  EXPECT_EQ(obs.sealed, std::vector<uint8_t>{expected[7]});
  EXPECT_TRUE(TransferButtons());
  EXPECT_TRUE(loop.Running(timing.linkWatchMs));

  // 'Z' answered to the announcement reaches the window before the frame's send event.
  obs.verdicts.clear();
  box.SetEarlyAccept(true);
  Download();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "download ok");

  obs.verdicts.clear();
  box.SetEarlyAccept(false);
  box.SetNoAccept(true);
  Download();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "download failed");
  EXPECT_EQ(box.DownloadsReceived(), 3);
  EXPECT_TRUE(TransferButtons());
  ASSERT_TRUE(WaitTicks(timing.linkWatchMs, 3));
  EXPECT_TRUE(link->LinkUp());  // the watchdog is back and the box still talks
}

TEST_F(BoxEndToEnd, UploadAcceptsGoodFramesAndRejectsBadOnes) {
  BoxSim& box = AddBox(1);
  StartLink();
  ASSERT_TRUE(WaitUp());

  // In pieces, with bytes beyond the 968.
  box.SetPieces(4);
  box.SetExtraBytes(6);
  link->OnUpload();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "upload ok");
  const km27::BoxFrame demo = km27::sim::DemoBoxFrame();
  km27::ParamOptions o;
  km27::ParamTable t;
  ASSERT_TRUE(km27::ParseBoxFrame(demo.data(), o, t));
  EXPECT_EQ(obs.Uploaded(model.Snapshot()), (km27::Programme{o, t}));
  EXPECT_TRUE(TransferButtons());

  // A bad group sum changes nothing.
  const size_t received = obs.received.size();
  obs.verdicts.clear();
  box.SetPieces(1);
  box.SetExtraBytes(0);
  box.SetBadGroupSum(true);
  link->OnUpload();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "upload failed");
  EXPECT_EQ(obs.received.size(), received);

  // 968 zero bytes are a valid frame.
  obs.verdicts.clear();
  box.SetBadGroupSum(false);
  box.SetFrame(km27::BoxFrame{});
  link->OnUpload();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "upload ok");
  EXPECT_EQ(obs.Uploaded(model.Snapshot()), km27::Programme{});

  // No answer within the time limit.
  obs.verdicts.clear();
  box.SetSilent(true);
  link->OnUpload();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "upload failed");
  EXPECT_EQ(box.UploadsAnswered(), 3);
}

// With the real periods and a box that sends at 9600 baud, both transfers still fit their
// windows: the frame's acceptance is counted from the drain, and a paced answer takes ~1 s of 2.
TEST_F(BoxEndToEnd, TransfersSucceedAtTheRealPeriodsAgainstAPacedBox) {
#ifdef KM27_SANITIZED
  GTEST_SKIP() << "a 968-byte answer fills half the 2 s upload limit: no margin for a sanitizer's slowdown";
#endif
  timing = km27::LinkTiming{};
  BoxSim& box = AddBox(1, false, true);
  StartLink();
  ASSERT_TRUE(WaitUp());
  model.table.SetEntry(1, 0, {4, 9});
  Download();
  ASSERT_TRUE(WaitStatus(5000));
  EXPECT_EQ(Verdict(), "download ok");
  EXPECT_EQ(box.DownloadsAccepted(), 1);

  obs.verdicts.clear();
  model.table.Clear();
  link->OnUpload();
  ASSERT_TRUE(WaitStatus(5000));
  EXPECT_EQ(Verdict(), "upload ok");
  EXPECT_EQ(obs.Uploaded(model.Snapshot()).table.Entry(1, 0), (km27::ParamEntry{4, 9}));
}

// Through the real comm control against the simulated box: a clean read-back, a box that
// stores one byte wrongly, a box whose read-back never answers.
TEST_F(BoxEndToEnd, ADownloadIsProvenByReadingItBack) {
  BoxSim& box = AddBox(1);
  StartLink(true);
  ASSERT_TRUE(WaitUp());
  model.table.SetEntry(6, 0, {3, 5});
  model.table.SetEntry(6, 1, {9, 7});
  km27::UpdateCarrierMask(model.table, model.options);
  auto run = [&] {
    obs.verdicts.clear();
    Download();
    return WaitStatus(8000);
  };
  ASSERT_TRUE(run());
  EXPECT_EQ(Verdict(), "same");
  EXPECT_EQ(box.UploadsAnswered(), 1);

  // 2300 Hz is block 6; its step 2 seconds byte (frame offset 8 + 6 * 48 + 3) is kept one higher.
  box.SetStoreWrongByte(8 + 6 * 48 + 3);
  ASSERT_TRUE(run());
  EXPECT_EQ(Verdict(), "mismatch");

  box.SetStoreWrongByte(-1);
  box.SetNoUploadAnswer(true);
  ASSERT_TRUE(run());
  EXPECT_EQ(Verdict(), "readback failed");
  EXPECT_TRUE(obs.received.empty());
  EXPECT_EQ(box.DownloadsAccepted(), 3);
}

TEST_F(BoxEndToEnd, UploadWithNoPortOpenFailsByItsTimeLimit) {
  StartLink();
  EXPECT_FALSE(comm.PortOpen());
  link->OnUpload();
  ASSERT_TRUE(WaitStatus());
  EXPECT_EQ(Verdict(), "upload failed");
  EXPECT_FALSE(TransferButtons());
}

}  // namespace
