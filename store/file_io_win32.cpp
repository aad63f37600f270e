#include "store/file_io.h"
#include "store/win32_names.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "model/messages.h"

namespace km27 {

namespace store_win32 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring w(size_t(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

// A StoreFailure keeps the C library's error numbers on every system, so that its readers (a
// missing file is ENOENT) need not know where it came from.
int ErrnoOf(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME: return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
  }
}

}  // namespace store_win32

using namespace store_win32;

namespace {

constexpr const char kTempMarker[] = ".tmp-";

int LastErrno() { return ErrnoOf(GetLastError()); }

size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 || (slash == 2 && path[1] == ':') ? slash + 1 : slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ReplaceFileW takes absolute names only.
std::wstring FullWide(const std::string& path) {
  const std::wstring w = Wide(path);
  const DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  std::wstring full(n, L'\0');
  const DWORD m = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return w;
  full.resize(m);
  return full;
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }
  bool Close() {
    const bool ok = !Valid() || CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

// A save killed between creating and renaming its temporary file leaves it behind; such
// leftovers never hold the only copy of anything, so they are removed at the next save.
void RemoveLeftovers(const std::string& dir, const std::string& base, const std::string& keep) {
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(Wide(dir + "\\" + base + kTempMarker + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = Narrow(found.cFileName);
    if (name != keep && name.compare(0, base.size() + std::strlen(kTempMarker), base + kTempMarker) == 0)
      DeleteFileW(Wide(dir + "\\" + name).c_str());
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

bool WriteAll(HANDLE h, const char* data, size_t n, int* err) {
  while (n > 0) {
    const DWORD chunk = DWORD(std::min<size_t>(n, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr)) {
      *err = LastErrno();
      return false;
    }
    data += written;
    n -= written;
  }
  return true;
}

}  // namespace

ReadResult ReadFileBytes(const std::string& path, size_t limit) {
  ReadResult r;
  const std::wstring name = Wide(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    r.failure = {StoreError::kNotRegularFile, EISDIR, {}};
    return r;
  }
  Handle h(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) {
    r.failure = {StoreError::kCannotOpen, LastErrno(), {}};
    return r;
  }
  // A pipe or a device of that name is refused without waiting on it.
  LARGE_INTEGER size;
  if (GetFileType(h.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(h.Get(), &size)) {
    r.failure = {StoreError::kNotRegularFile, EINVAL, {}};
    return r;
  }
  r.fileSize = size_t(size.QuadPart);
  if (r.fileSize > limit) {
    r.tooLarge = true;
    r.failure.code = StoreError::kTooLarge;
    r.failure.detail.number = static_cast<long long>(r.fileSize);
    return r;
  }
  // The size is only a claim: never more than limit + 1 bytes are read.
  char buf[8192];
  for (;;) {
    const size_t want = std::min(sizeof buf, limit + 1 - r.bytes.size());
    if (want == 0) {
      r.bytes.clear();
      r.fileSize = limit + 1;
      r.tooLarge = r.sizeUnreported = true;
      r.failure.code = StoreError::kTooLargeUnsized;
      r.failure.detail.number = static_cast<long long>(limit);
      return r;
    }
    DWORD n = 0;
    if (!ReadFile(h.Get(), buf, DWORD(want), &n, nullptr)) {
      r.failure = {StoreError::kCannotRead, LastErrno(), {}};
      r.bytes.clear();
      return r;
    }
    if (n == 0) break;
    r.bytes.append(buf, n);
  }
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

  const std::wstring target = FullWide(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists) {
    if (existing == ExistingFile::kKeep) {
      r.ok = true;
      return r;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(StoreError::kNotReplaceable, EISDIR);
    if (attributes & FILE_ATTRIBUTE_READONLY) return fail(StoreError::kReadOnly, EACCES);
  }

  const std::string full = Narrow(target);
  const std::string dir = DirectoryOf(full);
  const std::string base = BaseName(full);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device seed;
  std::mt19937 pick(seed());
  std::string tmpName;
  HANDLE tmp = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && tmp == INVALID_HANDLE_VALUE; ++attempt) {
    tmpName = base + kTempMarker;
    for (int k = 0; k < 6; ++k) tmpName += kLetters[pick() % (sizeof kLetters - 1)];
    tmp = CreateFileW(Wide(dir + "\\" + tmpName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (tmp == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (tmp == INVALID_HANDLE_VALUE) return fail(StoreError::kCannotCreate, LastErrno());
  const std::wstring tmpPath = Wide(dir + "\\" + tmpName);

  Handle h(tmp);
  int err = 0;
  bool ok = WriteAll(h.Get(), static_cast<const char*>(data), size, &err);
  if (ok && !FlushFileBuffers(h.Get())) {
    err = LastErrno();
    ok = false;
  }
  if (!h.Close() && ok) {
    err = LastErrno();
    ok = false;
  }
  if (!ok) {
    DeleteFileW(tmpPath.c_str());
    return fail(StoreError::kCannotWrite, err);
  }

  if (existing == ExistingFile::kKeep) {
    // Without REPLACE_EXISTING the move never replaces: a file that appeared meanwhile wins.
    const bool moved = MoveFileExW(tmpPath.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    err = LastErrno();
    if (!moved) {
      DeleteFileW(tmpPath.c_str());
      if (err != EEXIST) return fail(StoreError::kCannotLink, err);
    }
    if (created) *created = moved;
  } else {
    // ReplaceFileW keeps the old file's attributes and security; with no old file there is
    // nothing to keep and only a move will do.
    bool replaced = exists && ReplaceFileW(target.c_str(), tmpPath.c_str(), nullptr,
                                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!replaced && (!exists || GetLastError() == ERROR_FILE_NOT_FOUND))
      replaced = MoveFileExW(tmpPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
      err = LastErrno();
      DeleteFileW(tmpPath.c_str());
      return fail(StoreError::kCannotReplace, err);
    }
    if (created) *created = !exists;
  }
  RemoveLeftovers(dir, base, tmpName);
  r.ok = true;
  return r;
}

bool PathExists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// An absolute name is kept as it was given (as on POSIX), so that messages show what the
// operator chose.
std::string AbsolutePath(const std::string& path) {
  const auto separator = [&](size_t i) { return i < path.size() && (path[i] == '/' || path[i] == '\\'); };
  const bool drive = path.size() > 2 && path[1] == ':' && separator(2);
  return drive || (separator(0) && separator(1)) ? path : Narrow(FullWide(path));
}

std::string PathIn(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '\\' || dir.back() == '/' ? dir + name : dir + "\\" + name;
}

std::string SystemErrorText(int err) {
  if (std::string common = CommonSystemReason(err); !common.empty()) return common;
  char buf[256];
  if (strerror_s(buf, sizeof buf, err) != 0) return "error " + std::to_string(err);
  return buf;
}

std::string CurrentDirectory() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring w(n, L'\0');
  const DWORD got = GetCurrentDirectoryW(n, w.data());
  if (got == 0 || got >= n) return {};
  w.resize(got);
  return Narrow(w);
}

bool MakeDirectories(const std::string& dir, int* err) {
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i < dir.size() && !separator(dir[i])) continue;
    const std::string at = dir.substr(0, i);
    // "C:" and "C:\" are the drive itself; "\\server\share" cannot be made.
    if (at.size() <= 3 && at.size() >= 2 && at[1] == ':') continue;
    if (at.size() >= 2 && separator(at[0]) && separator(at[1]) && at.find_first_of("/\\", 2) == std::string::npos) continue;
    if (separator(at.back())) continue;
    if (!CreateDirectoryW(Wide(at).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      *err = LastErrno();
      return false;
    }
  }
  return true;
}

bool ChangeDirectory(const std::string& dir, int* err) {
  if (SetCurrentDirectoryW(Wide(dir).c_str())) return true;
  *err = LastErrno();
  return false;
}

bool OnPseudoFileSystem(const std::string&) { return false; }

}  // namespace km27
