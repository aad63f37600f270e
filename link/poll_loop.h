#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "link/event_loop.h"

namespace km27 {

// An event loop without a toolkit, for a program that has no window (km27ctl): timers, handles
// to watch and calls posted from other threads. Everything it calls runs on the thread that
// runs the loop, one thing at a time, never inside another.
//
// Timers, watches and RunUntil are for the loop's thread; Post and Quit for any thread.
class PollLoop : public EventLoop {
 public:
  using Clock = std::chrono::steady_clock;

  PollLoop();
  ~PollLoop();
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  // Handles what falls due until `done` holds (checked before each wait) or Quit() was called;
  // returns `done`'s last answer.
  bool RunUntil(const std::function<bool()>& done);
  void Quit();

  TimerId StartTimer(int ms, bool repeat, std::function<void()> fn) override;
  void RestartTimer(TimerId id, int ms) override;
  void StopTimer(TimerId id) override;
  bool TimerActive(TimerId id) const override;

  // A handle is a file descriptor on POSIX, an event object on Windows. Windows waits on at
  // most 64 objects, one of them the loop's own: there a watch beyond kMaxWatches is refused
  // (WatchHandle returns 0 and watches nothing). Nor does Windows tell "writable": kWritable is
  // accepted and ignored there, the port reports it itself.
  static constexpr size_t kMaxWatches = 63;
  WatchId WatchHandle(NativeHandle handle, unsigned interest, std::function<void(unsigned ready)> fn) override;
  void SetInterest(WatchId id, unsigned interest) override;
  void Unwatch(WatchId id) override;
  void Post(std::function<void()> fn) override;

 private:
  struct Timer {
    Clock::time_point deadline;
    std::chrono::milliseconds period;
    bool repeat;
    uint64_t armed;  // which start of the timer the deadline belongs to
    std::function<void()> fn;
  };
  struct Watch {
    NativeHandle handle;
    unsigned interest;
    std::function<void(unsigned)> fn;
  };

  // The system's part: one wait, then what is ready, posted calls and due timers.
  void WaitAndDispatch();
  void Wake();
  // How long the wait may last: none while calls wait to run, else until the nearest timer
  // (nullopt: no timer, wait for an event).
  std::optional<std::chrono::nanoseconds> WaitLimit();
  void Report(WatchId id, unsigned ready);
  void RunPosted();
  void RunDueTimers();

  // Ready while posted calls wait or Quit was called: an eventfd on POSIX, an auto-reset event
  // on Windows; -1 when the system gave none.
  NativeHandle wake_ = -1;
  std::atomic<bool> quit_{false};
  std::mutex postLock_;
  std::deque<std::function<void()>> posted_;

  uint64_t nextId_ = 0;
  uint64_t nextArm_ = 0;
  std::map<TimerId, Timer> timers_;
  std::map<WatchId, Watch> watches_;
};

}  // namespace km27
