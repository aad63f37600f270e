#pragma once
// Terminal servers for the simulated lines: ser2net on loopback serving them, and a relay that
// holds back what passes it as a slow network would. For tests and benchmarks.
#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace km27::sim {

// A loopback port nobody listens on now.
int FreeTcpPort();

// A socket listening on a free loopback port, whose number goes to *port; -1 when none can be had.
// For servers a test plays itself.
int ListenOnLoopback(int* port, int backlog = 16);

// ser2net serving each line on a loopback port of its own: raw TCP or Telnet with COM port control.
class Ser2netServer {
 public:
  struct Line {
    std::string device;
    bool telnet = false;
    int port = 0;  // 0: a free one, set by Start
    std::string banner = "\\r\\nser2net\\r\\n";  // as the configuration writes it (escapes kept)
  };
  static bool Installed();

  Ser2netServer() = default;
  ~Ser2netServer();
  Ser2netServer(const Ser2netServer&) = delete;
  Ser2netServer& operator=(const Ser2netServer&) = delete;

  // Writes its configuration into `dir`; true once every port listens.
  bool Start(const std::string& dir, std::vector<Line>& lines);
  void Stop();  // the server goes, as a terminal server switched off

 private:
  pid_t pid_ = -1;
};

// Listens on loopback and passes each connection on to `target`, holding every piece (and the
// connection's setting up) `delayMs` in each direction. Cut() drops the connections it carries,
// as a failing network does.
class DelayRelay {
 public:
  DelayRelay(int target, int delayMs);
  ~DelayRelay();
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  int Port() const { return port_; }
  void Cut();

 private:
  void AcceptLoop();
  void Pump(int from, int to);

  const int target_, delayMs_;
  int listen_ = -1, port_ = 0;
  std::atomic<bool> running_{true};
  std::mutex m_;
  std::vector<int> fds_;
  std::thread acceptor_;
};

}  // namespace km27::sim
