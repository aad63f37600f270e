#include "ctl/ctl_system.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace km27::ctl {

void PrepareProcess() {
  // The write fails with EPIPE instead, and that is reported as output that could not be written.
  std::signal(SIGPIPE, SIG_IGN);
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

void WriteText(FILE* stream, const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stream); }

std::string ResolvedDevice(const std::string& path) {
  if (path.empty()) return path;
  char* r = realpath(path.c_str(), nullptr);
  if (!r) return path;
  std::string s(r);
  free(r);
  return s;
}

}  // namespace km27::ctl
