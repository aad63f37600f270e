#pragma once
#include <chrono>

#include "port/io_dispatcher.h"

struct pollfd;

namespace km27 {

// What lets any thread cut a port's waits short, waited on beside the line: an eventfd,
// readable while an abort is pending, on POSIX; a manual-reset event, signalled while one is
// pending, on Windows. Shared by every kind of port.
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
  NativeHandle Handle() const { return handle_; }
  int Fd() const { return int(handle_); }  // POSIX

 private:
  NativeHandle handle_ = -1;
};

// POSIX: waits on `fds` until `deadline` (nullptr: no limit), to the nanosecond. poll()'s
// whole milliseconds would wake up to 1 ms early and leave the caller spinning out the rest,
// which every 20 ms pause of the link would pay for in processor time.
int PollUntil(pollfd* fds, unsigned long n, const std::chrono::steady_clock::time_point* deadline);

}  // namespace km27
