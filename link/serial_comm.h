#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/comm_control.h"
#include "port/com_names.h"
#include "port/port.h"

namespace km27 {

// What the window's comm control and the command line's have in common: the properties the
// link sets, the port itself, and how the handler is called for an event. How bytes and events
// travel (threads and the window's queue, or a poll loop) is each control's own.
class SerialCommControl : public CommControl {
 public:
  void SetCommPort(int16_t port) override;
  void SetInputLen(int16_t len) override;
  void SetPortOpen(bool open) override;
  void SetRThreshold(int16_t n) override { rThreshold_ = n; }
  void SetSThreshold(int16_t n) override { sThreshold_ = n; }
  int16_t GetCommEvent() override { return commEvent_; }
  void SetInputMode(int32_t mode) override { inputMode_ = mode; }
  void SetOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }

  bool PortOpen() const { return port_.IsOpen(); }
  int16_t CommPort() const { return commPort_; }
  const std::string& DevicePath() const { return port_.DevicePath(); }

 protected:
  virtual void OpenPort() = 0;
  virtual void ClosePort() = 0;

  // Calls the handler for an event of `code` (for a receive event, announcing run `run`),
  // unless the event's threshold is off.
  void CallHandler(int16_t code, uint64_t run);

  // The port is whatever kind COM numbers stand for; only its interface is used.
  const std::unique_ptr<Port> ownPort_ = NewComPort();
  Port& port_ = *ownPort_;
  int16_t commPort_ = 1;
  int16_t inputLen_ = 0;
  std::function<void()> onComm_;
  bool inHandler_ = false;
  bool held_ = false;
  uint64_t raisedRun_ = 0;  // the run whose receive event is being handled; 0 = none

 private:
  int16_t rThreshold_ = 0;
  int16_t sThreshold_ = 0;
  int32_t inputMode_ = 0;
  int16_t commEvent_ = 0;
};

}  // namespace km27
