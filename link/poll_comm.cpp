#include "link/poll_comm.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace km27 {

namespace {

constexpr size_t kReadChunk = 1024;

// How many bytes still wait to leave `fd`: the driver's buffer and, where the driver tells,
// the UART's own (TIOCOUTQ does not count what already sits in the transmitter). 0 when the
// line cannot say: a pseudo-terminal has no line time.
int BytesNotYetLeft(int fd) {
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
  if (queued > 0) return queued;
  unsigned lsr = 0;
  if (ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) return 1;
  return 0;
}

// Milliseconds `bytes` take on the line `fd` is set to (10 bits a byte), at least 1.
int LineMs(int fd, int bytes) {
  termios t{};
  int baud = 0;
  if (tcgetattr(fd, &t) == 0) baud = BaudFromSpeed(cfgetospeed(&t));
  if (baud <= 0) baud = 9600;
  return std::max(1, int((int64_t(bytes) * 10 * 1000 + baud - 1) / baud));
}

}  // namespace

PollComm::PollComm(PollLoop& loop) : loop_(loop) {}

PollComm::~PollComm() {
  onComm_ = nullptr;
  ClosePort();
  loop_.StopTimer(dispatch_);
}

void PollComm::SetComEnvironment(const ComEnvironment& env) {
  env_ = env;
  envSet_ = true;
}

void PollComm::OpenPort() {
  const ComEnvironment env = envSet_ ? env_ : ComEnvironment::FromProcess();
  // The control's stored line settings, 9600 8N1 raw, are those the open leaves.
  if (!OpenComPort(port_, commPort_, ComDevicePath(commPort_, env))) return;
  pending_.clear();
  received_.ClearRuns();
  received_.ClearInput();
  unwritten_.clear();
  outSeq_ = leftSeq_ = 0;
  watch_ = loop_.Watch(port_.Fd(), POLLIN, [this](short revents) { OnLine(revents); });
}

void PollComm::ClosePort() {
  if (!port_.IsOpen()) return;
  loop_.Unwatch(watch_);
  loop_.StopTimer(drainCheck_);
  watch_ = drainCheck_ = 0;
  // Events of the old port are not raised for the next one.
  pending_.clear();
  received_.ClearRuns();
  received_.ClearInput();
  unwritten_.clear();
  port_.Close();
}

void PollComm::OnLine(short revents) {
  if (revents & POLLOUT) WriteUnwritten();
  if (revents & POLLIN) ReadLine();
  if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN)) {
    // Nothing more will come; watching on would only spin. The link's watchdog notices.
    loop_.Unwatch(watch_);
    watch_ = 0;
  }
}

void PollComm::ReadLine() {
  uint8_t buf[kReadChunk];
  for (;;) {
    const IoResult r = port_.ReadAvailable(buf, sizeof buf);
    if (r.count > 0) {
      // Output that has left before these bytes came is reported first, so that the link sees
      // the line's order (a request's send event before the answer to it).
      CheckOutputLeft();
      if (const uint64_t run = received_.Add(buf, r.count)) Queue(kCommEventReceive, run);
    }
    if (r.count < sizeof buf || !r.Ok()) return;
  }
}

void PollComm::SetOutput(const std::vector<uint8_t>& bytes) {
  if (!port_.IsOpen() || bytes.empty()) return;  // nothing to send on a closed port: no error
  ++outSeq_;
  if (!unwritten_.empty()) {
    unwritten_.insert(unwritten_.end(), bytes.begin(), bytes.end());
    return;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(port_.Fd(), bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += size_t(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && errno == EAGAIN) {
      unwritten_.assign(bytes.begin() + long(done), bytes.end());
      if (watch_) loop_.SetWatchEvents(watch_, POLLIN | POLLOUT);
      return;
    } else {
      break;  // the line is gone: the bytes are lost, the send event still comes
    }
  }
  CheckOutputLeft();
}

void PollComm::WriteUnwritten() {
  while (!unwritten_.empty()) {
    const ssize_t w = ::write(port_.Fd(), unwritten_.data(), unwritten_.size());
    if (w > 0) {
      unwritten_.erase(unwritten_.begin(), unwritten_.begin() + w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && errno == EAGAIN) {
      return;
    } else {
      unwritten_.clear();  // the line is gone: what is left is lost
    }
  }
  if (watch_) loop_.SetWatchEvents(watch_, POLLIN);
  CheckOutputLeft();
}

void PollComm::CheckOutputLeft() {
  if (outSeq_ == leftSeq_ || !unwritten_.empty() || !port_.IsOpen()) return;
  const int waiting = BytesNotYetLeft(port_.Fd());
  if (waiting == 0) {
    loop_.StopTimer(drainCheck_);
    drainCheck_ = 0;
    leftSeq_ = outSeq_;
    Queue(kCommEventSend, outSeq_);
    return;
  }
  // Look again when those bytes should have gone.
  const int ms = LineMs(port_.Fd(), waiting);
  if (drainCheck_ && loop_.TimerActive(drainCheck_))
    loop_.RestartTimer(drainCheck_, ms);
  else
    drainCheck_ = loop_.StartTimer(ms, false, [this] {
      drainCheck_ = 0;
      CheckOutputLeft();
    });
}

void PollComm::Queue(int16_t code, uint64_t seq) {
  if (code == kCommEventSend) received_.Close();
  pending_.push_back({code, seq});
  ScheduleDispatch();
}

void PollComm::ScheduleDispatch() {
  if (dispatch_ && loop_.TimerActive(dispatch_)) return;
  // From the loop, never from within the call that queued the event.
  dispatch_ = loop_.StartTimer(0, false, [this] {
    dispatch_ = 0;
    Dispatch();
  });
}

void PollComm::Dispatch() {
  while (!pending_.empty() && !inHandler_ && !held_) {
    const Pending next = pending_.front();
    pending_.pop_front();
    Raise(next);
  }
}

void PollComm::SetEventsHeld(bool held) {
  held_ = held;
  if (!held_ && !pending_.empty()) ScheduleDispatch();
}

void PollComm::Raise(const Pending& p) {
  if (p.code == kCommEventReceive) {
    if (!received_.Waiting(p.seq)) return;  // already taken by an earlier handler, or discarded
  } else if (p.seq != outSeq_) {
    return;  // more output followed: its own send event comes when that has left
  }
  CallHandler(p.code, p.seq);
}

// Inside a receive event: the runs up to the one announced; anywhere else: all of them.
int16_t PollComm::GetInBufferCount() {
  received_.Take(raisedRun_);
  return int16_t(std::min<size_t>(received_.InputSize(), SHRT_MAX));
}

void PollComm::SetInBufferCount(int16_t) {
  received_.ClearRuns();
  received_.ClearInput();
  if (port_.IsOpen()) tcflush(port_.Fd(), TCIFLUSH);
}

std::vector<uint8_t> PollComm::GetInput() {
  received_.Take(raisedRun_);
  return received_.TakeInput(size_t(inputLen_));
}

}  // namespace km27
