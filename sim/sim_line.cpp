#include "sim/sim_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "port/serial_port.h"

namespace km27::sim {

SimLine::~SimLine() { Close(); }

bool SimLine::Open(const std::string& comDir, int com) {
  return OpenAt(comDir + "/COM" + std::to_string(com));
}

bool SimLine::OpenAt(const std::string& linkPath) {
  Close();
  linkPath_ = linkPath;
  int master = -1, slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&raw, B9600);
  cfsetospeed(&raw, B9600);
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
    error_ = std::string("openpty: ") + strerror(errno);
    return false;
  }
  char name[128] = {};
  if (ttyname_r(slave, name, sizeof name) != 0) {
    error_ = std::string("ttyname: ") + strerror(errno);
    ::close(master);
    ::close(slave);
    return false;
  }
  // The raw settings made through the slave stay with the pty after this close.
  ::close(slave);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  ::unlink(linkPath_.c_str());
  if (symlink(name, linkPath_.c_str()) != 0) {
    error_ = "symlink " + linkPath_ + ": " + strerror(errno);
    ::close(master);
    return false;
  }
  master_ = master;
  slavePath_ = name;
  error_.clear();
  return true;
}

void SimLine::Close() {
  if (master_ < 0) return;
  ::unlink(linkPath_.c_str());
  ::close(master_);
  master_ = -1;
  slavePath_.clear();
}

int SimLine::Baud() const {
  termios t{};
  if (master_ < 0 || tcgetattr(master_, &t) != 0) return 0;
  return km27::BaudFromSpeed(cfgetospeed(&t));
}

int SimLine::BitsPerChar() const {
  termios t{};
  if (master_ < 0 || tcgetattr(master_, &t) != 0) return 10;
  int data = 5 + int((t.c_cflag & CSIZE) == CS6) + 2 * int((t.c_cflag & CSIZE) == CS7) + 3 * int((t.c_cflag & CSIZE) == CS8);
  return 1 + data + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
}

std::chrono::nanoseconds SimLine::ByteTime() const {
  int baud = Baud();
  if (baud <= 0) baud = 9600;
  return std::chrono::nanoseconds(int64_t(BitsPerChar()) * 1000000000LL / baud);
}

namespace {
timespec ToTimespec(SimLine::Clock::time_point tp) {
  // steady_clock is CLOCK_MONOTONIC on Linux.
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
  timespec ts;
  ts.tv_sec = time_t(ns / 1000000000LL);
  ts.tv_nsec = long(ns % 1000000000LL);
  return ts;
}
void SleepUntil(SimLine::Clock::time_point tp) {
  timespec ts = ToTimespec(tp);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

// How long a read waits before it looks again while nobody has the port open (the master
// reports that at once, every time).
constexpr auto kNobodyRetry = std::chrono::milliseconds(10);
// How long a write waits for a tool that has the port open but takes nothing.
constexpr auto kStuckWrite = std::chrono::milliseconds(500);
}  // namespace

bool SimLine::NobodyOnPort() const {
  pollfd p{master_, 0, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

SimLine::Input SimLine::Read(int timeoutMs) {
  Input in;
  if (master_ < 0) return in;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{master_, POLLIN, 0};
    const int r = ::poll(&p, 1, left > 0 ? int(left) : 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return in;
    if (p.revents & POLLIN) {
      in.firstByte = Clock::now();
      uint8_t buf[512];
      for (;;) {
        ssize_t got = ::read(master_, buf, sizeof buf);
        if (got > 0) {
          in.bytes.insert(in.bytes.end(), buf, buf + got);
          continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break;  // EAGAIN, or EIO once a tool that has closed the port has been read out
      }
      if (!in.bytes.empty()) return in;
    }
    if (!(p.revents & POLLHUP)) return in;
    in.nobodyOnPort = true;
    const auto now = Clock::now();
    if (now >= deadline) return in;
    SleepUntil(std::min(deadline, now + kNobodyRetry));
  }
}

void SimLine::WaitReceived(Clock::time_point first, size_t n) const {
  if (!paced_ || n == 0) return;
  SleepUntil(first + ByteTime() * int64_t(n));
}

void SimLine::SetCorruption(double fraction, unsigned seed) {
  corruptFraction_ = fraction;
  rng_.seed(seed);
}

bool SimLine::Write(const uint8_t* data, size_t n) {
  if (master_ < 0) return false;
  if (muted_) return true;
  std::vector<uint8_t> out(data, data + n);
  if (corruptFraction_ > 0) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> bit(0, 7);
    for (auto& b : out)
      if (chance(rng_) < corruptFraction_) {
        b ^= uint8_t(1u << bit(rng_));
        ++corrupted_;
      }
  }
  auto writeAll = [this](const uint8_t* p, size_t len) {
    if (NobodyOnPort()) return true;  // lost, as on a line nobody listens to
    size_t done = 0;
    auto giveUp = Clock::now() + kStuckWrite;
    while (done < len) {
      ssize_t w = ::write(master_, p + done, len - done);
      if (w > 0) {
        done += size_t(w);
        giveUp = Clock::now() + kStuckWrite;
      } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd pf{master_, POLLOUT, 0};
        ::poll(&pf, 1, 10);
        // The tool closed the port, or keeps it open without reading: the rest is lost.
        if ((pf.revents & POLLHUP) || Clock::now() >= giveUp) return true;
      } else {
        return false;
      }
    }
    return true;
  };
  if (!paced_) return writeAll(out.data(), out.size());
  // Absolute deadlines: sleeping late for one byte does not delay all the following ones. A
  // byte is handed over when its stop bit has ended, as a UART delivers it, so a frame of n
  // bytes is complete n byte times after it began to leave.
  auto byteTime = ByteTime();
  auto start = Clock::now();
  for (size_t i = 0; i < out.size(); ++i) {
    SleepUntil(start + byteTime * int64_t(i + 1));
    if (!writeAll(&out[i], 1)) return false;
  }
  return true;
}

std::string HexBytes(const uint8_t* data, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(buf, sizeof buf, "%02X", data[i]);
    if (i) s += ' ';
    s += buf;
  }
  return s;
}

}  // namespace km27::sim
