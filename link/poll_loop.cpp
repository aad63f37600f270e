#include "link/poll_loop.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace km27 {

void PollLoop::Quit() {
  quit_ = true;
  Wake();
}

void PollLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(postLock_);
    posted_.push_back(std::move(fn));
  }
  Wake();
}

PollLoop::TimerId PollLoop::StartTimer(int ms, bool repeat, std::function<void()> fn) {
  const TimerId id = ++nextId_;
  const auto period = std::chrono::milliseconds(std::max(ms, 0));
  timers_[id] = Timer{Clock::now() + period, period, repeat, ++nextArm_, std::move(fn)};
  return id;
}

void PollLoop::RestartTimer(TimerId id, int ms) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.period = std::chrono::milliseconds(std::max(ms, 0));
  it->second.deadline = Clock::now() + it->second.period;
  it->second.armed = ++nextArm_;
}

void PollLoop::StopTimer(TimerId id) { timers_.erase(id); }

bool PollLoop::TimerActive(TimerId id) const { return timers_.count(id) != 0; }

void PollLoop::SetInterest(WatchId id, unsigned interest) {
  auto it = watches_.find(id);
  if (it != watches_.end()) it->second.interest = interest;
}

void PollLoop::Unwatch(WatchId id) { watches_.erase(id); }

bool PollLoop::RunUntil(const std::function<bool()>& done) {
  for (;;) {
    const bool finished = done();
    if (finished || quit_) return finished;
    WaitAndDispatch();
  }
}

std::optional<std::chrono::nanoseconds> PollLoop::WaitLimit() {
  {
    std::lock_guard<std::mutex> lock(postLock_);
    if (!posted_.empty()) return std::chrono::nanoseconds(0);
  }
  if (timers_.empty()) return std::nullopt;
  auto next = timers_.begin()->second.deadline;
  for (const auto& [id, t] : timers_) next = std::min(next, t.deadline);
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now());
  return std::max(left, std::chrono::nanoseconds(0));
}

void PollLoop::Report(WatchId id, unsigned ready) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;  // unwatched by an earlier callback of this round
  auto fn = it->second.fn;            // the callback may unwatch itself
  fn(ready);
}

void PollLoop::RunPosted() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> lock(postLock_);
    calls.swap(posted_);
  }
  for (auto& fn : calls) fn();
}

void PollLoop::RunDueTimers() {
  const auto now = Clock::now();
  struct Due {
    Clock::time_point deadline;
    TimerId id;
    uint64_t armed;
  };
  std::vector<Due> due;
  for (const auto& [id, t] : timers_)
    if (t.deadline <= now) due.push_back({t.deadline, id, t.armed});
  std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) {
    return a.deadline != b.deadline ? a.deadline < b.deadline : a.id < b.id;
  });
  for (const Due& d : due) {
    auto it = timers_.find(d.id);
    // Stopped or started again by a timer that fired before it in this round.
    if (it == timers_.end() || it->second.armed != d.armed) continue;
    auto fn = it->second.fn;
    if (it->second.repeat) {
      // The next period counts from this deadline, as a repeating window timer does; one that
      // fell behind (the loop was busy) fires once and starts afresh.
      it->second.deadline += it->second.period;
      if (it->second.deadline <= now) it->second.deadline = now + it->second.period;
    } else {
      timers_.erase(it);
    }
    fn();
  }
}

}  // namespace km27
