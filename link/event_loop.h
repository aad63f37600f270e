#pragma once
#include <cstdint>
#include <functional>

#include "port/io_dispatcher.h"

namespace km27 {

// What the engines and the code box's comm control need of the loop that runs them: timers,
// calls posted from other threads, and (through IoDispatcher) the port's events. The command
// line and the simulators run a PollLoop; the window runs one on Qt's own loop. Everything is
// called on the loop's thread, one thing at a time, never inside another; Post from any thread.
class EventLoop : public IoDispatcher {
 public:
  using TimerId = uint64_t;

  // A timer fires `ms` after it was started, and then every `ms` if it repeats; starting one
  // again restarts its period. Timers due at once fire in the order of their deadlines. A timer
  // may stop or restart itself, or any other, from its own call.
  virtual TimerId StartTimer(int ms, bool repeat, std::function<void()> fn) = 0;
  virtual void RestartTimer(TimerId id, int ms) = 0;
  virtual void StopTimer(TimerId id) = 0;
  virtual bool TimerActive(TimerId id) const = 0;
};

}  // namespace km27
