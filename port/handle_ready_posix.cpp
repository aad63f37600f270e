#include "port/handle_ready.h"

#include <poll.h>

namespace km27 {

bool ReadyNow(std::vector<HandleReadiness>& handles) {
  std::vector<pollfd> fds;
  for (const HandleReadiness& h : handles)
    fds.push_back({int(h.handle), short((h.interest & kReadable ? POLLIN : 0) | (h.interest & kWritable ? POLLOUT : 0)), 0});
  if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) return false;
  for (size_t i = 0; i < fds.size(); ++i) {
    const short r = fds[i].revents;
    unsigned ready = 0;
    if (r & POLLIN) ready |= kReadable;
    if (r & POLLOUT) ready |= kWritable;
    if (r & (POLLHUP | POLLERR | POLLNVAL)) ready |= kHungUp;
    handles[i].ready = ready;
  }
  return true;
}

}  // namespace km27
