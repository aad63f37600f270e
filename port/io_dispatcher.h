#pragma once
#include <cstdint>
#include <functional>

namespace km27 {

// What a port needs of the event loop it reports through. A handle is watched for readiness: a
// descriptor that becomes readable or writable on POSIX, an event object that completed I/O
// signals on Windows (there `kReadable` stands for "signalled"). Everything watched is called
// on the loop's thread; Post may be called from any thread.
//
// On Windows the loop cannot tell "writable": an interest in kWritable is accepted and ignored,
// and a port that wants to say it can write again posts that itself. A watched event stays
// signalled until the port resets it (a manual-reset event, reset when the port starts its next
// read); one left set is reported again at once.
using NativeHandle = intptr_t;

enum Readiness : unsigned {
  kReadable = 1,
  kWritable = 2,
  kHungUp = 4,  // reported whether asked for or not, as is an error on the handle
};

class IoDispatcher {
 public:
  using WatchId = uint64_t;
  virtual ~IoDispatcher() = default;

  // `fn` gets the readiness that stands (a set of Readiness bits) whenever one of `interest`
  // does, or the handle hung up.
  virtual WatchId WatchHandle(NativeHandle handle, unsigned interest, std::function<void(unsigned ready)> fn) = 0;
  virtual void SetInterest(WatchId id, unsigned interest) = 0;
  virtual void Unwatch(WatchId id) = 0;  // from within `fn` too

  // Runs `fn` on the loop's thread, after what was posted before it.
  virtual void Post(std::function<void()> fn) = 0;
};

}  // namespace km27
