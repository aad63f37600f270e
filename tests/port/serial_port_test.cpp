#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "port/com_names.h"
#include "port/serial_port.h"
#include "sim/sim_line.h"
#include "temp_dir.h"

namespace km27 {
namespace {

using Clock = std::chrono::steady_clock;
long MsSince(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line.Open(dir.path, 1)) << line.Error();
    ASSERT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
  }
  TempDir dir;
  sim::SimLine line;
  SerialPort port;
};

TEST_F(PtyPort, LineSettingsReachTheOtherEnd) {
  EXPECT_EQ(line.Baud(), 9600);
  EXPECT_TRUE(port.SetBaud(19200));
  EXPECT_EQ(line.Baud(), 19200);
  EXPECT_EQ(port.Baud(), 19200);  // the comm controls time their drain checks by it
  EXPECT_TRUE(port.SetLine(9600, Parity::Even, 7, 2));
  EXPECT_EQ(line.BitsPerChar(), 1 + 7 + 1 + 2);
  EXPECT_FALSE(port.SetBaud(12345));
  EXPECT_TRUE(port.SetRts(true));  // a pty has no modem lines: not a failure
  EXPECT_TRUE(port.SetRts(false));
  EXPECT_TRUE(port.Drain());
  port.Close();  // the line gets back the settings it had before the open
  EXPECT_EQ(line.BitsPerChar(), 1 + 8 + 1);
}

TEST_F(PtyPort, WriteAndReadWithCounts) {
  port.SetTimeouts({50, 10, 500, 1, 100});
  const uint8_t out[] = {1, 2, 3, 4};
  IoResult w = port.Write(out, 4);
  EXPECT_TRUE(w.Ok());
  EXPECT_EQ(w.count, 4u);
  auto in = line.Read(200);
  EXPECT_EQ(in.bytes, std::vector<uint8_t>(out, out + 4));

  line.Write(std::vector<uint8_t>{9, 8, 7, 6, 5, 4});
  uint8_t buf[6] = {};
  IoResult r = port.Read(buf, 6);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.count, 6u);
  EXPECT_EQ(buf[5], 4);

  line.Write(std::vector<uint8_t>{1, 2, 3});
  for (int i = 0; i < 100 && port.InBufferCount() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(port.InBufferCount(), 3);
  IoResult a = port.ReadAvailable(buf, sizeof buf);
  EXPECT_TRUE(a.Ok());
  EXPECT_EQ(a.count, 3u);
  a = port.ReadAvailable(buf, sizeof buf);  // nothing waiting: no block, no hang-up
  EXPECT_TRUE(a.Ok());
  EXPECT_EQ(a.count, 0u);
}

// The comm controls keep what a full line did not take and send it later: a full line is
// neither a wait nor a failure, and a gone one is.
TEST_F(PtyPort, WriteAvailableTakesWhatTheLineTakesNow) {
  const std::vector<uint8_t> big(1 << 20, 0x5A);
  const IoResult w = port.WriteAvailable(big.data(), big.size());
  EXPECT_TRUE(w.Ok());
  EXPECT_GT(w.count, 0u);
  EXPECT_LT(w.count, big.size());
  line.Unplug();
  EXPECT_EQ(port.WriteAvailable(big.data(), 1).status, IoStatus::HungUp);
}

TEST_F(PtyPort, ReadTimeLimits) {
  port.SetTimeouts({30, 1, 150, 1, 100});
  uint8_t buf[16];
  // Silent line: the total limit, and it says so.
  auto t0 = Clock::now();
  IoResult r = port.Read(buf, 6);
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(MsSince(t0), 150);

  // Three bytes then silence: the interval limit ends the read with the bytes counted.
  port.SetTimeouts({30, 1, 5000, 1, 100});
  line.Write(std::vector<uint8_t>{1, 2, 3});
  t0 = Clock::now();
  r = port.Read(buf, 16);
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  EXPECT_EQ(r.count, 3u);
  EXPECT_LT(MsSince(t0), 5000);
}

TEST_F(PtyPort, StaleInputIsDiscardedAndPurged) {
  line.Write(std::vector<uint8_t>{0xAA, 0xBB});
  for (int i = 0; i < 100 && port.InBufferCount() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(port.Purge(true, true));
  EXPECT_EQ(port.InBufferCount(), 0);

  port.Close();
  line.Write(std::vector<uint8_t>{0xCC});
  ASSERT_TRUE(port.Open(line.LinkPath()));
  EXPECT_EQ(port.InBufferCount(), 0);  // what came before the open is no answer
}

TEST_F(PtyPort, VanishedDeviceIsAHangUpNotATimeOut) {
  port.SetTimeouts({50, 10, 5000, 1, 100});
  line.Unplug();
  uint8_t buf[6];
  auto t0 = Clock::now();
  IoResult r = port.Read(buf, 6);
  EXPECT_EQ(r.status, IoStatus::HungUp);
  EXPECT_LT(MsSince(t0), 5000);
  IoResult w = port.Write(buf, 6);
  EXPECT_NE(w.status, IoStatus::Ok);
  IoResult a = port.ReadAvailable(buf, 6);
  EXPECT_EQ(a.status, IoStatus::HungUp);
}

TEST_F(PtyPort, AbortCutsWaitsShort) {
  port.SetTimeouts({50, 10, 10000, 1, 100});
  std::thread aborter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.Abort();
  });
  uint8_t buf[6];
  IoResult r = port.Read(buf, 6);
  aborter.join();
  EXPECT_EQ(r.status, IoStatus::Aborted);
  EXPECT_FALSE(port.Sleep(10000));
  port.ClearAbort();
  EXPECT_TRUE(port.Sleep(1));
}

TEST_F(PtyPort, ExclusiveOpen) {
  SerialPort second;
  EXPECT_FALSE(second.Open(line.LinkPath()));
  EXPECT_EQ(second.LastError(), EBUSY);
  EXPECT_FALSE(second.LastErrorText().empty());

  // Another process (our own tool started twice) is refused as well.
  pid_t pid = fork();
  if (pid == 0) {
    SerialPort other;
    _exit(other.Open(line.LinkPath()) ? 0 : (other.LastError() == EBUSY ? 3 : 4));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 3);

  port.Close();
  EXPECT_TRUE(second.Open(line.LinkPath()));
}

TEST(SerialPortOpen, ReasonsForTheOperator) {
  SerialPort p;
  EXPECT_FALSE(p.Open("/nonexistent/tty"));
  EXPECT_EQ(p.LastError(), ENOENT);
  EXPECT_FALSE(p.Open("/dev/null"));  // not a serial line
  EXPECT_EQ(p.LastError(), ENOTTY);
  uint8_t b = 0;
  EXPECT_EQ(p.Write(&b, 1).status, IoStatus::Error);
  EXPECT_EQ(p.Read(&b, 1).status, IoStatus::Error);
}

}  // namespace
}  // namespace km27
