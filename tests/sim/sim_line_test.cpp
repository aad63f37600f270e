#include "sim/sim_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "port/serial_port.h"
#include "temp_dir.h"

namespace km27::sim {
namespace {

using Clock = std::chrono::steady_clock;

class SimLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line.Open(dir, 2)) << line.Error();
  }
  void TearDown() override {
    port.Close();
    line.Close();
  }
  TempDir tmp{"simline"};
  const std::string dir = tmp.path;
  SimLine line;
  SerialPort port;
};

TEST_F(SimLineTest, WithNobodyOnThePortReadsWaitAndWritesNeverBlock) {
  // Nobody has the port open: a read still takes its time (no spinning caller) and brings
  // nothing; a chattering device goes on sending into the void.
  auto t0 = Clock::now();
  SimLine::Input in = line.Read(100);
  EXPECT_TRUE(in.bytes.empty());
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(100));
  const std::vector<uint8_t> lots(1 << 20, 0x01);
  EXPECT_TRUE(line.Write(lots));

  // The tool has the port open but reads nothing: the device's writes end all the same.
  ASSERT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
  EXPECT_TRUE(line.Write(lots));
  // The line still works both ways once the tool drops what it left unread.
  ASSERT_TRUE(port.Purge(true, false));
  const uint8_t hello[] = {0x55, 0xAA};
  ASSERT_TRUE(port.Write(hello, 2).Ok());
  std::vector<uint8_t> got;
  for (int i = 0; i < 100 && got.size() < 2; ++i) {
    SimLine::Input more = line.Read(10);
    got.insert(got.end(), more.bytes.begin(), more.bytes.end());
  }
  EXPECT_EQ(got, (std::vector<uint8_t>{0x55, 0xAA}));
  ASSERT_TRUE(line.Write(std::vector<uint8_t>{7}));
  port.SetTimeouts({0, 0, 2000, 0, 0});
  uint8_t b = 0;
  EXPECT_TRUE(port.Read(&b, 1).Ok());
  EXPECT_EQ(b, 7);
}

}  // namespace
}  // namespace km27::sim
