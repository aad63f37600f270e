#include "ui/controls/ms_comm.h"

#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "port/com_names.h"

namespace {

struct LineSettings {
  int baud = 9600;
  km27::Parity parity = km27::Parity::None;
  int dataBits = 8;
  int stopBits = 1;
};

// "baud,parity,data,stop" as the control stores it.
LineSettings ParseSettings(const char* text) {
  LineSettings s;
  char parity = 'n';
  if (std::sscanf(text, "%d,%c,%d,%d", &s.baud, &parity, &s.dataBits, &s.stopBits) == 4) {
    s.parity = parity == 'e' || parity == 'E'   ? km27::Parity::Even
               : parity == 'o' || parity == 'O' ? km27::Parity::Odd
                                                : km27::Parity::None;
  }
  return s;
}

constexpr size_t kReadChunk = 1024;

}  // namespace

CMSComm::CMSComm(QObject* parent) : QObject(parent) {}

CMSComm::~CMSComm() {
  onComm_ = nullptr;
  ClosePort();
}

void CMSComm::OpenPort() {
  if (!km27::OpenComPort(port_, commPort_)) return;
  const LineSettings s = ParseSettings(kSettings);
  port_.SetLine(s.baud, s.parity, s.dataBits, s.stopBits);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  uint64_t session;
  {
    std::lock_guard<std::mutex> lock(m_);
    session = ++session_;
    stop_ = false;
    received_.ClearRuns();
    unwritten_.clear();
    outSeq_ = drainedSeq_ = 0;
  }
  received_.ClearInput();
  countTaken_ = false;
  // The threads wait on the line's POSIX handle and move bytes through it themselves: the port
  // object belongs to the window's thread.
  const int fd = port_.PollHandle();
  const int wake = wakeFd_;
  reader_ = std::thread([this, session, fd, wake] { ReaderLoop(session, fd, wake); });
  drainer_ = std::thread([this, session, fd, wake] { DrainLoop(session, fd, wake); });
}

void CMSComm::ClosePort() {
  if (!port_.IsOpen()) return;
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    ++session_;  // reports still queued for the window belong to the old port
    received_.ClearRuns();
    unwritten_.clear();
  }
  cv_.notify_all();
  const uint64_t one = 1;
  if (::write(wakeFd_, &one, sizeof one) < 0) {
  }
  port_.Purge(false, true);  // a drain waiting on a slow line returns at once
  if (reader_.joinable()) reader_.join();
  if (drainer_.joinable()) drainer_.join();
  ::close(wakeFd_);
  wakeFd_ = -1;
  port_.Close();
  received_.ClearInput();
  countTaken_ = false;
}

int16_t CMSComm::GetInBufferCount() {
  if (!port_.IsOpen() && received_.InputSize() == 0) return 0;
  {
    std::lock_guard<std::mutex> lock(m_);
    received_.Take(raisedRun_);
  }
  // Input delivers exactly what was counted here, even if more arrives in between.
  countTaken_ = true;
  return int16_t(std::min<size_t>(received_.InputSize(), SHRT_MAX));
}

void CMSComm::SetInBufferCount(int16_t) {
  {
    std::lock_guard<std::mutex> lock(m_);
    received_.ClearRuns();
  }
  received_.ClearInput();
  countTaken_ = false;
  if (port_.IsOpen()) port_.Purge(true, false);
}

std::vector<uint8_t> CMSComm::GetInput() {
  if (!countTaken_) {
    std::lock_guard<std::mutex> lock(m_);
    received_.Take(raisedRun_);
  }
  countTaken_ = false;
  return received_.TakeInput(size_t(inputLen_));
}

void CMSComm::SetOutput(const std::vector<uint8_t>& bytes) {
  if (!port_.IsOpen() || bytes.empty()) return;  // nothing to send on a closed port: no error box
  {
    std::lock_guard<std::mutex> lock(m_);
    if (unwritten_.empty()) {
      // A line that is gone loses the bytes; the send event still comes.
      const km27::IoResult w = port_.WriteAvailable(bytes.data(), bytes.size());
      if (w.Ok() && w.count < bytes.size())
        unwritten_.assign(bytes.begin() + long(w.count), bytes.end());  // the drain thread finishes it
    } else {
      unwritten_.insert(unwritten_.end(), bytes.begin(), bytes.end());
    }
    ++outSeq_;
  }
  cv_.notify_all();
}

void CMSComm::ReaderLoop(uint64_t session, int fd, int wakeFd) {
  uint8_t buf[kReadChunk];
  for (;;) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    if (!(p[0].revents & POLLIN)) return;  // hang-up or error without data: nothing more will come
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return;
    std::lock_guard<std::mutex> lock(m_);
    if (stop_ || session_ != session) return;
    // Output that has left before these bytes came is reported first, so that the window sees
    // the line's order (a request's send event before the answer to it).
    NoteDrainedLocked(session, fd);
    if (const uint64_t run = received_.Add(buf, size_t(n))) PostLocked(km27::kCommEventReceive, session, run);
  }
}

void CMSComm::NoteDrainedLocked(uint64_t session, int fd) {
  if (outSeq_ == drainedSeq_ || !unwritten_.empty()) return;
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued == 0) {
    drainedSeq_ = outSeq_;
    PostLocked(km27::kCommEventSend, session, outSeq_);
  }
}

void CMSComm::DrainLoop(uint64_t session, int fd, int wakeFd) {
  std::unique_lock<std::mutex> lock(m_);
  for (;;) {
    cv_.wait(lock, [&] { return stop_ || outSeq_ > drainedSeq_; });
    if (stop_) return;
    while (!unwritten_.empty()) {
      std::vector<uint8_t> chunk(unwritten_.begin(), unwritten_.begin() + long(std::min(unwritten_.size(), kReadChunk)));
      lock.unlock();
      pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
      const int r = ::poll(p, 2, -1);
      ssize_t w = -1;
      if (r > 0 && !p[1].revents && (p[0].revents & POLLOUT)) w = ::write(fd, chunk.data(), chunk.size());
      const int err = errno;
      lock.lock();
      if (stop_) return;
      if (w > 0) {
        unwritten_.erase(unwritten_.begin(), unwritten_.begin() + w);
      } else if (r < 0 || (w < 0 && err != EAGAIN && err != EINTR) || (p[0].revents & (POLLHUP | POLLERR))) {
        unwritten_.clear();  // the line is gone: what is left is lost
      }
    }
    const uint64_t seq = outSeq_;
    lock.unlock();
    tcdrain(fd);
    lock.lock();
    if (stop_ || session_ != session) return;
    if (unwritten_.empty() && seq > drainedSeq_) {
      drainedSeq_ = seq;
      if (seq == outSeq_) PostLocked(km27::kCommEventSend, session, seq);
    }
  }
}

void CMSComm::PostLocked(int16_t code, uint64_t session, uint64_t seq) {
  if (code == km27::kCommEventSend) received_.Close();
  const Pending p{code, session, seq};
  QMetaObject::invokeMethod(this, [this, p] { Deliver(p); }, Qt::QueuedConnection);
}

void CMSComm::Deliver(const Pending& p) {
  // A handler spun an event loop, or the link holds events: raise this one later, in order.
  if (inHandler_ || held_) {
    deferred_.push_back(p);
    return;
  }
  Raise(p);
  RaiseDeferred();
}

void CMSComm::RaiseDeferred() {
  while (!deferred_.empty() && !inHandler_ && !held_) {
    const Pending next = deferred_.front();
    deferred_.pop_front();
    Raise(next);
  }
}

void CMSComm::SetEventsHeld(bool held) {
  held_ = held;
  // What was held comes from the event loop, after the caller has finished its step.
  if (!held_ && !deferred_.empty()) QMetaObject::invokeMethod(this, [this] { RaiseDeferred(); }, Qt::QueuedConnection);
}

void CMSComm::Raise(const Pending& p) {
  {
    std::lock_guard<std::mutex> lock(m_);
    if (p.session != session_) return;
    if (p.code == km27::kCommEventReceive) {
      if (!received_.Waiting(p.seq)) return;  // already taken by an earlier handler, or discarded
    } else if (p.seq != outSeq_) {
      return;  // more output followed: its own send event comes when that has left
    }
  }
  CallHandler(p.code, p.seq);
}
