#include "port/net_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace km27 {

namespace {

using Clock = std::chrono::steady_clock;

std::string SystemText(int err) { return NetSocket::ErrorText(err); }

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
  std::string resolver;
  const int err = socket_.Connect(u.host, u.port, timing_.connectMs, abort_, &rttUs_, &resolver);
  if (err == 0) return true;
  return Fail(err, where + ": " + (resolver.empty() ? SystemText(err) : resolver));
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
  if (!IsOpen()) return 0;
  if (url_.allowanceMs >= 0) return url_.allowanceMs;
  // A server gathers what its line gives it before sending it on (ser2net for up to 20 ms),
  // which no round trip shows: a device's answer comes in pieces with gaps of that order.
  constexpr int kServerGatherMs = 40;
  return kServerGatherMs + int((rttUs_ + 999) / 1000);
}

void NetPort::Close() {
  socket_.Close();
  path_.clear();
  in_.clear();
  pending_.clear();
}

bool NetPort::Pump() {
  if (!IsOpen()) return false;
  uint8_t buf[4096];
  while (!eof_) {
    const long got = socket_.Receive(buf, sizeof buf);
    if (got > 0) {
      if (!wrote_ && early_.size() < 512) early_.append(reinterpret_cast<const char*>(buf), size_t(got));
      Take(buf, size_t(got));
      continue;
    }
    if (got == 0) return true;
    eof_ = true;
    lastError_ = int(-got);
  }
  return false;
}

bool NetPort::WaitInput(int ms, bool* timedOut) {
  *timedOut = false;
  // What came before is taken already: anything in the socket makes the wait return at once.
  if (!IsOpen() || eof_) return false;
  int err = 0;
  switch (socket_.WaitReadable(std::max(ms, 0), abort_, &err)) {
    case NetSocket::Wait::Failed:
      return Fail(err);
    case NetSocket::Wait::Aborted:
      return Fail(EINTR);
    case NetSocket::Wait::TimedOut:
      *timedOut = true;
      return false;
    case NetSocket::Wait::Ready:
      break;
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
    const long w = socket_.Send(pending_.data(), pending_.size());
    if (w == 0) return true;
    if (w < 0) {
      SocketFailure(int(-w));
      return false;
    }
    pending_.erase(pending_.begin(), pending_.begin() + w);
  }
  return true;
}

IoResult NetPort::WriteAvailable(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (!IsOpen()) {
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
  const long w = socket_.Send(wire.data(), wire.size());
  if (w == 0) return res;
  if (w < 0) {
    res.status = SocketFailure(int(-w));
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
    int err = 0;
    const auto wait = socket_.WaitWritable(limited ? std::max(MsLeft(deadline), 1) : -1, abort_, &err);
    if (wait == NetSocket::Wait::Aborted) {
      res.status = IoStatus::Aborted;
      return res;
    }
    if (wait == NetSocket::Wait::Failed) {
      res.status = SocketFailure(err);
      return res;
    }
  }
}

bool NetPort::SendControl(const std::vector<uint8_t>& bytes) {
  if (!IsOpen()) return Fail(EBADF);
  if (!FlushPending()) return false;  // the data before them goes first
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timing_.connectMs);
  while (done < bytes.size()) {
    const long w = socket_.Send(bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += size_t(w);
      continue;
    }
    if (w < 0) {
      SocketFailure(int(-w));
      return false;
    }
    if (Clock::now() >= deadline) return Fail(ETIMEDOUT);
    int err = 0;
    if (socket_.WaitWritable(std::max(MsLeft(deadline), 1), abort_, &err) == NetSocket::Wait::Aborted) return Fail(EINTR);
  }
  return true;
}

IoResult NetPort::Read(uint8_t* buf, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (!IsOpen()) {
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
    int timeout = -1;
    if (limited) {
      if (Clock::now() >= deadline) {
        res.status = IoStatus::TimedOut;
        return res;
      }
      timeout = std::max(MsLeft(deadline), 1);
    }
    int err = 0;
    const auto wait = socket_.WaitReadable(timeout, abort_, &err);
    if (wait == NetSocket::Wait::Failed) {
      res.status = SocketFailure(err);
      return res;
    }
    if (wait == NetSocket::Wait::Aborted) {
      res.status = IoStatus::Aborted;
      return res;
    }
    if (wait == NetSocket::Wait::TimedOut) continue;  // the deadline check above decides
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
  if (!IsOpen()) {
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
  if (!IsOpen()) return -1;
  const_cast<NetPort*>(this)->Pump();  // Telnet words are no input: only what they leave counts
  return int(in_.size());
}

int NetPort::OutBufferCount() const {
  if (!IsOpen()) return 0;
  return socket_.Queued() + int(pending_.size());
}

bool NetPort::Purge(bool input, bool) {
  if (!IsOpen()) return Fail(EBADF);
  if (input) {
    Pump();
    in_.clear();
  }
  return true;  // what the socket took is the server's: it cannot be called back from here
}

bool NetPort::Drain() {
  if (!IsOpen()) return Fail(EBADF);
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
    id_ = loop_.WatchHandle(port_.socket_.ReadyHandle(), kReadable, [this](unsigned ready) { OnReady(ready); });
  }
  ~NetPortWatch() override {
    *alive_ = false;
    if (id_) loop_.Unwatch(id_);
  }
  void WantWritable(bool want) override {
    wantWritable_ = want;
    if (id_) loop_.SetInterest(id_, want ? kReadable | kWritable : kReadable);
    // Where the loop cannot tell, the socket takes more unless its last send was refused; after
    // a refusal the system says when it may go on (Settle).
    if (want && !NetSocket::kLoopTellsWritable && !port_.socket_.SendBlocked()) {
      const auto alive = alive_;
      loop_.Post([this, alive] {
        if (*alive && wantWritable_ && events_.writable) events_.writable();
      });
    }
  }

 private:
  void OnReady(unsigned ready) {
    ready |= port_.socket_.Settle();
    if ((ready & kWritable) && wantWritable_ && events_.writable) events_.writable();
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
  bool wantWritable_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::unique_ptr<PortWatch> NetPort::Watch(IoDispatcher& loop, PortEvents events) {
  if (!IsOpen()) return nullptr;
  return std::make_unique<NetPortWatch>(loop, *this, std::move(events));
}

}  // namespace km27
