#include "link/serial_comm.h"

namespace km27 {

void SerialCommControl::SetCommPort(int16_t port) {
  if (!port_.IsOpen()) commPort_ = port;  // the port of an open control cannot change
}

void SerialCommControl::SetInputLen(int16_t len) { inputLen_ = len < 0 ? 0 : len; }

void SerialCommControl::SetPortOpen(bool open) {
  if (open == port_.IsOpen()) return;
  if (open)
    OpenPort();
  else
    ClosePort();
}

void SerialCommControl::CallHandler(int16_t code, uint64_t run) {
  if (code == kCommEventReceive ? rThreshold_ <= 0 : sThreshold_ <= 0) return;
  inHandler_ = true;
  commEvent_ = code;
  raisedRun_ = code == kCommEventReceive ? run : 0;
  if (onComm_) onComm_();
  raisedRun_ = 0;
  inHandler_ = false;
}

}  // namespace km27
