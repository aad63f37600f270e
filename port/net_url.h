#pragma once
#include <string>

namespace km27 {

// A serial line reached through a terminal server: tcp://HOST:PORT (raw bytes, the line set at
// the server) or rfc2217://HOST:PORT (Telnet with the COM port option: we set the line).
enum class NetScheme { Tcp, Rfc2217 };

struct NetUrl {
  NetScheme scheme = NetScheme::Tcp;
  std::string host;  // a name, an IPv4 address or an IPv6 address (without its brackets)
  int port = 0;
  int allowanceMs = -1;  // ?allowance=MS: the network's share of every wait; -1 = measure it
};

enum class UrlProblem {
  None,
  UnknownScheme,   // not tcp:// or rfc2217://
  NoHost,
  BadHost,         // characters no host name has, or an unclosed [
  Credentials,     // user:password@ — these servers have no such thing, and a URL is no place for one
  NoPort,
  BadPort,         // not a number from 1 to 65535
  Path,            // anything after the port but ?allowance=MS
  BadAllowance,
};

// Whether a device name is a network URL at all (then ParseNetUrl says whether it is a good one).
bool IsNetUrl(const std::string& name);

UrlProblem ParseNetUrl(const std::string& text, NetUrl* url);

// Why a URL is unusable, for the operator (Chinese).
std::string UrlProblemText(UrlProblem p);

}  // namespace km27
