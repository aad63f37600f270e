#include "port/win32_text.h"

#include <cerrno>

namespace km27 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string Narrow(const wchar_t* w) { return w ? Narrow(std::wstring(w)) : std::string(); }

int ErrnoOfWin32(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOENT;
    // The open is exclusive: a port another program has open is refused this way.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EBUSY;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED: return ENOTTY;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_OPERATION_ABORTED: return EINTR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
  }
}

std::string Win32ErrorText(DWORD e) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, e, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string s = n && text ? Narrow(std::wstring(text, n)) : std::string();
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  if (s.empty()) s = "Windows error " + std::to_string(e);
  return s;
}

}  // namespace km27
