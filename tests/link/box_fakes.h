#pragma once
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/comm_control.h"
#include "link/event_loop.h"

namespace km27::testing {

// An event loop the test turns by hand: the timers are kept with their periods, and the test
// fires one as the loop would when it falls due.
class ManualLoop : public EventLoop {
 public:
  struct Timer {
    int ms;
    bool repeat;
    std::function<void()> fn;
  };
  std::map<TimerId, Timer> timers;

  TimerId StartTimer(int ms, bool repeat, std::function<void()> fn) override {
    timers[++next_] = {ms, repeat, std::move(fn)};
    return next_;
  }
  void RestartTimer(TimerId id, int ms) override {
    if (auto it = timers.find(id); it != timers.end()) it->second.ms = ms;
  }
  void StopTimer(TimerId id) override { timers.erase(id); }
  bool TimerActive(TimerId id) const override { return timers.count(id) != 0; }
  WatchId WatchHandle(NativeHandle, unsigned, std::function<void(unsigned)>) override { return 0; }
  void SetInterest(WatchId, unsigned) override {}
  void Unwatch(WatchId) override {}
  void Post(std::function<void()> fn) override { fn(); }

  // A repeating timer of that period is running (the code box's scan, watchdog, upload limit).
  bool Running(int ms) const { return Find(ms, true) != 0; }
  // Fires it; false when none runs.
  bool Fire(int ms) { return FireId(Find(ms, true)); }
  // The one-shot timer (a pause): its period, or -1 when none runs; firing it.
  int OneShotMs() const {
    for (const auto& [id, t] : timers)
      if (!t.repeat) return t.ms;
    return -1;
  }
  bool FireOneShot() { return FireId(Find(-1, false)); }

 private:
  TimerId Find(int ms, bool repeat) const {
    for (const auto& [id, t] : timers)
      if (t.repeat == repeat && (ms < 0 || t.ms == ms)) return id;
    return 0;
  }
  bool FireId(TimerId id) {
    auto it = timers.find(id);
    if (it == timers.end()) return false;
    const auto fn = it->second.fn;
    if (!it->second.repeat) timers.erase(it);
    fn();
    return true;
  }
  TimerId next_ = 0;
};

// A comm control whose line the test plays by hand: Arrive() puts bytes into the input as the
// port would; Receive() also raises the receive event; Drain() raises the send event.
class FakeComm : public CommControl {
 public:
  int16_t port = 0;
  bool open = false;
  int16_t rThreshold = 0, sThreshold = 0, inputLen = -1;
  int32_t inputMode = 0;
  std::vector<std::string> calls;                // property puts in order
  std::vector<std::vector<uint8_t>> written;     // Output calls while open
  int outputsWhileClosed = 0;
  std::vector<uint8_t> input;
  int16_t event = 0;
  std::function<void()> onComm;

  void SetCommPort(int16_t p) override { calls.push_back("CommPort"); port = p; }
  int16_t GetInBufferCount() override { return int16_t(input.size()); }
  void SetInBufferCount(int16_t) override { calls.push_back("InBufferCount"); input.clear(); }
  void SetInputLen(int16_t n) override { calls.push_back("InputLen"); inputLen = n; }
  void SetPortOpen(bool o) override {
    calls.push_back(o ? "PortOpen(true)" : "PortOpen(false)");
    open = o;
    if (!o) input.clear();
  }
  void SetRThreshold(int16_t n) override { calls.push_back("RThreshold"); rThreshold = n; }
  void SetSThreshold(int16_t n) override { calls.push_back("SThreshold"); sThreshold = n; }
  void SetOutput(const std::vector<uint8_t>& bytes) override {
    if (open) written.push_back(bytes);
    else ++outputsWhileClosed;
  }
  std::vector<uint8_t> GetInput() override {
    std::vector<uint8_t> out;
    out.swap(input);
    return out;
  }
  int16_t GetCommEvent() override { return event; }
  void SetInputMode(int32_t m) override { calls.push_back("InputMode"); inputMode = m; }
  void SetOnComm(std::function<void()> h) override { onComm = std::move(h); }

  void SetEventsHeld(bool h) override { held = h; }

  void Arrive(const std::vector<uint8_t>& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
  // Raised at once, or kept back while the link holds events.
  void Raise(int16_t e) {
    if (held) {
      heldEvents.push_back(e);
      return;
    }
    event = e;
    if (onComm) onComm();
    event = 0;
  }
  // What the event loop does once the link has released its events: raises them in order; a
  // receive event whose bytes were taken meanwhile stays silent, as the real control's does.
  void Pump() {
    while (!held && !heldEvents.empty()) {
      const int16_t e = heldEvents.front();
      heldEvents.erase(heldEvents.begin());
      if (e == kCommEventReceive && input.empty()) continue;
      Raise(e);
    }
  }
  bool held = false;
  std::vector<int16_t> heldEvents;
  void Receive(const std::vector<uint8_t>& bytes) {
    Arrive(bytes);
    Raise(kCommEventReceive);
  }
  void Drain() { Raise(kCommEventSend); }
};

}  // namespace km27::testing
