#include "link/poll_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace km27 {

PollLoop::PollLoop() { wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

PollLoop::~PollLoop() {
  if (wake_ >= 0) ::close(int(wake_));
}

void PollLoop::Wake() {
  const uint64_t one = 1;
  if (wake_ >= 0) (void)!::write(int(wake_), &one, sizeof one);
}

PollLoop::WatchId PollLoop::WatchHandle(NativeHandle handle, unsigned interest, std::function<void(unsigned)> fn) {
  const WatchId id = ++nextId_;
  watches_[id] = Watch{handle, interest, std::move(fn)};
  return id;
}

void PollLoop::WaitAndDispatch() {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.push_back({int(wake_), POLLIN, 0});
  for (const auto& [id, w] : watches_) {
    fds.push_back({int(w.handle), short(((w.interest & kReadable) ? POLLIN : 0) | ((w.interest & kWritable) ? POLLOUT : 0)), 0});
    ids.push_back(id);
  }
  // Until the next timer, to the nanosecond: a whole-millisecond limit would wake early and
  // spin out the rest, and the code box's pauses are timed to the millisecond on the wire.
  timespec limit{};
  timespec* wait = nullptr;
  if (const auto left = WaitLimit()) {
    limit = timespec{time_t(left->count() / 1000000000), long(left->count() % 1000000000)};
    wait = &limit;
  }
  const int r = ::ppoll(fds.data(), fds.size(), wait, nullptr);
  if (r < 0 && errno != EINTR) return;
  if (r > 0 && (fds[0].revents & POLLIN)) {
    uint64_t v;
    (void)!::read(int(wake_), &v, sizeof v);
  }
  RunPosted();
  // What arrived is handled before the timers that fell due meanwhile: bytes that came within a
  // period belong to it, even when the loop was late to look.
  for (size_t i = 1; r > 0 && i < fds.size(); ++i) {
    const short ev = fds[i].revents;
    if (!ev) continue;
    unsigned ready = 0;
    if (ev & POLLIN) ready |= kReadable;
    if (ev & POLLOUT) ready |= kWritable;
    if (ev & (POLLHUP | POLLERR | POLLNVAL)) ready |= kHungUp;
    Report(ids[i - 1], ready);
  }
  RunDueTimers();
}

}  // namespace km27
