#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "store/transfer_log.h"

namespace km27 {

namespace {

std::string Home() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Held while a record is appended: rotation and the append are one step for every writer.
class LogLock {
 public:
  explicit LogLock(const std::string& path) : fd_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~LogLock() {
    if (fd_ >= 0) ::close(fd_);  // drops the lock
  }

 private:
  int fd_;
};

}  // namespace

std::string DefaultTransferLogPath() {
  if (const char* log = std::getenv(kLogVariable); log && *log) return log;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
    return std::string(state) + "/km27param/transfers.jsonl";
  const std::string home = Home();
  return home.empty() ? std::string() : home + "/.local/state/km27param/transfers.jsonl";
}

void StampRecord(TransferRecord& r) {
  if (r.time.empty()) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[40];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    r.time = text;
    r.time.insert(r.time.size() - 2, ":");  // +0800 -> +08:00
  }
  if (r.user.empty()) {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
      r.user = pw->pw_name;
    else if (const char* u = std::getenv("USER"))
      r.user = u;
  }
  if (r.host.empty()) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) r.host = host;
  }
}

SaveResult AppendTransferRecord(const std::string& path, const TransferRecord& r, long long rotateAt) {
  if (path.empty()) return SaveFailed(path, StoreError::kCannotCreate, ENOENT);
  int err = 0;
  if (!MakeDirectories(Folder(path), &err)) return SaveFailed(path, StoreError::kCannotCreate, err);
  const std::string line = RecordLine(r) + "\n";
  LogLock lock(path);
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && st.st_size >= rotateAt && rename(path.c_str(), (path + ".1").c_str()) != 0)
    return SaveFailed(path, StoreError::kCannotReplace, errno);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return SaveFailed(path, errno == EROFS ? StoreError::kReadOnly : StoreError::kCannotCreate, errno);
  // One write of the whole line: appends of other writers come before or after it, never inside.
  const ssize_t wrote = ::write(fd, line.data(), line.size());
  const int writeErr = wrote < 0 ? errno : wrote != ssize_t(line.size()) ? ENOSPC : 0;
  const int syncErr = writeErr == 0 && fdatasync(fd) != 0 ? errno : 0;
  ::close(fd);
  if (writeErr || syncErr) return SaveFailed(path, StoreError::kCannotWrite, writeErr ? writeErr : syncErr);
  SaveResult ok;
  ok.ok = true;
  ok.path = path;
  return ok;
}

}  // namespace km27
