#pragma once
#include <optional>
#include <string>

#include "model/messages.h"

// What km27param's own options ask for; the toolkit's options (-platform and the like) are left
// in argv for it.
//   --help, --version     answered before any window or display is needed
//   --workdir DIR         work in DIR (made if missing) instead of the current directory
//   --desktop             started from the desktop's menu: work in the per-user directory
//   --log FILE, --no-log  where the transfers are recorded, or nowhere
//   --lang zh|en          the interface's language, over the remembered choice and the system's
struct StartOptions {
  int exitCode = -1;        // >= 0: answered (help, version, a usage error); exit with it
  // With exitCode >= 0, what is still to be said once the language is known: the usage text
  // (--help) or a usage error's words (untranslated source text, see UsageText).
  const char* say = nullptr;
  std::string sayArg;       // the option a usage error is about
  std::optional<km27::Language> language;  // --lang
  std::string workDir;      // empty: the current directory, as always
  std::string error;        // why the working directory cannot be used (Chinese)
  bool logChosen = false;   // --log or --no-log; otherwise KM27_LOG or the user's state folder
  std::string logPath;      // empty with logChosen: --no-log
};

// Reads and removes our options from argc/argv. Only --version is answered here (it has no
// words); --help and usage errors are left in `say` for after the language is chosen.
StartOptions ReadStartOptions(int& argc, char** argv);

// `say` in the interface's language, for stdout (help) or stderr (an error). Needs the
// application's translators installed.
std::string UsageText(const StartOptions& options);

// The interface's language: --lang wins, then the choice remembered from the window's menu
// ("zh"/"en"; anything else counts as none), then the system's.
km27::Language ChooseLanguage(std::optional<km27::Language> commandLine, const std::string& remembered,
                              km27::Language system);

// An unset or empty HOME becomes the account's home from the password database, before the
// toolkit or the settings look for it.
void SetHomeFromAccount();

// The per-user working directory of a start from the desktop's menu:
// $XDG_DATA_HOME/km27param, else ~/.local/share/km27param.
std::string DesktopWorkDir();

// Makes `dir` (and its parents) if missing and makes it the current directory; the reason in
// Chinese when that is not possible.
bool EnterWorkDir(const std::string& dir, std::string* error);
