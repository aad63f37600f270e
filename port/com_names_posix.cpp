#include "port/com_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "model/messages.h"
#include "port/com_names_system.h"
#include "port/com_port.h"
#include "port/net_url.h"
#include "port/user_dirs.h"

namespace km27 {

std::string EntryPath(const std::string& dir, int n) { return dir + "/" + ComName(n); }

bool EntryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string RealPath(const std::string& path) {
  char* r = realpath(path.c_str(), nullptr);
  if (!r) return {};
  std::string s(r);
  free(r);
  return s;
}

std::string ErrnoText(int err) {
  if (std::string common = CommonSystemReason(err); !common.empty()) return common;
  char buf[256];
  // GNU strerror_r returns the text, which need not be in buf.
  return strerror_r(err, buf, sizeof buf);
}

namespace {

// A COM entry that names a line at a terminal server: a link whose text is the URL (it
// resolves to no file), or a regular file whose first line is. Empty for anything else.
std::string EntryUrl(const std::string& path) {
  char text[1024];
  const ssize_t n = readlink(path.c_str(), text, sizeof text - 1);
  if (n > 0) {
    const std::string target(text, size_t(n));
    return IsNetUrl(target) ? target : std::string();
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  std::string line;
  if (FILE* f = fopen(path.c_str(), "r")) {
    if (fgets(text, sizeof text, f)) line = text;
    fclose(f);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.pop_back();
  return IsNetUrl(line) ? line : std::string();
}

}  // namespace

// What a COM entry stands for: the URL it holds, else the entry itself (a link to a device).
std::string Entry(const std::string& path) {
  std::string url = EntryUrl(path);
  return url.empty() ? path : url;
}

namespace {

// Number after `prefix` when the whole rest of `name` is digits, else -1.
long NumberAfter(const std::string& name, const char* prefix) {
  size_t len = strlen(prefix);
  if (name.compare(0, len, prefix) != 0 || name.size() == len || name.size() > len + 6) return -1;
  for (size_t i = len; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return -1;
  return strtol(name.c_str() + len, nullptr, 10);
}

// The kernel makes ttyS nodes with no UART behind them; opening those is slow and useless.
// sysfs tells without opening the device (so also to a user who may not open it).
bool HasRealUart(const std::string& path, const std::string& sysTtyDir) {
  std::string name = path.substr(path.rfind('/') + 1);
  if (FILE* f = fopen((sysTtyDir + "/" + name + "/type").c_str(), "r")) {
    int type = PORT_UNKNOWN;
    bool read = fscanf(f, "%d", &type) == 1;
    fclose(f);
    if (read) return type != PORT_UNKNOWN;
  }
  static std::mutex m;
  static std::map<std::string, bool> known;  // hardware does not come and go under ttyS
  std::lock_guard<std::mutex> lock(m);
  auto it = known.find(path);
  if (it != known.end()) return it->second;
  // Read-only: the question must not disturb a program that has the line open.
  int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;  // can't tell: keep it, open will say why
  serial_struct ss{};
  bool real = ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
  close(fd);
  known[path] = real;
  return real;
}

std::vector<std::string> SerialDevices(const ComEnvironment& env, const std::vector<std::string>& pinned) {
  std::vector<std::string> result;
  DIR* d = opendir(env.devDir.c_str());
  if (!d) return result;
  std::vector<std::pair<long, std::string>> groups[3];
  static const char* kPrefixes[3] = {"ttyUSB", "ttyACM", "ttyS"};
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    for (int g = 0; g < 3; ++g) {
      long num = NumberAfter(name, kPrefixes[g]);
      if (num >= 0) groups[g].push_back({num, env.devDir + "/" + name});
    }
  }
  closedir(d);
  for (int g = 0; g < 3; ++g) {
    std::sort(groups[g].begin(), groups[g].end());
    for (auto& [num, path] : groups[g]) {
      (void)num;
      if (g == 2 && !HasRealUart(path, env.sysTtyDir)) continue;
      std::string real = RealPath(path);
      if (std::find(pinned.begin(), pinned.end(), real) != pinned.end()) continue;
      result.push_back(path);
    }
  }
  return result;
}

}  // namespace

ComEnvironment ComEnvironment::FromProcess() {
  ComEnvironment env;
  if (const char* dir = getenv(kComDirVariable); dir && *dir) env.comDir = dir;
  env.userDir = UserComDir();
  return env;
}

std::vector<std::string> SystemComDevicePaths(int count, const ComEnvironment& env) {
  std::vector<std::string> paths(size_t(std::max(count, 0)));
  std::vector<std::string> pinned;
  std::vector<bool> isPinned(paths.size(), false);
  if (!env.userDir.empty()) {
    // Every link in the directory counts as pinned, even one above `count`.
    if (DIR* d = opendir(env.userDir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        long n = NumberAfter(name, "COM");
        if (n < 1) continue;
        std::string link = env.userDir + "/" + name;
        if (std::string real = RealPath(link); !real.empty()) pinned.push_back(real);
        if (n <= count) {
          paths[size_t(n - 1)] = Entry(link);
          isPinned[size_t(n - 1)] = true;
        }
      }
      closedir(d);
    }
  }
  std::vector<std::string> devices;
  bool listed = false;
  size_t next = 0;
  for (int n = 1; n <= count; ++n) {
    if (isPinned[size_t(n - 1)]) continue;
    if (!listed) {
      devices = SerialDevices(env, pinned);
      listed = true;
    }
    if (next < devices.size()) paths[size_t(n - 1)] = devices[next++];
  }
  return paths;
}

ComPortState InspectComPort(int n, const std::string& devicePath, OpenDevices& seen) {
  ComPortState s;
  if (devicePath.empty()) return s;
  if (IsNetUrl(devicePath)) {
    // As configured: connecting to find out could push another client off the server.
    s.device = devicePath;
    const UrlProblem problem = ParseNetUrl(devicePath, nullptr);
    s.kind = problem == UrlProblem::None ? ComPortState::kFree : ComPortState::kUnusable;
    if (problem != UrlProblem::None) s.reason = Text(Msg::kPortUrlProblem, {ComName(n), devicePath, UrlProblemText(problem)});
    return s;
  }
  s.device = RealPath(devicePath);
  struct stat st;
  if (s.device.empty() || stat(s.device.c_str(), &st) != 0) {
    const int err = errno;
    if (IsAbsence(err)) {
      s.device = devicePath;  // a link to an adapter that is unplugged
      s.kind = ComPortState::kAbsent;
      return s;
    }
    s.device = devicePath;
    s.kind = ComPortState::kUnusable;
    s.reason = DescribePortFailure(n, devicePath, err);
    return s;
  }
  if (!S_ISCHR(st.st_mode)) {
    s.kind = ComPortState::kUnusable;
    s.reason = DescribePortFailure(n, s.device, ENOTTY);
    return s;
  }
  if (faccessat(AT_FDCWD, s.device.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
    const int err = errno;
    s.kind = err == EACCES || err == EPERM ? ComPortState::kNoAccess : ComPortState::kUnusable;
    s.reason = DescribePortFailure(n, s.device, err);
    return s;
  }
  if (PortHolder self; IsOwnTerminal(s.device, &self)) {
    s.kind = ComPortState::kUnusable;
    s.reason = DescribePortFailure(n, s.device, EBUSY, self);
    return s;
  }
  if (LockHeld(s.device, LockDirectory(), &s.holder) || seen.Holder(s.device, -1, &s.holder)) {
    s.kind = ComPortState::kTaken;
    return s;
  }
  s.kind = ComPortState::kFree;
  return s;
}

std::string ComEntryTarget(int n, const ComEnvironment& env) {
  const std::string dir = ComEntryDir(env);
  if (dir.empty() || n < 1) return {};
  const std::string path = EntryPath(dir, n);
  if (std::string url = EntryUrl(path); !url.empty()) return url;
  char text[1024];
  const ssize_t len = readlink(path.c_str(), text, sizeof text - 1);
  if (len > 0) return std::string(text, size_t(len));
  return EntryExists(path) ? path : std::string();  // a device node put there itself
}

bool SetComEntry(int n, const std::string& target, const ComEnvironment& env, int* err) {
  const std::string dir = ComEntryDir(env);
  *err = 0;
  if (dir.empty() || n < 1) {
    *err = ENOENT;
    return false;
  }
  const std::string path = EntryPath(dir, n);
  if (target.empty()) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    *err = errno;
    return false;
  }
  // ~/.config/km27/com need not exist yet.
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      *err = errno;
      return false;
    }
    if (slash == std::string::npos) break;
  }
  const std::string temp = dir + "/." + ComName(n) + ".new" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    *err = errno;
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace km27
