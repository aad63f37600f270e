#pragma once
#include <atomic>
#include <string>

#include "port/net_port.h"
#include "port/port.h"
#include "port/rfc2217_port.h"
#include "port/serial_port.h"
#include "port/tcp_port.h"

namespace km27 {

// The port a COM number stands for: a serial device or a line at a terminal server, whichever
// the name given to Open calls for (tcp://, rfc2217://, else a device path). Everything else
// goes to the port that name opened; time limits and Abort reach all of them, so they hold
// whatever the next Open picks.
class ComPort : public Port {
 public:
  ComPort() = default;

  bool Open(const std::string& name, OpenDevices* seen = nullptr) override;
  void Close() override { Active().Close(); }
  bool IsOpen() const override { return Active().IsOpen(); }
  const std::string& DevicePath() const override { return Active().DevicePath(); }

  bool SetLine(int baud, Parity parity, int dataBits, int stopBits) override {
    return Active().SetLine(baud, parity, dataBits, stopBits);
  }
  bool SetBaud(int baud) override { return Active().SetBaud(baud); }
  int Baud() const override { return Active().Baud(); }
  bool SetRts(bool on) override { return Active().SetRts(on); }
  void SetTimeouts(const SerialTimeouts& t) override;
  const SerialTimeouts& Timeouts() const override { return Active().Timeouts(); }

  bool Purge(bool input, bool output) override { return Active().Purge(input, output); }
  bool Drain() override { return Active().Drain(); }
  IoResult Write(const uint8_t* data, size_t n) override { return Active().Write(data, n); }
  IoResult Read(uint8_t* buf, size_t n) override { return Active().Read(buf, n); }
  IoResult ReadAvailable(uint8_t* buf, size_t max) override { return Active().ReadAvailable(buf, max); }
  IoResult WriteAvailable(const uint8_t* data, size_t n) override { return Active().WriteAvailable(data, n); }
  int InBufferCount() const override { return Active().InBufferCount(); }
  int OutBufferCount() const override { return Active().OutBufferCount(); }

  void Abort() override;
  void ClearAbort() override;
  bool AbortRequested() const override { return Active().AbortRequested(); }
  bool Sleep(int ms) override { return Active().Sleep(ms); }

  int LastError() const override { return Active().LastError(); }
  std::string LastErrorText() const override { return Active().LastErrorText(); }
  const PortHolder& Holder() const override { return Active().Holder(); }
  int NetworkAllowanceMs() const override { return Active().NetworkAllowanceMs(); }
  std::unique_ptr<PortWatch> Watch(IoDispatcher& loop, PortEvents events) override {
    return Active().Watch(loop, std::move(events));
  }

  void SetNetTiming(const NetTiming& t);
  // The network port in use; nullptr for a serial device.
  const NetPort* Net() const;

 private:
  Port& Active() const { return *active_.load(); }

  SerialPort serial_;
  TcpPort tcp_;
  Rfc2217Port rfc2217_;
  std::atomic<Port*> active_{&serial_};
};

}  // namespace km27
