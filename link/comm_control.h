#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace km27 {

// CommEvent values the code box reacts to; others are ignored.
inline constexpr int16_t kCommEventSend = 1;     // output buffer emptied: the bytes have left the port
inline constexpr int16_t kCommEventReceive = 2;  // data received
inline constexpr int32_t kInputModeBinary = 1;   // Input delivers a byte array

// The serial comm control the code-box link is driven through: exactly the operations it uses,
// and its one event. Implementations deliver the event on the window's thread, never while a
// handler of it is still running.
class CommControl {
 public:
  virtual ~CommControl() = default;

  virtual void SetCommPort(int16_t port) = 0;       // 1..9, before opening
  virtual int16_t GetInBufferCount() = 0;           // received bytes waiting
  virtual void SetInBufferCount(int16_t count) = 0; // 0: discard waiting input
  virtual void SetInputLen(int16_t len) = 0;        // 0: Input takes everything waiting
  virtual void SetPortOpen(bool open) = 0;
  virtual void SetRThreshold(int16_t n) = 0;        // 1: event on every arrival
  virtual void SetSThreshold(int16_t n) = 0;        // 1: event when the output has drained
  virtual void SetOutput(const std::vector<uint8_t>& bytes) = 0;
  virtual std::vector<uint8_t> GetInput() = 0;      // removes what it returns
  virtual int16_t GetCommEvent() = 0;               // the condition that raised the current event
  virtual void SetInputMode(int32_t mode) = 0;

  // OnComm: called for each receive or send condition (an empty function detaches).
  virtual void SetOnComm(std::function<void()> handler) = 0;

  // While held, events are kept back and then raised in their order once released, after the
  // releasing call has returned: what a thread blocked in a wait would see of them, without
  // blocking it. The code box's link holds them through its timed pauses.
  virtual void SetEventsHeld(bool held) = 0;

  // What the network adds to the waits of the open port (Port::NetworkAllowanceMs): 0 for a
  // local line.
  virtual int NetworkAllowanceMs() const { return 0; }
};

}  // namespace km27
