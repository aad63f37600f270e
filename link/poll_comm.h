#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/comm_runs.h"
#include "link/poll_loop.h"
#include "link/serial_comm.h"
#include "port/com_names.h"

namespace km27 {

// The code box's serial comm control for a program without a window: a COM port driven from a
// PollLoop, with no thread of its own. It behaves as the window's control does:
//  - Output writes at once (what the OS does not take is written as the line takes it);
//  - the send event comes once everything handed over has left the port, and only after the
//    last output (an announcement byte followed quickly by the frame gives one event);
//  - receive events come in the line's order: bytes that arrived after output left are
//    announced after that output's send event;
//  - no event is raised inside a handler or from within a call of the link, only from the
//    loop; while events are held they wait, and come from the loop after the releasing call.
class PollComm : public SerialCommControl {
 public:
  explicit PollComm(PollLoop& loop);
  ~PollComm() override;
  PollComm(const PollComm&) = delete;
  PollComm& operator=(const PollComm&) = delete;

  // Where COM n is; without this, from the process's environment at each open.
  void SetComEnvironment(const ComEnvironment& env);

  int16_t GetInBufferCount() override;
  void SetInBufferCount(int16_t count) override;
  void SetOutput(const std::vector<uint8_t>& bytes) override;
  std::vector<uint8_t> GetInput() override;
  void SetEventsHeld(bool held) override;

 private:
  struct Pending {
    int16_t code;
    uint64_t seq;  // receive: the run it announces; send: the output it follows
  };

  void OpenPort() override;
  void ClosePort() override;
  void OnLine(unsigned ready);
  void ReadLine();
  void WriteUnwritten();
  void CheckOutputLeft();
  void Queue(int16_t code, uint64_t seq);
  void ScheduleDispatch();
  void Dispatch();
  void Raise(const Pending& p);

  PollLoop& loop_;
  bool envSet_ = false;
  ComEnvironment env_;
  PollLoop::WatchId watch_ = 0;
  PollLoop::TimerId drainCheck_ = 0;
  PollLoop::TimerId dispatch_ = 0;
  std::deque<Pending> pending_;
  ReceivedRuns received_;
  std::vector<uint8_t> unwritten_;  // output the OS did not take at once, in order
  uint64_t outSeq_ = 0;             // outputs handed over
  uint64_t leftSeq_ = 0;            // outputs known to have left the port
};

}  // namespace km27
