// Processor time the tool spends while nothing is transferred: the code transmitter's monitor
// polling a present device or scanning for one, and the code box's timers. Share of one core,
// from getrusage of this process; the simulated devices run as separate km27sim processes so
// that their own work is not counted.
//
//   idle_cpu_bench [--seconds S]
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "port/com_names.h"

using namespace km27;
using namespace km27::bench;

namespace {

// A child process, ended (SIGTERM) and reaped with the object.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 protected:
  pid_t pid_ = -1;
};

// km27sim beside this program's directory, as a child process.
class SimProcess : ChildProcess {
 public:
  SimProcess(const std::vector<std::string>& args, const std::string& link) {
    std::string exe = ProgramDir() + "/../km27sim";
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    struct stat st;
    for (int k = 0; k < 500 && lstat(link.c_str(), &st) != 0; ++k) usleep(10000);
  }
};

// Another program that holds a serial line open (as a getty would).
class HolderProcess : ChildProcess {
 public:
  explicit HolderProcess(const std::string& link) {
    pid_ = fork();
    if (pid_ == 0) {
      if (open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) < 0) _exit(1);
      for (;;) pause();
    }
  }
};

struct Result {
  std::string what;
  double seconds, share;
};
std::vector<Result> g_results;

void MeasureCpu(const std::string& what, int seconds) {
  RunFor(1500);  // past the start: opening sequences, first reports
  double c0 = CpuSeconds();
  auto t0 = Clock::now();
  RunFor(seconds * 1000);
  double wall = Ms(Clock::now() - t0) / 1000;
  double share = (CpuSeconds() - c0) / wall * 100;
  g_results.push_back({what, wall, share});
  std::fprintf(stderr, "%s: %.2f %%\n", what.c_str(), share);
}

void TransmitterCase(const std::string& what, int seconds, const std::function<std::unique_ptr<SimProcess>(const std::string&)>& sim,
                     bool useComDir = true, bool startMonitor = true, bool held = false) {
  TempDir com("com"), work("work");
  if (useComDir)
    setenv(kComDirVariable, com.path.c_str(), 1);
  else
    unsetenv(kComDirVariable);
  auto device = sim ? sim(com.path) : nullptr;
  auto holder = held ? std::make_unique<HolderProcess>(com.path + "/COM1") : nullptr;
  {
    TransmitterWindow tw(work.path, true, startMonitor);
    if (startMonitor) tw.StartMonitor();
    MeasureCpu(what, seconds);
    tw.Close();
  }
  if (chdir("/") != 0) std::perror("chdir");
}

void BoxCase(const std::string& what, int seconds, bool withBox) {
  TempDir com("com"), work("work");
  setenv(kComDirVariable, com.path.c_str(), 1);
  if (chdir(work.path.c_str()) != 0) return;
  std::unique_ptr<SimProcess> box;
  if (withBox) box = std::make_unique<SimProcess>(std::vector<std::string>{"--model", "KM27A", "--com-dir", com.path, "--com", "1"}, com.path + "/COM1");
  {
    auto w = OpenBoxWindow();
    if (withBox && !RunUntil([&] { return w->LinkUp(); }, 15000)) std::fprintf(stderr, "box not found\n");
    MeasureCpu(what, seconds);
    w->reject();
  }
  if (chdir("/") != 0) std::perror("chdir");
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int seconds = args.Int("--seconds", 10);
  App(argc, argv);

  auto present = [](const std::string& dir) {
    return std::make_unique<SimProcess>(std::vector<std::string>{"--model", "KM27C", "--com-dir", dir, "--com", "1"},
                                        dir + "/COM1");
  };
  auto silent = [](const std::string& dir) {
    return std::make_unique<SimProcess>(
        std::vector<std::string>{"--model", "KM27C", "--com-dir", dir, "--com", "1", "--silent"}, dir + "/COM1");
  };
  TransmitterCase("window open, link not started", seconds, nullptr, true, false);
  TransmitterCase("code transmitter: polling a present device", seconds, present);
  TransmitterCase("code transmitter: scanning, no port at all", seconds, nullptr);
  TransmitterCase("code transmitter: scanning, one silent port", seconds, silent);
  TransmitterCase("code transmitter: scanning, the only port held by another program", seconds, present, true, true, true);
  TransmitterCase("code transmitter: scanning this machine's own serial devices ($KM27_COM_DIR unset)", seconds, nullptr, false);
  BoxCase("code box: link up", seconds, true);
  BoxCase("code box: scanning, no port", seconds, false);

  std::printf("Processor time of the tool's process (window + link threads), share of one core\n\n");
  std::printf("| while | seconds | processor share (%%) |\n|---|---:|---:|\n");
  for (const Result& r : g_results) std::printf("| %s | %.1f | %.2f |\n", r.what.c_str(), r.seconds, r.share);
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
