#pragma once
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

// ser2net on loopback serving devices by path (a simulator's pty) while this object lives.
struct Ser2netServer {
  struct Entry {
    bool telnet;  // RFC 2217, else raw TCP
    int port;
    std::string device, banner;
  };
  ~Ser2netServer() { Stop(); }
  // Writes the configuration into `dir`; true once every port listens.
  bool Start(const std::string& dir, const std::vector<Entry>& entries) {
    std::ofstream conf(dir + "/ser2net.yaml");
    conf << "%YAML 1.1\n---\n";
    for (const Entry& e : entries)
      conf << "connection: &c" << e.port << "\n  accepter: " << (e.telnet ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
           << e.port << "\n  connector: serialdev," << e.device << ",9600n81,local\n  options:\n    banner: \"" << e.banner
           << "\"\n    kickolduser: false\n";
    conf.close();
    if ((pid = fork()) == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("ser2net", "ser2net", "-n", "-d", "-c", (dir + "/ser2net.yaml").c_str(), "-P", (dir + "/ser2net.pid").c_str(), nullptr);
      _exit(127);
    }
    for (int waited = 0; waited < 10000; waited += 10) {
      bool all = true;
      for (const Entry& e : entries) all = all && Listening(e.port);
      if (all) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }
  pid_t pid = -1;
};
