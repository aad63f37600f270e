#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// A loopback port nobody listens on.
inline int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

inline bool Listening(int port) {
  std::ifstream f("/proc/net/tcp");
  std::string line;
  while (std::getline(f, line)) {
    unsigned local = 0, state = 0;
    if (std::sscanf(line.c_str(), "%*d: %*x:%x %*x:%*x %x", &local, &state) == 2 && int(local) == port && state == 0x0A)
      return true;
  }
  return false;
}

inline bool Ser2netInstalled() { return system("command -v ser2net >/dev/null 2>&1") == 0; }

// ser2net on loopback serving devices by path (a simulator's pty), as long as this object lives.
class Ser2netServer {
 public:
  struct Entry {
    bool telnet = false;  // RFC 2217, else raw TCP
    int port = 0;
    std::string device;
    std::string banner;
  };
  ~Ser2netServer() { Stop(); }

  // Writes the configuration into `dir` and waits until every port listens.
  bool Start(const std::string& dir, const std::vector<Entry>& entries) {
    std::ofstream conf(dir + "/ser2net.yaml");
    conf << "%YAML 1.1\n---\n";
    int i = 0;
    for (const Entry& e : entries)
      conf << "connection: &c" << i++ << "\n  accepter: " << (e.telnet ? "telnet(rfc2217),tcp," : "tcp,")
           << "127.0.0.1," << e.port << "\n  connector: serialdev," << e.device << ",9600n81,local\n"
           << "  options:\n    banner: \"" << e.banner << "\"\n    kickolduser: false\n";
    conf.close();
    pid_ = fork();
    if (pid_ == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("ser2net", "ser2net", "-n", "-d", "-c", (dir + "/ser2net.yaml").c_str(), "-P", (dir + "/ser2net.pid").c_str(),
             nullptr);
      _exit(127);
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      bool all = true;
      for (const Entry& e : entries) all = all && Listening(e.port);
      if (all) return true;
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};
