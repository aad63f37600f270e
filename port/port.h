#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "port/io_dispatcher.h"
#include "port/port_claim.h"

namespace km27 {

enum class Parity { None, Odd, Even };

// Win32-style time limits, in milliseconds; 0 switches a limit off. A read of n bytes returns
// when n bytes came, when readIntervalMs pass between two bytes (after the first), or when
// readTotalConstantMs + n * readTotalPerByteMs have passed in all. A write of n bytes gives up
// after writeTotalConstantMs + n * writeTotalPerByteMs.
struct SerialTimeouts {
  int readIntervalMs = 0;
  int readTotalPerByteMs = 0;
  int readTotalConstantMs = 0;
  int writeTotalPerByteMs = 0;
  int writeTotalConstantMs = 0;
};

enum class IoStatus {
  Ok,        // every byte asked for was moved
  TimedOut,  // a time limit ran out; count says how many bytes were moved before it
  HungUp,    // the device went away (read of 0 bytes, POLLHUP, EIO): close the port
  Aborted,   // Abort() was called
  Error,     // any other OS error (LastError)
};

struct IoResult {
  size_t count = 0;
  IoStatus status = IoStatus::Error;
  bool Ok() const { return status == IoStatus::Ok; }
};

// What a watched port reports, on the dispatcher's thread.
struct PortEvents {
  std::function<void()> received;  // bytes wait to be read (ReadAvailable takes them)
  std::function<void()> writable;  // the line takes more output, while asked for
  std::function<void()> lost;      // the device went away: nothing more will come
};

// A port's reports to an event loop, for as long as this object lives.
class PortWatch {
 public:
  virtual ~PortWatch() = default;
  // Whether `writable` is wanted: after WriteAvailable took less than it was given.
  virtual void WantWritable(bool want) = 0;
};

// A line to a lower machine, whatever carries it: what the engines and the comm controls do
// with one. One thread uses a port at a time, except Abort(), which any thread may call to cut
// a wait short.
class Port {
 public:
  virtual ~Port() = default;

  // Exclusive: refused (EBUSY, Holder() says who) while another program holds the device, and
  // then the line is not touched. An open line is raw, 9600 8N1, with stale input discarded.
  // `seen` is what a scan over many ports already knows of the devices open elsewhere.
  virtual bool Open(const std::string& devicePath, OpenDevices* seen = nullptr) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual const std::string& DevicePath() const = 0;

  virtual bool SetLine(int baud, Parity parity, int dataBits, int stopBits) = 0;
  virtual bool SetBaud(int baud) = 0;
  virtual int Baud() const = 0;  // the line's speed now; 0 when it cannot say
  // A line without modem lines takes this as done: that is no failure.
  virtual bool SetRts(bool on) = 0;
  virtual void SetTimeouts(const SerialTimeouts& t) = 0;
  virtual const SerialTimeouts& Timeouts() const = 0;

  virtual bool Purge(bool input, bool output) = 0;
  virtual bool Drain() = 0;  // waits until everything written has left

  // Within the time limits; Abort() cuts them short.
  virtual IoResult Write(const uint8_t* data, size_t n) = 0;
  virtual IoResult Read(uint8_t* buf, size_t n) = 0;
  // Without waiting: what is there to read, or what the line takes now (Ok with a count below
  // n when it is full; the rest can go once the watch reports `writable`). HungUp when the device
  // is gone.
  virtual IoResult ReadAvailable(uint8_t* buf, size_t max) = 0;
  virtual IoResult WriteAvailable(const uint8_t* data, size_t n) = 0;
  virtual int InBufferCount() const = 0;   // received, not yet read; -1 on error
  virtual int OutBufferCount() const = 0;  // written, not yet on the wire; 0 when it cannot say

  // Wakes a Read/Write/Sleep in progress; later calls return Aborted until ClearAbort().
  virtual void Abort() = 0;
  virtual void ClearAbort() = 0;
  virtual bool AbortRequested() const = 0;
  // A pause that Abort() cuts short; false when aborted.
  virtual bool Sleep(int ms) = 0;

  virtual int LastError() const = 0;  // errno-style
  virtual std::string LastErrorText() const = 0;  // the system's reason, for the operator
  virtual const PortHolder& Holder() const = 0;  // who holds the device after EBUSY, where known
  // What the network adds to every wait on this line, in ms, as found at Open (or set in its
  // URL): 0 for a local line, whose waits stay exactly as the lower machines expect them.
  virtual int NetworkAllowanceMs() const { return 0; }

  // Reports the line's events through `loop` until the watch is destroyed (before Close()).
  // Each kind of port brings them about its own way: a descriptor becomes ready, or an
  // overlapped read completes.
  virtual std::unique_ptr<PortWatch> Watch(IoDispatcher& loop, PortEvents events) = 0;
};

}  // namespace km27
