#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/comm_control.h"
#include "link/comm_runs.h"
#include "link/event_loop.h"
#include "port/com_names.h"
#include "port/port.h"

namespace km27 {

// The code box's serial comm control: a COM port driven from an event loop (the window's or
// the command line's), with no thread of its own.
//  - Output writes at once (what the line does not take at once follows as it takes it);
//  - the send event comes once everything handed over has left the port, and only after the
//    last output (an announcement byte followed quickly by the frame gives one event);
//  - receive events come in the line's order: bytes that arrived after output left are
//    announced after that output's send event;
//  - no event is raised inside a handler or from within a call of the link, only from the
//    loop; while events are held they wait, and come from the loop after the releasing call;
//  - a COM port naming a URL is opened by a thread of its own (resolving, connecting and the
//    server's negotiation take up to the connect time limit): to the link it is a line that
//    opened a little later. A serial line opens at once, on the loop's thread.
class SerialComm : public CommControl {
 public:
  explicit SerialComm(EventLoop& loop);
  ~SerialComm() override;
  SerialComm(const SerialComm&) = delete;
  SerialComm& operator=(const SerialComm&) = delete;

  // Where COM n is; without this, from the process's environment at each open.
  void SetComEnvironment(const ComEnvironment& env);

  void SetCommPort(int16_t port) override;
  int16_t GetInBufferCount() override;
  void SetInBufferCount(int16_t count) override;
  void SetInputLen(int16_t len) override;
  void SetPortOpen(bool open) override;
  void SetRThreshold(int16_t n) override { rThreshold_ = n; }
  void SetSThreshold(int16_t n) override { sThreshold_ = n; }
  void SetOutput(const std::vector<uint8_t>& bytes) override;
  std::vector<uint8_t> GetInput() override;
  int16_t GetCommEvent() override { return commEvent_; }
  void SetInputMode(int32_t mode) override { inputMode_ = mode; }
  void SetOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }
  void SetEventsHeld(bool held) override;
  int NetworkAllowanceMs() const override { return port_->NetworkAllowanceMs(); }

  bool PortOpen() const { return port_->IsOpen(); }
  int16_t CommPort() const { return commPort_; }
  const std::string& DevicePath() const { return port_->DevicePath(); }

 private:
  struct Pending {
    int16_t code;
    uint64_t seq;  // receive: the run it announces; send: the output it follows
  };
  struct Opening;
  void OpenPort();
  void OpenInBackground(const std::string& url);
  void Opened(uint64_t id);
  void WatchPort();
  void ClosePort();
  void ReadLine();
  void WriteUnwritten();
  void CheckOutputLeft();
  void Queue(int16_t code, uint64_t seq);
  void ScheduleDispatch();
  void Dispatch();
  void Raise(const Pending& p);
  void CallHandler(int16_t code, uint64_t run);

  EventLoop& loop_;
  // The port is whatever kind COM numbers stand for; only its interface is used. A port opened
  // in the background takes its place once open.
  std::unique_ptr<Port> port_ = NewComPort();
  std::vector<std::unique_ptr<Opening>> openings_;  // threads not yet joined, the current one last
  uint64_t opening_ = 0;                            // the open the control waits for; 0 = none
  uint64_t openingsStarted_ = 0;
  // Reports of openings posted to the loop find the control gone once this is.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unique_ptr<PortWatch> watch_;
  bool envSet_ = false;
  ComEnvironment env_;
  int16_t commPort_ = 1;
  int16_t inputLen_ = 0;
  int16_t rThreshold_ = 0;
  int16_t sThreshold_ = 0;
  int32_t inputMode_ = 0;
  int16_t commEvent_ = 0;
  std::function<void()> onComm_;
  bool inHandler_ = false;
  bool held_ = false;
  uint64_t raisedRun_ = 0;  // the run whose receive event is being handled; 0 = none

  EventLoop::TimerId drainCheck_ = 0;
  EventLoop::TimerId dispatch_ = 0;
  std::deque<Pending> pending_;
  ReceivedRuns received_;
  std::vector<uint8_t> unwritten_;  // output the line did not take at once, in order
  uint64_t outSeq_ = 0;             // outputs handed over
  uint64_t leftSeq_ = 0;            // outputs known to have left the port
};

}  // namespace km27
