#pragma once
#include <cstdint>
#include <vector>

#include "port/net_port.h"

namespace km27 {

// rfc2217://HOST:PORT: Telnet with the COM port option. The line's settings, RTS and purges go
// to the server as Telnet words in order with the data, so a speed change lands between the
// bytes it was meant to separate. Some servers never confirm some words (RTS on a line without
// modem lines): a confirmation is awaited a bounded time, and a kind of word once left
// unconfirmed by a server is not waited for again.
class Rfc2217Port : public NetPort {
 public:
  Rfc2217Port() : NetPort(NetScheme::Rfc2217, true) {}

  bool SetLine(int baud, Parity parity, int dataBits, int stopBits) override;
  bool SetBaud(int baud) override;
  int Baud() const override { return IsOpen() ? baud_ : 0; }
  bool SetRts(bool on) override;
  bool Purge(bool input, bool output) override;

 protected:
  bool Start() override;
  void Take(const uint8_t* data, size_t n) override;
  void Reset() override;

 private:
  // Sends a COM port option word and waits for the server's confirmation, if it gives them.
  // False when the server answered with another value or the connection failed.
  bool Command(uint8_t cmd, const std::vector<uint8_t>& value, std::vector<uint8_t>* answer = nullptr);
  void OnOption(uint8_t verb, uint8_t option);
  void OnSubnegotiation();
  void Reply(uint8_t verb, uint8_t option);

  enum class State { Data, Iac, Option, Sub, SubIac };
  State state_ = State::Data;
  uint8_t verb_ = 0;
  std::vector<uint8_t> sub_;
  bool remote_[256] = {};   // the server does the option
  bool local_[256] = {};    // we do it
  bool refused_[256] = {};  // the server refused an option we asked for
  bool asked_[256] = {};    // we asked first: its answer needs none from us
  unsigned confirmed_[16] = {};  // confirmations seen per command
  std::vector<uint8_t> answer_[16];
  int baud_ = 9600;
};

}  // namespace km27
