#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "store/transfer_log.h"
#include "store/win32_names.h"

namespace km27 {

using namespace store_win32;

namespace {

std::string Variable(const wchar_t* name) {
  const wchar_t* v = _wgetenv(name);
  return v && *v ? Narrow(v) : std::string();
}

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Held while a record is appended: rotation and the append are one step for every writer.
class LogLock {
 public:
  explicit LogLock(const std::string& path) {
    h_ = CreateFileW(Wide(path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h_ != INVALID_HANDLE_VALUE) LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov_);
  }
  ~LogLock() {
    if (h_ == INVALID_HANDLE_VALUE) return;
    UnlockFileEx(h_, 0, 1, 0, &ov_);
    CloseHandle(h_);
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
  OVERLAPPED ov_{};
};

}  // namespace

std::string DefaultTransferLogPath() {
  if (std::string log = Variable(L"KM27_LOG"); !log.empty()) return log;
  const std::string local = Variable(L"LOCALAPPDATA");
  return local.empty() ? std::string() : local + "\\km27param\\transfers.jsonl";
}

void StampRecord(TransferRecord& r) {
  if (r.time.empty()) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_s(&local, &now);
    tm utc{};
    gmtime_s(&utc, &now);
    // The offset from the two readings of the same moment (Windows' %z gives a zone's name).
    utc.tm_isdst = local.tm_isdst;
    const long offset = long(difftime(mktime(&local), mktime(&utc)) / 60);
    char text[40];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    char zone[12];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 60,
                  (offset < 0 ? -offset : offset) % 60);
    r.time = std::string(text) + zone;
  }
  if (r.user.empty()) {
    wchar_t name[256];
    DWORD n = 256;
    if (GetUserNameW(name, &n) && n > 0) r.user = Narrow(std::wstring(name, n - 1));
  }
  if (r.host.empty()) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &n)) r.host = Narrow(std::wstring(name, n));
  }
}

SaveResult AppendTransferRecord(const std::string& path, const TransferRecord& r, long long rotateAt) {
  if (path.empty()) return SaveFailed(path, StoreError::kCannotCreate, ENOENT);
  int err = 0;
  if (!MakeDirectories(Folder(path), &err)) return SaveFailed(path, StoreError::kCannotCreate, err);
  const std::string line = RecordLine(r) + "\n";
  LogLock lock(path);
  const std::wstring name = Wide(path);
  WIN32_FILE_ATTRIBUTE_DATA attr;
  if (GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &attr) &&
      ((long long)attr.nFileSizeHigh << 32 | attr.nFileSizeLow) >= rotateAt &&
      !MoveFileExW(name.c_str(), Wide(path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING))
    return SaveFailed(path, StoreError::kCannotReplace, ErrnoOf(GetLastError()));
  // Appending only: every write lands at the end, whoever else writes.
  const HANDLE h = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return SaveFailed(path, StoreError::kCannotCreate, ErrnoOf(GetLastError()));
  DWORD wrote = 0;
  const bool written = WriteFile(h, line.data(), DWORD(line.size()), &wrote, nullptr) && wrote == line.size();
  const DWORD writeErr = written ? 0 : GetLastError();
  const bool flushed = written && FlushFileBuffers(h);
  const DWORD flushErr = written && !flushed ? GetLastError() : 0;
  CloseHandle(h);
  if (!written || !flushed) return SaveFailed(path, StoreError::kCannotWrite, ErrnoOf(writeErr ? writeErr : flushErr));
  SaveResult ok;
  ok.ok = true;
  ok.path = path;
  return ok;
}

}  // namespace km27
