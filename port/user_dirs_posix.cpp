#include "port/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace km27 {

std::string UserHome() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string UserComDir() {
  const std::string home = UserHome();
  return home.empty() ? std::string() : home + "/.config/km27/com";
}

std::string UserDataDir() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return std::string(data) + "/km27param";
  return UserHome() + "/.local/share/km27param";
}

void SetHomeFromAccount() {
  if (const char* h = std::getenv("HOME"); h && *h) return;
  // Without it a toolkit would keep the settings under /.config.
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) setenv("HOME", pw->pw_dir, 1);
}

Language SystemLanguage() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace km27
