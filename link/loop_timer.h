#pragma once
#include <functional>

#include "link/event_loop.h"

namespace km27 {

// One timer of an engine on its loop, by name rather than by id: started again it restarts its
// period; it goes with its owner.
class LoopTimer {
 public:
  LoopTimer(EventLoop& loop, std::function<void()> fn) : loop_(loop), fn_(std::move(fn)) {}
  ~LoopTimer() { Stop(); }
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;

  // Fires every `ms` until stopped, or once.
  void Start(int ms, bool repeat = true) {
    if (Active() && repeat == repeat_) {
      loop_.RestartTimer(id_, ms);
      return;
    }
    Stop();
    repeat_ = repeat;
    id_ = loop_.StartTimer(ms, repeat, fn_);
  }
  void Stop() {
    if (id_ != 0) loop_.StopTimer(id_);
    id_ = 0;
  }
  bool Active() const { return id_ != 0 && loop_.TimerActive(id_); }

 private:
  EventLoop& loop_;
  std::function<void()> fn_;
  EventLoop::TimerId id_ = 0;
  bool repeat_ = true;
};

}  // namespace km27
