#include "port/tcp_port.h"

#include <cerrno>

namespace km27 {

namespace {
const char kFixedLine[] = "tcp:// 的线路设置由服务器决定，只能是 9600 8N1；需要改速率时请用 rfc2217://";
}

bool TcpPort::SetLine(int baud, Parity parity, int dataBits, int stopBits) {
  if (!IsOpen()) return Fail(EBADF);
  if (baud != 9600 || parity != Parity::None || dataBits != 8 || stopBits != 1) return Fail(EINVAL, kFixedLine);
  return true;
}

bool TcpPort::SetBaud(int baud) {
  if (!IsOpen()) return Fail(EBADF);
  return baud == 9600 || Fail(EINVAL, kFixedLine);
}

void TcpPort::Take(const uint8_t* data, size_t n) {
  // A banner comes with the connection, and Open drops what came while it let the server
  // settle. Everything after that is the device's, which may speak first: the code box
  // announces itself before it is asked anything.
  PushInput(data, n);
}

}  // namespace km27
