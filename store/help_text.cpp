#include "store/help_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "store/file_size_signal.h"
#include "store/gbk.h"

namespace km27 {

namespace {

std::string WithCrLf(const std::string& s) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::string HelpFileContent(const std::string& firstUtf8, const std::string& secondUtf8, bool* ok) {
  return WithCrLf(Utf8ToGbk(firstUtf8 + "\n" + secondUtf8 + "\n", ok));
}

HelpFileResult EnsureHelpFile(const std::string& path, const std::string& firstUtf8, const std::string& secondUtf8) {
  HelpFileResult r;
  if (access(path.c_str(), F_OK) == 0) {
    r.ok = true;
    return r;
  }
  bool converted = false;
  const std::string bytes = HelpFileContent(firstUtf8, secondUtf8, &converted);
  if (!converted) {
    r.reason = "text has no GBK form";
    return r;
  }
  std::string tmp = path + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) {
    r.reason = Reason("create");
    return r;
  }
  const HoldFileSizeSignal held;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.reason = Reason("write");
      close(fd);
      unlink(tmp.c_str());
      return r;
    }
    done += size_t(n);
  }
  fchmod(fd, 0644);
  if (close(fd) != 0) {
    r.reason = Reason("close");
    unlink(tmp.c_str());
    return r;
  }
  // link() refuses to replace a file that appeared meanwhile: that one wins, unchanged.
  if (link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
    r.reason = Reason("rename");
    unlink(tmp.c_str());
    return r;
  }
  unlink(tmp.c_str());
  r.ok = true;
  r.created = true;
  return r;
}

}  // namespace km27
