#pragma once
#include "port/io_dispatcher.h"

namespace km27 {

// Requests from outside to stop the program, for an event loop to act on. The handler only
// marks the request and makes Handle() ready; everything else happens on the loop's thread.
// POSIX: the signals asked for. Windows: the console's Ctrl+C and Ctrl+Break stand for
// SIGINT, its closing, a log-off and a shut-down for SIGTERM (the system waits a few seconds
// for the loop to finish before it ends the process). One object at a time.
enum StopKind : unsigned {
  kStopInterrupt = 1,  // SIGINT
  kStopTerminate = 2,  // SIGTERM
  kStopHangUp = 4,     // SIGHUP (POSIX only)
};

class StopRequests {
 public:
  explicit StopRequests(unsigned kinds);
  ~StopRequests();  // the system's default handling again
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  bool Ok() const { return ok_; }
  // Readable (on Windows: signalled) while a request waits.
  NativeHandle Handle() const { return handle_; }
  // The signal number of the first request that waited (SIGINT 2, SIGTERM 15, SIGHUP 1 on
  // every system), 0 when none; the handle is quiet again afterwards.
  int Take();
  // Default handling from now on, so that a further request ends the process at once.
  void Release();

 private:
  unsigned kinds_;
  bool ok_ = false;
  NativeHandle handle_ = -1;
};

}  // namespace km27
