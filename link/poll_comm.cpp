#include "link/poll_comm.h"

#include <poll.h>

#include <algorithm>
#include <climits>

namespace km27 {

namespace {

constexpr size_t kReadChunk = 1024;

// Milliseconds `bytes` take at `baud` (10 bits a byte; 9600 when the line cannot say), at least 1.
int LineMs(int baud, int bytes) {
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
  watch_ = loop_.WatchHandle(port_.PollHandle(), kReadable, [this](unsigned ready) { OnLine(ready); });
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

void PollComm::OnLine(unsigned ready) {
  if (ready & kWritable) WriteUnwritten();
  if (ready & kReadable) ReadLine();
  if ((ready & kHungUp) && !(ready & kReadable)) {
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
  const IoResult w = port_.WriteAvailable(bytes.data(), bytes.size());
  // A line that is gone loses the bytes; the send event still comes.
  if (w.Ok() && w.count < bytes.size()) {
    unwritten_.assign(bytes.begin() + long(w.count), bytes.end());
    if (watch_) loop_.SetInterest(watch_, kReadable | kWritable);
    return;
  }
  CheckOutputLeft();
}

void PollComm::WriteUnwritten() {
  if (!unwritten_.empty()) {
    const IoResult w = port_.WriteAvailable(unwritten_.data(), unwritten_.size());
    if (!w.Ok()) {
      unwritten_.clear();  // the line is gone: what is left is lost
    } else {
      unwritten_.erase(unwritten_.begin(), unwritten_.begin() + long(w.count));
      if (!unwritten_.empty()) return;
    }
  }
  if (watch_) loop_.SetInterest(watch_, kReadable);
  CheckOutputLeft();
}

void PollComm::CheckOutputLeft() {
  if (outSeq_ == leftSeq_ || !unwritten_.empty() || !port_.IsOpen()) return;
  const int waiting = port_.OutBufferCount();
  if (waiting == 0) {
    loop_.StopTimer(drainCheck_);
    drainCheck_ = 0;
    leftSeq_ = outSeq_;
    Queue(kCommEventSend, outSeq_);
    return;
  }
  // Look again when those bytes should have gone.
  const int ms = LineMs(port_.Baud(), waiting);
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
  if (port_.IsOpen()) port_.Purge(true, false);
}

std::vector<uint8_t> PollComm::GetInput() {
  received_.Take(raisedRun_);
  return received_.TakeInput(size_t(inputLen_));
}

}  // namespace km27
