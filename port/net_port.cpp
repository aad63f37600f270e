#include "port/net_port.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace km27 {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : int((left + 999) / 1000);
}

std::string SystemText(int err) {
  char buf[256];
  return strerror_r(err, buf, sizeof buf);  // GNU: the text need not be in buf
}

bool IsDropped(int err) {
  return err == ECONNRESET || err == EPIPE || err == ENOTCONN || err == ECONNABORTED || err == ETIMEDOUT ||
         err == EHOSTUNREACH || err == ENETUNREACH || err == EIO;
}

}  // namespace

NetPort::NetPort(NetScheme scheme, bool doubleIac) : scheme_(scheme), doubleIac_(doubleIac) {}

NetPort::~NetPort() { Close(); }

bool NetPort::Fail(int err, const std::string& text) {
  lastError_ = err;
  errorText_ = text;
  return false;
}

std::string NetPort::LastErrorText() const {
  if (!errorText_.empty()) return errorText_;
  if (lastError_ == 0) return {};
  return SystemText(lastError_);
}

bool NetPort::Connect(const NetUrl& u) {
  const std::string where = (u.host.find(':') != std::string::npos ? "[" + u.host + "]" : u.host) + ":" +
                            std::to_string(u.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int gai = getaddrinfo(u.host.c_str(), std::to_string(u.port).c_str(), &hints, &found);
  if (gai != 0) {
    const int err = gai == EAI_SYSTEM ? errno : EHOSTUNREACH;
    return Fail(err, where + ": " + gai_strerror(gai));
  }
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(timing_.connectMs);
  int err = ETIMEDOUT;
  for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    const auto tried = Clock::now();
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      pollfd p[2] = {{fd, POLLOUT, 0}, {abort_.Fd(), POLLIN, 0}};
      do {
        r = ::poll(p, 2, MsLeft(deadline));
      } while (r < 0 && errno == EINTR);
      if (p[1].revents & POLLIN) {
        ::close(fd);
        freeaddrinfo(found);
        return Fail(EINTR, where + ": " + SystemText(EINTR));
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
      rttUs_ = long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - tried).count());
      fd_ = fd;
    } else {
      ::close(fd);
    }
    if (Clock::now() >= deadline) break;
  }
  freeaddrinfo(found);
  if (fd_ < 0) return Fail(err, where + ": " + SystemText(err));
  // Every exchange with a lower machine is a few bytes each way: Nagle's wait for the
  // acknowledgement of the last segment would add tens of milliseconds to each.
  const int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool NetPort::Open(const std::string& url, OpenDevices*) {
  Close();
  NetUrl u;
  const UrlProblem problem = ParseNetUrl(url, &u);
  if (problem != UrlProblem::None) return Fail(EINVAL, url + ": " + UrlProblemText(problem));
  if (u.scheme != scheme_) return Fail(EINVAL, url + ": " + UrlProblemText(UrlProblem::UnknownScheme));
  if (!Connect(u)) return false;
  path_ = url;
  url_ = u;
  eof_ = false;
  wrote_ = false;
  in_.clear();
  pending_.clear();
  early_.clear();
  Reset();
  bool ok = Start();
  if (ok) {
    // A server that keeps its line for another client closes right after accepting, some
    // with a word first: the close comes within a round trip or two.
    const auto settleEnd = Clock::now() + std::chrono::milliseconds(std::min<long>(2 * rttUs_ / 1000 + 10, timing_.connectMs));
    bool timedOut = false;
    while (WaitInput(MsLeft(settleEnd), &timedOut)) {
    }
    ok = timedOut && early_.find("in use") == std::string::npos;
  }
  if (!ok && (eof_ || early_.find("in use") != std::string::npos)) Fail(EBUSY, url + ": " + SystemText(EBUSY));
  if (!ok) {
    const int err = lastError_;
    const std::string text = errorText_;
    Close();
    return Fail(err, text);
  }
  in_.clear();  // what came before the open is no answer of ours
  lastError_ = 0;
  errorText_.clear();
  return true;
}

int NetPort::NetworkAllowanceMs() const {
  if (fd_ < 0) return 0;
  if (url_.allowanceMs >= 0) return url_.allowanceMs;
  // A server gathers what its line gives it before sending it on (ser2net for up to 20 ms),
  // which no round trip shows: a device's answer comes in pieces with gaps of that order.
  constexpr int kServerGatherMs = 40;
  return kServerGatherMs + int((rttUs_ + 999) / 1000);
}

void NetPort::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  in_.clear();
  pending_.clear();
}

bool NetPort::Pump() {
  if (fd_ < 0) return false;
  uint8_t buf[4096];
  while (!eof_) {
    const ssize_t got = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (got > 0) {
      if (!wrote_ && early_.size() < 512) early_.append(reinterpret_cast<const char*>(buf), size_t(got));
      Take(buf, size_t(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    eof_ = true;
    lastError_ = got == 0 ? ECONNRESET : errno;
  }
  return false;
}

bool NetPort::WaitInput(int ms, bool* timedOut) {
  *timedOut = false;
  // What came before is taken already: anything in the socket makes the poll return at once.
  if (fd_ < 0 || eof_) return false;
  pollfd p[2] = {{fd_, POLLIN, 0}, {abort_.Fd(), POLLIN, 0}};
  const int r = ::poll(p, 2, std::max(ms, 0));
  if (r < 0) return errno == EINTR || Fail(errno);
  if (p[1].revents & POLLIN) return Fail(EINTR);
  if (r == 0) {
    *timedOut = true;
    return false;
  }
  return Pump();  // the caller looks at what came
}

IoStatus NetPort::Gone() {
  if (lastError_ == 0) lastError_ = ECONNRESET;
  return IoStatus::HungUp;
}

IoStatus NetPort::SocketFailure(int err) {
  lastError_ = err;
  if (IsDropped(err)) {
    eof_ = true;
    return IoStatus::HungUp;
  }
  return IoStatus::Error;
}

size_t NetPort::TakeInput(uint8_t* buf, size_t n) {
  const size_t k = std::min(n, in_.size());
  std::copy(in_.begin(), in_.begin() + long(k), buf);
  in_.erase(in_.begin(), in_.begin() + long(k));
  return k;
}

bool NetPort::FlushPending() {
  while (!pending_.empty()) {
    const ssize_t w = ::send(fd_, pending_.data(), pending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (w > 0) {
      pending_.erase(pending_.begin(), pending_.begin() + w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      SocketFailure(w == 0 ? EPIPE : errno);
      return false;
    }
  }
  return true;
}

IoResult NetPort::WriteAvailable(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  if (!wrote_) {
    Pump();  // what the server said before our first word goes where the kind of port says
    wrote_ = true;
  }
  if (eof_) {
    res.status = Gone();
    return res;
  }
  if (!FlushPending()) {
    res.status = IoStatus::HungUp;
    return res;
  }
  if (!pending_.empty() || n == 0) return res;
  std::vector<uint8_t> wire;
  wire.reserve(n + 8);
  for (size_t i = 0; i < n; ++i) {
    wire.push_back(data[i]);
    if (doubleIac_ && data[i] == 0xFF) wire.push_back(0xFF);
  }
  ssize_t w;
  do {
    w = ::send(fd_, wire.data(), wire.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (w < 0 && errno == EINTR);
  if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return res;
  if (w <= 0) {
    res.status = SocketFailure(w == 0 ? EPIPE : errno);
    return res;
  }
  // Device bytes the socket took; half of a doubled 0xFF counts, its other half goes first next.
  size_t sent = size_t(w);
  for (size_t i = 0; i < n && sent > 0; ++i) {
    const size_t len = doubleIac_ && data[i] == 0xFF ? 2 : 1;
    ++res.count;
    if (sent < len) pending_.push_back(0xFF);
    sent -= std::min(sent, len);
  }
  return res;
}

IoResult NetPort::Write(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  const auto& t = timeouts_;
  const bool limited = t.writeTotalConstantMs > 0 || t.writeTotalPerByteMs > 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(t.writeTotalConstantMs + int64_t(t.writeTotalPerByteMs) * int64_t(n));
  for (;;) {
    const IoResult part = WriteAvailable(data + res.count, n - res.count);
    res.count += part.count;
    if (!part.Ok()) {
      res.status = part.status;
      return res;
    }
    if (res.count == n && pending_.empty()) return res;
    if (limited && Clock::now() >= deadline) {
      res.status = IoStatus::TimedOut;
      return res;
    }
    pollfd p[2] = {{fd_, POLLOUT, 0}, {abort_.Fd(), POLLIN, 0}};
    const int r = ::poll(p, 2, limited ? std::max(MsLeft(deadline), 1) : -1);
    if (r < 0 && errno != EINTR) {
      res.status = SocketFailure(errno);
      return res;
    }
    if (p[1].revents & POLLIN) {
      res.status = IoStatus::Aborted;
      return res;
    }
    if (p[0].revents & (POLLERR | POLLNVAL)) {
      res.status = SocketFailure(ECONNRESET);
      return res;
    }
  }
}

bool NetPort::SendControl(const std::vector<uint8_t>& bytes) {
  if (fd_ < 0) return Fail(EBADF);
  if (!FlushPending()) return false;  // the data before them goes first
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timing_.connectMs);
  while (done < bytes.size()) {
    const ssize_t w = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (w > 0) {
      done += size_t(w);
      continue;
    }
    if (w == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      SocketFailure(w == 0 ? EPIPE : errno);
      return false;
    }
    if (Clock::now() >= deadline) return Fail(ETIMEDOUT);
    pollfd p[2] = {{fd_, POLLOUT, 0}, {abort_.Fd(), POLLIN, 0}};
    if (::poll(p, 2, std::max(MsLeft(deadline), 1)) > 0 && (p[1].revents & POLLIN)) return Fail(EINTR);
  }
  return true;
}

IoResult NetPort::Read(uint8_t* buf, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  const auto& t = timeouts_;
  const bool totalLimited = t.readTotalConstantMs > 0 || t.readTotalPerByteMs > 0;
  const auto totalDeadline = Clock::now() + std::chrono::milliseconds(t.readTotalConstantMs + int64_t(t.readTotalPerByteMs) * int64_t(n));
  Clock::time_point lastByte{};
  if (n > 0 && AbortRequested()) {  // as a serial line's read would see, before any byte
    res.status = IoStatus::Aborted;
    return res;
  }
  // Only the device's bytes count: the server's Telnet words neither fill the read nor hold
  // off its interval limit.
  res.count = TakeInput(buf, n);
  if (res.count > 0) lastByte = Clock::now();
  while (res.count < n) {
    if (eof_) {
      res.status = Gone();
      return res;
    }
    bool limited = totalLimited;
    Clock::time_point deadline = totalDeadline;
    if (res.count > 0 && t.readIntervalMs > 0) {
      const auto gap = lastByte + std::chrono::milliseconds(t.readIntervalMs);
      deadline = limited ? std::min(deadline, gap) : gap;
      limited = true;
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {abort_.Fd(), POLLIN, 0}};
    int timeout = -1;
    if (limited) {
      if (Clock::now() >= deadline) {
        res.status = IoStatus::TimedOut;
        return res;
      }
      timeout = std::max(MsLeft(deadline), 1);
    }
    const int r = ::poll(p, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      res.status = SocketFailure(errno);
      return res;
    }
    if (p[1].revents & POLLIN) {
      res.status = IoStatus::Aborted;
      return res;
    }
    if (r == 0) continue;  // the deadline check above decides
    Pump();
    const size_t got = TakeInput(buf + res.count, n - res.count);
    if (got > 0) {
      res.count += got;
      lastByte = Clock::now();
    }
  }
  return res;
}

IoResult NetPort::ReadAvailable(uint8_t* buf, size_t max) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  Pump();
  res.count = TakeInput(buf, max);
  if (res.count == 0 && eof_) res.status = Gone();
  return res;
}

int NetPort::InBufferCount() const {
  if (fd_ < 0) return -1;
  const_cast<NetPort*>(this)->Pump();  // Telnet words are no input: only what they leave counts
  return int(in_.size());
}

int NetPort::OutBufferCount() const {
  if (fd_ < 0) return 0;
  int queued = 0;
  if (ioctl(fd_, SIOCOUTQ, &queued) != 0) queued = 0;
  return queued + int(pending_.size());
}

bool NetPort::Purge(bool input, bool) {
  if (fd_ < 0) return Fail(EBADF);
  if (input) {
    Pump();
    in_.clear();
  }
  return true;  // what the socket took is the server's: it cannot be called back from here
}

bool NetPort::Drain() {
  if (fd_ < 0) return Fail(EBADF);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timing_.connectMs);
  while (OutBufferCount() > 0) {
    if (!pending_.empty() && !FlushPending()) return false;
    if (eof_) return Fail(ECONNRESET);
    if (Clock::now() >= deadline) return Fail(ETIMEDOUT);
    if (!Sleep(1)) return Fail(EINTR);
  }
  return true;
}

void NetPort::Abort() { abort_.Raise(); }

void NetPort::ClearAbort() { abort_.Clear(); }

bool NetPort::AbortRequested() const { return abort_.Raised(); }

bool NetPort::Sleep(int ms) { return abort_.Sleep(ms); }

// The socket watched on the loop. For Telnet a readable socket may hold only the server's
// words: `received` fires when device bytes are there once they are taken out.
class NetPortWatch : public PortWatch {
 public:
  NetPortWatch(IoDispatcher& loop, NetPort& port, PortEvents events)
      : loop_(loop), port_(port), events_(std::move(events)) {
    id_ = loop_.WatchHandle(port_.fd_, kReadable, [this](unsigned ready) { OnReady(ready); });
  }
  ~NetPortWatch() override {
    *alive_ = false;
    if (id_) loop_.Unwatch(id_);
  }
  void WantWritable(bool want) override {
    if (id_) loop_.SetInterest(id_, want ? kReadable | kWritable : kReadable);
  }

 private:
  void OnReady(unsigned ready) {
    if ((ready & kWritable) && events_.writable) events_.writable();
    if (ready & (kReadable | kHungUp)) {
      port_.Pump();
      Deliver();
    }
  }
  void Deliver() {
    const auto alive = alive_;
    const size_t before = port_.in_.size();
    if (before > 0 && events_.received) events_.received();
    if (!*alive) return;
    const size_t after = port_.in_.size();
    // The socket no longer says these bytes are there: ask again while the reader makes progress.
    if (after > 0 && after < before) {
      loop_.Post([this, alive] {
        if (*alive) Deliver();
      });
      return;
    }
    if (port_.eof_ && after == 0 && id_) {
      loop_.Unwatch(id_);  // nothing more will come; watching on would only spin
      id_ = 0;
      if (events_.lost) events_.lost();
    }
  }

  IoDispatcher& loop_;
  NetPort& port_;
  PortEvents events_;
  IoDispatcher::WatchId id_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::unique_ptr<PortWatch> NetPort::Watch(IoDispatcher& loop, PortEvents events) {
  if (fd_ < 0) return nullptr;
  return std::make_unique<NetPortWatch>(loop, *this, std::move(events));
}

}  // namespace km27
