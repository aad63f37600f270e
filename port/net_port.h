#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "port/net_url.h"
#include "port/abort_signal.h"
#include "port/net_socket.h"
#include "port/port.h"

namespace km27 {

// How long the network may take. The caller scales these for slow links; nothing else of a
// network port waits on the server.
struct NetTiming {
  int connectMs = 3000;  // resolving and connecting, all addresses together
  int ackMs = 300;       // for the server to confirm a line setting before we go on without
};

// A serial line at a terminal server, over one TCP connection: what raw TCP and Telnet share.
// The connection is the line: it is opened per Open and a dropped one is a line unplugged.
// Claims do not apply (the server keeps its line to one client and refuses the others).
class NetPort : public Port {
 public:
  ~NetPort() override;
  NetPort(const NetPort&) = delete;
  NetPort& operator=(const NetPort&) = delete;

  // `url` is tcp://HOST:PORT or rfc2217://HOST:PORT as the kind of port takes; `seen` is not
  // used. A server that closes at once, or says its line is in use, is refused with EBUSY.
  bool Open(const std::string& url, OpenDevices* seen = nullptr) override;
  void Close() override;
  bool IsOpen() const override { return socket_.IsOpen(); }
  const std::string& DevicePath() const override { return path_; }
  std::unique_ptr<PortWatch> Watch(IoDispatcher& loop, PortEvents events) override;

  void SetTimeouts(const SerialTimeouts& t) override { timeouts_ = t; }
  const SerialTimeouts& Timeouts() const override { return timeouts_; }
  bool Purge(bool input, bool output) override;
  bool Drain() override;  // until the server has taken everything written

  IoResult Write(const uint8_t* data, size_t n) override;
  IoResult Read(uint8_t* buf, size_t n) override;
  IoResult ReadAvailable(uint8_t* buf, size_t max) override;
  IoResult WriteAvailable(const uint8_t* data, size_t n) override;
  int InBufferCount() const override;   // device bytes received, not yet read
  int OutBufferCount() const override;  // SIOCOUTQ: not yet acknowledged by the server

  void Abort() override;
  void ClearAbort() override;
  bool AbortRequested() const override;
  bool Sleep(int ms) override;

  int LastError() const override { return lastError_; }
  std::string LastErrorText() const override;
  const PortHolder& Holder() const override { return holder_; }
  // The URL's ?allowance=MS, else the slowest round trip seen while opening and the time a
  // server may hold the line's bytes before passing them on.
  int NetworkAllowanceMs() const override;

  void SetNetTiming(const NetTiming& t) { timing_ = t; }
  const NetTiming& Timing() const { return timing_; }
  const NetUrl& Url() const { return url_; }
  // The slowest round trip at Open (the TCP handshake's, a confirmed line setting's), in
  // microseconds: the network's share of a wait.
  long ConnectRoundTripUs() const { return rttUs_; }

 protected:
  NetPort(NetScheme scheme, bool doubleIac);

  // The first exchange with the server once connected; false fails the open (Fail() said why).
  virtual bool Start() = 0;
  // Bytes as they came off the socket: the device's go to PushInput.
  virtual void Take(const uint8_t* data, size_t n) = 0;
  virtual void Reset() {}  // a new connection: forget the old one's state

  void PushInput(const uint8_t* data, size_t n) { in_.insert(in_.end(), data, data + n); }
  // Control bytes for the server, in order with the data, within the connect time limit.
  bool SendControl(const std::vector<uint8_t>& bytes);
  // Takes what the socket holds (no wait); false once the connection is gone.
  bool Pump();
  // Waits up to `ms` for the socket and takes what came; false when the connection is gone,
  // aborted, or the time is up (`timedOut` says which).
  bool WaitInput(int ms, bool* timedOut);
  bool Fail(int err, const std::string& text = {});
  void DiscardInput() { in_.clear(); }
  // A question the server answered while opening: the network's delay, as the device's
  // answers will meet it.
  void NoteRoundTripUs(long us) { rttUs_ = us > rttUs_ ? us : rttUs_; }

  SerialTimeouts timeouts_;
  NetTiming timing_;
  int lastError_ = 0;
  std::string errorText_;  // when the system's reason alone would not say enough

 private:
  friend class NetPortWatch;
  bool Connect(const NetUrl& u);
  bool FlushPending();
  IoStatus Gone();
  IoStatus SocketFailure(int err);
  size_t TakeInput(uint8_t* buf, size_t n);

  const NetScheme scheme_;
  const bool doubleIac_;  // Telnet: 0xFF in the data goes as 0xFF 0xFF
  NetSocket socket_;
  AbortSignal abort_;
  bool eof_ = false;
  bool wrote_ = false;
  std::string path_;
  NetUrl url_;
  long rttUs_ = 0;
  std::deque<uint8_t> in_;
  std::vector<uint8_t> pending_;  // the second half of a doubled 0xFF the socket did not take
  std::string early_;             // what the server said before our first write, to spot "in use"
  PortHolder holder_;
};

}  // namespace km27
