#pragma once
#include "port/net_port.h"

namespace km27 {

// tcp://HOST:PORT: the line's bytes over a plain TCP connection. The server sets the line
// (9600 8N1 is taken as what it is set to); a banner that comes with the connection is discarded.
class TcpPort : public NetPort {
 public:
  TcpPort() : NetPort(NetScheme::Tcp, false) {}

  // Only 9600 8N1, the speed the server is taken to keep: anything else fails (EINVAL).
  bool SetLine(int baud, Parity parity, int dataBits, int stopBits) override;
  bool SetBaud(int baud) override;
  int Baud() const override { return IsOpen() ? 9600 : 0; }
  bool SetRts(bool) override { return IsOpen() || Fail(EBADF); }  // no modem lines to set

 protected:
  bool Start() override { return true; }
  void Take(const uint8_t* data, size_t n) override;
};

}  // namespace km27
