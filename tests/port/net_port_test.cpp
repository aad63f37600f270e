#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "link/poll_loop.h"
#include "port/com_port.h"
#include "port/net_url.h"
#include "port/rfc2217_port.h"
#include "port/tcp_port.h"
#include "sim/sim_line.h"
#include "sim/terminal_server.h"
#include "temp_dir.h"

namespace km27 {
namespace {

using Clock = std::chrono::steady_clock;
long MsSince(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

std::vector<uint8_t> EveryByte() {
  std::vector<uint8_t> v(256);
  for (int i = 0; i < 256; ++i) v[size_t(i)] = uint8_t(i);
  return v;
}

// Everything the far end of the line receives until `n` bytes came (or 5 s passed).
std::vector<uint8_t> FarEndReads(sim::SimLine& line, size_t n) {
  std::vector<uint8_t> got;
  const auto start = Clock::now();
  while (got.size() < n && MsSince(start) < 5000) {
    auto in = line.Read(100);
    got.insert(got.end(), in.bytes.begin(), in.bytes.end());
  }
  return got;
}

TEST(NetUrl, ParsesWhatServersAreReachedByAndSaysWhyNot) {
  NetUrl u;
  ASSERT_EQ(ParseNetUrl("RFC2217://[::1]:4001", &u), UrlProblem::None);
  EXPECT_EQ(u.scheme, NetScheme::Rfc2217);
  EXPECT_EQ(u.host, "::1");
  EXPECT_EQ(u.port, 4001);
  ASSERT_EQ(ParseNetUrl("tcp://station-3.line.local:65535/?allowance=80", &u), UrlProblem::None);
  EXPECT_EQ(u.host, "station-3.line.local");
  EXPECT_EQ(u.allowanceMs, 80);
  EXPECT_FALSE(IsNetUrl("/dev/ttyUSB0"));
  EXPECT_TRUE(IsNetUrl("telnet://h:1"));

  const struct {
    const char* url;
    UrlProblem problem;
  } bad[] = {
      {"telnet://h:1", UrlProblem::UnknownScheme}, {"tcp://:4001", UrlProblem::NoHost},
      {"tcp://[]:4001", UrlProblem::NoHost},       {"tcp://::1:4001", UrlProblem::BadHost},
      {"tcp://[::1:4001", UrlProblem::BadHost},    {"tcp://a b:1", UrlProblem::BadHost},
      {"tcp://u:pw@h:1", UrlProblem::Credentials}, {"tcp://h", UrlProblem::NoPort},
      {"tcp://[::1]", UrlProblem::NoPort},         {"tcp://h:", UrlProblem::NoPort},
      {"tcp://h:0", UrlProblem::BadPort},          {"tcp://h:65536", UrlProblem::BadPort},
      {"tcp://h:-1", UrlProblem::BadPort},         {"tcp://h:1/dev/ttyS0", UrlProblem::Path},
      {"tcp://h:1?allowance=x", UrlProblem::BadAllowance},
  };
  for (const auto& c : bad) {
    EXPECT_EQ(ParseNetUrl(c.url, &u), c.problem) << c.url;
    EXPECT_FALSE(UrlProblemText(c.problem).empty());
  }
}

TEST(NetPort, AbsentServerFailsAtOnceWithTheSystemsReason) {
  TcpPort port;
  const std::string url = "tcp://127.0.0.1:" + std::to_string(sim::FreeTcpPort());
  const auto t0 = Clock::now();
  EXPECT_FALSE(port.Open(url));
  EXPECT_LT(MsSince(t0), 2000);
  EXPECT_EQ(port.LastError(), ECONNREFUSED);
  EXPECT_NE(port.LastErrorText().find(strerror(ECONNREFUSED)), std::string::npos);
  EXPECT_FALSE(port.IsOpen());
}

// A simulated line served by ser2net on loopback: raw TCP with a banner, and Telnet.
class Ser2net : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sim::Ser2netServer::Installed())
      GTEST_SKIP() << "ser2net is not installed (scripts/setup-debian.sh installs it)";
    ASSERT_TRUE(line.Open(dir.path, 1)) << line.Error();
    std::vector<sim::Ser2netServer::Line> lines = {{line.SlavePath(), false, 0, "\\r\\nser2net port raw\\r\\n\\r\\n"},
                                                   {line.SlavePath(), true, 0, ""}};
    ASSERT_TRUE(server.Start(dir.path, lines)) << "ser2net did not start";
    rawPort = lines[0].port;
    telnetPort = lines[1].port;
  }
  void TearDown() override { Stop(); }
  void Stop() { server.Stop(); }
  std::string Url(const char* scheme, int port) { return std::string(scheme) + "://127.0.0.1:" + std::to_string(port); }

  TempDir dir{"ser2net"};
  sim::SimLine line;
  int rawPort = 0, telnetPort = 0;
  sim::Ser2netServer server;
};

TEST_F(Ser2net, RawTcpCarriesEveryByteAfterTheBannerAndKeepsTheServersLine) {
  ComPort port;  // the kind COM numbers stand for picks the network by the name
  port.SetTimeouts({50, 5, 2000, 0, 2000});
  ASSERT_TRUE(port.Open(Url("tcp", rawPort))) << port.LastErrorText();
  ASSERT_NE(port.Net(), nullptr);
  EXPECT_TRUE(port.SetLine(9600, Parity::None, 8, 1));
  EXPECT_FALSE(port.SetBaud(19200));  // the code transmitter needs rfc2217://
  EXPECT_EQ(port.LastError(), EINVAL);

  const auto all = EveryByte();
  ASSERT_TRUE(port.Write(all.data(), all.size()).Ok());
  EXPECT_EQ(FarEndReads(line, all.size()), all);
  ASSERT_TRUE(line.Write(all));
  std::vector<uint8_t> back(all.size());
  const IoResult r = port.Read(back.data(), back.size());
  EXPECT_TRUE(r.Ok()) << r.count;
  EXPECT_EQ(back, all);  // no banner in front

  TcpPort second;  // the server keeps its line for the first client
  EXPECT_FALSE(second.Open(Url("tcp", rawPort)));
  EXPECT_EQ(second.LastError(), EBUSY);
}

TEST_F(Ser2net, Rfc2217StuffsEveryByteAndChangesSpeedInOrderWithTheData) {
  Rfc2217Port port;
  port.SetTimeouts({50, 5, 2000, 0, 2000});
  ASSERT_TRUE(port.Open(Url("rfc2217", telnetPort))) << port.LastErrorText();
  const auto all = EveryByte();
  ASSERT_TRUE(port.Write(all.data(), all.size()).Ok());
  EXPECT_EQ(FarEndReads(line, all.size()), all);
  ASSERT_TRUE(line.Write(all));
  std::vector<uint8_t> back(all.size());
  EXPECT_TRUE(port.Read(back.data(), back.size()).Ok());
  EXPECT_EQ(back, all);

  // The code transmitter's opening: 0x03 at 9600, RTS on (never confirmed on a pty), 19200.
  const uint8_t wake = 0x03, next = 0x5A;
  ASSERT_TRUE(port.Write(&wake, 1).Ok());
  EXPECT_EQ(FarEndReads(line, 1), std::vector<uint8_t>{wake});
  EXPECT_EQ(line.Baud(), 9600);
  const auto t0 = Clock::now();
  EXPECT_TRUE(port.SetRts(true));
  EXPECT_TRUE(port.SetRts(true));  // the second one is not waited for
  EXPECT_LT(MsSince(t0), 2 * port.Timing().ackMs + 500);
  EXPECT_TRUE(port.SetBaud(19200));
  ASSERT_TRUE(port.Write(&next, 1).Ok());
  EXPECT_EQ(FarEndReads(line, 1), std::vector<uint8_t>{next});
  EXPECT_EQ(line.Baud(), 19200);
  EXPECT_EQ(port.Baud(), 19200);
}

TEST_F(Ser2net, DroppedConnectionIsAnUnpluggedLine) {
  Rfc2217Port port;
  port.SetTimeouts({0, 0, 5000, 0, 1000});
  ASSERT_TRUE(port.Open(Url("rfc2217", telnetPort))) << port.LastErrorText();
  PollLoop loop;
  loop.StartTimer(5000, false, [&] { loop.Quit(); });
  std::vector<uint8_t> got;
  bool lost = false;
  // Two bytes at a time: the watch asks again for bytes the socket no longer signals.
  const auto watch = port.Watch(loop, {[&] {
                                         uint8_t two[2];
                                         const IoResult r = port.ReadAvailable(two, 2);
                                         got.insert(got.end(), two, two + r.count);
                                       },
                                       nullptr, [&] { lost = true; }});
  const std::vector<uint8_t> sent = {1, 0xFF, 3, 4, 5};
  ASSERT_TRUE(line.Write(sent));
  EXPECT_TRUE(loop.RunUntil([&] { return got.size() >= sent.size(); }));
  EXPECT_EQ(got, sent);
  Stop();
  EXPECT_TRUE(loop.RunUntil([&] { return lost; }));
  uint8_t b;
  EXPECT_EQ(port.Read(&b, 1).status, IoStatus::HungUp);
  EXPECT_EQ(port.ReadAvailable(&b, 1).status, IoStatus::HungUp);
  EXPECT_EQ(port.Write(&b, 1).status, IoStatus::HungUp);
}

// What ser2net does not do: Telnet words cut anywhere by the network, and a server that keeps
// talking Telnet while the device is silent.
TEST(NetPort, TelnetWordsSplitAcrossReadsAreNeitherDataNorTime) {
  int lsPort = 0;
  const int ls = sim::ListenOnLoopback(&lsPort, 1);
  ASSERT_GE(ls, 0);
  std::atomic<bool> opened{false};
  std::thread server([ls, &opened] {
    const int c = accept(ls, nullptr, nullptr);
    const int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto send = [c](std::vector<uint8_t> b) {
      ::send(c, b.data(), b.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));  // separate segments, as a slow link cuts them
    };
    send({255, 251, 0, 255, 253, 0, 255, 253, 44});
    while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Device bytes 'A', 0xFF, 'B' with a line-state notice and a doubled 0xFF cut in pieces.
    send({'A', 255});
    send({250, 44, 106});
    send({0, 255});
    send({240, 255});
    send({255, 'B'});
    for (int i = 0; i < 200; ++i) send({255, 241});  // NOPs, 600 ms of them at least
    uint8_t sink[256];
    while (recv(c, sink, sizeof sink, 0) > 0) {
    }
    close(c);
  });
  Rfc2217Port port;
  port.SetNetTiming({3000, 20});  // this server confirms nothing
  port.SetTimeouts({100, 0, 0, 0, 1000});
  const bool open = port.Open("rfc2217://127.0.0.1:" + std::to_string(lsPort));
  opened = true;
  if (!open) {
    const std::string why = port.LastErrorText();
    port.Close();  // the server sees us go
    server.join();
    close(ls);
    FAIL() << why;
  }
  uint8_t buf[8] = {};
  const auto t0 = Clock::now();
  const IoResult r = port.Read(buf, 8);
  EXPECT_LT(MsSince(t0), 450);  // the NOPs after 'B' do not keep the read going
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  ASSERT_EQ(r.count, 3u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), (std::vector<uint8_t>{'A', 0xFF, 'B'}));
  port.Close();
  server.join();
  close(ls);
}

}  // namespace
}  // namespace km27
