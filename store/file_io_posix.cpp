#include "store/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "model/messages.h"
#include "store/file_size_signal.h"

namespace km27 {

namespace {

constexpr const char kTempMarker[] = ".tmp-";

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a save really writes: a link is followed, so the operator's link stays a link.
std::string SaveTarget(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  if (char* real = realpath(path.c_str(), nullptr)) {
    std::string s(real);
    std::free(real);
    return s;
  }
  // A link to a file that does not exist yet: the file is made where the link points.
  char buf[PATH_MAX];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return path;
  const std::string to(buf, size_t(n));
  return to[0] == '/' ? to : DirectoryOf(path) + "/" + to;
}

// The process's file creation mask, read without changing it (umask() would, for a moment,
// for every thread of the process).
mode_t CurrentUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return mode_t(mask);
  }
  return 022;
}

// A file with no write permission for us was made read-only to protect it. Root may write
// anything, so for root only a file nobody may write counts.
bool ReadOnlyForUs(const std::string& path, const struct stat& st) {
  if (geteuid() == 0) return (st.st_mode & 0222) == 0;
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// A save killed between creating and renaming its temporary file leaves it behind; such
// leftovers never hold the only copy of anything, so they are removed at the next save.
void RemoveLeftovers(const std::string& dir, const std::string& base, const std::string& keep) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = base + kTempMarker;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0 && name != keep) unlinkat(dirfd(d), name.c_str(), 0);
  }
  closedir(d);
}

bool WriteAll(int fd, const uint8_t* data, size_t n, int* err) {
  const HoldFileSizeSignal held;
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    data += w;
    n -= size_t(w);
  }
  return true;
}

void SyncDirectory(const std::string& dir) {
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace

ReadResult ReadFileBytes(const std::string& path, size_t limit) {
  ReadResult r;
  // Non-blocking, so that a pipe of that name cannot hold the caller up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    r.failure = {StoreError::kCannotOpen, errno, {}};
    return r;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    r.failure = {StoreError::kNotRegularFile, S_ISDIR(st.st_mode) ? EISDIR : EINVAL, {}};
    return r;
  }
  r.fileSize = size_t(st.st_size);
  if (r.fileSize > limit) {
    ::close(fd);
    r.tooLarge = true;
    r.failure.code = StoreError::kTooLarge;
    r.failure.detail.number = static_cast<long long>(r.fileSize);
    return r;
  }
  // The size is only a claim (a file in /proc says 0 and holds megabytes): never more than
  // limit + 1 bytes are read, which is enough to know the file is too large.
  char buf[8192];
  for (;;) {
    const size_t want = std::min(sizeof buf, limit + 1 - r.bytes.size());
    if (want == 0) {
      ::close(fd);
      r.bytes.clear();
      r.fileSize = limit + 1;
      r.tooLarge = r.sizeUnreported = true;
      r.failure.code = StoreError::kTooLargeUnsized;
      r.failure.detail.number = static_cast<long long>(limit);
      return r;
    }
    const ssize_t n = ::read(fd, buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      r.failure = {StoreError::kCannotRead, errno, {}};
      ::close(fd);
      r.bytes.clear();
      return r;
    }
    if (n == 0) break;
    r.bytes.append(buf, size_t(n));
  }
  ::close(fd);
  r.ok = true;
  return r;
}

SaveResult WriteFileAtomically(const std::string& path, const void* data, size_t size, ExistingFile existing,
                               bool* created) {
  SaveResult r;
  r.path = path;
  if (created) *created = false;
  auto fail = [&r](StoreError code, int err) {
    r.failure = {code, err, {}};
    return r;
  };

  const std::string target = SaveTarget(path);
  struct stat old;
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists) {
    if (existing == ExistingFile::kKeep) {
      r.ok = true;
      return r;
    }
    if (!S_ISREG(old.st_mode)) return fail(StoreError::kNotReplaceable, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    if (ReadOnlyForUs(target, old)) return fail(StoreError::kReadOnly, EACCES);
  }

  const std::string dir = DirectoryOf(target);
  const std::string base = BaseName(target);
  std::string tmpl = dir + "/" + base + kTempMarker + "XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return fail(StoreError::kCannotCreate, errno);
  const std::string tmpPath = name.data();

  int err = 0;
  bool ok = WriteAll(fd, static_cast<const uint8_t*>(data), size, &err);
  if (ok && ::fsync(fd) != 0) {
    err = errno;
    ok = false;
  }
  if (ok) {
    // The new file takes the old one's owner (where we may give it) and mode; a new file gets
    // the usual mode instead of mkstemp's 0600.
    if (exists && (old.st_uid != geteuid() || old.st_gid != getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
      (void)!::fchown(fd, uid_t(-1), old.st_gid);
    ::fchmod(fd, exists ? (old.st_mode & 07777) : (0666 & ~CurrentUmask()));
  }
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());
    return fail(StoreError::kCannotWrite, err);
  }

  if (existing == ExistingFile::kKeep) {
    // link() never replaces: a file that appeared meanwhile wins, unchanged.
    const bool linked = ::link(tmpPath.c_str(), target.c_str()) == 0;
    err = errno;
    ::unlink(tmpPath.c_str());
    if (!linked && err != EEXIST) return fail(StoreError::kCannotLink, err);
    if (created) *created = linked;
  } else if (::rename(tmpPath.c_str(), target.c_str()) != 0) {
    err = errno;
    ::unlink(tmpPath.c_str());
    return fail(StoreError::kCannotReplace, err);
  } else if (created) {
    *created = !exists;
  }
  SyncDirectory(dir);
  RemoveLeftovers(dir, base, BaseName(tmpPath));
  r.ok = true;
  return r;
}

bool PathExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

std::string PathIn(const std::string& dir, const std::string& name) { return dir + "/" + name; }

std::string SystemErrorText(int err) {
  if (std::string common = CommonSystemReason(err); !common.empty()) return common;
  char buf[256];
  // GNU strerror_r returns the text, which need not be in buf.
  return strerror_r(err, buf, sizeof buf);
}

std::string CurrentDirectory() {
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

bool MakeDirectories(const std::string& dir, int* err) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    const std::string at = dir.substr(0, pos);
    if (at.empty()) continue;
    if (::mkdir(at.c_str(), 0755) != 0 && errno != EEXIST) {
      *err = errno;
      return false;
    }
  }
  return true;
}

bool ChangeDirectory(const std::string& dir, int* err) {
  if (::chdir(dir.c_str()) == 0) return true;
  *err = errno;
  return false;
}

bool OnPseudoFileSystem(const std::string& folder) {
  struct statfs fs {};
  if (statfs(folder.c_str(), &fs) != 0) return false;
  return fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC || fs.f_type == DEBUGFS_MAGIC;
}

}  // namespace km27
