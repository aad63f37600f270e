#include "port/net_url.h"

#include <cstddef>

#include "model/messages.h"

namespace km27 {

namespace {

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= s.size()) return false;
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number of at most `maxDigits` digits making up all of `s`; -1 otherwise.
long WholeNumber(const std::string& s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return -1;
  long v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

bool HostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' || c == '.' || c == '_';
}

bool Ipv6Char(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.' || c == '%';
}

}  // namespace

bool IsNetUrl(const std::string& name) {
  // Any scheme at all: a mistyped one is a URL to refuse with its reason, not a file to look for.
  const size_t sep = name.find("://");
  if (sep == std::string::npos || sep == 0) return false;
  for (size_t i = 0; i < sep; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '+' || c == '-' || c == '.'))
      return false;
  }
  return true;
}

UrlProblem ParseNetUrl(const std::string& text, NetUrl* url) {
  NetUrl u;
  std::string rest;
  if (StartsWithNoCase(text, "tcp://")) {
    u.scheme = NetScheme::Tcp;
    rest = text.substr(6);
  } else if (StartsWithNoCase(text, "rfc2217://")) {
    u.scheme = NetScheme::Rfc2217;
    rest = text.substr(10);
  } else {
    return UrlProblem::UnknownScheme;
  }
  const size_t end = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, end);
  std::string tail = end == std::string::npos ? std::string() : rest.substr(end);
  if (authority.find('@') != std::string::npos) return UrlProblem::Credentials;
  if (authority.empty()) return UrlProblem::NoHost;

  std::string portText;
  bool hasPort = false;
  if (authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return UrlProblem::BadHost;
    u.host = authority.substr(1, close - 1);
    if (u.host.empty()) return UrlProblem::NoHost;
    for (char c : u.host)
      if (!Ipv6Char(c)) return UrlProblem::BadHost;
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') return UrlProblem::BadHost;
    hasPort = !after.empty();
    if (hasPort) portText = after.substr(1);
  } else {
    const size_t colon = authority.rfind(':');
    u.host = authority.substr(0, colon);
    // A bare IPv6 address has more than one colon: without brackets its port cannot be told.
    if (u.host.find(':') != std::string::npos) return UrlProblem::BadHost;
    if (u.host.empty()) return UrlProblem::NoHost;
    for (char c : u.host)
      if (!HostNameChar(c)) return UrlProblem::BadHost;
    hasPort = colon != std::string::npos;
    if (hasPort) portText = authority.substr(colon + 1);
  }
  if (!hasPort || portText.empty()) return UrlProblem::NoPort;
  const long port = WholeNumber(portText, 5);
  if (port < 1 || port > 65535) return UrlProblem::BadPort;
  u.port = int(port);

  if (!tail.empty() && tail[0] == '/' && (tail.size() == 1 || tail[1] == '?')) tail.erase(0, 1);  // as typed by hand
  if (!tail.empty()) {
    const std::string key = "?allowance=";
    if (tail.compare(0, key.size(), key) != 0) return UrlProblem::Path;
    const long ms = WholeNumber(tail.substr(key.size()), 5);
    if (ms < 0) return UrlProblem::BadAllowance;
    u.allowanceMs = int(ms);
  }
  if (url) *url = u;
  return UrlProblem::None;
}

std::string UrlProblemText(UrlProblem p) {
  switch (p) {
    case UrlProblem::None: return {};
    case UrlProblem::UnknownScheme: return Text(Msg::kUrlUnknownScheme);
    case UrlProblem::NoHost: return Text(Msg::kUrlNoHost);
    case UrlProblem::BadHost: return Text(Msg::kUrlBadHost);
    case UrlProblem::Credentials: return Text(Msg::kUrlCredentials);
    case UrlProblem::NoPort: return Text(Msg::kUrlNoPort);
    case UrlProblem::BadPort: return Text(Msg::kUrlBadPort);
    case UrlProblem::Path: return Text(Msg::kUrlPath);
    case UrlProblem::BadAllowance: return Text(Msg::kUrlBadAllowance);
  }
  return {};
}

}  // namespace km27
