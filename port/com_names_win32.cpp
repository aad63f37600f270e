#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "model/messages.h"
#include "port/com_names.h"
#include "port/com_names_system.h"
#include "port/net_url.h"
#include "port/user_dirs.h"
#include "port/win32_text.h"

namespace km27 {

namespace {

std::string Variable(const wchar_t* name) {
  const wchar_t* v = _wgetenv(name);
  return v ? Narrow(v) : std::string();
}

// The first line of an entry file: a device (\\.\COM7, a path) or a URL. Notepad's byte order
// mark and line end are no part of it.
std::string FirstLine(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  char text[1024];
  DWORD got = 0;
  const BOOL ok = ReadFile(h, text, sizeof text, &got, nullptr);
  CloseHandle(h);
  if (!ok) return {};
  std::string line(text, got);
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  line = line.substr(0, line.find_first_of("\r\n"));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  return line;
}

// The COM ports the system has: its DOS device names, and what drivers registered under
// SERIALCOMM (some adapters are only there).
std::set<int> PresentPorts() {
  std::set<int> present;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (DWORD i = 0;; ++i) {
      wchar_t name[256], data[64];
      DWORD nameLen = 256, dataLen = sizeof data, type = 0;
      if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen) != ERROR_SUCCESS)
        break;
      if (type != REG_SZ || _wcsnicmp(data, L"COM", 3) != 0) continue;
      data[std::min<DWORD>(dataLen / sizeof(wchar_t), 63)] = L'\0';
      if (const int n = _wtoi(data + 3); n > 0) present.insert(n);
    }
    RegCloseKey(key);
  }
  return present;
}

bool DosDeviceExists(int n) {
  wchar_t target[512];
  return QueryDosDeviceW(Wide(ComName(n)).c_str(), target, 512) != 0;
}

std::string DevicePathOf(int n) { return "\\\\.\\" + ComName(n); }

}  // namespace

// COM1..COM9 are reserved names in every folder ("COM3.txt" too), so an entry is named
// "COM3-line.txt".
std::string EntryPath(const std::string& dir, int n) { return dir + "\\" + ComName(n) + "-line.txt"; }

bool EntryExists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Entry(const std::string& path) { return FirstLine(path); }

std::string RealPath(const std::string& path) { return path; }

std::string ErrnoText(int err) {
  if (std::string common = CommonSystemReason(err); !common.empty()) return common;
  char buf[256];
  if (strerror_s(buf, sizeof buf, err) != 0) return "error " + std::to_string(err);
  return buf;
}

ComEnvironment ComEnvironment::FromProcess() {
  ComEnvironment env;
  env.comDir = Variable(L"KM27_COM_DIR");
  env.userDir = UserComDir();
  env.devDir.clear();
  env.sysTtyDir.clear();
  return env;
}

std::vector<std::string> SystemComDevicePaths(int count, const ComEnvironment& env) {
  std::vector<std::string> paths(size_t(std::max(count, 0)));
  // Windows numbers its ports itself; an entry only puts something else behind a number.
  const std::set<int> registered = PresentPorts();
  for (int n = 1; n <= count; ++n) {
    const std::string entry = env.userDir.empty() ? std::string() : EntryPath(env.userDir, n);
    if (!entry.empty() && EntryExists(entry))
      paths[size_t(n - 1)] = Entry(entry);
    else if (registered.count(n) || DosDeviceExists(n))
      paths[size_t(n - 1)] = DevicePathOf(n);
  }
  return paths;
}

ComPortState InspectComPort(int n, const std::string& devicePath, OpenDevices&) {
  ComPortState s;
  if (devicePath.empty()) return s;
  s.device = devicePath;
  if (IsNetUrl(devicePath)) {
    // As configured: connecting to find out could push another client off the server.
    const UrlProblem problem = ParseNetUrl(devicePath, nullptr);
    s.kind = problem == UrlProblem::None ? ComPortState::kFree : ComPortState::kUnusable;
    if (problem != UrlProblem::None) s.reason = Text(Msg::kPortUrlProblem, {ComName(n), devicePath, UrlProblemText(problem)});
    return s;
  }
  // Windows keeps no trace of who holds a port; the exclusive open tells, and an open that is
  // closed again without a setting changed leaves the line as it was.
  std::wstring name = Wide(devicePath);
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    const bool serial = GetFileType(h) == FILE_TYPE_CHAR;
    CloseHandle(h);
    s.kind = serial ? ComPortState::kFree : ComPortState::kUnusable;
    if (!serial) s.reason = DescribePortFailure(n, devicePath, ENOTTY);
    return s;
  }
  const int err = ErrnoOfWin32(GetLastError());
  if (err == EBUSY) {
    s.kind = ComPortState::kTaken;
  } else if (IsAbsence(err)) {
    s.kind = ComPortState::kAbsent;
  } else {
    s.kind = ComPortState::kUnusable;
    s.reason = DescribePortFailure(n, devicePath, err);
  }
  return s;
}

std::string ComEntryTarget(int n, const ComEnvironment& env) {
  const std::string dir = ComEntryDir(env);
  if (dir.empty() || n < 1) return {};
  return FirstLine(EntryPath(dir, n));
}

bool SetComEntry(int n, const std::string& target, const ComEnvironment& env, int* err) {
  const std::string dir = ComEntryDir(env);
  *err = 0;
  if (dir.empty() || n < 1) {
    *err = ENOENT;
    return false;
  }
  const std::wstring path = Wide(EntryPath(dir, n));
  if (target.empty()) {
    if (DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    *err = ErrnoOfWin32(GetLastError());
    return false;
  }
  // %APPDATA%\km27\com need not exist yet.
  const std::wstring wdir = Wide(dir);
  for (size_t sep = wdir.find_first_of(L"\\/", 3);; sep = wdir.find_first_of(L"\\/", sep + 1)) {
    const std::wstring part = wdir.substr(0, sep);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        GetLastError() != ERROR_ACCESS_DENIED) {
      *err = ErrnoOfWin32(GetLastError());
      return false;
    }
    if (sep == std::wstring::npos) break;
  }
  // A whole new file replaces the old one, so a search never reads half of it.
  const std::wstring temp = path + L".new" + std::to_wstring(GetCurrentProcessId());
  HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *err = ErrnoOfWin32(GetLastError());
    return false;
  }
  const std::string line = target + "\r\n";
  DWORD wrote = 0;
  const bool written = WriteFile(h, line.data(), DWORD(line.size()), &wrote, nullptr) && wrote == line.size();
  CloseHandle(h);
  if (!written || !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *err = ErrnoOfWin32(GetLastError());
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace km27
