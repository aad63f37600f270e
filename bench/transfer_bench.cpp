// Code-transmitter download and upload time against a simulated device that paces its output
// at 19200 baud 8N1, next to the floor the protocol sets, with where the excess goes.
//
//   transfer_bench [--runs N] [--trace]
//
// The link runs at its real timing, driven through the real main window (reports travel by the
// window's queued calls). Each exchange is timed from the device's side: a request counts as
// written when its last byte has arrived less its line time, an answer as read when its last
// byte has arrived.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "link/transfer_frame.h"
#include "link/verify.h"
#include "link/window_call_queue.h"
#include "model/status_texts.h"
#include "port/com_names.h"
#include "port/serial_port.h"
#include "ui/param_dlg.h"
#include "ui/qt_event_loop.h"

#include <QAction>

using namespace km27;
using namespace km27::bench;

namespace {

constexpr int kBaud = 19200;
const double kByteMs = LineMs(1, kBaud);

struct ExchangeShape {
  size_t request, answer;
};

// The transfer as the protocol lays it out: the opening exchange, 17 block exchanges, the
// identification frame.
std::vector<ExchangeShape> Shape(bool download) {
  std::vector<ExchangeShape> s{{kShortFrameBytes, kOpenAnswerBytes}};
  for (int k = 0; k < kTransferBlocks; ++k)
    s.push_back(download ? ExchangeShape{kBlockFrameBytes, kShortFrameBytes} : ExchangeShape{kShortFrameBytes, kBlockFrameBytes});
  return s;
}

struct Floor {
  double identWritten;  // the window's result can come no sooner
  double lineEnd;       // the identification frame's last byte at the device
};

// 20 ms before each write and each read, 10 ms before the identification frame; a write
// returns before its bytes leave, so the device's answer runs during the pause before the read.
Floor ProtocolFloor(bool download, const LinkTiming& t) {
  double at = 0;
  for (const auto& x : Shape(download)) {
    at += t.exchangePauseMs;
    double answerEnd = at + double(x.request + x.answer) * kByteMs;
    at = std::max(answerEnd, at + t.exchangePauseMs);
  }
  at += t.identifyPauseMs;
  return {at, at + double(kIdentifyFrameBytes) * kByteMs};
}

struct Exchange {
  double write = 0;      // request handed to the port
  double readDone = 0;   // answer complete and the read's pause over
  size_t request = 0, answer = 0;
  uint8_t cmd = 0;
  int block = 0;
  double turnExcess = 0;  // time from the previous read to this write beyond the 20 ms pause
};

struct RunResult {
  bool ok = false;
  double toResult = 0;     // button to the window showing the result
  double toLineEnd = 0;    // button to the identification frame's last byte at the device
  double startDelay = 0;   // button to the first write, beyond its 20 ms pause
  double turnExcess = 0;   // sum over exchanges
  double maxTurnExcess = 0;
  double identExcess = 0;  // last read to the identification frame, beyond 10 ms
  double tail = 0;         // identification frame written to the window's result
  std::vector<Exchange> rows;
};

RunResult Analyse(const std::vector<SimEvent>& events, Clock::time_point t0, Clock::time_point result,
                  const LinkTiming& t) {
  RunResult r;
  auto at = [&](Clock::time_point p) { return Ms(p - t0); };
  size_t i = 0;
  while (i < events.size() && !(events[i].toDevice && events[i].cmd == CMD_OPEN && events[i].at >= t0)) ++i;
  double identWrite = -1;
  for (; i < events.size(); ++i) {
    const SimEvent& e = events[i];
    if (!e.toDevice) {
      if (r.rows.empty()) continue;
      Exchange& x = r.rows.back();
      x.answer = e.bytes;
      double end = at(e.at) + double(e.bytes) * kByteMs;
      x.readDone = std::max(end, x.write + t.exchangePauseMs);
      continue;
    }
    double write = at(e.at) - double(e.bytes) * kByteMs;
    if (e.cmd == CMD_IDENTIFY && e.bytes == kIdentifyFrameBytes) {
      identWrite = write;
      r.toLineEnd = at(e.at);
      break;
    }
    Exchange x;
    x.write = write;
    x.readDone = write + t.exchangePauseMs;
    x.request = e.bytes;
    x.cmd = e.cmd;
    x.block = e.block;
    if (!r.rows.empty()) x.turnExcess = write - r.rows.back().readDone - t.exchangePauseMs;
    r.rows.push_back(x);
  }
  if (identWrite < 0 || r.rows.empty()) return r;
  r.ok = true;
  r.toResult = at(result);
  r.startDelay = r.rows.front().write - t.exchangePauseMs;
  for (size_t k = 1; k < r.rows.size(); ++k) {
    r.turnExcess += r.rows[k].turnExcess;
    r.maxTurnExcess = std::max(r.maxTurnExcess, r.rows[k].turnExcess);
  }
  r.identExcess = identWrite - r.rows.back().readDone - t.identifyPauseMs;
  r.tail = r.toResult - identWrite;
  return r;
}

void PrintTrace(const RunResult& r, bool download) {
  std::printf("\nPer exchange, last %s run (ms from the button):\n\n", download ? "download" : "upload");
  std::printf("| # | request | bytes out/in | written | read done | wait before write | beyond 20 ms |\n");
  std::printf("|---:|---|---:|---:|---:|---:|---:|\n");
  for (size_t k = 0; k < r.rows.size(); ++k) {
    const Exchange& x = r.rows[k];
    std::string what = x.cmd == CMD_OPEN ? "open" : (x.cmd == CMD_WRITE_BLOCK ? "write " : "read ") + std::to_string(x.block);
    double wait = k == 0 ? x.write : x.write - r.rows[k - 1].readDone;
    std::printf("| %zu | %s | %zu/%zu | %.2f | %.2f | %.2f | %.2f |\n", k, what.c_str(), x.request, x.answer, x.write,
                x.readDone, wait, k == 0 ? r.startDelay : x.turnExcess);
  }
}

// How closely the port's pause keeps its time, and what it costs in processor time.
void PauseAccuracy(int count) {
  SerialPort port;
  std::vector<double> over;
  double cpu0 = CpuSeconds();
  for (int k = 0; k < count; ++k) {
    auto a = Clock::now();
    port.Sleep(20);
    over.push_back(Ms(Clock::now() - a) - 20);
  }
  double cpuMs = (CpuSeconds() - cpu0) * 1000 / count;
  std::printf("\nSerialPort::Sleep(20), %d pauses: overshoot median %.3f ms, max %.3f ms; processor time %.3f ms per pause\n",
              count, Median(over), Max(over), cpuMs);
}

// A worker's synchronous report to the idle window's loop and back, as each progress report
// costs: the engines' call queue, woken through the window's event loop.
void ReportRoundTrip(int count) {
  QtEventLoop loop;
  WindowCallQueue calls([&] { loop.Post([&] { calls.RunPending(); }); });
  std::vector<double> trips;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int k = 0; k < count; ++k) {
      auto a = Clock::now();
      calls.Call([] {});
      trips.push_back(Ms(Clock::now() - a));
    }
    done = true;
  });
  RunUntil([&] { return done.load(); }, 60000);
  worker.join();
  std::printf("Worker's report to the window and back, %d reports: median %.3f ms, 99th percentile %.3f ms\n", count,
              Median(trips), Percentile(trips, 99));
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int runs = args.Int("--runs", 10);
  const bool trace = args.Flag("--trace");
  App(argc, argv);

  TempDir com("com"), work("work");
  setenv(kComDirVariable, com.path.c_str(), 1);
  sim::TransmitterSimOptions o;
  o.paced = true;
  o.verbose = true;  // the log is the trace
  sim::TransmitterSim device(o);
  if (!device.Start(com.path, 1)) {
    std::fprintf(stderr, "simulator: %s\n", device.Error().c_str());
    return 1;
  }
  SimTrace simTrace;
  simTrace.Attach(device);

  const LinkTiming timing = LinkTiming();
  TransmitterWindow tw(work.path);
  tw.StartMonitor();
  if (!RunUntil([&] { return tw.LinkUp(); }, 15000)) {
    std::fprintf(stderr, "the link did not come up\n");
    return 1;
  }
  std::printf("Code transmitter at 19200 baud 8N1, simulator paced, real timing, through the main window\n");

  struct Summary {
    const char* name;
    Floor floor;
    std::vector<RunResult> results;
  };
  std::vector<Summary> all;
  tw.Window().VerifyAction()->setChecked(false);  // the download alone first
  for (bool download : {true, false}) {
    Summary s{download ? "download" : "upload", ProtocolFloor(download, timing), {}};
    BenchWindow& w = tw.Window();
    for (int run = 0; run < runs; ++run) {
      RunFor(150 + (run * 13) % 40);  // start at different points of the monitor's cycle
      simTrace.Clear();
      w.status.clear();
      const std::string ok = download ? text::kDownloadOk() : text::kUploadOk();
      const std::string failed = download ? text::kDownloadFailed() : text::kUploadFailed();
      auto t0 = Clock::now();
      download ? tw.Download() : tw.Upload();
      if (!RunUntil([&] { return w.status == ok || w.status == failed; }, 30000) || w.status != ok) {
        std::fprintf(stderr, "%s run %d failed\n", s.name, run);
        continue;
      }
      auto resultAt = w.statusAt;
      RunUntil([&] { return w.allButtons; }, 5000);
      RunFor(20);  // the identification frame reaches the device after the result shows
      auto events = simTrace.Events();
      RunResult r = Analyse(events, t0, resultAt, timing);
      if (r.ok)
        s.results.push_back(r);
      else
        std::fprintf(stderr, "%s run %d: the device saw no complete transfer (%zu frames)\n", s.name, run, events.size());
    }
    all.push_back(std::move(s));
  }

  std::printf("\n| transfer | runs | median to result (ms) | median to last byte at device (ms) | floor (ms) | ratio | min..max to last byte |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& s : all) {
    std::vector<double> res, line;
    for (const auto& r : s.results) {
      res.push_back(r.toResult);
      line.push_back(r.toLineEnd);
    }
    std::printf("| %s | %zu | %.1f | %.1f | %.1f | %.3f | %.1f..%.1f |\n", s.name, s.results.size(), Median(res),
                Median(line), s.floor.lineEnd, Median(line) / s.floor.lineEnd, Min(line), Max(line));
  }
  std::printf("\nFloor: %.1f ms until the identification frame is written (the result can show no sooner), "
              "%.1f ms until its last byte is at the device.\n", all[0].floor.identWritten, all[0].floor.lineEnd);

  // Download and read-back: the download, its identification frame, then the upload's exchange
  // and its identification frame; the verdict shows once the last of them is written.
  {
    BenchWindow& w = tw.Window();
    w.VerifyAction()->setChecked(true);
    const std::string ok = VerifyStatusText(VerifyOutcome::kSame);
    const double floor = ProtocolFloor(true, timing).identWritten + ProtocolFloor(false, timing).identWritten;
    std::vector<double> verified;
    for (int run = 0; run < runs; ++run) {
      RunFor(150 + (run * 13) % 40);
      w.status.clear();
      auto t0 = Clock::now();
      tw.Download();
      if (!RunUntil([&] { return w.status == ok && w.allButtons; }, 60000)) {
        std::fprintf(stderr, "verified download run %d failed (%s)\n", run, w.status.c_str());
        continue;
      }
      verified.push_back(Ms(w.statusAt - t0));
    }
    std::printf("\n| transfer | runs | median, button to verdict shown (ms) | floor (ms) | ratio | twice the download's floor (ms) | ratio | min..max (ms) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    std::printf("| download with verify | %zu | %.1f | %.1f | %.3f | %.1f | %.3f | %.1f..%.1f |\n", verified.size(),
                Median(verified), floor, Median(verified) / floor, 2 * all[0].floor.identWritten,
                Median(verified) / (2 * all[0].floor.identWritten), Min(verified), Max(verified));
  }

  std::printf("\nWhere the time beyond the floor goes (medians over the runs, ms):\n\n");
  std::printf("| transfer | button to first write, beyond 20 ms (min..max) | sum over 17 turnarounds beyond 20 ms | worst turnaround, all runs | before identification, beyond 10 ms | identification written to result shown |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const auto& s : all) {
    std::vector<double> a, b, c, d, e;
    for (const auto& r : s.results) {
      a.push_back(r.startDelay);
      b.push_back(r.turnExcess);
      c.push_back(r.maxTurnExcess);
      d.push_back(r.identExcess);
      e.push_back(r.tail);
    }
    std::printf("| %s | %.2f (%.2f..%.2f) | %.2f | %.2f | %.2f | %.2f |\n", s.name, Median(a), Min(a), Max(a), Median(b),
                Max(c), Median(d), Median(e));
  }
  if (trace)
    for (const auto& s : all)
      if (!s.results.empty()) PrintTrace(s.results.back(), std::string(s.name) == "download");
  PauseAccuracy(100);
  ReportRoundTrip(200);
  tw.Close();
  if (chdir("/") != 0) return 1;  // the working directory is about to go
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
