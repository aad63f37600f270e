// km27ctl download, from the process's start to its exit, against paced simulated lower
// machines at the links' real timing, next to the floors the protocols and lines set.
//
//   ctl_bench [--runs N]
//
// The simulated code transmitter (COM1) and code box (COM2) run in this process and pace what
// they send at the baud rate km27ctl set; km27ctl is started as a process of its own for each
// run, as an operator or a script starts it, and timed from the spawn to its exit status.
// Where ser2net is installed the same downloads also run over the network: ser2net on loopback
// serves the simulators' lines (the code transmitter over rfc2217://, the code box over tcp://),
// straight and through a relay that holds each direction 50 ms.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "port/com_names.h"
#include "sim/box_sim.h"
#include "sim/terminal_server.h"
#include "sim/transmitter_sim.h"
#include "store/device_info.h"
#include "store/param_file.h"

extern char** environ;

using namespace km27;
using namespace km27::bench;

namespace {

// Milliseconds from the spawn to the exit status; negative when km27ctl did not succeed.
double RunOnce(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double ms = Ms(Clock::now() - start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -ms;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int runs = args.Int("--runs", 10);
  const std::string program = ProgramDir() + "/../km27ctl";

  TempDir com("com"), work("work");
  setenv(kComDirVariable, com.path.c_str(), 1);
  unsetenv("KM27_TEST_TIMING_DIVISOR");
  sim::TransmitterSimOptions to;
  to.paced = true;
  sim::TransmitterSim transmitter(to);
  sim::BoxSimOptions bo;
  bo.comDir = com.path;
  bo.com = 2;
  bo.paced = true;
  sim::BoxSim box(bo);
  if (!transmitter.Start(com.path, 1) || !box.Start()) {
    std::fprintf(stderr, "simulator: %s%s\n", transmitter.Error().c_str(), box.Error().c_str());
    return 1;
  }
  ParamTable table;
  ParamOptions options;
  for (int c = 0; c < 19; c += 3)
    for (int s = 0; s < 10; ++s) table.SetEntry(c, s, ParamEntry{uint8_t(1 + s), uint8_t(5 + s)});
  UpdateCarrierMask(table, options);
  if (!SaveParamFile(work.path + "/KM27A.dat", options, table).ok) return 1;
  // With device information at hand, as after an upload: without it a download reads the
  // device's own first, which is no part of these floors.
  if (!SaveDeviceInfo(work.path, DeviceInfo{}).ok) return 1;

  // Floors (ms). Finding the code transmitter on COM1: the opening sequence and the poll, 250
  // (docs/performance.md, section 3). Its download, to the result: 1062.9 (section 1); its
  // read-back is an upload that starts there and adds 1052.9 and the closing 10 ms pause.
  // The code box on a pty: 1700 to the end of the download (section 2); its read-back is an
  // upload, 1 + 1008.3 + 500. Finding the box costs up to one presence period of the simulator
  // (100 ms): not in the floor.
  struct Case {
    const char* name;
    std::vector<std::string> args;
    double floor;
    std::vector<double> ms;
  } cases[] = {
      {"KM27C download --no-verify", {"download", "--model", "KM27C", "--com", "1", "--no-verify", "--quiet", "KM27A.dat"},
       250 + 1062.9, {}},
      {"KM27C download (read back)", {"download", "--model", "KM27C", "--com", "1", "--quiet", "KM27A.dat"},
       250 + 1062.9 + 1052.9 + 10, {}},
      {"KM27A download --no-verify", {"download", "--model", "KM27A", "--com", "2", "--no-verify", "--quiet", "KM27A.dat"},
       1700, {}},
      {"KM27A download (read back)", {"download", "--model", "KM27A", "--com", "2", "--quiet", "KM27A.dat"},
       1700 + 1509.3, {}},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  // Over the network: the same downloads with read-back against the same floors.
  sim::Ser2netServer server;
  std::vector<sim::Ser2netServer::Line> lines;
  std::unique_ptr<sim::DelayRelay> toTransmitter, toBox;
  if (sim::Ser2netServer::Installed()) {
    char box[PATH_MAX];
    if (!realpath((com.path + "/COM2").c_str(), box)) return 1;
    lines = {{transmitter.SlavePath(), true}, {box, false}};
    if (!server.Start(work.path, lines)) {
      std::fprintf(stderr, "ser2net did not start\n");
      return 1;
    }
    toTransmitter = std::make_unique<sim::DelayRelay>(lines[0].port, 50);
    toBox = std::make_unique<sim::DelayRelay>(lines[1].port, 50);
    const auto url = [](const char* scheme, int port) { return std::string(scheme) + "://127.0.0.1:" + std::to_string(port); };
    const double floorC = 250 + 1062.9 + 1052.9 + 10, floorA = 1700 + 1509.3;
    all.push_back({"KM27C download (read back), ser2net", {"download", "--model", "KM27C", "--device", url("rfc2217", lines[0].port), "--quiet", "KM27A.dat"}, floorC, {}});
    all.push_back({"KM27C download (read back), 50 ms relay", {"download", "--model", "KM27C", "--device", url("rfc2217", toTransmitter->Port()), "--quiet", "KM27A.dat"}, floorC, {}});
    all.push_back({"KM27A download (read back), ser2net", {"download", "--model", "KM27A", "--device", url("tcp", lines[1].port), "--quiet", "KM27A.dat"}, floorA, {}});
    all.push_back({"KM27A download (read back), 50 ms relay", {"download", "--model", "KM27A", "--device", url("tcp", toBox->Port()), "--quiet", "KM27A.dat"}, floorA, {}});
  } else {
    std::printf("ser2net is not installed: no network figures\n\n");
  }
  for (int r = 0; r < runs; ++r) {
    for (Case& c : all) {
      const double ms = RunOnce(program, c.args, work.path);
      if (ms < 0) {
        std::fprintf(stderr, "%s failed after %.1f ms\n", c.name, -ms);
        return 1;
      }
      c.ms.push_back(ms);
    }
  }
  std::printf("| command | runs | median, start to exit (ms) | min..max (ms) | floor (ms) | ratio |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const Case& c : all)
    std::printf("| %s | %zu | %.1f | %.1f..%.1f | %.1f | %.3f |\n", c.name, c.ms.size(), Median(c.ms), Min(c.ms),
                Max(c.ms), c.floor, Median(c.ms) / c.floor);
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
