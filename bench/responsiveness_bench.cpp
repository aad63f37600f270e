// The longest time the window's thread goes without handling events while the links work: a
// 1 ms timer on that thread records the gaps between its ticks.
//
//   responsiveness_bench [--seconds S] [--transfers N]
//
// Real main windows, real timing, paced simulators. The code box's pauses (200 ms before its
// frame, 1000 ms + 500 ms after it, 500 ms after an upload) run from the event loop: what shows
// here is the window's own work around them.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "link/verify.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "sim/box_sim.h"
#include "store/device_info.h"
#include "ui/param_dlg.h"

#include <QAction>

using namespace km27;
using namespace km27::bench;

namespace {

struct Line {
  std::string what;
  double seconds;
  size_t ticks;
  double p99, p999, max;
  GapMeter::Longest longest, own;
};
std::vector<Line> g_lines;

void Note(const std::string& what, GapMeter& m, Clock::time_point since) {
  g_lines.push_back({what, Ms(Clock::now() - since) / 1000, m.Ticks(), m.PercentileMs(99), m.PercentileMs(99.9), m.MaxMs(),
                     m.LongestGap(), m.LongestOwnGap()});
  std::fprintf(stderr, "%s: max %.1f ms\n", what.c_str(), m.MaxMs());
}

// Measures while `body` runs the event loop.
void Measure(const std::string& what, const std::function<void()>& body) {
  GapMeter m;
  auto t0 = Clock::now();
  m.Start();
  body();
  m.Stop();
  Note(what, m, t0);
}

enum class Kind { kDownload, kVerifiedDownload, kUpload };

// A transfer of either model started as a click would (from the event loop), until its final
// text with the buttons back; true when it succeeded.
bool Transfer(BenchWindow& w, Kind kind) {
  w.VerifyAction()->setChecked(kind == Kind::kVerifiedDownload);
  const bool download = kind != Kind::kUpload;
  const std::string ok = kind == Kind::kVerifiedDownload ? VerifyStatusText(VerifyOutcome::kSame)
                         : download                      ? text::kDownloadOk()
                                                         : text::kUploadOk();
  const std::string failed = download ? text::kDownloadFailed() : text::kUploadFailed();
  w.status.clear();
  w.allButtons = false;
  QTimer::singleShot(0, &w, [&w, download] { download ? w.OnDownload() : w.OnUpload(); });
  return RunUntil([&] { return (w.status == ok || w.status == failed) && w.allButtons; }, 30000) && w.status == ok;
}

const char* KindName(Kind k) {
  return k == Kind::kDownload ? "downloads" : k == Kind::kVerifiedDownload ? "downloads with verify" : "uploads";
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int seconds = args.Int("--seconds", 5);
  const int transfers = args.Int("--transfers", 5);
  App(argc, argv);
  TempDir work("work");

  {
    // The window alone: what the measuring timer itself shows.
    TempDir com("com");
    setenv(kComDirVariable, com.path.c_str(), 1);
    TransmitterWindow tw(work.path, true, false);  // the monitor never starts
    RunFor(300);
    Measure("window open, link not started", [&] { RunFor(seconds * 1000); });
    tw.Close();
  }
  {
    TempDir com("com");
    setenv(kComDirVariable, com.path.c_str(), 1);
    sim::TransmitterSimOptions o;
    o.paced = true;
    sim::TransmitterSim device(o);
    if (!device.Start(com.path, 1)) return 1;
    TransmitterWindow tw(work.path);
    tw.StartMonitor();
    if (!RunUntil([&] { return tw.LinkUp(); }, 15000)) return 1;
    RunFor(300);
    Measure("code transmitter: monitor polling a present device", [&] { RunFor(seconds * 1000); });
    bool all = true;
    for (Kind kind : {Kind::kDownload, Kind::kUpload, Kind::kVerifiedDownload})
      Measure("code transmitter: " + std::to_string(transfers) + " " + KindName(kind), [&] {
        for (int k = 0; k < transfers; ++k) {
          all = Transfer(tw.Window(), kind) && all;
          RunFor(200);
        }
      });
    if (!all) std::fprintf(stderr, "a transfer failed\n");
    tw.Close();
  }
  {
    TempDir com("com");
    setenv(kComDirVariable, com.path.c_str(), 1);
    TransmitterWindow tw(work.path);
    tw.StartMonitor();
    RunFor(300);
    Measure("code transmitter: monitor scanning, no port", [&] { RunFor(seconds * 1000); });
    tw.Close();
  }
  {
    TempDir com("com");
    setenv(kComDirVariable, com.path.c_str(), 1);
    sim::TransmitterSimOptions o;
    o.paced = true;
    o.silent = true;
    sim::TransmitterSim device(o);
    if (!device.Start(com.path, 1)) return 1;
    TransmitterWindow tw(work.path);
    tw.StartMonitor();
    // Two whole cycles against the silent port: opening sequence, 6 s read, report.
    Measure("code transmitter: monitor scanning, one silent port", [&] { RunFor(13000); });
    tw.Close();
  }
  {
    TempDir com("com");
    setenv(kComDirVariable, com.path.c_str(), 1);
    if (chdir(work.path.c_str()) != 0) return 1;
    sim::BoxSimOptions o;
    o.comDir = com.path;
    o.paced = true;
    sim::BoxSim box(o);
    if (!box.Start()) return 1;
    auto w = OpenBoxWindow();
    if (!RunUntil([&] { return w->LinkUp(); }, 15000)) return 1;
    RunFor(300);
    Measure("code box: link up, watchdog running", [&] { RunFor(seconds * 1000); });
    bool ok = true;
    Measure("code box: download", [&] { ok = Transfer(*w, Kind::kDownload) && ok; });
    RunFor(300);
    Measure("code box: upload", [&] { ok = Transfer(*w, Kind::kUpload) && ok; });
    RunFor(300);
    Measure("code box: download with verify", [&] { ok = Transfer(*w, Kind::kVerifiedDownload) && ok; });
    if (!ok) std::fprintf(stderr, "a code-box transfer failed\n");
    w->reject();
  }
  {
    TempDir com("com");
    setenv(kComDirVariable, com.path.c_str(), 1);
    sim::BoxSimOptions o;
    o.comDir = com.path;
    o.silent = true;
    sim::BoxSim box(o);
    if (!box.Start()) return 1;
    auto w = OpenBoxWindow();
    RunFor(300);
    Measure("code box: scanning, one silent port", [&] { RunFor(seconds * 1000); });
    w->reject();
  }
  // An upload ends on the window's thread by saving the device information file, which is
  // flushed to the disk before it replaces the old one: that flush is part of the longest gap.
  std::vector<double> saves;
  DeviceInfo info{};
  for (int k = 0; k < 20; ++k) {
    auto a = Clock::now();
    SaveDeviceInfo(work.path, info);
    saves.push_back(Ms(Clock::now() - a));
  }
  if (chdir("/") != 0) return 1;

  std::printf("Window thread's longest gaps between 1 ms timer ticks (real timing, paced simulators)\n\n");
  std::printf("| while | seconds | ticks | 99th percentile (ms) | 99.9th percentile (ms) | longest (ms) | of it on a CPU / waiting for a CPU (ms) | longest less its wait for a CPU (ms) | of it on a CPU (ms) | disk page faults in it |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Line& l : g_lines)
    std::printf("| %s | %.1f | %zu | %.2f | %.2f | %.2f | %.2f / %.2f | %.2f | %.2f | %ld |\n", l.what.c_str(), l.seconds,
                l.ticks, l.p99, l.p999, l.max, l.longest.onCpu, l.longest.waitingForCpu, l.own.gap - l.own.waitingForCpu,
                l.own.onCpu, l.own.majorFaults);
  std::printf("\nSaving the device information file (as an upload does on the window's thread), 20 saves in the working "
              "directory: median %.2f ms, longest %.2f ms\n", Median(saves), Max(saves));
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
