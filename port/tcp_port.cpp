#include "port/tcp_port.h"

#include <cerrno>

#include "model/messages.h"

namespace km27 {

bool TcpPort::SetLine(int baud, Parity parity, int dataBits, int stopBits) {
  if (!IsOpen()) return Fail(EBADF);
  if (baud != 9600 || parity != Parity::None || dataBits != 8 || stopBits != 1) return Fail(EINVAL, Text(Msg::kTcpFixedLine));
  return true;
}

bool TcpPort::SetBaud(int baud) {
  if (!IsOpen()) return Fail(EBADF);
  return baud == 9600 || Fail(EINVAL, Text(Msg::kTcpFixedLine));
}

void TcpPort::Take(const uint8_t* data, size_t n) {
  // A banner comes with the connection, and Open drops what came while it let the server
  // settle. Everything after that is the device's, which may speak first: the code box
  // announces itself before it is asked anything.
  PushInput(data, n);
}

}  // namespace km27
