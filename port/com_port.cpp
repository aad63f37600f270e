#include "port/com_port.h"

#include "port/net_url.h"

namespace km27 {

bool ComPort::Open(const std::string& name, OpenDevices* seen) {
  Close();
  Port* next = &serial_;
  if (IsNetUrl(name)) {
    NetUrl url;
    // An invalid URL is refused by a network port, which says why.
    next = ParseNetUrl(name, &url) == UrlProblem::None && url.scheme == NetScheme::Rfc2217 ? static_cast<Port*>(&rfc2217_)
                                                                                           : &tcp_;
  }
  active_.store(next);
  return next->Open(name, seen);
}

void ComPort::SetTimeouts(const SerialTimeouts& t) {
  serial_.SetTimeouts(t);
  tcp_.SetTimeouts(t);
  rfc2217_.SetTimeouts(t);
}

void ComPort::Abort() {
  serial_.Abort();
  tcp_.Abort();
  rfc2217_.Abort();
}

void ComPort::ClearAbort() {
  serial_.ClearAbort();
  tcp_.ClearAbort();
  rfc2217_.ClearAbort();
}

void ComPort::SetNetTiming(const NetTiming& t) {
  tcp_.SetNetTiming(t);
  rfc2217_.SetNetTiming(t);
}

const NetPort* ComPort::Net() const {
  const Port* p = active_.load();
  if (p == &tcp_) return &tcp_;
  if (p == &rfc2217_) return &rfc2217_;
  return nullptr;
}

}  // namespace km27
