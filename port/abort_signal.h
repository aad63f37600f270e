#pragma once
#include <poll.h>

#include <chrono>

namespace km27 {

// What lets any thread cut a port's waits short: an eventfd, readable while an abort is
// pending, polled beside the line. Shared by every kind of port on POSIX.
class AbortSignal {
 public:
  AbortSignal();
  ~AbortSignal();
  AbortSignal(const AbortSignal&) = delete;
  AbortSignal& operator=(const AbortSignal&) = delete;

  void Raise();
  void Clear();
  bool Raised() const;
  bool Sleep(int ms) const;  // a pause the signal cuts short; false when it did
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Waits on `fds` until `deadline` (nullptr: no limit), to the nanosecond. poll()'s whole
// milliseconds would wake up to 1 ms early and leave the caller spinning out the rest, which
// every 20 ms pause of the link would pay for in processor time.
int PollUntil(pollfd* fds, nfds_t n, const std::chrono::steady_clock::time_point* deadline);

}  // namespace km27
