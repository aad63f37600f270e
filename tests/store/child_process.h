#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// Runs `body` in a forked child (whose limits, signals or user the test may change without
// touching the test process) and returns the text it produced; empty when the child died or
// failed to report.
inline std::string RunInChild(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    close(fds[0]);
    const std::string msg = body();
    const ssize_t w = write(fds[1], msg.data(), msg.size());
    _exit(w > 0 ? 0 : 4);
  }
  close(fds[1]);
  std::string msg;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) msg.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? msg : std::string();
}
