#include "ui/controls/ms_comm.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <thread>

#include "link/comm_recorder.h"
#include "port/com_names.h"
#include "sim/sim_line.h"
#include "ui_test_support.h"

namespace {

using km27::testing::Bytes;
using km27::sim::SimLine;

// A comm control on COM3 of a private COM directory, with the far end of the line in the test.
class MsCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    char tmpl[] = "/tmp/km27-mscomm-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    setenv(km27::kComDirVariable, dir.c_str(), 1);
    ASSERT_TRUE(line.Open(dir, 3)) << line.Error();
  }
  void TearDown() override {
    comm.SetPortOpen(false);
    line.Close();
    rmdir(dir.c_str());
    setenv(km27::kComDirVariable, "/nonexistent/km27-no-com-ports", 1);
  }

  void OpenCom3() {
    rec.Open(3);
    ASSERT_TRUE(comm.PortOpen());
  }

  Bytes ReadFarEnd(size_t want, int ms = 500) { return km27::testing::ReadFarEnd(line, want, ms); }

  std::string dir;
  SimLine line;
  CMSComm comm;
  km27::testing::CommRecorder rec{comm};
  std::vector<int16_t>& events = rec.events;
  Bytes& received = rec.received;
  bool& readOnReceive = rec.readOnReceive;
  int& maxDepth = rec.maxDepth;
  std::function<void()>& duringHandler = rec.duringHandler;
};

TEST_F(MsCommTest, OpensWithItsStoredLineSettings) {
  OpenCom3();
  EXPECT_EQ(line.Baud(), 9600);
  EXPECT_EQ(line.BitsPerChar(), 10);
  EXPECT_FALSE(km27::ProbeComPort(3));  // held while open
  comm.SetPortOpen(false);
  EXPECT_TRUE(km27::ProbeComPort(3));
}

TEST_F(MsCommTest, OutputLeavesAtOnceAndOneSendEventFollowsTheLastOutput) {
  OpenCom3();
  comm.SetOutput({0x55});
  // No event loop has run: the byte must already be on the line.
  EXPECT_EQ(ReadFarEnd(1), Bytes{0x55});
  Bytes frame(968);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i);
  comm.SetOutput(frame);
  EXPECT_EQ(ReadFarEnd(968), frame);
  // A byte from the far end afterwards: its event comes after any send event of the outputs.
  readOnReceive = false;
  line.Write({0x7E});
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= 2; }, 2000));
  EXPECT_EQ(events, (std::vector<int16_t>{km27::kCommEventSend, km27::kCommEventReceive}));

  comm.SetSThreshold(0);  // no send events wanted ...
  comm.SetOutput({0x01});
  EXPECT_EQ(ReadFarEnd(1), Bytes{0x01});
  comm.SetSThreshold(1);  // ... until the next output, whose event then comes alone
  comm.SetOutput({0x02});
  EXPECT_EQ(ReadFarEnd(1), Bytes{0x02});
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= 3; }, 2000));
  line.Write({0x7F});
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= 4; }, 2000));
  EXPECT_EQ(events, (std::vector<int16_t>{km27::kCommEventSend, km27::kCommEventReceive, km27::kCommEventSend,
                                          km27::kCommEventReceive}));
}

// More than the line holds at once: the drain thread sends the rest, in order, and the one
// send event comes after it.
TEST_F(MsCommTest, OutputBeyondWhatTheLineHoldsFollowsInOrder) {
  OpenCom3();
  Bytes big(256 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7 + i / 251);
  comm.SetOutput(big);
  EXPECT_EQ(ReadFarEnd(big.size(), 30000), big);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty(); }, 30000));
  EXPECT_EQ(events, std::vector<int16_t>{km27::kCommEventSend});
}

TEST_F(MsCommTest, ReceiveEventDeliversExactlyWhatIsWaiting) {
  OpenCom3();
  line.Write({0xA5, 0x5A});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 1000));
  EXPECT_EQ(received, (Bytes{0xA5, 0x5A}));
  EXPECT_EQ(comm.GetInBufferCount(), 0);
  EXPECT_TRUE(comm.GetInput().empty());

  // InBufferCount = 0 throws away what is waiting; its event, if already queued, stays silent.
  readOnReceive = false;
  events.clear();
  line.Write({1, 2, 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  comm.SetInBufferCount(0);
  QTest::qWait(50);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(comm.GetInBufferCount(), 0);
  EXPECT_TRUE(comm.GetInput().empty());
}

TEST_F(MsCommTest, NoEventWhileAHandlerRuns) {
  OpenCom3();
  bool first = true;
  duringHandler = [&] {
    if (!first) return;
    first = false;
    line.Write({0x02});
    QEventLoop loop;  // as a modal box inside a handler would
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(events.size(), 1u);
  };
  line.Write({0x01});
  ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 1000));
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(MsCommTest, ClosedPortIgnoresOutputAndRaisesNothing) {
  comm.SetSThreshold(1);
  comm.SetOutput({0xAA});
  EXPECT_EQ(comm.GetInBufferCount(), 0);
  EXPECT_TRUE(comm.GetInput().empty());
  comm.SetCommPort(7);  // nothing behind COM7
  comm.SetPortOpen(true);
  EXPECT_FALSE(comm.PortOpen());
  QTest::qWait(30);
  EXPECT_TRUE(events.empty());
}

TEST_F(MsCommTest, AnAnswerToARequestComesAfterTheRequestsSendEvent) {
  OpenCom3();
  std::atomic<bool> stop{false};
  std::thread farEnd([&] {  // answers every request at once, as the box does
    while (!stop) {
      SimLine::Input in = line.Read(5);
      for (uint8_t b : in.bytes)
        if (b == 0xAA) line.Write({0x10, 0x20});
    }
  });
  for (int round = 0; round < 20; ++round) {
    events.clear();
    comm.SetOutput({0xAA});
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the window thread is busy
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= 2; }, 1000)) << round;
    EXPECT_EQ(events.front(), km27::kCommEventSend) << round;
  }
  stop = true;
  farEnd.join();
}

}  // namespace
