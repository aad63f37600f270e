#include "ui/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <vector>

#include "port/handle_ready.h"

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {}

QtEventLoop::~QtEventLoop() = default;

QtEventLoop::TimerId QtEventLoop::StartTimer(int ms, bool repeat, std::function<void()> fn) {
  const TimerId id = ++nextId_;
  Timer& t = timers_[id];
  t.timer = std::make_unique<QTimer>();
  t.timer->setTimerType(Qt::PreciseTimer);  // the code box's pauses are timed to the millisecond
  t.timer->setSingleShot(!repeat);
  t.fn = std::move(fn);
  QObject::connect(t.timer.get(), &QTimer::timeout, this, [this, id] { Fire(id); });
  t.timer->start(std::max(ms, 0));
  return id;
}

void QtEventLoop::Fire(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  const uint64_t armed = it->second.armed;
  // What has arrived is handled before a timer that fell due meanwhile, as the command line's
  // loop does: bytes that came within a period belong to it, even when Qt picks the timer first.
  // What they do may stop or restart this timer, and then this round of it is void.
  DispatchReadyHandles();
  it = timers_.find(id);
  if (it == timers_.end() || it->second.armed != armed) return;
  const auto call = it->second.fn;  // the call may stop or restart timers, this one included
  if (it->second.timer->isSingleShot()) StopTimer(id);
  Outermost([&] { call(); });
}

// A timer started at 0 ms from a call of the loop fires as soon as that call has returned, in
// the same turn, as the command line's loop runs timers that fell due: the comm control raises
// each arrival's event at once, and Qt's next turn may come only with the next bytes.
void QtEventLoop::Outermost(const std::function<void()>& call) {
  if (inCall_) {
    call();
    return;
  }
  inCall_ = true;
  call();
  for (bool fired = true; fired;) {
    fired = false;
    for (const auto& [id, t] : timers_) {
      if (t.timer->isSingleShot() && t.timer->interval() == 0 && t.timer->isActive()) {
        const TimerId due = id;
        Fire(due);  // changes timers_: look again from the start
        fired = true;
        break;
      }
    }
  }
  inCall_ = false;
}

void QtEventLoop::RestartTimer(TimerId id, int ms) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  ++it->second.armed;
  it->second.timer->start(std::max(ms, 0));
}

void QtEventLoop::StopTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.timer->stop();
  it->second.timer.release()->deleteLater();  // it may be the one whose call is running
  timers_.erase(it);
}

bool QtEventLoop::TimerActive(TimerId id) const { return timers_.count(id) != 0; }

void QtEventLoop::DispatchReadyHandles() {
  std::vector<km27::HandleReadiness> handles;
  std::vector<WatchId> ids;
  for (const auto& [id, w] : watches_) {
    const unsigned interest = (w.read->isEnabled() ? unsigned(km27::kReadable) : 0u) | (w.write->isEnabled() ? unsigned(km27::kWritable) : 0u);
    if (!interest) continue;
    handles.push_back({w.handle, interest});
    ids.push_back(id);
  }
  if (!km27::ReadyNow(handles)) return;
  for (size_t i = 0; i < handles.size(); ++i)
    if (handles[i].ready) Ready(ids[i], handles[i].ready);  // one unwatched by an earlier call is passed over there
}

QtEventLoop::WatchId QtEventLoop::WatchHandle(km27::NativeHandle handle, unsigned interest,
                                              std::function<void(unsigned)> fn) {
  const WatchId id = ++nextId_;
  Watch w;
  w.handle = handle;
  w.read = std::make_unique<QSocketNotifier>(qintptr(handle), QSocketNotifier::Read);
  w.write = std::make_unique<QSocketNotifier>(qintptr(handle), QSocketNotifier::Write);
  w.fn = std::move(fn);
  // A notifier says only which way the descriptor is ready; a hang-up shows as readable, and a
  // look at the handle tells it apart, as the command line's loop reports it.
  const auto report = [this, id, handle](unsigned way) {
    std::vector<km27::HandleReadiness> look{{handle, way}};
    unsigned ready = way;
    if (km27::ReadyNow(look)) ready |= look[0].ready & km27::kHungUp;
    Ready(id, ready);
  };
  QObject::connect(w.read.get(), &QSocketNotifier::activated, this, [report] { report(km27::kReadable); });
  QObject::connect(w.write.get(), &QSocketNotifier::activated, this, [report] { report(km27::kWritable); });
  watches_[id] = std::move(w);
  SetInterest(id, interest);
  return id;
}

void QtEventLoop::SetInterest(WatchId id, unsigned interest) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second.read->setEnabled(interest & km27::kReadable);
  it->second.write->setEnabled(interest & km27::kWritable);
}

void QtEventLoop::Unwatch(WatchId id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second.read->setEnabled(false);
  it->second.write->setEnabled(false);
  it->second.read.release()->deleteLater();  // one of them may be delivering this very call
  it->second.write.release()->deleteLater();
  watches_.erase(it);
}

void QtEventLoop::Ready(WatchId id, unsigned ready) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  const auto fn = it->second.fn;  // the call may unwatch
  Outermost([&] { fn(ready); });
}

// Queued to this object's thread; Qt drops the call if the object is gone by then.
void QtEventLoop::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}
