#include "port/stop_requests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace km27 {

namespace {

// A self-pipe: write() is all a handler may safely do.
int g_pipe[2] = {-1, -1};

void OnSignal(int signo) {
  const int saved = errno;
  const unsigned char s = static_cast<unsigned char>(signo);
  (void)!::write(g_pipe[1], &s, 1);
  errno = saved;
}

std::vector<int> Signals(unsigned kinds) {
  std::vector<int> s;
  if (kinds & kStopInterrupt) s.push_back(SIGINT);
  if (kinds & kStopTerminate) s.push_back(SIGTERM);
  if (kinds & kStopHangUp) s.push_back(SIGHUP);
  return s;
}

void SetHandler(unsigned kinds, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : Signals(kinds)) sigaction(s, &sa, nullptr);
}

}  // namespace

StopRequests::StopRequests(unsigned kinds) : kinds_(kinds) {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  handle_ = g_pipe[0];
  SetHandler(kinds_, OnSignal);
  ok_ = true;
}

StopRequests::~StopRequests() {
  if (!ok_) return;
  SetHandler(kinds_, SIG_DFL);
  for (int& fd : g_pipe) {
    ::close(fd);
    fd = -1;
  }
}

int StopRequests::Take() {
  int first = 0;
  unsigned char buf[16];
  for (ssize_t n; (n = ::read(g_pipe[0], buf, sizeof buf)) > 0;)
    if (first == 0) first = buf[0];
  return first;
}

void StopRequests::Release() {
  if (ok_) SetHandler(kinds_, SIG_DFL);
}

}  // namespace km27
