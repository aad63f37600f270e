#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "port/abort_signal.h"
#include "port/port.h"
#include "port/port_claim.h"

namespace km27 {

// A serial line opened exclusively by device path: termios and poll on POSIX, a COM handle
// with overlapped I/O on Windows.
class SerialPort : public Port {
 public:
  SerialPort();
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Exclusive: refused (EBUSY) while another program holds the device — an open file in any
  // process we can see (this one included), a lock file or flock — and then the line is not
  // touched at all; so is our own terminal. Otherwise holds a lock file and TIOCEXCL until
  // Close(), which gives the line its settings back, and leaves the line raw, 9600 8N1, with
  // stale input discarded. `seen` is what a scan over many ports read of
  // /proc; without it /proc is read here. Either way it is read afresh once the line is open.
  bool Open(const std::string& devicePath, OpenDevices* seen = nullptr) override;
  void Close() override;
  bool IsOpen() const override;
  std::unique_ptr<PortWatch> Watch(IoDispatcher& loop, PortEvents events) override;
  int Fd() const { return fd_; }  // POSIX
  const std::string& DevicePath() const override { return path_; }

  bool SetLine(int baud, Parity parity, int dataBits, int stopBits) override;
  bool SetBaud(int baud) override;
  int Baud() const override;
  // Modem lines are not there on every line (a pty refuses them): that is no failure.
  bool SetRts(bool on) override;
  void SetTimeouts(const SerialTimeouts& t) override { timeouts_ = t; }
  const SerialTimeouts& Timeouts() const override { return timeouts_; }

  bool Purge(bool input, bool output) override;
  bool Drain() override;  // tcdrain; FlushFileBuffers

  IoResult Write(const uint8_t* data, size_t n) override;
  IoResult Read(uint8_t* buf, size_t n) override;
  IoResult ReadAvailable(uint8_t* buf, size_t max) override;
  IoResult WriteAvailable(const uint8_t* data, size_t n) override;
  int InBufferCount() const override;  // FIONREAD; ClearCommError
  // TIOCOUTQ, and the UART's own transmitter where the driver tells (TIOCOUTQ does not count
  // it); ClearCommError
  int OutBufferCount() const override;

  void Abort() override;
  void ClearAbort() override;
  bool AbortRequested() const override;
  bool Sleep(int ms) override;

  int LastError() const override { return lastError_; }
  std::string LastErrorText() const override;
  const PortHolder& Holder() const override { return holder_; }

 private:
  struct Native;  // what the system keeps of an open line
  friend class SerialPortWatch;
  bool ApplyLine(int baud, Parity parity, int dataBits, int stopBits);
  IoStatus Fail(int err);
  IoStatus Ended(unsigned long error, bool shortOfAll);  // Windows
  bool Refuse(int fd, int err);  // closes `fd` and drops the lock; false

  int fd_ = -1;  // POSIX
  std::unique_ptr<Native> native_;
  AbortSignal abort_;
  std::string path_;
  SerialTimeouts timeouts_;
  int lastError_ = 0;
  unsigned long systemError_ = 0;  // Windows: the system's own code behind lastError_
  PortLock lock_;
  PortHolder holder_;
};

// POSIX: baud rate as a number → termios speed constant; 0 when the rate is not supported.
unsigned SpeedConstant(int baud);
int BaudFromSpeed(unsigned speed);

}  // namespace km27
