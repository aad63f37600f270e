#pragma once
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/comm_control.h"
#include "link/link_host.h"

namespace km27::testing {

// Records what the link asks of the window.
class FakeHost : public LinkHost {
 public:
  int lamp = -1;
  std::string status;
  std::vector<std::string> statusHistory;
  ButtonStates buttons;
  std::map<int, int> timers;  // running timers: id -> period
  int showCounts = 0;
  std::vector<std::string> messages;

  void SetLampState(int state) override { lamp = state; }
  void SetStatusText(const std::string& utf8) override {
    status = utf8;
    statusHistory.push_back(utf8);
  }
  void SetButtonStates(const ButtonStates& s) override { buttons = s; }
  void SetTimer(int id, int ms) override { timers[id] = ms; }
  void KillTimer(int id) override { timers.erase(id); }
  void ShowCounts() override { ++showCounts; }
  void ShowMessage(const std::string& utf8) override { messages.push_back(utf8); }
  void DeviceInfoReceived(const DeviceInfo&) override {}  // the code box has none
  bool RunOnWindowThread(const std::function<void()>& fn) override {
    fn();
    return true;
  }

  bool Running(int id) const { return timers.count(id) != 0; }
  bool TransferButtonsEnabled() const {
    return buttons.enabled[kButtonUpload] && buttons.enabled[kButtonDownload];
  }
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
