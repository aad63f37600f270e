#include "sim/terminal_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>

namespace km27::sim {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  return a;
}

bool Listening(int port) {
  std::ifstream f("/proc/net/tcp");
  std::string line;
  while (std::getline(f, line)) {
    unsigned local = 0, state = 0;
    if (std::sscanf(line.c_str(), "%*d: %*x:%x %*x:%*x %x", &local, &state) == 2 && int(local) == port && state == 0x0A)
      return true;
  }
  return false;
}

}  // namespace

int FreeTcpPort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

int ListenOnLoopback(int* port, int backlog) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(s);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return s;
}

bool Ser2netServer::Installed() { return std::system("command -v ser2net >/dev/null 2>&1") == 0; }

bool Ser2netServer::Start(const std::string& dir, std::vector<Line>& lines) {
  const std::string conf = dir + "/ser2net.yaml";
  {
    std::ofstream out(conf);
    out << "%YAML 1.1\n---\n";
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].port == 0) lines[i].port = FreeTcpPort();
      out << "connection: &l" << i << "\n  accepter: " << (lines[i].telnet ? "telnet(rfc2217),tcp," : "tcp,")
          << "127.0.0.1," << lines[i].port << "\n  connector: serialdev," << lines[i].device
          << ",9600n81,local\n  options:\n    banner: \"" << lines[i].banner << "\"\n    kickolduser: false\n";
    }
  }
  std::fflush(nullptr);  // the child's freopen would write out what the parent has buffered
  pid_ = fork();
  if (pid_ == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execlp("ser2net", "ser2net", "-n", "-d", "-c", conf.c_str(), "-P", (dir + "/ser2net.pid").c_str(), nullptr);
    _exit(127);
  }
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (std::all_of(lines.begin(), lines.end(), [](const Line& l) { return Listening(l.port); })) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

Ser2netServer::~Ser2netServer() { Stop(); }

void Ser2netServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

DelayRelay::DelayRelay(int target, int delayMs) : target_(target), delayMs_(delayMs) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listen_, 4);
  getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

DelayRelay::~DelayRelay() {
  running_ = false;
  Cut();
  acceptor_.join();  // it joins the pumps it started
  close(listen_);
  for (int fd : fds_) close(fd);
}

void DelayRelay::Cut() {
  std::lock_guard<std::mutex> lock(m_);
  for (int fd : fds_) shutdown(fd, SHUT_RDWR);
}

void DelayRelay::AcceptLoop() {
  std::vector<std::thread> pumps;
  while (running_) {
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));  // the handshake crosses it too
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Loopback(target_);
    const int one = 1;
    for (int fd : {client, server}) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      close(client);
      close(server);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      fds_.push_back(client);
      fds_.push_back(server);
    }
    pumps.emplace_back([this, client, server] { Pump(client, server); });
    pumps.emplace_back([this, client, server] { Pump(server, client); });
  }
  for (auto& t : pumps) t.join();
}

void DelayRelay::Pump(int from, int to) {
  std::deque<std::pair<Clock::time_point, std::vector<uint8_t>>> held;
  bool open = true;
  while (running_ && (open || !held.empty())) {
    int wait = 20;
    if (!held.empty())
      wait = int(std::max<long long>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(held.front().first - Clock::now()).count()));
    pollfd p{from, POLLIN, 0};
    if (open && poll(&p, 1, wait) > 0) {
      uint8_t buf[4096];
      const ssize_t got = recv(from, buf, sizeof buf, 0);
      if (got <= 0)
        open = false;
      else
        held.emplace_back(Clock::now() + std::chrono::milliseconds(delayMs_), std::vector<uint8_t>(buf, buf + got));
    } else if (!open) {
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    while (!held.empty() && held.front().first <= Clock::now()) {
      if (send(to, held.front().second.data(), held.front().second.size(), MSG_NOSIGNAL) < 0)
        held.clear();
      else
        held.pop_front();
    }
  }
  shutdown(to, SHUT_RDWR);  // what came after the end would be the other side's news
}

}  // namespace km27::sim
