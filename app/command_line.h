#pragma once
#include <string>

// What km27param's own options ask for; the toolkit's options (-platform and the like) are left
// in argv for it.
//   --help, --version     answered before any window or display is needed
//   --workdir DIR         work in DIR (made if missing) instead of the current directory
//   --desktop             started from the desktop's menu: work in the per-user directory
//   --log FILE, --no-log  where the transfers are recorded, or nowhere
struct StartOptions {
  int exitCode = -1;        // >= 0: answered (help, version, a usage error); exit with it
  std::string workDir;      // empty: the current directory, as always
  std::string error;        // why the working directory cannot be used (Chinese)
  bool logChosen = false;   // --log or --no-log; otherwise KM27_LOG or the user's state folder
  std::string logPath;      // empty with logChosen: --no-log
};

// Reads and removes our options from argc/argv.
StartOptions ReadStartOptions(int& argc, char** argv);

// An unset or empty HOME becomes the account's home from the password database, before the
// toolkit or the settings look for it.
void SetHomeFromAccount();

// The per-user working directory of a start from the desktop's menu:
// $XDG_DATA_HOME/km27param, else ~/.local/share/km27param.
std::string DesktopWorkDir();

// Makes `dir` (and its parents) if missing and makes it the current directory; the reason in
// Chinese when that is not possible.
bool EnterWorkDir(const std::string& dir, std::string* error);
