#include "port/port_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace km27 {

namespace {

bool IsDirectory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ProgramName(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/comm", int(pid));
  std::string name;
  if (FILE* f = std::fopen(path, "r")) {
    char buf[64] = {};
    if (std::fgets(buf, sizeof buf, f)) name = buf;
    std::fclose(f);
  }
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  return name;
}

bool ProcessLives(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

// -1 when the file is gone, else its pid (0: none readable).
pid_t LockPid(const std::string& lock) {
  int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  char buf[64];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  return n <= 0 ? 0 : ParseLockPid(std::string(buf, size_t(n)));
}

// A lock without a readable pid may be one another program is still writing; only once it
// has stood that long unchanged is it taken for debris.
constexpr time_t kUnreadableLockAgeS = 10;

enum class LockState { kGone, kStale, kHeld };

LockState JudgeLock(const std::string& lock, PortHolder* holder) {
  const pid_t pid = LockPid(lock);
  if (pid < 0) return LockState::kGone;
  if (pid == 0) {
    struct stat st;
    if (stat(lock.c_str(), &st) != 0) return LockState::kGone;
    if (time(nullptr) - st.st_mtime >= kUnreadableLockAgeS) return LockState::kStale;
    *holder = PortHolder{};
    return LockState::kHeld;
  }
  if (!ProcessLives(pid)) return LockState::kStale;
  *holder = PortHolder{pid, ProgramName(pid), false, {}};
  return LockState::kHeld;
}

}  // namespace

pid_t ParseLockPid(const std::string& content) {
  // Four bytes with anything but digits and blanks in them are the binary form, whatever their
  // first byte looks like (a pid of 12345 starts with '9').
  bool text = true;
  for (char c : content) text = text && ((c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n');
  if (content.size() == 4 && !text) {
    int32_t binary;
    std::memcpy(&binary, content.data(), sizeof binary);
    return binary > 0 ? pid_t(binary) : 0;
  }
  size_t i = 0;
  while (i < content.size() && (content[i] == ' ' || content[i] == '\t')) ++i;
  if (i < content.size() && content[i] >= '0' && content[i] <= '9')
    return pid_t(std::strtol(content.c_str() + i, nullptr, 10));
  return 0;
}

std::string LockDirectory() {
  if (const char* dir = getenv(kLockDirVariable)) return dir;
  return IsDirectory("/run/lock") ? "/run/lock" : "/var/lock";
}

std::string LockFileName(const std::string& device) {
  std::string rest = device.compare(0, 5, "/dev/") == 0 ? device.substr(5) : device;
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  for (char& c : rest)
    if (c == '/') c = '_';
  return "LCK.." + rest;
}

bool PortLock::Acquire(const std::string& device, const std::string& dir, PortHolder* holder) {
  Release();
  if (dir.empty()) return true;
  const std::string lock = dir + "/" + LockFileName(device);
  // The whole line is written to a temporary file and linked to the lock's name in one step:
  // nobody ever reads our lock without our pid in it.
  std::string tmp = dir + "/LTMP.XXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return true;  // no writable lock directory: go on without a lock of our own
  char line[16];
  const int len = std::snprintf(line, sizeof line, "%10d\n", int(getpid()));
  const bool written = write(fd, line, size_t(len)) == len && fchmod(fd, 0644) == 0;
  close(fd);
  bool taken = false;
  for (int attempt = 0; written; ++attempt) {
    if (link(tmp.c_str(), lock.c_str()) == 0) {
      path_ = lock;
      break;
    }
    if (errno != EEXIST) break;  // the directory takes no links: go on without a lock
    const LockState state = JudgeLock(lock, holder);
    // Another program racing for the same line and winning each time may have it.
    if (state == LockState::kHeld || attempt == 2) {
      if (state != LockState::kHeld) *holder = PortHolder{};
      taken = true;
      break;
    }
    // A stale lock of another user in a sticky directory may not be ours to remove; the
    // line is free all the same, so go on without a lock of our own.
    if (state == LockState::kStale && unlink(lock.c_str()) != 0 && errno != ENOENT) break;
  }
  unlink(tmp.c_str());
  return !taken;
}

bool LockHeld(const std::string& device, const std::string& dir, PortHolder* holder) {
  if (dir.empty()) return false;
  return JudgeLock(dir + "/" + LockFileName(device), holder) == LockState::kHeld;
}

void PortLock::Release() {
  if (path_.empty()) return;
  // Only while it is still ours: a lock someone took after judging ours stale stays.
  if (LockPid(path_) == getpid()) unlink(path_.c_str());
  path_.clear();
}

void OpenDevices::Read() {
  read_ = true;
  readAt_ = Clock::now();
  uses_.clear();
  DIR* proc = opendir("/proc");
  if (!proc) return;
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const pid_t pid = pid_t(std::strtol(e->d_name, nullptr, 10));
    const std::string fdDirName = std::string(e->d_name) + "/fd";
    int fdDir = openat(dirfd(proc), fdDirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0) continue;  // gone, or another user's process
    DIR* fds = fdopendir(fdDir);
    if (!fds) {
      close(fdDir);
      continue;
    }
    while (dirent* f = readdir(fds)) {
      if (f->d_name[0] < '0' || f->d_name[0] > '9') continue;
      char target[PATH_MAX];
      const ssize_t n = readlinkat(fdDir, f->d_name, target, sizeof target);
      if (n <= 5 || std::memcmp(target, "/dev/", 5) != 0) continue;  // pipes, sockets, files
      uses_.push_back({pid, int(std::strtol(f->d_name, nullptr, 10)), std::string(target, size_t(n))});
    }
    closedir(fds);
  }
  closedir(proc);
}

bool OpenDevices::Holder(const std::string& device, int ownFd, PortHolder* holder) {
  if (!read_ || Clock::now() - readAt_ >= keepFor_) Read();
  const pid_t self = getpid();
  for (const Use& u : uses_) {
    if (u.target != device || (u.pid == self && u.fd == ownFd)) continue;
    *holder = PortHolder{u.pid, ProgramName(u.pid), false, {}};
    return true;
  }
  return false;
}

namespace {

// The controlling terminal's device number (field 7 of /proc/self/stat, in the kernel's
// encoding), 0 when there is none.
dev_t ControllingTerminal() {
  FILE* f = std::fopen("/proc/self/stat", "r");
  if (!f) return 0;
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* after = std::strrchr(buf, ')');  // the program name may hold anything
  unsigned long nr = 0;
  if (!after || std::sscanf(after + 1, " %*c %*d %*d %*d %lu", &nr) != 1 || nr == 0) return 0;
  return makedev(unsigned((nr >> 8) & 0xfff), unsigned((nr & 0xff) | ((nr >> 12) & 0xfff00)));
}

}  // namespace

bool IsOwnTerminal(const std::string& device, PortHolder* holder) {
  struct stat st;
  if (stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const dev_t d = st.st_rdev;
  // /dev/tty is whichever terminal the opener has; /dev/console and /dev/tty0 are the screen's.
  bool own = d == makedev(5, 0) || d == makedev(5, 1) || d == makedev(4, 0) || d == ControllingTerminal();
  if (!own) {
    // A terminal we were given (standard streams, under any name). What we open ourselves,
    // serial ports included, is close-on-exec; what we inherited is not.
    if (DIR* fds = opendir("/proc/self/fd")) {
      while (dirent* e = readdir(fds)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        const int fd = int(std::strtol(e->d_name, nullptr, 10));
        struct stat held;
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC) && fstat(fd, &held) == 0 && S_ISCHR(held.st_mode) &&
            held.st_rdev == d && isatty(fd))
          own = true;
      }
      closedir(fds);
    }
  }
  if (own) *holder = PortHolder{getpid(), ProgramName(getpid()), true, {}};
  return own;
}

}  // namespace km27
