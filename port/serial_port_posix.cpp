#include "port/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/messages.h"

namespace km27 {

namespace {

using Clock = std::chrono::steady_clock;

// A device that sysfs says is no tty (/dev/null, say) is refused as such before anyone's claims
// on it are looked at: it is open in every process. Ptys have no sysfs entry; open tells then.
bool KnownNotATty(const std::string& device) {
  struct stat st;
  if (stat(device.c_str(), &st) != 0) return false;  // open will say why
  if (!S_ISCHR(st.st_mode)) return true;
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(st.st_rdev), minor(st.st_rdev));
  char target[PATH_MAX];
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  const char* name = std::strrchr(target, '/');
  return std::strcmp(name ? name + 1 : target, "tty") != 0;
}

struct SpeedPair {
  int baud;
  speed_t speed;
};
constexpr SpeedPair kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                                 {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

}  // namespace

unsigned SpeedConstant(int baud) {
  for (const auto& s : kSpeeds)
    if (s.baud == baud) return s.speed;
  return 0;
}

int BaudFromSpeed(unsigned speed) {
  for (const auto& s : kSpeeds)
    if (s.speed == speed) return s.baud;
  return 0;
}

// The line's settings before Open changed them, given back at Close.
struct SerialPort::Native {
  termios found{};
};

SerialPort::SerialPort() = default;

bool SerialPort::IsOpen() const { return fd_ >= 0; }

SerialPort::~SerialPort() {
  Close();
}

IoStatus SerialPort::Fail(int err) {
  lastError_ = err;
  return (err == EIO || err == ENXIO || err == ENODEV) ? IoStatus::HungUp : IoStatus::Error;
}

bool SerialPort::Refuse(int fd, int err) {
  if (fd >= 0) ::close(fd);
  lock_.Release();
  lastError_ = err;
  return false;
}

bool SerialPort::Open(const std::string& devicePath, OpenDevices* seen) {
  Close();
  holder_ = PortHolder{};
  // Other programs' claims name the device itself, whichever link led us to it.
  char* resolved = realpath(devicePath.c_str(), nullptr);
  if (!resolved) return Refuse(-1, errno);
  const std::string device(resolved);
  free(resolved);
  if (KnownNotATty(device)) return Refuse(-1, ENOTTY);
  // Our own terminal under another name (/dev/tty above all) is in use by us, as busy as any.
  if (IsOwnTerminal(device, &holder_)) return Refuse(-1, EBUSY);
  // A line we may not open is refused before we claim anything for it.
  if (faccessat(AT_FDCWD, device.c_str(), R_OK | W_OK, AT_EACCESS) != 0) return Refuse(-1, errno);
  OpenDevices now;
  if ((seen ? *seen : now).Holder(device, -1, &holder_)) return Refuse(-1, EBUSY);
  if (!lock_.Acquire(device, LockDirectory(), &holder_)) return Refuse(-1, EBUSY);
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Refuse(-1, errno);
  // flock keeps out the programs that use it rather than lock files.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return Refuse(fd, errno == EWOULDBLOCK ? EBUSY : errno);
  if (!isatty(fd)) return Refuse(fd, ENOTTY);
  // Someone may have opened the line since we looked: TIOCEXCL only on a line that is ours
  // alone, or we would lock its holder out of its next open.
  OpenDevices after;
  if (after.Holder(device, fd, &holder_)) return Refuse(fd, EBUSY);
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  path_ = devicePath;
  // The settings we find are given back at Close: the line is left as it was for whoever
  // uses it next (a terminal left raw is unusable).
  native_ = std::make_unique<Native>();
  if (tcgetattr(fd_, &native_->found) != 0) native_.reset();
  if (!ApplyLine(9600, Parity::None, 8, 1)) {
    int err = lastError_;
    Close();
    lastError_ = err;
    return false;
  }
  tcflush(fd_, TCIOFLUSH);  // stale input from before we opened is no answer of ours
  lastError_ = 0;
  return true;
}

void SerialPort::Close() {
  if (fd_ >= 0) {
    if (native_) tcsetattr(fd_, TCSANOW, &native_->found);
    native_.reset();
    // The flag outlives our descriptor while another one stays open; it must not lock out
    // whoever opens the line next.
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // drops the flock with it
    fd_ = -1;
  }
  lock_.Release();
  path_.clear();
}

bool SerialPort::ApplyLine(int baud, Parity parity, int dataBits, int stopBits) {
  if (fd_ < 0) return (lastError_ = EBADF), false;
  speed_t speed = SpeedConstant(baud);
  if (speed == 0 || dataBits < 5 || dataBits > 8 || (stopBits != 1 && stopBits != 2))
    return (lastError_ = EINVAL), false;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return (lastError_ = errno), false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dataBits - 5];
  if (parity != Parity::None) t.c_cflag |= PARENB | (parity == Parity::Odd ? PARODD : 0);
  if (stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  // Reads never block in the kernel: every wait is a poll() with our own limits.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) return (lastError_ = errno), false;
  return true;
}

bool SerialPort::SetLine(int baud, Parity parity, int dataBits, int stopBits) {
  return ApplyLine(baud, parity, dataBits, stopBits);
}

bool SerialPort::SetBaud(int baud) {
  if (fd_ < 0) return (lastError_ = EBADF), false;
  speed_t speed = SpeedConstant(baud);
  if (speed == 0) return (lastError_ = EINVAL), false;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return (lastError_ = errno), false;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) return (lastError_ = errno), false;
  return true;
}

int SerialPort::Baud() const {
  termios t{};
  if (fd_ < 0 || tcgetattr(fd_, &t) != 0) return 0;
  return BaudFromSpeed(cfgetospeed(&t));
}

bool SerialPort::SetRts(bool on) {
  if (fd_ < 0) return (lastError_ = EBADF), false;
  int bits = TIOCM_RTS;
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
    if (errno == ENOTTY || errno == EINVAL) return true;  // no modem lines here (pty)
    return (lastError_ = errno), false;
  }
  return true;
}

bool SerialPort::Purge(bool input, bool output) {
  if (fd_ < 0) return (lastError_ = EBADF), false;
  int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  if (!input && !output) return true;
  if (tcflush(fd_, which) != 0) return (lastError_ = errno), false;
  return true;
}

bool SerialPort::Drain() {
  if (fd_ < 0) return (lastError_ = EBADF), false;
  if (tcdrain(fd_) != 0) return (lastError_ = errno), false;
  return true;
}

void SerialPort::Abort() { abort_.Raise(); }

void SerialPort::ClearAbort() { abort_.Clear(); }

bool SerialPort::AbortRequested() const { return abort_.Raised(); }

bool SerialPort::Sleep(int ms) { return abort_.Sleep(ms); }

IoResult SerialPort::Write(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  const auto& t = timeouts_;
  bool limited = t.writeTotalConstantMs > 0 || t.writeTotalPerByteMs > 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(t.writeTotalConstantMs + int64_t(t.writeTotalPerByteMs) * int64_t(n));
  while (res.count < n) {
    ssize_t w = ::write(fd_, data + res.count, n - res.count);
    if (w > 0) {
      res.count += size_t(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) {
      res.status = Fail(errno);
      return res;
    }
    pollfd p[2] = {{fd_, POLLOUT, 0}, {abort_.Fd(), POLLIN, 0}};
    if (limited && Clock::now() >= deadline) {
      res.status = IoStatus::TimedOut;
      return res;
    }
    int r = PollUntil(p, 2, limited ? &deadline : nullptr);
    if (r < 0 && errno != EINTR) {
      res.status = Fail(errno);
      return res;
    }
    if (p[1].revents & POLLIN) {
      res.status = IoStatus::Aborted;
      return res;
    }
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      res.status = Fail(EIO);  // the device is gone
      return res;
    }
  }
  return res;
}

IoResult SerialPort::Read(uint8_t* buf, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  const auto& t = timeouts_;
  bool totalLimited = t.readTotalConstantMs > 0 || t.readTotalPerByteMs > 0;
  auto start = Clock::now();
  auto totalDeadline = start + std::chrono::milliseconds(t.readTotalConstantMs + int64_t(t.readTotalPerByteMs) * int64_t(n));
  Clock::time_point lastByte{};
  while (res.count < n) {
    bool limited = totalLimited;
    Clock::time_point deadline = totalDeadline;
    if (res.count > 0 && t.readIntervalMs > 0) {
      auto gap = lastByte + std::chrono::milliseconds(t.readIntervalMs);
      deadline = limited ? std::min(deadline, gap) : gap;
      limited = true;
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {abort_.Fd(), POLLIN, 0}};
    int r = PollUntil(p, 2, limited ? &deadline : nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      res.status = Fail(errno);
      return res;
    }
    if (p[1].revents & POLLIN) {
      res.status = IoStatus::Aborted;
      return res;
    }
    if (r == 0) {
      res.status = IoStatus::TimedOut;
      return res;
    }
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      ssize_t got = ::read(fd_, buf + res.count, n - res.count);
      if (got > 0) {
        res.count += size_t(got);
        lastByte = Clock::now();
        continue;
      }
      if (got == 0) {  // end of file on a tty: the other end is gone
        res.status = Fail(EIO);  // the device is gone
        return res;
      }
      if (errno == EAGAIN || errno == EINTR) {
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
          res.status = Fail(EIO);  // the device is gone
          return res;
        }
        continue;
      }
      res.status = Fail(errno);
      return res;
    }
  }
  return res;
}

IoResult SerialPort::ReadAvailable(uint8_t* buf, size_t max) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  while (res.count < max) {
    ssize_t got = ::read(fd_, buf + res.count, max - res.count);
    if (got > 0) {
      res.count += size_t(got);
      continue;
    }
    if (got == 0) {
      res.status = Fail(EIO);  // the device is gone
      return res;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN)) {
        res.status = Fail(EIO);  // the device is gone
      }
      return res;
    }
    res.status = Fail(errno);
    return res;
  }
  return res;
}

IoResult SerialPort::WriteAvailable(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (fd_ < 0) {
    lastError_ = EBADF;
    res.status = IoStatus::Error;
    return res;
  }
  while (res.count < n) {
    const ssize_t w = ::write(fd_, data + res.count, n - res.count);
    if (w > 0) {
      res.count += size_t(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && errno == EAGAIN) {
      return res;  // the line is full for now
    } else {
      res.status = Fail(w == 0 ? EIO : errno);
      return res;
    }
  }
  return res;
}

int SerialPort::OutBufferCount() const {
  if (fd_ < 0) return 0;
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return 0;
  if (queued > 0) return queued;
  unsigned lsr = 0;
  if (ioctl(fd_, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) return 1;
  return 0;
}

int SerialPort::InBufferCount() const {
  if (fd_ < 0) return -1;
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) != 0) return -1;
  return n;
}

std::string SerialPort::LastErrorText() const {
  if (lastError_ == 0) return {};
  if (std::string common = CommonSystemReason(lastError_); !common.empty()) return common;
  char buf[256];
  // GNU strerror_r returns the text, which need not be in buf.
  const char* s = strerror_r(lastError_, buf, sizeof buf);
  return s;
}

}  // namespace km27

namespace km27 {

// The line's descriptor watched on the loop: readable is bytes (or a hang-up with bytes still
// to read), a hang-up alone is the device gone; writable only while output waits.
class SerialPortWatch : public PortWatch {
 public:
  SerialPortWatch(IoDispatcher& loop, int fd, PortEvents events) : loop_(loop), events_(std::move(events)) {
    id_ = loop_.WatchHandle(fd, kReadable, [this](unsigned ready) { OnReady(ready); });
  }
  ~SerialPortWatch() override {
    if (id_) loop_.Unwatch(id_);
  }
  void WantWritable(bool want) override {
    if (id_) loop_.SetInterest(id_, want ? kReadable | kWritable : kReadable);
  }

 private:
  void OnReady(unsigned ready) {
    if ((ready & kWritable) && events_.writable) events_.writable();
    if ((ready & kReadable) && events_.received) events_.received();
    if ((ready & kHungUp) && !(ready & kReadable)) {
      // Nothing more will come; watching on would only spin.
      loop_.Unwatch(id_);
      id_ = 0;
      if (events_.lost) events_.lost();
    }
  }

  IoDispatcher& loop_;
  PortEvents events_;
  IoDispatcher::WatchId id_ = 0;
};

std::unique_ptr<PortWatch> SerialPort::Watch(IoDispatcher& loop, PortEvents events) {
  if (fd_ < 0) return nullptr;
  return std::make_unique<SerialPortWatch>(loop, fd_, std::move(events));
}

}  // namespace km27
