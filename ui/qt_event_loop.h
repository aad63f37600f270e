#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

#include "link/event_loop.h"

// The window's EventLoop: the engines' timers, posted calls and the port's events on Qt's own
// loop, on the thread that owns this object. A descriptor is watched with QSocketNotifier.
class QtEventLoop : public QObject, public km27::EventLoop {
 public:
  explicit QtEventLoop(QObject* parent = nullptr);
  ~QtEventLoop() override;

  TimerId StartTimer(int ms, bool repeat, std::function<void()> fn) override;
  void RestartTimer(TimerId id, int ms) override;
  void StopTimer(TimerId id) override;
  bool TimerActive(TimerId id) const override;

  WatchId WatchHandle(km27::NativeHandle handle, unsigned interest, std::function<void(unsigned)> fn) override;
  void SetInterest(WatchId id, unsigned interest) override;
  void Unwatch(WatchId id) override;

  void Post(std::function<void()> fn) override;

 private:
  struct Timer {
    std::unique_ptr<QTimer> timer;
    std::function<void()> fn;
    uint64_t armed = 0;  // which start of the timer a timeout belongs to
  };
  struct Watch {
    km27::NativeHandle handle = -1;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
    std::function<void(unsigned)> fn;
  };
  void Fire(TimerId id);
  void Outermost(const std::function<void()>& call);
  void DispatchReadyHandles();
  void Ready(WatchId id, unsigned ready);

  uint64_t nextId_ = 0;
  std::map<TimerId, Timer> timers_;
  std::map<WatchId, Watch> watches_;
  bool inCall_ = false;
};
