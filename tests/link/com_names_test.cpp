#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "link/com_names.h"
#include "link/serial_port.h"
#include "sim/sim_line.h"

namespace km27 {
namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/km27-names-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
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
  TempDir dev, user, sys;
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

  // The operator pins COM2 to a stable name; that device drops out of the numbered list.
  ASSERT_EQ(symlink(acm0.c_str(), (user.path + "/COM2").c_str()), 0);
  paths = ComDevicePaths(5, env);
  EXPECT_EQ(paths[0], usb2);
  EXPECT_EQ(paths[1], user.path + "/COM2");
  EXPECT_EQ(paths[2], s1);  // numbering goes on without the pinned device
  EXPECT_EQ(paths[3], "");
  EXPECT_EQ(ComDevicePath(2, env), user.path + "/COM2");
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
}

}  // namespace
}  // namespace km27
