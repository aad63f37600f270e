#include <windows.h>

#include <string>
#include <vector>

#include "ctl/ctl_commands.h"

// The command line arrives as UTF-16, so that a file name in Chinese survives whatever the
// console's code page; inside everything is UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string a(size_t(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, a.data(), n, nullptr, nullptr);
    a.resize(a.size() - 1);  // the terminating zero
    args.push_back(std::move(a));
  }
  std::vector<const char*> pointers;
  for (const std::string& a : args) pointers.push_back(a.c_str());
  pointers.push_back(nullptr);
  return km27::ctl::Main(argc, pointers.data());
}
