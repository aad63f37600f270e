#pragma once
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Linux lets any number of programs open a serial line, and each one's settings change it for
// all. Before touching a line the tool looks for the two traces another program leaves: a UUCP
// lock file (terminal programs, Qt's serial port) and, for those that take no lock (a getty, a
// modem manager), the open file itself under /proc. On Windows the exclusive open is the claim
// itself: there is nothing to look for, nothing to lock, and no terminal of ours is a COM port.
namespace km27 {

// Who has a device, as far as we can tell.
struct PortHolder {
  pid_t pid = 0;        // 0: not known
  std::string program;  // /proc/<pid>/comm; empty when not readable
  bool ownTerminal = false;  // the device is our own terminal (pid is ours)
  std::string refusal;  // the system's words when it refused the line and names no holder (Windows)
};

// True when `device` (a resolved path) is, under whatever name, the terminal this process runs
// in: /dev/tty, the console, the controlling terminal, or a terminal one of our descriptors
// holds. Writing frames there would go to the operator's screen; `holder` is then us.
bool IsOwnTerminal(const std::string& device, PortHolder* holder);

inline constexpr const char kLockDirVariable[] = "KM27_LOCK_DIR";

// Where lock files live: $KM27_LOCK_DIR when set (tests; set but empty: none are written),
// else /run/lock, else /var/lock.
std::string LockDirectory();

// The pid another program wrote into its lock file: ASCII with leading blanks (first line), or
// the four bytes of a binary int; 0 when there is none.
pid_t ParseLockPid(const std::string& content);

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3; `device` is a resolved path.
std::string LockFileName(const std::string& device);

// Our lock file for one device, from Acquire until Release (or destruction).
class PortLock {
 public:
  PortLock() = default;
  ~PortLock() { Release(); }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // False when a live process holds the lock (`holder` says which). A lock whose process is
  // gone is removed. Without a usable directory there is nothing to hold, and that is no failure.
  bool Acquire(const std::string& device, const std::string& dir, PortHolder* holder);
  void Release();

 private:
  std::string path_;
};

// True when a live process holds the lock file of `device` in `dir` (`holder` says which). A
// look only: a stale lock is left where it is.
bool LockHeld(const std::string& device, const std::string& dir, PortHolder* holder);

// The devices open in the processes we may look at. /proc is read at the first question and
// the answer kept, so that a scan over many ports reads it once: for good, or for `keepFor`,
// so that scans that follow each other quickly read it seldom. (Reading costs a few
// microseconds per open file of every process.)
class OpenDevices {
 public:
  using Clock = std::chrono::steady_clock;
  explicit OpenDevices(Clock::duration keepFor = Clock::duration::max()) : keepFor_(keepFor) {}

  // True when some descriptor other than our own `ownFd` (-1: none) refers to `device`, a
  // resolved path; `holder` gets its process.
  bool Holder(const std::string& device, int ownFd, PortHolder* holder);

 private:
  struct Use {
    pid_t pid;
    int fd;
    std::string target;
  };
  void Read();

  Clock::duration keepFor_;
  bool read_ = false;
  Clock::time_point readAt_{};
  std::vector<Use> uses_;  // descriptors that refer to something below /dev
};

}  // namespace km27
