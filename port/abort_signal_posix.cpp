#include "port/abort_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace km27 {

using Clock = std::chrono::steady_clock;

AbortSignal::AbortSignal() { handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

AbortSignal::~AbortSignal() {
  if (handle_ >= 0) ::close(Fd());
}

void AbortSignal::Raise() {
  uint64_t one = 1;
  if (Fd() >= 0) (void)!::write(Fd(), &one, sizeof one);
}

void AbortSignal::Clear() {
  uint64_t v;
  if (Fd() >= 0) (void)!::read(Fd(), &v, sizeof v);
}

bool AbortSignal::Raised() const {
  if (Fd() < 0) return false;
  pollfd p{Fd(), POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

bool AbortSignal::Sleep(int ms) const {
  if (ms <= 0) return !Raised();
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pollfd p{Fd(), POLLIN, 0};
    const int r = PollUntil(&p, Fd() >= 0 ? 1 : 0, &deadline);
    if (r > 0) return false;
    if (r < 0 && errno != EINTR) return true;
    if (Clock::now() >= deadline) return true;
  }
}

int PollUntil(pollfd* fds, unsigned long n, const Clock::time_point* deadline) {
  if (!deadline) return ::ppoll(fds, n, nullptr, nullptr);
  auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - Clock::now()).count();
  if (left < 0) left = 0;
  timespec ts{time_t(left / 1000000000), long(left % 1000000000)};
  return ::ppoll(fds, n, &ts, nullptr);
}

}  // namespace km27
