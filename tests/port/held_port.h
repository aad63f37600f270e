#pragma once
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace km27::testing {

// Another program using a serial line: a child process named `name` that opens `path`
// plainly (no lock file, no flock, no TIOCEXCL, as a getty or a terminal program might), sets
// it to 4800 baud and keeps it until the object goes away. With an empty path it only lives,
// so that its pid can stand in a lock file.
class HeldPort {
 public:
  static constexpr const char* kName = "km27-holder";

  explicit HeldPort(const std::string& path = {}, const char* name = kName) {
    int cmd[2], reply[2];
    if (pipe(cmd) != 0) return;
    if (pipe(reply) != 0) {
      close(cmd[0]);
      close(cmd[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls: the test process may have threads.
      for (int fd = 3; fd < 1024; ++fd)  // what the test holds must not look held by us
        if (fd != cmd[0] && fd != reply[1]) close(fd);
      prctl(PR_SET_NAME, name);
      int fd = -1;
      if (!path.empty()) {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t;
        if (fd < 0 || tcgetattr(fd, &t) != 0) _exit(1);
        cfsetispeed(&t, B4800);
        cfsetospeed(&t, B4800);
        if (tcsetattr(fd, TCSANOW, &t) != 0) _exit(1);
      }
      int ok = 0;
      if (write(reply[1], &ok, sizeof ok) != sizeof ok) _exit(1);
      char c;
      while (read(cmd[0], &c, 1) == 1) {  // each byte asks how much input waits
        int n = -1;
        if (fd >= 0) ioctl(fd, FIONREAD, &n);
        if (write(reply[1], &n, sizeof n) != sizeof n) _exit(1);
      }
      _exit(0);
    }
    close(cmd[0]);
    close(reply[1]);
    cmd_ = cmd[1];
    reply_ = reply[0];
    int ok = -1;
    ready_ = pid_ > 0 && read(reply_, &ok, sizeof ok) == sizeof ok && ok == 0;
  }
  ~HeldPort() {
    if (cmd_ >= 0) close(cmd_);
    if (reply_ >= 0) close(reply_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  bool Ready() const { return ready_; }  // the line is open and set
  pid_t Pid() const { return pid_; }
  // Bytes waiting in the holder's input; -2 when the child is gone.
  int InputCount() {
    char c = 'n';
    int n = -2;
    if (!ready_ || write(cmd_, &c, 1) != 1 || read(reply_, &n, sizeof n) != sizeof n) return -2;
    return n;
  }

 private:
  pid_t pid_ = -1;
  int cmd_ = -1, reply_ = -1;
  bool ready_ = false;
};

}  // namespace km27::testing
