#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/port_claim.h"

struct termios;

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

// A serial line opened exclusively by device path (termios + poll). One thread uses a port at
// a time, except Abort(), which any thread may call to cut a wait short.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Exclusive: refused (EBUSY) while another program holds the device — an open file in any
  // process we can see (this one included), a lock file or flock — and then the line is not
  // touched at all; so is our own terminal. Otherwise holds a lock file and TIOCEXCL until
  // Close(), which gives the line its settings back, and leaves the line raw, 9600 8N1, with
  // stale input discarded. `seen` is what a scan over many ports read of
  // /proc; without it /proc is read here. Either way it is read afresh once the line is open.
  bool Open(const std::string& devicePath, OpenDevices* seen = nullptr);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const std::string& DevicePath() const { return path_; }

  bool SetLine(int baud, Parity parity, int dataBits, int stopBits);
  bool SetBaud(int baud);
  // Modem lines are not there on every line (a pty refuses them with ENOTTY): that is no failure.
  bool SetRts(bool on);
  void SetTimeouts(const SerialTimeouts& t) { timeouts_ = t; }
  const SerialTimeouts& Timeouts() const { return timeouts_; }

  bool Purge(bool input, bool output);
  bool Drain();  // waits until everything written has left (tcdrain)

  IoResult Write(const uint8_t* data, size_t n);
  IoResult Read(uint8_t* buf, size_t n);
  // What is waiting now, without blocking (HungUp when the device is gone).
  IoResult ReadAvailable(uint8_t* buf, size_t max);
  int InBufferCount() const;  // FIONREAD; -1 on error

  // Wakes a Read/Write/Sleep in progress; later calls return Aborted until ClearAbort().
  void Abort();
  void ClearAbort();
  bool AbortRequested() const;
  // A pause that Abort() cuts short; false when aborted.
  bool Sleep(int ms);

  int LastError() const { return lastError_; }
  std::string LastErrorText() const;  // the OS reason, for the operator
  // Who holds the device when Open failed with EBUSY, where known.
  const PortHolder& Holder() const { return holder_; }

 private:
  bool ApplyTermios(int baud, Parity parity, int dataBits, int stopBits);
  IoStatus Fail(int err);
  bool Refuse(int fd, int err);  // closes `fd` and drops the lock; false

  int fd_ = -1;
  std::unique_ptr<::termios> foundTermios_;  // the line's settings before Open changed them
  int abortFd_ = -1;  // eventfd: readable while an abort is pending
  std::string path_;
  SerialTimeouts timeouts_;
  int lastError_ = 0;
  PortLock lock_;
  PortHolder holder_;
};

// Baud rate as a number → termios speed constant; 0 when the rate is not supported.
unsigned SpeedConstant(int baud);
int BaudFromSpeed(unsigned speed);

}  // namespace km27
