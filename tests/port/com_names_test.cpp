#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "port/com_names.h"
#include "port/serial_port.h"
#include "sim/sim_line.h"
#include "temp_dir.h"

namespace km27 {
namespace {

struct NamesDir : TempDir {
  std::string Make(const std::string& name) const {
    std::ofstream(path + "/" + name) << "";
    return path + "/" + name;
  }
};

TEST(ComNames, ComDirectoryIsTheOnlySourceWhenSet) {
  ComEnvironment env;
  env.comDir = "/x/com";
  env.userDir = "/y";
  EXPECT_EQ(ComDevicePath(3, env), "/x/com/COM3");
  EXPECT_EQ(ComDevicePath(11, env), "/x/com/COM11");
  EXPECT_EQ(ComDevicePath(0, env), "");
  auto all = ComDevicePaths(11, env);
  ASSERT_EQ(all.size(), 11u);
  EXPECT_EQ(all[0], "/x/com/COM1");
}

TEST(ComNames, DevicesInStableOrderWithPinnedLinksFirst) {
  NamesDir dev, user, sys;
  // Named out of order on purpose; of the ttyS nodes only the one with a UART counts.
  std::string usb10 = dev.Make("ttyUSB10"), usb2 = dev.Make("ttyUSB2"), acm0 = dev.Make("ttyACM0");
  dev.Make("ttyS0");
  std::string s1 = dev.Make("ttyS1");
  dev.Make("ttyS2");
  dev.Make("ttyUSBx");
  mkdir((sys.path + "/ttyS0").c_str(), 0755);
  mkdir((sys.path + "/ttyS1").c_str(), 0755);
  std::ofstream(sys.path + "/ttyS0/type") << "0\n";
  std::ofstream(sys.path + "/ttyS1/type") << "4\n";
  ComEnvironment env;
  env.devDir = dev.path;
  env.userDir = user.path;
  env.sysTtyDir = sys.path;
  auto paths = ComDevicePaths(5, env);
  EXPECT_EQ(paths[0], usb2);
  EXPECT_EQ(paths[1], usb10);
  EXPECT_EQ(paths[2], acm0);
  EXPECT_EQ(paths[3], s1);
  EXPECT_EQ(paths[4], "");
  EXPECT_EQ(ComDevicePath(2, env), usb10);

}

// Pinned numbers keep their links; every other device present fills the numbers left, in order.
TEST(ComNames, PinningANumberLeavesNoOtherDeviceWithoutOne) {
  NamesDir dev, user, sys;
  const std::string x = dev.Make("ttyUSB0"), y = dev.Make("ttyUSB1"), z = dev.Make("ttyACM0");
  ComEnvironment env;
  env.devDir = dev.path;
  env.userDir = user.path;
  env.sysTtyDir = sys.path;
  auto pin = [&](int n, const std::string& target) {  // "=text": a regular file holding the text
    const std::string entry = user.path + "/COM" + std::to_string(n);
    if (target[0] == '=') return void(std::ofstream(entry) << target.substr(1) << "\r\n");
    ASSERT_EQ(symlink(target.c_str(), entry.c_str()), 0);
  };
  auto unpinAll = [&] {
    for (int n = 1; n <= 5; ++n) unlink((user.path + "/COM" + std::to_string(n)).c_str());
  };
  struct Case {
    const char* what;
    std::vector<std::pair<int, std::string>> pins;
    std::vector<std::string> expected;  // COM1..COM4; "@n" = the link of COM n
  };
  const Case cases[] = {
      {"COM1 pinned to the first adapter", {{1, x}}, {"@1", y, z, ""}},
      {"COM1 pinned to the second adapter", {{1, y}}, {"@1", x, z, ""}},
      {"COM2 pinned only", {{2, z}}, {x, "@2", y, ""}},
      {"pin to an adapter that is not plugged in", {{1, dev.path + "/ttyUSB7"}}, {"@1", x, y, z}},
      {"pin above the numbers asked for", {{5, x}}, {y, z, "", ""}},
      {"two pins", {{3, x}, {1, z}}, {"@1", y, "@3", ""}},
      {"a link naming a server", {{2, "rfc2217://10.1.2.3:4001"}}, {x, "rfc2217://10.1.2.3:4001", y, z}},
      {"a file naming a server", {{1, "=tcp://[::1]:4001"}}, {"tcp://[::1]:4001", x, y, z}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unpinAll();
    for (const auto& [n, target] : c.pins) pin(n, target);
    const auto paths = ComDevicePaths(4, env);
    for (int n = 1; n <= 4; ++n) {
      std::string want = c.expected[size_t(n - 1)];
      if (!want.empty() && want[0] == '@') want = user.path + "/COM" + want.substr(1);
      EXPECT_EQ(paths[size_t(n - 1)], want) << "COM" << n;
      EXPECT_EQ(ComDevicePath(n, env), want) << "COM" << n;  // one number alone agrees
    }
  }
}

TEST(ComNames, ProbeAndTheOperatorsHint) {
  TempDir com;
  setenv(kComDirVariable, com.path.c_str(), 1);
  ForgetPortProblems();
  EXPECT_FALSE(ProbeComPort(1));  // absent: no complaint
  EXPECT_EQ(PortProblemText(), "");

  sim::SimLine line;
  ASSERT_TRUE(line.Open(com.path, 2));
  EXPECT_TRUE(ProbeComPort(2));
  EXPECT_TRUE(ProbeComPort(2));  // closed again after each probe
  SerialPort holder;
  ASSERT_TRUE(OpenComPort(holder, 2));
  EXPECT_FALSE(ProbeComPort(2));  // held by another opener
  std::string text = PortProblemText();
  EXPECT_NE(text.find("COM2"), std::string::npos);
  EXPECT_NE(text.find("占用"), std::string::npos);
  holder.Close();
  EXPECT_TRUE(ProbeComPort(2));
  EXPECT_EQ(PortProblemText(), "");  // a later success clears it
  unsetenv(kComDirVariable);

  std::string denied = DescribePortFailure(4, "/dev/ttyUSB0", EACCES);
  EXPECT_NE(denied.find("/dev/ttyUSB0"), std::string::npos);
  EXPECT_NE(denied.find("dialout"), std::string::npos);
  EXPECT_EQ(DescribePortFailure(4, "/dev/ttyUSB0", EBUSY).find("dialout"), std::string::npos);
  // Where the system names no holder (Windows), its own words say why the port was refused.
  PortHolder refused;
  refused.refusal = "Access is denied";
  EXPECT_NE(DescribePortFailure(4, "\\\\.\\COM4", EBUSY, refused).find("（Access is denied）"), std::string::npos);
}

}  // namespace
}  // namespace km27
