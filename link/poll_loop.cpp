#include "link/poll_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace km27 {

PollLoop::PollLoop() { wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

PollLoop::~PollLoop() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void PollLoop::Quit() {
  quit_ = true;
  const uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

void PollLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(postLock_);
    posted_.push_back(std::move(fn));
  }
  const uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
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

PollLoop::WatchId PollLoop::WatchHandle(NativeHandle handle, unsigned interest, std::function<void(unsigned)> fn) {
  const WatchId id = ++nextId_;
  watches_[id] = FdWatch{int(handle), interest, std::move(fn)};
  return id;
}

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

void PollLoop::WaitAndDispatch() {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.push_back({wakeFd_, POLLIN, 0});
  for (const auto& [id, w] : watches_) {
    fds.push_back({w.fd, short(((w.interest & kReadable) ? POLLIN : 0) | ((w.interest & kWritable) ? POLLOUT : 0)), 0});
    ids.push_back(id);
  }
  // Until the next timer, to the nanosecond: a whole-millisecond limit would wake early and
  // spin out the rest, and the code box's pauses are timed to the millisecond on the wire.
  timespec limit{};
  timespec* wait = nullptr;
  if (!timers_.empty()) {
    auto next = timers_.begin()->second.deadline;
    for (const auto& [id, t] : timers_) next = std::min(next, t.deadline);
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count();
    if (left < 0) left = 0;
    limit = timespec{time_t(left / 1000000000), long(left % 1000000000)};
    wait = &limit;
  }
  {
    std::lock_guard<std::mutex> lock(postLock_);
    if (!posted_.empty()) {
      limit = timespec{};
      wait = &limit;
    }
  }
  const int r = ::ppoll(fds.data(), fds.size(), wait, nullptr);
  if (r < 0 && errno != EINTR) return;
  if (r > 0 && (fds[0].revents & POLLIN)) {
    uint64_t v;
    (void)!::read(wakeFd_, &v, sizeof v);
  }
  RunPosted();
  // What arrived is handled before the timers that fell due meanwhile: bytes that came within a
  // period belong to it, even when the loop was late to look.
  for (size_t i = 1; r > 0 && i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    auto it = watches_.find(ids[i - 1]);
    if (it == watches_.end()) continue;  // unwatched by an earlier callback of this round
    auto fn = it->second.fn;            // the callback may unwatch itself
    const short r = fds[i].revents;
    unsigned ready = 0;
    if (r & POLLIN) ready |= kReadable;
    if (r & POLLOUT) ready |= kWritable;
    if (r & (POLLHUP | POLLERR | POLLNVAL)) ready |= kHungUp;
    fn(ready);
  }
  RunDueTimers();
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
