// The command line's comm control, held to what the window's control promises the code-box link.
#include "link/poll_loop.h"
#include "link/serial_comm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "link/comm_recorder.h"
#include "port/com_names.h"
#include "sim/sim_line.h"
#include "temp_dir.h"

namespace {

using km27::testing::Bytes;
using km27::sim::SimLine;

class SerialCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.comDir = dir;
    comm.SetComEnvironment(env);
    ASSERT_TRUE(line.Open(dir, 3)) << line.Error();
  }
  void TearDown() override {
    comm.SetPortOpen(false);
    line.Close();
  }

  void OpenCom3() {
    rec.Open(3);
    ASSERT_TRUE(comm.PortOpen());
  }

  bool Pump(const std::function<bool()>& done, int ms = 3000) {
    bool late = false;
    const auto limit = loop.StartTimer(ms, false, [&] { late = true; });
    const bool ok = loop.RunUntil([&] { return done() || late; }) && done();
    loop.StopTimer(limit);
    return ok;
  }

  Bytes ReadFarEnd(size_t want) { return km27::testing::ReadFarEnd(line, want); }

  TempDir tmp{"comm"};
  const std::string dir = tmp.path;
  km27::ComEnvironment env;
  km27::PollLoop loop;
  km27::SerialComm comm{loop};
  SimLine line;
  km27::testing::CommRecorder rec{comm};
  std::vector<int16_t>& events = rec.events;
  Bytes& received = rec.received;
  bool& readOnReceive = rec.readOnReceive;
  int& maxDepth = rec.maxDepth;
};

TEST_F(SerialCommTest, OpensTheLineAtNineSixHundredAndHoldsItWhileOpen) {
  OpenCom3();
  EXPECT_EQ(line.Baud(), 9600);
  EXPECT_EQ(line.BitsPerChar(), 10);
  EXPECT_FALSE(km27::ProbeComPort(3, env));
  comm.SetPortOpen(false);
  EXPECT_TRUE(km27::ProbeComPort(3, env));

  // Nothing behind COM7: the control stays closed, takes no output and raises nothing.
  comm.SetCommPort(7);
  comm.SetPortOpen(true);
  EXPECT_FALSE(comm.PortOpen());
  comm.SetOutput({0xAA});
  EXPECT_EQ(comm.GetInBufferCount(), 0);
  bool later = false;
  loop.StartTimer(20, false, [&] { later = true; });
  ASSERT_TRUE(Pump([&] { return later; }));
  EXPECT_TRUE(events.empty());
}

TEST_F(SerialCommTest, OutputLeavesAtOnceAndOneSendEventFollowsTheLastOutput) {
  OpenCom3();
  comm.SetOutput({0x55});
  EXPECT_TRUE(events.empty());  // never from within the call
  EXPECT_EQ(ReadFarEnd(1), Bytes{0x55});  // no loop has run: the byte is on the line already
  Bytes frame(968);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i);
  comm.SetOutput(frame);
  EXPECT_EQ(ReadFarEnd(968), frame);
  // A byte from the far end afterwards: its event comes after the one send event.
  readOnReceive = false;
  line.Write({0x7E});
  ASSERT_TRUE(Pump([&] { return events.size() >= 2; }));
  EXPECT_EQ(events, (std::vector<int16_t>{km27::kCommEventSend, km27::kCommEventReceive}));
  EXPECT_EQ(comm.GetInput(), Bytes{0x7E});

  comm.SetSThreshold(0);  // no send events wanted ...
  comm.SetOutput({0x01});
  EXPECT_EQ(ReadFarEnd(1), Bytes{0x01});
  comm.SetSThreshold(1);  // ... until the next output, whose event then comes alone
  comm.SetOutput({0x02});
  EXPECT_EQ(ReadFarEnd(1), Bytes{0x02});
  ASSERT_TRUE(Pump([&] { return events.size() >= 3; }));
  line.Write({0x7F});
  ASSERT_TRUE(Pump([&] { return events.size() >= 4; }));
  EXPECT_EQ(events, (std::vector<int16_t>{km27::kCommEventSend, km27::kCommEventReceive, km27::kCommEventSend,
                                          km27::kCommEventReceive}));
}

// More than the line holds at once: the rest follows as the line takes it, in order, and the
// one send event comes after it.
TEST_F(SerialCommTest, OutputBeyondWhatTheLineHoldsFollowsInOrder) {
  OpenCom3();
  Bytes big(256 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7 + i / 251);
  Bytes far;
  std::thread reader([&] { far = km27::testing::ReadFarEnd(line, big.size(), 30000); });
  comm.SetOutput(big);
  EXPECT_TRUE(Pump([&] { return !events.empty(); }, 30000));
  reader.join();
  EXPECT_EQ(far, big);
  EXPECT_EQ(events, std::vector<int16_t>{km27::kCommEventSend});
}

TEST_F(SerialCommTest, ReceiveEventDeliversWhatIsWaitingAndDiscardedInputStaysSilent) {
  OpenCom3();
  line.Write({0xA5, 0x5A});
  ASSERT_TRUE(Pump([&] { return !received.empty(); }));
  EXPECT_EQ(received, (Bytes{0xA5, 0x5A}));
  EXPECT_EQ(comm.GetInBufferCount(), 0);
  EXPECT_TRUE(comm.GetInput().empty());

  // InBufferCount = 0 throws away what waits; the receive event already queued for it stays silent.
  events.clear();
  received.clear();
  comm.SetEventsHeld(true);
  line.Write({1, 2, 3});
  ASSERT_TRUE(Pump([&] { return comm.GetInBufferCount() == 3; }));
  comm.SetInBufferCount(0);
  comm.SetEventsHeld(false);
  line.Write({9});
  ASSERT_TRUE(Pump([&] { return !received.empty(); }));
  EXPECT_EQ(events, std::vector<int16_t>{km27::kCommEventReceive});
  EXPECT_EQ(received, Bytes{9});
}

TEST_F(SerialCommTest, HeldEventsComeInOrderFromTheLoopAfterTheReleasingCall) {
  OpenCom3();
  readOnReceive = false;
  comm.SetEventsHeld(true);
  line.Write({0x11});
  ASSERT_TRUE(Pump([&] { return comm.GetInBufferCount() == 1; }));
  comm.SetOutput({0xAA});
  EXPECT_EQ(ReadFarEnd(1), Bytes{0xAA});
  line.Write({0x22});
  // Held: a while of the loop raises nothing.
  bool later = false;
  loop.StartTimer(30, false, [&] { later = true; });
  ASSERT_TRUE(Pump([&] { return later; }));
  EXPECT_TRUE(events.empty());

  comm.SetEventsHeld(false);
  EXPECT_TRUE(events.empty());  // not inside the releasing call
  ASSERT_TRUE(Pump([&] { return events.size() >= 3; }));
  // What came before the output left is announced before its send event, what came after, after.
  EXPECT_EQ(events, (std::vector<int16_t>{km27::kCommEventReceive, km27::kCommEventSend, km27::kCommEventReceive}));
  EXPECT_EQ(maxDepth, 1);
}

TEST_F(SerialCommTest, AnAnswerToARequestComesAfterTheRequestsSendEvent) {
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
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the loop's thread is busy elsewhere
    ASSERT_TRUE(Pump([&] { return events.size() >= 2; })) << round;
    EXPECT_EQ(events.front(), km27::kCommEventSend) << round;
  }
  stop = true;
  farEnd.join();
}

}  // namespace
