// km27param --help and --version answer without a display and without opening a window.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "km27_version.h"

namespace {

// Runs km27param with no display of any kind; its output and exit status.
std::string RunWithoutDisplay(const std::string& args, int* status) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + std::string(KM27_BINARY_DIR) +
                              "/km27param' " + args + " 2>&1";
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[1024];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  *status = pclose(p);
  return out;
}

TEST(ProgramCommandLine, HelpAndVersionNeedNoDisplay) {
  int status = -1;
  const std::string help = RunWithoutDisplay("--help", &status);
  EXPECT_EQ(status, 0) << help;
  EXPECT_NE(help.find("--version"), std::string::npos) << help;
  EXPECT_NE(help.find("km27ctl"), std::string::npos) << help;
  const std::string version = RunWithoutDisplay("--version", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(version, std::string("km27param ") + KM27_VERSION + "\n");
}

}  // namespace
