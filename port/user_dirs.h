#pragma once
#include <string>

#include "model/messages.h"

namespace km27 {

// Where the tool keeps each user's files. Empty when the system cannot tell.
//  - the COM directory (what COM n names): ~/.config/km27/com; %APPDATA%\km27\com on Windows;
//  - the settings, the transfer log and the desktop start's files:
//    $XDG_DATA_HOME/km27param, else ~/.local/share/km27param; %LOCALAPPDATA%\km27param on
//    Windows.
std::string UserComDir();
std::string UserDataDir();

// The user's home: $HOME, else the account's home from the password database (POSIX); on
// Windows %USERPROFILE%.
std::string UserHome();

// An unset or empty HOME becomes the account's home, before a toolkit or the settings look for
// it (nothing to do on Windows).
void SetHomeFromAccount();

// The language the user's system asks for: the locale's (LC_ALL, LC_MESSAGES, LANG) on POSIX,
// the user's interface language on Windows.
Language SystemLanguage();

}  // namespace km27
