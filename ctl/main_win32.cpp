#include <windows.h>

#include <string>
#include <vector>

#include "ctl/ctl_commands.h"
#include "port/win32_text.h"

// The command line arrives as UTF-16, so that a file name in Chinese survives whatever the
// console's code page; inside everything is UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(km27::Narrow(argv[i]));
  std::vector<const char*> pointers;
  for (const std::string& a : args) pointers.push_back(a.c_str());
  pointers.push_back(nullptr);
  return km27::ctl::Main(argc, pointers.data());
}
