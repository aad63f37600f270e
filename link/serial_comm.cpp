#include "link/serial_comm.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <system_error>

#include "port/net_url.h"

namespace km27 {

namespace {

constexpr size_t kReadChunk = 1024;

// Milliseconds `bytes` take at `baud` (10 bits a byte; 9600 when the line cannot say), at least 1.
int LineMs(int baud, int bytes) {
  if (baud <= 0) baud = 9600;
  return std::max(1, int((int64_t(bytes) * 10 * 1000 + baud - 1) / baud));
}

}  // namespace

struct SerialComm::Opening {
  uint64_t id = 0;
  std::unique_ptr<Port> port = NewComPort();
  std::atomic<bool> wanted{true};
  std::thread thread;
};

SerialComm::SerialComm(EventLoop& loop) : loop_(loop) {}

SerialComm::~SerialComm() {
  onComm_ = nullptr;
  ClosePort();
  loop_.StopTimer(dispatch_);
  alive_.reset();
  // Cut short what still connects: a window that closes does not sit out a connect time limit.
  for (auto& o : openings_) {
    o->wanted = false;
    o->port->Abort();
  }
  for (auto& o : openings_) o->thread.join();
}

void SerialComm::SetComEnvironment(const ComEnvironment& env) {
  env_ = env;
  envSet_ = true;
}

void SerialComm::SetCommPort(int16_t port) {
  if (!port_->IsOpen() && !opening_) commPort_ = port;  // the port of an open control cannot change
}

void SerialComm::SetInputLen(int16_t len) { inputLen_ = len < 0 ? 0 : len; }

void SerialComm::SetPortOpen(bool open) {
  if (open == (port_->IsOpen() || opening_ != 0)) return;
  if (open)
    OpenPort();
  else
    ClosePort();
}

void SerialComm::CallHandler(int16_t code, uint64_t run) {
  if (code == kCommEventReceive ? rThreshold_ <= 0 : sThreshold_ <= 0) return;
  inHandler_ = true;
  commEvent_ = code;
  raisedRun_ = code == kCommEventReceive ? run : 0;
  if (onComm_) onComm_();
  raisedRun_ = 0;
  inHandler_ = false;
}

void SerialComm::OpenPort() {
  const ComEnvironment env = envSet_ ? env_ : ComEnvironment::FromProcess();
  const std::string path = ComDevicePath(commPort_, env);
  if (IsNetUrl(path)) {
    OpenInBackground(path);
    return;
  }
  // The control's stored line settings, 9600 8N1 raw, are those the open leaves.
  if (!OpenComPort(*port_, commPort_, path)) return;
  WatchPort();
}

void SerialComm::OpenInBackground(const std::string& url) {
  auto o = std::make_unique<Opening>();
  Opening* op = o.get();
  op->id = opening_ = ++openingsStarted_;
  const int n = commPort_;
  std::weak_ptr<bool> alive = alive_;
  try {
    op->thread = std::thread([this, op, n, url, alive] {
      const bool ok = OpenComPort(*op->port, n, url);
      // Nobody waits for it any more: the server's line goes back at once.
      if (ok && !op->wanted) op->port->Close();
      const uint64_t id = op->id;
      loop_.Post([this, id, alive] {
        if (alive.lock()) Opened(id);
      });
    });
  } catch (const std::system_error&) {
    opening_ = 0;  // as a line that failed to open: the search goes on
    return;
  }
  openings_.push_back(std::move(o));
}

void SerialComm::Opened(uint64_t id) {
  const auto it = std::find_if(openings_.begin(), openings_.end(), [id](const auto& o) { return o->id == id; });
  if (it == openings_.end()) return;
  std::unique_ptr<Opening> op = std::move(*it);
  openings_.erase(it);
  op->thread.join();  // it has posted this and ends
  if (id != opening_) {
    op->port->Close();  // closed, or opened anew, while this one connected
    return;
  }
  opening_ = 0;
  if (!op->port->IsOpen()) return;  // as a line that failed to open: the link's search goes on
  port_ = std::move(op->port);
  WatchPort();
}

void SerialComm::WatchPort() {
  pending_.clear();
  received_.ClearRuns();
  received_.ClearInput();
  unwritten_.clear();
  outSeq_ = leftSeq_ = 0;
  PortEvents events;
  events.received = [this] { ReadLine(); };
  events.writable = [this] { WriteUnwritten(); };
  // A line that is gone raises nothing more; the link's watchdog notices.
  watch_ = port_->Watch(loop_, std::move(events));
}

void SerialComm::ClosePort() {
  if (opening_) {
    // It runs out in the background, within its connect time limit, and is closed when it ends.
    for (auto& o : openings_)
      if (o->id == opening_) o->wanted = false;
    opening_ = 0;
  }
  if (!port_->IsOpen()) return;
  watch_.reset();
  loop_.StopTimer(drainCheck_);
  drainCheck_ = 0;
  // Events of the old port are not raised for the next one.
  pending_.clear();
  received_.ClearRuns();
  received_.ClearInput();
  unwritten_.clear();
  port_->Close();
}

void SerialComm::ReadLine() {
  uint8_t buf[kReadChunk];
  for (;;) {
    const IoResult r = port_->ReadAvailable(buf, sizeof buf);
    if (r.count > 0) {
      // Output that has left before these bytes came is reported first, so that the link sees
      // the line's order (a request's send event before the answer to it).
      CheckOutputLeft();
      if (const uint64_t run = received_.Add(buf, r.count)) Queue(kCommEventReceive, run);
    }
    if (r.count < sizeof buf || !r.Ok()) return;
  }
}

void SerialComm::SetOutput(const std::vector<uint8_t>& bytes) {
  if (!port_->IsOpen() || bytes.empty()) return;  // nothing to send on a closed port: no error
  ++outSeq_;
  if (!unwritten_.empty()) {
    unwritten_.insert(unwritten_.end(), bytes.begin(), bytes.end());
    return;
  }
  const IoResult w = port_->WriteAvailable(bytes.data(), bytes.size());
  // A line that is gone loses the bytes; the send event still comes.
  if (w.Ok() && w.count < bytes.size()) {
    unwritten_.assign(bytes.begin() + long(w.count), bytes.end());
    if (watch_) watch_->WantWritable(true);
    return;
  }
  CheckOutputLeft();
}

void SerialComm::WriteUnwritten() {
  if (!unwritten_.empty()) {
    const IoResult w = port_->WriteAvailable(unwritten_.data(), unwritten_.size());
    if (!w.Ok()) {
      unwritten_.clear();  // the line is gone: what is left is lost
    } else {
      unwritten_.erase(unwritten_.begin(), unwritten_.begin() + long(w.count));
      if (!unwritten_.empty()) return;
    }
  }
  if (watch_) watch_->WantWritable(false);
  CheckOutputLeft();
}

void SerialComm::CheckOutputLeft() {
  if (outSeq_ == leftSeq_ || !unwritten_.empty() || !port_->IsOpen()) return;
  const int waiting = port_->OutBufferCount();
  if (waiting == 0) {
    loop_.StopTimer(drainCheck_);
    drainCheck_ = 0;
    leftSeq_ = outSeq_;
    Queue(kCommEventSend, outSeq_);
    return;
  }
  // Look again when those bytes should have gone.
  const int ms = LineMs(port_->Baud(), waiting);
  if (drainCheck_ && loop_.TimerActive(drainCheck_))
    loop_.RestartTimer(drainCheck_, ms);
  else
    drainCheck_ = loop_.StartTimer(ms, false, [this] {
      drainCheck_ = 0;
      CheckOutputLeft();
    });
}

void SerialComm::Queue(int16_t code, uint64_t seq) {
  if (code == kCommEventSend) received_.Close();
  pending_.push_back({code, seq});
  ScheduleDispatch();
}

void SerialComm::ScheduleDispatch() {
  if (dispatch_ && loop_.TimerActive(dispatch_)) return;
  // From the loop, never from within the call that queued the event.
  dispatch_ = loop_.StartTimer(0, false, [this] {
    dispatch_ = 0;
    Dispatch();
  });
}

void SerialComm::Dispatch() {
  while (!pending_.empty() && !inHandler_ && !held_) {
    const Pending next = pending_.front();
    pending_.pop_front();
    Raise(next);
  }
}

void SerialComm::SetEventsHeld(bool held) {
  held_ = held;
  if (!held_ && !pending_.empty()) ScheduleDispatch();
}

void SerialComm::Raise(const Pending& p) {
  if (p.code == kCommEventReceive) {
    if (!received_.Waiting(p.seq)) return;  // already taken by an earlier handler, or discarded
  } else if (p.seq != outSeq_) {
    return;  // more output followed: its own send event comes when that has left
  }
  CallHandler(p.code, p.seq);
}

// Inside a receive event: the runs up to the one announced; anywhere else: all of them.
int16_t SerialComm::GetInBufferCount() {
  received_.Take(raisedRun_);
  return int16_t(std::min<size_t>(received_.InputSize(), SHRT_MAX));
}

void SerialComm::SetInBufferCount(int16_t) {
  received_.ClearRuns();
  received_.ClearInput();
  if (port_->IsOpen()) port_->Purge(true, false);
}

std::vector<uint8_t> SerialComm::GetInput() {
  received_.Take(raisedRun_);
  return received_.TakeInput(size_t(inputLen_));
}

}  // namespace km27
