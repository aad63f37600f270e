#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "link/event_loop.h"

namespace km27 {

// An event loop without a toolkit, for a program that has no window (km27ctl): timers, file
// descriptors to watch and calls posted from other threads. Everything it calls runs on the
// thread that runs the loop, one thing at a time, never inside another.
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

  // A handle is a file descriptor.
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
  struct FdWatch {
    int fd;
    unsigned interest;
    std::function<void(unsigned)> fn;
  };

  void WaitAndDispatch();
  void RunPosted();
  void RunDueTimers();

  int wakeFd_ = -1;  // eventfd: readable while posted calls wait
  std::atomic<bool> quit_{false};
  std::mutex postLock_;
  std::deque<std::function<void()>> posted_;

  uint64_t nextId_ = 0;
  uint64_t nextArm_ = 0;
  std::map<TimerId, Timer> timers_;
  std::map<WatchId, FdWatch> watches_;
};

}  // namespace km27
