#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace km27 {

// An event loop without a toolkit, for a program that has no window (km27ctl): timers, file
// descriptors to watch and calls posted from other threads. Everything it calls runs on the
// thread that runs the loop, one thing at a time, never inside another.
//
// Timers, watches and RunUntil are for the loop's thread; Post and Quit for any thread.
class PollLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using TimerId = uint64_t;
  using WatchId = uint64_t;

  PollLoop();
  ~PollLoop();
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  // Handles what falls due until `done` holds (checked before each wait) or Quit() was called;
  // returns `done`'s last answer.
  bool RunUntil(const std::function<bool()>& done);
  void Quit();

  // A timer fires `ms` after it was started, and then every `ms` if it repeats; starting one
  // again restarts its period. Timers due at once fire in the order of their deadlines.
  TimerId StartTimer(int ms, bool repeat, std::function<void()> fn);
  void RestartTimer(TimerId id, int ms);
  void StopTimer(TimerId id);
  bool TimerActive(TimerId id) const;

  // `fn` gets poll()'s revents whenever `events` (or an error or hang-up) stands on `fd`.
  WatchId Watch(int fd, short events, std::function<void(short revents)> fn);
  void SetWatchEvents(WatchId id, short events);
  void Unwatch(WatchId id);

  // Runs `fn` on the loop's thread, after what was posted before it.
  void Post(std::function<void()> fn);

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
    short events;
    std::function<void(short)> fn;
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
