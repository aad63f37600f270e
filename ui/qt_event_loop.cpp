#include "ui/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <poll.h>

#include <algorithm>

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {}

QtEventLoop::~QtEventLoop() = default;

QtEventLoop::TimerId QtEventLoop::StartTimer(int ms, bool repeat, std::function<void()> fn) {
  const TimerId id = ++nextId_;
  auto timer = std::make_unique<QTimer>();
  timer->setTimerType(Qt::PreciseTimer);  // the code box's pauses are timed to the millisecond
  timer->setSingleShot(!repeat);
  QObject::connect(timer.get(), &QTimer::timeout, this, [this, id, fn = std::move(fn)] {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    // A one-shot timer is gone once it fired; it is deleted later, as it is still on the stack.
    if (it->second->isSingleShot()) {
      it->second.release()->deleteLater();
      timers_.erase(it);
    }
    const auto call = fn;  // the call may stop or restart timers, this one included
    call();
  });
  timer->start(std::max(ms, 0));
  timers_[id] = std::move(timer);
  return id;
}

void QtEventLoop::RestartTimer(TimerId id, int ms) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->start(std::max(ms, 0));
}

void QtEventLoop::StopTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  it->second.release()->deleteLater();  // it may be the one whose call is running
  timers_.erase(it);
}

bool QtEventLoop::TimerActive(TimerId id) const { return timers_.count(id) != 0; }

QtEventLoop::WatchId QtEventLoop::WatchHandle(km27::NativeHandle handle, unsigned interest,
                                              std::function<void(unsigned)> fn) {
  const WatchId id = ++nextId_;
  Watch w;
  w.read = std::make_unique<QSocketNotifier>(qintptr(handle), QSocketNotifier::Read);
  w.write = std::make_unique<QSocketNotifier>(qintptr(handle), QSocketNotifier::Write);
  w.fn = std::move(fn);
  // A notifier says only which way the descriptor is ready; a hang-up shows as readable, and a
  // look with poll() tells it apart, as the command line's loop reports it.
  const int fd = int(handle);
  const auto report = [this, id, fd](unsigned way) {
    pollfd p{fd, short(way == km27::kReadable ? POLLIN : POLLOUT), 0};
    unsigned ready = way;
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) ready |= km27::kHungUp;
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
  fn(ready);
}

// Queued to this object's thread; Qt drops the call if the object is gone by then.
void QtEventLoop::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}
