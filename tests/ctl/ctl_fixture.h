#pragma once
// The real km27ctl as a child process, against simulated lower machines on pseudo-terminals
// that run in the test process (so a test can look at what the device received and holds).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/box_frame.h"
#include "link/transmitter_image.h"
#include "model/code_catalogue.h"
#include "model/param_table.h"
#include "sim/box_sim.h"
#include "sim/transmitter_sim.h"
#include "store/device_info.h"
#include "store/param_file.h"
#include "temp_dir.h"

extern char** environ;

namespace km27::testing {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool WaitFor(const std::function<bool()>& pred, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Names in a directory, for "nothing was written here".
inline std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
  }
  return names;
}

// A command (km27ctl, or a program that runs it) in `dir`, its output in `logBase`.out/.err.
class CtlProcess {
 public:
  // `errTo`: where standard error goes instead of its file (a terminal, say; in a session of
  // its own also standard input and the controlling terminal); `outFd`: standard output's
  // descriptor instead of its file.
  CtlProcess(const Strings& command, const std::string& dir, const std::map<std::string, std::string>& env,
             const std::string& logBase, const std::string& errTo = {}, int outFd = -1, bool ownSession = false)
      : outPath_(logBase + ".out"), errPath_(errTo.empty() ? logBase + ".err" : errTo) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
      const std::string s = *e;
      if (!env.count(s.substr(0, s.find('=')))) envStrings.push_back(s);
    }
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = command;
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    // Only a terminal opened for reading becomes the controlling one: it is standard input too.
    const bool terminalIn = ownSession && !errTo.empty();
    posix_spawn_file_actions_addopen(&fa, 0, terminalIn ? errPath_.c_str() : "/dev/null",
                                     terminalIn ? O_RDWR : O_RDONLY, 0);
    if (outFd >= 0)
      posix_spawn_file_actions_adddup2(&fa, outFd, 1);
    else
      posix_spawn_file_actions_addopen(&fa, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    // The test runner may ignore SIGINT (or SIGPIPE); the program must meet them with the
    // default handling.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | (ownSession ? POSIX_SPAWN_SETSID : 0));
    started_ = Clock::now();
    if (posix_spawnp(&pid_, argv[0], &fa, &attr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
  }
  ~CtlProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  CtlProcess(const CtlProcess&) = delete;
  CtlProcess& operator=(const CtlProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // True when it ended within `ms`.
  bool WaitExit(int ms) {
    if (pid_ <= 0) return ended_;
    const bool ended = WaitFor([&] { return waitpid(pid_, &status_, WNOHANG) == pid_; }, ms);
    if (ended) {
      pid_ = -1;
      ended_ = true;
      endedAt_ = Clock::now();
    }
    return ended;
  }
  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  // The exit code, or -signal when a signal ended it.
  int ExitCode() const {
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return -WTERMSIG(status_);
    return -1000;
  }
  std::string Out() const { return ReadAll(outPath_); }
  std::string Err() const { return ReadAll(errPath_); }
  Clock::time_point EndedAt() const { return endedAt_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  Clock::time_point started_, endedAt_;
  std::string outPath_, errPath_;
};

struct CtlResult {
  int code = -1000;
  std::string out, err;
  nlohmann::json Json() const { return nlohmann::json::parse(out); }
};

// A private working directory and COM directory, simulated devices on COM numbers, and runs of
// km27ctl there. Link timing is divided by `divisor` through the program's test hook.
class CtlTest : public ::testing::Test {
 protected:
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
  // A CJK ideograph or punctuation mark: three UTF-8 bytes led by E3..E9, or EF BC/BD.
  static bool HasCjk(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = text[i], next = i + 1 < text.size() ? text[i + 1] : 0;
      if ((c >= 0xE3 && c <= 0xE9) || (c == 0xEF && (next == 0xBC || next == 0xBD))) return true;
    }
    return false;
  }

  void SetUp() override {
    ASSERT_FALSE(root.empty());
    work = root + "/work";
    com = root + "/com";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(com.c_str(), 0755), 0);
  }
  void TearDown() override {
    boxes.clear();
    transmitters.clear();
  }

  std::map<std::string, std::string> Env() const {
    std::map<std::string, std::string> env{{"KM27_COM_DIR", windows ? WindowsPath(com) : com},
                                           {"KM27_LOG", windows ? WindowsPath(LogFile()) : LogFile()}};
    if (divisor > 1) env["KM27_TEST_TIMING_DIVISOR"] = std::to_string(divisor);
    for (const auto& [k, v] : locale) env[k] = v;
    return env;
  }
  std::unique_ptr<CtlProcess> Start(const Strings& args, const std::string& errTo = {}) {
    Strings command = runAs;
    if (windows)
      command.insert(command.end(), windowsCommand.begin(), windowsCommand.end());
    else
      command.push_back(std::string(KM27_BINARY_DIR) + "/km27ctl");
    if (!lang.empty()) command.insert(command.end(), {"--lang", lang});
    command.insert(command.end(), args.begin(), args.end());
    auto p = std::make_unique<CtlProcess>(command, work, Env(), root + "/run" + std::to_string(++runs), errTo, outFd,
                                          ownSession);
    EXPECT_TRUE(p->Started());
    return p;
  }
  CtlResult Run(const Strings& args, int ms = 120000) {
    auto p = Start(args);
    CtlResult r;
    EXPECT_TRUE(p->WaitExit(ms)) << "km27ctl did not end";
    r.code = p->ExitCode();
    r.out = p->Out();
    r.err = p->Err();
    return r;
  }

  // Every run's transfer log: in the test's own folder, never the user's.
  std::string LogFile() const { return root + "/transfers.jsonl"; }
  std::vector<nlohmann::json> LogRecords() const {
    std::vector<nlohmann::json> records;
    std::istringstream lines(ReadAll(LogFile()));
    for (std::string line; std::getline(lines, line);) {
      records.push_back(nlohmann::json::parse(line, nullptr, false));
      EXPECT_TRUE(records.back().is_object()) << line;
    }
    return records;
  }
  // The one record the last run added (`seen`: how many there were before it), well formed and
  // with `result`.
  nlohmann::json NewRecord(size_t& seen, const std::string& result) {
    const std::vector<nlohmann::json> records = LogRecords();
    EXPECT_EQ(records.size(), seen + 1) << "one record for each transfer";
    seen = records.size();
    if (records.empty()) return {};
    const nlohmann::json r = records.back();
    EXPECT_EQ(r.value("program", ""), "km27ctl");
    EXPECT_EQ(r.value("result", ""), result) << r.dump();
    for (const char* key : {"time", "version", "user", "host", "action", "model", "device", "file", "programme_sha256"})
      EXPECT_TRUE(r.contains(key) && r[key].is_string()) << key << " " << r.dump();
    EXPECT_TRUE(r.contains("verified") && r["verified"].is_boolean()) << r.dump();
    return r;
  }

  sim::TransmitterSim& AddTransmitter(int n, sim::TransmitterSimOptions o = {}) {
    transmitters.push_back(std::make_unique<sim::TransmitterSim>(o));
    EXPECT_TRUE(transmitters.back()->Start(com, n)) << transmitters.back()->Error();
    if (windows) WindowsEntry(n);
    return *transmitters.back();
  }
  sim::BoxSim& AddBox(int n, sim::BoxSimOptions o = {}) {
    o.comDir = com;
    o.com = n;
    o.paced = false;
    // Well inside the scaled watchdog period; at the real periods, a real box's.
    if (divisor > 1) o.presenceMs = 20;
    boxes.push_back(std::make_unique<sim::BoxSim>(o));
    EXPECT_TRUE(boxes.back()->Start()) << boxes.back()->Error();
    if (windows) WindowsEntry(n);
    return *boxes.back();
  }

  // A programme with steps on a few carriers of every family, saved as `name` in the work
  // directory; returns its path.
  std::string WriteProgramme(const std::string& name = "KM27A.dat") {
    programme.table.Clear();
    programme.options.Clear();
    const int carriers[] = {0, 1, 5, 9, 12, 17};
    for (int c : carriers)
      for (int s = 0; s < 3 + c % 4; ++s) programme.table.SetEntry(c, s, ParamEntry{uint8_t(1 + (c + s) % 9), uint8_t(5 + s)});
    programme.options.SetLineOption(0, 1);
    programme.options.SetLineOption(2, 1);
    UpdateCarrierMask(programme.table, programme.options);
    const std::string path = work + "/" + name;
    EXPECT_TRUE(SaveParamFile(path, programme.options, programme.table).ok);
    return path;
  }

  // DDINFO.txt in the work directory, as after an upload: a download sends it, rather than
  // first reading the device's own.
  void WriteDeviceInfo(const DeviceInfo& info = {}) { EXPECT_TRUE(SaveDeviceInfo(work, info).ok); }

  // Run under wine, km27ctl.exe finds COM n through the file COMn-line.txt, naming a Z: path to
  // the simulator's line: through a link of another name, since COM1..COM9 are device names to
  // Windows in every folder. The link follows the simulator's own, so an unplugged line is
  // gone for both.
  static std::string WindowsPath(const std::string& path) {
    std::string w = "Z:" + path;
    for (char& c : w)
      if (c == '/') c = '\\';
    return w;
  }
  void WindowsEntry(int n) {
    const std::string line = com + "/line" + std::to_string(n);
    unlink(line.c_str());
    ASSERT_EQ(symlink((com + "/COM" + std::to_string(n)).c_str(), line.c_str()), 0);
    std::ofstream(com + "/COM" + std::to_string(n) + "-line.txt") << WindowsPath(line) << "\r\n";
  }

  struct {
    ParamOptions options;
    ParamTable table;
  } programme;
  int divisor = 10;
  // Every run speaks this language whatever the machine's locale (wine's follows LANG); empty:
  // the locale variables in `locale` choose.
  std::string lang = "zh";
  std::map<std::string, std::string> locale;
  bool ownSession = false;  // km27ctl runs in a session of its own
  int outFd = -1;           // where its standard output goes instead of a file
  Strings runAs;  // a program km27ctl is run through (setpriv, to run it as another user)
  // $KM27_CTL_WINDOWS: how to run the Windows build instead ("WINE-RUN ...\km27ctl.exe").
  const Strings windowsCommand = [] {
    Strings words;
    const char* c = std::getenv("KM27_CTL_WINDOWS");
    std::string word;
    for (const char* p = c ? c : ""; ; ++p) {
      if (*p == ' ' || *p == '\0') {
        if (!word.empty()) words.push_back(word);
        word.clear();
        if (!*p) break;
      } else {
        word += *p;
      }
    }
    return words;
  }();
  const bool windows = !windowsCommand.empty();
  TempDir tmp{"ctl"};
  const std::string root = tmp.path;
  std::string work, com;
  int runs = 0;
  std::vector<std::unique_ptr<sim::TransmitterSim>> transmitters;
  std::vector<std::unique_ptr<sim::BoxSim>> boxes;
};

}  // namespace km27::testing
