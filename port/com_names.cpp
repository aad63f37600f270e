#include "port/com_names.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>

#include "model/messages.h"
#include "port/com_names_system.h"
#include "port/com_port.h"
#include "port/net_url.h"

namespace km27 {

namespace {

struct Problems {
  std::mutex m;
  std::map<int, std::string> byPort;
};
Problems& ProblemStore() {
  static Problems p;
  return p;
}

}  // namespace

bool IsAbsence(int err) { return err == ENOENT || err == ENODEV || err == ENXIO || err == ENOTDIR; }

std::string ComName(int n) { return "COM" + std::to_string(n); }

std::string ComDevicePath(int n, const ComEnvironment& env) {
  if (n < 1) return {};
  if (env.onlyPort > 0) {
    if (n != env.onlyPort) return {};
    if (!env.onlyDevice.empty()) return env.onlyDevice;
    ComEnvironment every = env;
    every.onlyPort = 0;
    return ComDevicePath(n, every);
  }
  if (!env.comDir.empty()) return Entry(EntryPath(env.comDir, n));
  if (!env.userDir.empty()) {
    std::string link = EntryPath(env.userDir, n);
    if (EntryExists(link)) return Entry(link);
  }
  return ComDevicePaths(n, env)[size_t(n - 1)];
}

std::vector<std::string> ComDevicePaths(int count, const ComEnvironment& env) {
  std::vector<std::string> paths(size_t(std::max(count, 0)));
  if (env.onlyPort > 0) {
    if (env.onlyPort <= count) paths[size_t(env.onlyPort - 1)] = ComDevicePath(env.onlyPort, env);
    return paths;
  }
  if (!env.comDir.empty()) {
    for (int n = 1; n <= count; ++n) paths[size_t(n - 1)] = Entry(EntryPath(env.comDir, n));
    return paths;
  }
  return SystemComDevicePaths(count, env);
}

std::string ComDevicePath(int n) { return ComDevicePath(n, ComEnvironment::FromProcess()); }

std::string DescribePortFailure(int n, const std::string& devicePath, int err, const PortHolder& holder) {
  const std::string name = ComName(n);
  if (holder.ownTerminal) return Text(Msg::kPortOwnTerminal, {name, devicePath});
  if (err == EBUSY || err == EWOULDBLOCK) {
    std::string who = holder.refusal;
    if (holder.pid > 0)
      who = holder.program.empty() ? Text(Msg::kPortProcess, {holder.pid})
                                   : Text(Msg::kPortProgramProcess, {holder.program, holder.pid});
    else if (!holder.program.empty())
      who = holder.program;
    if (who.empty()) return Text(Msg::kPortInUse, {name, devicePath});
    return Text(Msg::kPortInUseBy, {name, devicePath, who});
  }
  const std::string reason = ErrnoText(err);
  if (err == EACCES || err == EPERM) return Text(Msg::kPortNoPermission, {name, devicePath, reason});
  return Text(Msg::kPortCannotOpen, {name, devicePath, reason});
}

namespace {

// As for a device: what the COM port names, then why it failed and at which step.
std::string DescribeNetFailure(int n, const std::string& url, int err, const std::string& text) {
  const std::string name = ComName(n);
  if (const UrlProblem problem = ParseNetUrl(url, nullptr); problem != UrlProblem::None)
    return Text(Msg::kPortUrlProblem, {name, url, UrlProblemText(problem)});
  if (err == EBUSY) return Text(Msg::kPortServerBusy, {name, url});
  // The port's text names the address it tried and the system's reason.
  return Text(Msg::kPortCannotConnect, {name, url, text});
}

}  // namespace

bool OpenComPort(Port& port, int n, const std::string& devicePath, OpenDevices* seen) {
  Problems& p = ProblemStore();
  if (devicePath.empty()) {
    std::lock_guard<std::mutex> lock(p.m);
    p.byPort.erase(n);
    return false;
  }
  if (port.Open(devicePath, seen)) {
    std::lock_guard<std::mutex> lock(p.m);
    p.byPort.erase(n);
    return true;
  }
  int err = port.LastError();
  std::lock_guard<std::mutex> lock(p.m);
  if (IsAbsence(err)) {
    p.byPort.erase(n);
  } else if (IsNetUrl(devicePath)) {
    p.byPort[n] = DescribeNetFailure(n, devicePath, err, port.LastErrorText());
  } else {
    // The device itself, not the COM link that led to it, is what the operator recognises.
    const std::string device = RealPath(devicePath);
    p.byPort[n] = DescribePortFailure(n, device.empty() ? devicePath : device, err, port.Holder());
  }
  return false;
}

bool OpenComPort(Port& port, int n) { return OpenComPort(port, n, ComDevicePath(n)); }

std::unique_ptr<Port> NewComPort() { return std::make_unique<ComPort>(); }

bool ProbeComPort(int n) { return ProbeComPort(n, ComEnvironment::FromProcess()); }

bool ProbeComPort(int n, const ComEnvironment& env) {
  const std::unique_ptr<Port> port = NewComPort();
  if (!OpenComPort(*port, n, ComDevicePath(n, env))) return false;
  port->Close();
  return true;
}

std::string ComEntryDir(const ComEnvironment& env) { return env.comDir.empty() ? env.userDir : env.comDir; }

std::string PortProblemText() {
  Problems& p = ProblemStore();
  std::lock_guard<std::mutex> lock(p.m);
  std::string text;
  for (const auto& [n, line] : p.byPort) {
    (void)n;
    if (!text.empty()) text += "\n";
    text += line;
  }
  return text;
}

void ForgetPortProblems() {
  Problems& p = ProblemStore();
  std::lock_guard<std::mutex> lock(p.m);
  p.byPort.clear();
}

}  // namespace km27
