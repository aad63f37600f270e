#include "port/user_dirs.h"

#include <windows.h>

#include <string>

#include "port/win32_text.h"

namespace km27 {

namespace {

// The folder an environment variable names, as UTF-8; the variables are read as UTF-16, since
// the ANSI forms mangle names outside the machine's code page.
std::string FolderOf(const wchar_t* variable) {
  wchar_t buf[MAX_PATH * 4];
  const DWORD n = GetEnvironmentVariableW(variable, buf, DWORD(sizeof buf / sizeof buf[0]));
  if (n == 0 || n >= sizeof buf / sizeof buf[0]) return {};
  return Narrow(std::wstring(buf, n));
}

std::string Under(const wchar_t* variable, const char* rest) {
  const std::string base = FolderOf(variable);
  return base.empty() ? std::string() : base + rest;
}

}  // namespace

std::string UserHome() { return FolderOf(L"USERPROFILE"); }
std::string UserComDir() { return Under(L"APPDATA", "\\km27\\com"); }
std::string UserDataDir() { return Under(L"LOCALAPPDATA", "\\km27param"); }
void SetHomeFromAccount() {}

Language SystemLanguage() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_ENGLISH ? Language::kEnglish : Language::kChinese;
}

}  // namespace km27
