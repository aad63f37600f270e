// The port's pauses and time limits wait to the nanosecond: none may end before its time, not
// even by a fraction of a millisecond (the device counts on every pause in full).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "port/serial_port.h"
#include "sim/sim_line.h"
#include "temp_dir.h"

namespace km27 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

class PortDeadlines : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line.Open(dir, 1)) << line.Error();
    ASSERT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
  }
  void TearDown() override {
    port.Close();
    line.Close();
  }
  TempDir tmp{"deadline"};
  const std::string dir = tmp.path;
  sim::SimLine line;
  SerialPort port;
};

TEST_F(PortDeadlines, PausesNeverEndEarly) {
  // Odd lengths and many of them: a wait rounded to whole milliseconds would come up short.
  for (int ms : {1, 3, 7, 20, 20, 20, 13}) {
    auto start = Clock::now();
    EXPECT_TRUE(port.Sleep(ms));
    EXPECT_GE(MsSince(start), ms) << ms << " ms pause";
  }
}

TEST_F(PortDeadlines, ReadLimitsNeverEndEarly) {
  // Total limit on a silent line: 20 ms + 2 bytes x 3 ms.
  port.SetTimeouts({0, 3, 20, 0, 0});
  uint8_t buf[2];
  auto start = Clock::now();
  IoResult r = port.Read(buf, 2);
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(MsSince(start), 26.0);

  // Interval limit: one byte, then silence; the read ends no sooner than 15 ms after that byte.
  port.SetTimeouts({15, 0, 0, 0, 0});
  uint8_t more[4];
  auto before = Clock::now();
  std::thread device([&] { line.Write(std::vector<uint8_t>{0x55}); });
  IoResult s = port.Read(more, 4);
  double took = MsSince(before);
  device.join();
  EXPECT_EQ(s.status, IoStatus::TimedOut);
  EXPECT_EQ(s.count, 1u);
  // The byte came after `before`, and the limit runs from its arrival.
  EXPECT_GE(took, 15.0);
}

TEST_F(PortDeadlines, AbortStillCutsAPauseShort) {
  std::thread other([&] {
    std::this_thread::sleep_for(milliseconds(20));
    port.Abort();
  });
  auto start = Clock::now();
  EXPECT_FALSE(port.Sleep(5000));
  EXPECT_LT(MsSince(start), 4000.0);
  other.join();
  port.ClearAbort();
  EXPECT_TRUE(port.Sleep(1));
}

}  // namespace
}  // namespace km27
