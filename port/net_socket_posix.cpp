#include "port/net_socket.h"

#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "model/messages.h"
#include "port/abort_signal.h"

namespace km27 {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

const bool NetSocket::kLoopTellsWritable = true;

NetSocket::NetSocket() = default;

NetSocket::~NetSocket() { Close(); }

std::string NetSocket::ErrorText(int err) {
  if (std::string common = CommonSystemReason(err); !common.empty()) return common;
  char buf[256];
  return strerror_r(err, buf, sizeof buf);  // GNU: the text need not be in buf
}

int NetSocket::Connect(const std::string& host, int port, int ms, const AbortSignal& abort, long* rttUs,
                       std::string* resolverText) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (gai != 0) {
    const int err = gai == EAI_SYSTEM ? errno : EHOSTUNREACH;
    *resolverText = gai_strerror(gai);
    return err;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  int err = ETIMEDOUT;
  int connected = -1;
  for (addrinfo* a = found; a && connected < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    const auto tried = Clock::now();
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      pollfd p[2] = {{fd, POLLOUT, 0}, {abort.Fd(), POLLIN, 0}};
      do {
        r = ::poll(p, 2, MsLeft(deadline));
      } while (r < 0 && errno == EINTR);
      if (p[1].revents & POLLIN) {
        ::close(fd);
        freeaddrinfo(found);
        return EINTR;
      }
      socklen_t len = sizeof err;
      if (r == 0) {
        err = ETIMEDOUT;
      } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
      }
      r = err == 0 ? 0 : -1;
    } else if (r != 0) {
      err = errno;
    }
    if (r == 0) {
      *rttUs = long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - tried).count());
      connected = fd;
    } else {
      ::close(fd);
    }
    if (Clock::now() >= deadline) break;
  }
  freeaddrinfo(found);
  if (connected < 0) return err;
  // Every exchange with a lower machine is a few bytes each way: Nagle's wait for the
  // acknowledgement of the last segment would add tens of milliseconds to each.
  const int one = 1;
  setsockopt(connected, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  socket_ = connected;
  return 0;
}

void NetSocket::Close() {
  if (socket_ != -1) ::close(int(socket_));
  socket_ = -1;
}

long NetSocket::Receive(uint8_t* buf, size_t n) {
  for (;;) {
    const ssize_t got = ::recv(int(socket_), buf, n, MSG_DONTWAIT);
    if (got > 0) return long(got);
    if (got == 0) return -ECONNRESET;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -errno;
  }
}

long NetSocket::Send(const uint8_t* data, size_t n) {
  for (;;) {
    const ssize_t w = ::send(int(socket_), data, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (w > 0) return long(w);
    if (w == 0) return -EPIPE;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -errno;
  }
}

namespace {

NetSocket::Wait PollWith(int fd, short what, int ms, const AbortSignal& abort, int* err) {
  pollfd p[2] = {{fd, what, 0}, {abort.Fd(), POLLIN, 0}};
  const int r = ::poll(p, 2, ms < 0 ? -1 : ms);
  if (r < 0) {
    if (errno == EINTR) return NetSocket::Wait::Ready;
    *err = errno;
    return NetSocket::Wait::Failed;
  }
  if (p[1].revents & POLLIN) return NetSocket::Wait::Aborted;
  if (r == 0) return NetSocket::Wait::TimedOut;
  if (what == POLLOUT && (p[0].revents & (POLLERR | POLLNVAL))) {
    *err = ECONNRESET;
    return NetSocket::Wait::Failed;
  }
  return NetSocket::Wait::Ready;
}

}  // namespace

NetSocket::Wait NetSocket::WaitReadable(int ms, const AbortSignal& abort, int* err) {
  return PollWith(int(socket_), POLLIN, ms, abort, err);
}

NetSocket::Wait NetSocket::WaitWritable(int ms, const AbortSignal& abort, int* err) {
  return PollWith(int(socket_), POLLOUT, ms, abort, err);
}

int NetSocket::Queued() const {
  int queued = 0;
  if (ioctl(int(socket_), SIOCOUTQ, &queued) != 0) queued = 0;
  return queued;
}

NativeHandle NetSocket::ReadyHandle() const { return socket_; }

unsigned NetSocket::Settle() { return 0; }

}  // namespace km27
