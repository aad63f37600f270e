#pragma once
// Windows only: the tool's UTF-8 towards the system's UTF-16, and the system's errors in the
// errno terms the rest of the tool reasons in. For *_win32.cpp files of port/ and above.
#include <windows.h>

#include <string>

namespace km27 {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
std::string Narrow(const wchar_t* wide);

// errno-style: a device that is not there is ENOENT, one another program holds EBUSY, one that
// went away EIO; anything else EIO too, with the system's own words kept beside it.
int ErrnoOfWin32(DWORD error);
// The system's words for `error`, in the user's language, without the trailing line end.
std::string Win32ErrorText(DWORD error);

}  // namespace km27
