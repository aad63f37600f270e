#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/io_dispatcher.h"

namespace km27 {

class AbortSignal;

// Whole milliseconds until `deadline`, rounded up (a wait never ends before it); 0 once past.
inline int MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left <= 0 ? 0 : int((left + 999) / 1000);
}

// One TCP connection as the system has it: what a network port asks of the system, so that the
// port's own rules are the same everywhere. Errors are errno numbers on every system. Never
// blocks but in the waits, which the port's abort cuts short.
class NetSocket {
 public:
  enum class Wait { Ready, TimedOut, Aborted, Failed };

  NetSocket();
  ~NetSocket();
  NetSocket(const NetSocket&) = delete;
  NetSocket& operator=(const NetSocket&) = delete;

  bool IsOpen() const { return socket_ != -1; }
  // Resolves `host` and connects to the first of its addresses that answers, within `ms` for
  // all together. 0, or an errno number (EINTR: aborted); `resolverText` says why when the name
  // could not be resolved. `rttUs` is the handshake's time.
  int Connect(const std::string& host, int port, int ms, const AbortSignal& abort, long* rttUs,
              std::string* resolverText);
  void Close();

  // Bytes moved, 0 when the socket would block, else minus an errno number (the peer's close is
  // -ECONNRESET; a send that took nothing, -EPIPE).
  long Receive(uint8_t* buf, size_t n);
  long Send(const uint8_t* data, size_t n);
  // Until the socket is readable (or writable), `ms` at most (negative: no limit). Ready may be
  // spurious (a signal); Failed sets `err`.
  Wait WaitReadable(int ms, const AbortSignal& abort, int* err);
  Wait WaitWritable(int ms, const AbortSignal& abort, int* err);
  int Queued() const;  // sent, not yet acknowledged by the peer; 0 where the system cannot tell

  // What the loop watches: the descriptor on POSIX, the socket's event object on Windows.
  NativeHandle ReadyHandle() const;
  // Called before taking what the loop reported: there the event is reset and what it stood for
  // returned as Readiness bits (kWritable when a blocked send may go on); 0 on POSIX, where the
  // loop tells it all.
  unsigned Settle();
  // Whether the loop reports "writable" for ReadyHandle; where it does not, the port says so.
  static const bool kLoopTellsWritable;
  bool SendBlocked() const { return blocked_; }

  static std::string ErrorText(int err);

 private:
  NativeHandle socket_ = -1;
  NativeHandle event_ = -1;  // Windows: the event the socket's network events set
  bool blocked_ = false;     // Windows: the last send would have blocked; FD_WRITE follows
};

}  // namespace km27
