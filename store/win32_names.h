#pragma once
// Windows only, for store/'s *_win32.cpp files: names are UTF-8 inside the tool and UTF-16
// towards the system (the ANSI calls would read them in the machine's code page and mangle
// them); errors are kept as the C library's numbers.
#include <windows.h>

#include <string>

// (Apart from port/'s forms of the same, which store/ cannot see.)
namespace km27::store_win32 {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& w);
int ErrnoOf(DWORD e);

}  // namespace km27::store_win32
