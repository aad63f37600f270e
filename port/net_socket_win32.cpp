#include "port/net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>

#include "model/messages.h"
#include "port/abort_signal.h"

namespace km27 {

namespace {

using Clock = std::chrono::steady_clock;

// Winsock's numbers and the errno numbers the ports speak, both ways: the text comes from the
// system in its own language.
struct ErrorPair {
  int wsa;
  int err;
};
constexpr ErrorPair kErrors[] = {
    {WSAECONNRESET, ECONNRESET},     {WSAECONNABORTED, ECONNABORTED}, {WSAENOTCONN, ENOTCONN},
    {WSAETIMEDOUT, ETIMEDOUT},       {WSAEHOSTUNREACH, EHOSTUNREACH}, {WSAENETUNREACH, ENETUNREACH},
    {WSAECONNREFUSED, ECONNREFUSED}, {WSAENETDOWN, ENETDOWN},         {WSAENETRESET, ENETRESET},
    {WSAESHUTDOWN, EPIPE},           {WSAEADDRNOTAVAIL, EADDRNOTAVAIL}, {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEINTR, EINTR},               {WSAEINVAL, EINVAL},             {WSAENOTSOCK, EBADF},
    {WSAEMFILE, EMFILE},             {WSAENOBUFS, ENOBUFS},           {WSAEACCES, EACCES},
    {WSAHOST_NOT_FOUND, EHOSTUNREACH}, {WSATRY_AGAIN, EAGAIN},
};

int ErrnoOf(int wsa) {
  for (const auto& e : kErrors)
    if (e.wsa == wsa) return e.err;
  return EIO;
}

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(size_t(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

std::string WindowsText(int code) {
  wchar_t buf[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code), 0, buf,
                           sizeof buf / sizeof buf[0], nullptr);
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
  buf[n] = L'\0';
  return n ? Utf8(buf) : "error " + std::to_string(code);
}

// Once for the process, and never undone: sockets may live until it ends.
bool Started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET AsSocket(NativeHandle s) { return SOCKET(s); }
HANDLE AsHandle(NativeHandle h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

const bool NetSocket::kLoopTellsWritable = false;

NetSocket::NetSocket() = default;

NetSocket::~NetSocket() {
  Close();
  if (event_ != -1) WSACloseEvent(AsHandle(event_));
}

std::string NetSocket::ErrorText(int err) {
  if (std::string common = CommonSystemReason(err); !common.empty()) return common;
  for (const auto& e : kErrors)
    if (e.err == err) return WindowsText(e.wsa);
  return std::strerror(err);
}

int NetSocket::Connect(const std::string& host, int port, int ms, const AbortSignal& abort, long* rttUs,
                       std::string* resolverText) {
  Close();
  if (!Started()) return ENETDOWN;
  if (event_ == -1) {
    const WSAEVENT e = WSACreateEvent();
    if (e == WSA_INVALID_EVENT) return ErrnoOf(WSAGetLastError());
    event_ = reinterpret_cast<NativeHandle>(e);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (gai != 0) {
    *resolverText = WindowsText(gai);
    return EHOSTUNREACH;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  const HANDLE waits[2] = {AsHandle(event_), AsHandle(abort.Handle())};
  int err = ETIMEDOUT;
  SOCKET connected = INVALID_SOCKET;
  for (addrinfo* a = found; a && connected == INVALID_SOCKET; a = a->ai_next) {
    const SOCKET s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
      err = ErrnoOf(WSAGetLastError());
      continue;
    }
    // Also makes the socket non-blocking; the event then stands for every wait on it.
    ResetEvent(waits[0]);
    WSAEventSelect(s, waits[0], FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    const auto tried = Clock::now();
    bool ok = ::connect(s, a->ai_addr, int(a->ai_addrlen)) == 0;
    if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
      err = ETIMEDOUT;
      for (;;) {
        const DWORD r = WaitForMultipleObjects(2, waits, FALSE, DWORD(MsLeft(deadline)));
        if (WaitForSingleObject(waits[1], 0) == WAIT_OBJECT_0) {
          closesocket(s);
          freeaddrinfo(found);
          return EINTR;
        }
        if (r != WAIT_OBJECT_0) break;  // out of time
        WSANETWORKEVENTS ne{};
        WSAEnumNetworkEvents(s, waits[0], &ne);
        if (ne.lNetworkEvents & FD_CONNECT) {
          err = ne.iErrorCode[FD_CONNECT_BIT] ? ErrnoOf(ne.iErrorCode[FD_CONNECT_BIT]) : 0;
          ok = err == 0;
          // What came with the connection is still to be read: the event says so again.
          if (ne.lNetworkEvents & (FD_READ | FD_CLOSE)) SetEvent(waits[0]);
          break;
        }
      }
    } else if (!ok) {
      err = ErrnoOf(WSAGetLastError());
    }
    if (ok) {
      *rttUs = long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - tried).count());
      connected = s;
    } else {
      closesocket(s);
    }
    if (Clock::now() >= deadline) break;
  }
  freeaddrinfo(found);
  if (connected == INVALID_SOCKET) return err;
  // Every exchange with a lower machine is a few bytes each way: Nagle's wait for the
  // acknowledgement of the last segment would add tens of milliseconds to each.
  const BOOL one = TRUE;
  setsockopt(connected, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  socket_ = NativeHandle(connected);
  blocked_ = false;
  return 0;
}

void NetSocket::Close() {
  if (socket_ != -1) closesocket(AsSocket(socket_));
  socket_ = -1;
}

long NetSocket::Receive(uint8_t* buf, size_t n) {
  for (;;) {
    const int got = ::recv(AsSocket(socket_), reinterpret_cast<char*>(buf), int(std::min<size_t>(n, INT_MAX)), 0);
    if (got > 0) return got;
    if (got == 0) return -ECONNRESET;
    const int wsa = WSAGetLastError();
    if (wsa == WSAEINTR) continue;
    if (wsa == WSAEWOULDBLOCK) return 0;
    return -ErrnoOf(wsa);
  }
}

long NetSocket::Send(const uint8_t* data, size_t n) {
  const int w = ::send(AsSocket(socket_), reinterpret_cast<const char*>(data), int(std::min<size_t>(n, INT_MAX)), 0);
  if (w > 0) {
    blocked_ = false;
    return w;
  }
  if (w == 0) return -EPIPE;
  const int wsa = WSAGetLastError();
  if (wsa == WSAEWOULDBLOCK) {
    blocked_ = true;  // FD_WRITE follows once the socket takes more
    return 0;
  }
  return -ErrnoOf(wsa);
}

unsigned NetSocket::Settle() {
  WSANETWORKEVENTS ne{};
  if (socket_ == -1 || WSAEnumNetworkEvents(AsSocket(socket_), AsHandle(event_), &ne) != 0) return 0;
  unsigned ready = 0;
  if (ne.lNetworkEvents & FD_READ) ready |= kReadable;
  if (ne.lNetworkEvents & FD_CLOSE) ready |= kReadable | kHungUp;
  if (ne.lNetworkEvents & FD_WRITE) {
    blocked_ = false;
    ready |= kWritable;
  }
  return ready;
}

NetSocket::Wait NetSocket::WaitReadable(int ms, const AbortSignal& abort, int* err) {
  // FD_READ and FD_CLOSE are told once: bytes or a close that a write's wait took the news
  // of would go unannounced. A peek sees both.
  char c;
  if (::recv(AsSocket(socket_), &c, 1, MSG_PEEK) >= 0 || WSAGetLastError() != WSAEWOULDBLOCK) return Wait::Ready;
  const HANDLE waits[2] = {AsHandle(event_), AsHandle(abort.Handle())};
  const DWORD r = WaitForMultipleObjects(2, waits, FALSE, ms < 0 ? INFINITE : DWORD(ms));
  if (WaitForSingleObject(waits[1], 0) == WAIT_OBJECT_0) return Wait::Aborted;
  if (r == WAIT_TIMEOUT) return Wait::TimedOut;
  if (r != WAIT_OBJECT_0) {
    *err = ErrnoOf(WSAGetLastError());
    return Wait::Failed;
  }
  Settle();
  return Wait::Ready;  // perhaps only writable: the caller reads and asks again
}

NetSocket::Wait NetSocket::WaitWritable(int ms, const AbortSignal& abort, int* err) {
  if (WaitForSingleObject(AsHandle(abort.Handle()), 0) == WAIT_OBJECT_0) return Wait::Aborted;
  if (!blocked_) return Wait::Ready;
  const HANDLE waits[2] = {AsHandle(event_), AsHandle(abort.Handle())};
  const DWORD r = WaitForMultipleObjects(2, waits, FALSE, ms < 0 ? INFINITE : DWORD(ms));
  if (WaitForSingleObject(waits[1], 0) == WAIT_OBJECT_0) return Wait::Aborted;
  if (r == WAIT_TIMEOUT) return Wait::TimedOut;
  if (r != WAIT_OBJECT_0) {
    *err = ErrnoOf(WSAGetLastError());
    return Wait::Failed;
  }
  Settle();
  return Wait::Ready;
}

// Where the system cannot tell what the peer has not acknowledged: a drain ends once the
// socket has taken everything.
int NetSocket::Queued() const { return 0; }

NativeHandle NetSocket::ReadyHandle() const { return event_; }

}  // namespace km27
