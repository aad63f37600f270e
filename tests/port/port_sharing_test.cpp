// Serial lines other programs use are left alone: lock files, open files seen in /proc and the
// exclusive-open flag, against pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "port/com_names.h"
#include "port/held_port.h"
#include "port/serial_port.h"
#include "sim/sim_line.h"
#include "temp_dir.h"

namespace km27 {
namespace {

using testing::HeldPort;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string TenDigitPid(pid_t pid) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%10d\n", int(pid));
  return buf;
}

// A pid that no process has: a child that has ended and been reaped.
pid_t DeadPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

bool SameTermios(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b) &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// COM1 of a private COM directory is a simulated line; locks go to a private directory.
class PortSharing : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kComDirVariable, comDir.c_str(), 1);
    setenv("KM27_LOCK_DIR", lockDir.c_str(), 1);
    ForgetPortProblems();
    ASSERT_TRUE(line.Open(comDir, 1)) << line.Error();
    // Lock files are named after the device below /dev, with '/' as '_': LCK..pts_3.
    lockFile = lockDir + "/LCK.." + line.SlavePath().substr(5);
    lockFile.replace(lockFile.rfind('/'), 1, "_");
  }
  void TearDown() override {
    port.Close();
    line.Close();
    setenv(kComDirVariable, "/nonexistent/km27-no-com-ports", 1);
    unsetenv("KM27_LOCK_DIR");
  }
  bool LockExists() const {
    struct stat st;
    return lstat(lockFile.c_str(), &st) == 0;
  }
  termios FarEndSettings() const {
    termios t{};
    tcgetattr(line.MasterFd(), &t);  // a pty master reports its slave's settings
    return t;
  }

  TempDir comTmp{"share-com"}, lockTmp{"share-lock"};
  const std::string comDir = comTmp.path, lockDir = lockTmp.path;
  std::string lockFile;
  sim::SimLine line;
  SerialPort port;
};

TEST_F(PortSharing, OurLockFileStandsWhileThePortIsOpen) {
  ASSERT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
  EXPECT_EQ(ReadFile(lockFile), TenDigitPid(getpid()));
  struct stat st;
  ASSERT_EQ(stat(lockFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // other programs must be able to read who holds it
  port.Close();
  EXPECT_FALSE(LockExists());
  // Nothing else is left in the directory either (no temporary file).
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + lockDir + "')\"").c_str()), 0);

  // Without a usable lock directory the port still opens; there is just no lock to hold.
  setenv("KM27_LOCK_DIR", (lockDir + "/missing").c_str(), 1);
  EXPECT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
}

TEST_F(PortSharing, ALiveProcessesLockRefusesThePortWhateverItsForm) {
  HeldPort other;  // lives, holds no device
  ASSERT_TRUE(other.Ready());
  const int pid = int(other.Pid());
  char binary[4];
  std::memcpy(binary, &pid, sizeof binary);
  const std::string forms[] = {TenDigitPid(pid), "   " + std::to_string(pid), std::string(binary, 4)};
  for (const std::string& form : forms) {
    WriteFile(lockFile, form);
    ForgetPortProblems();
    EXPECT_FALSE(OpenComPort(port, 1));
    EXPECT_EQ(port.LastError(), EBUSY);
    EXPECT_EQ(ReadFile(lockFile), form);  // not ours to remove
    // The lamp's tooltip says which port, which device and who has it.
    const std::string text = PortProblemText();
    EXPECT_NE(text.find("COM1"), std::string::npos) << text;
    EXPECT_NE(text.find(line.SlavePath()), std::string::npos) << text;
    EXPECT_NE(text.find(HeldPort::kName), std::string::npos) << text;
    EXPECT_NE(text.find("进程 " + std::to_string(pid)), std::string::npos) << text;
    EXPECT_NE(text.find("已跳过"), std::string::npos) << text;
  }
  EXPECT_EQ(FarEndSettings().c_cflag & CBAUD, B9600);  // as the line was made: untouched
}

TEST(LockFiles, ThePidIsReadInEveryFormProgramsWrite) {
  EXPECT_EQ(ParseLockPid("      1234\n"), 1234);
  EXPECT_EQ(ParseLockPid("1234"), 1234);  // four digits and no line end: still text
  EXPECT_EQ(ParseLockPid("\t 77\nminicom\n"), 77);
  // Pids run below 2^22: their binary form always holds a zero byte, whatever its first byte looks like.
  for (int32_t pid : {12345, 12849, 7, 0x303030}) {  // first bytes '9', '1', a control byte, '0'
    char binary[4];
    std::memcpy(binary, &pid, sizeof binary);
    EXPECT_EQ(ParseLockPid(std::string(binary, 4)), pid) << pid;
  }
  EXPECT_EQ(ParseLockPid(""), 0);
  EXPECT_EQ(ParseLockPid("LCK"), 0);
  EXPECT_EQ(ParseLockPid("    "), 0);
}

TEST_F(PortSharing, ALockOfAProcessThatIsGoneIsRemoved) {
  WriteFile(lockFile, TenDigitPid(DeadPid()));
  ASSERT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
  EXPECT_EQ(ReadFile(lockFile), TenDigitPid(getpid()));
  port.Close();
  EXPECT_FALSE(LockExists());
}

TEST_F(PortSharing, ALineAnotherProgramHasOpenIsNeitherSetNorFlushedNorWritten) {
  HeldPort other(line.SlavePath());
  ASSERT_TRUE(other.Ready());
  line.Write(std::vector<uint8_t>{1, 2, 3});  // input waiting for the other program
  for (int i = 0; i < 500 && other.InputCount() < 3; ++i) usleep(1000);
  ASSERT_EQ(other.InputCount(), 3);
  const termios before = FarEndSettings();
  ASSERT_EQ(cfgetospeed(&before), speed_t(B4800));

  EXPECT_FALSE(OpenComPort(port, 1));
  EXPECT_EQ(port.LastError(), EBUSY);
  const uint8_t poll[] = {0x03, 0x55};
  EXPECT_NE(port.Write(poll, sizeof poll).status, IoStatus::Ok);
  EXPECT_TRUE(SameTermios(FarEndSettings(), before));
  EXPECT_EQ(other.InputCount(), 3);       // its input was not flushed
  EXPECT_TRUE(line.Read(0).bytes.empty());  // nothing of ours reached the line
  EXPECT_FALSE(LockExists());
  const std::string text = PortProblemText();
  EXPECT_NE(text.find(HeldPort::kName), std::string::npos) << text;
  EXPECT_NE(text.find("进程 " + std::to_string(other.Pid())), std::string::npos) << text;
}

TEST_F(PortSharing, OnlyOurDescriptorIsExclusiveAndOnlyWhileOpen) {
  ASSERT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
  int excl = 0;
  ASSERT_EQ(ioctl(port.Fd(), TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 1);
  // Root passes TIOCEXCL; anyone else is refused while we hold the line.
  int second = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (geteuid() != 0) {
    EXPECT_LT(second, 0);
    EXPECT_EQ(errno, EBUSY);
  }
  port.Close();
  if (second < 0) second = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(second, 0);
  excl = 1;
  ASSERT_EQ(ioctl(second, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0);  // cleared at close, even though another descriptor stays open
  // Now the test process itself holds the line: it is refused like any other holder.
  EXPECT_FALSE(port.Open(line.LinkPath()));
  EXPECT_EQ(port.LastError(), EBUSY);
  close(second);
  EXPECT_TRUE(port.Open(line.LinkPath())) << port.LastErrorText();
}

}  // namespace
}  // namespace km27
