#pragma once
// Shared pieces of the benchmarks: a window that notes when the link shows its
// results, a meter of the window thread's event gaps, and a time-stamped record of the frames a
// simulated code transmitter sees and sends.
#include <QApplication>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "link/link_timing.h"
#include "sim/transmitter_sim.h"
#include "ui/param_dlg.h"

namespace km27::bench {

// The Qt application of a benchmark: offscreen unless the caller chose a platform.
QApplication& App(int& argc, char** argv);

// Runs the window thread's event loop until pred holds (checked every millisecond) or the
// time runs out; returns pred's last value.
bool RunUntil(const std::function<bool()>& pred, int timeoutMs);
void RunFor(int ms);

// How long the window thread goes without handling events: a 1 ms timer on that thread
// records the gaps between its ticks. The kernel's account of the thread
// (/proc/thread-self/schedstat) splits each gap into time on a CPU (the window's own work), time
// runnable but waiting for a CPU (other load on the machine) and the rest (asleep or blocked).
class GapMeter : public QObject {
 public:
  GapMeter();
  ~GapMeter() override;
  void Start();
  void Stop();
  double MaxMs() const { return Max(gaps_); }
  double PercentileMs(double p) const { return Percentile(gaps_, p); }
  size_t Ticks() const { return gaps_.size(); }
  // A gap and how it was spent.
  struct Longest {
    double gap = 0, onCpu = 0, waitingForCpu = 0;
    long majorFaults = 0;  // page faults that had to read from the disk
  };
  Longest LongestGap() const { return longest_; }
  // The gap with the most time not spent waiting for a CPU.
  Longest LongestOwnGap() const { return longestOwn_; }

 private:
  void Tick();
  bool ReadSchedStat(double& runMs, double& waitMs) const;
  long ReadMajorFaults() const;
  QTimer timer_;
  int schedFd_ = -1;
  int statFd_ = -1;
  long lastFaults_ = 0;
  Clock::time_point last_{};
  double lastRun_ = 0, lastWait_ = 0;
  bool running_ = false;
  std::vector<double> gaps_;
  Longest longest_;
  Longest longestOwn_;
};

// The real main window, noting the moments the link changes what it shows.
class BenchWindow : public CParamDlg {
 public:
  void SetStatusText(const std::string& utf8) override;
  void SetButtonStates(const km27::ui::ButtonStates& states) override;
  void SetLampState(int state) override;

  std::string status;
  Clock::time_point statusAt{};
  bool allButtons = false;  // all eight command buttons enabled
  Clock::time_point buttonsAt{};
  int lampState = 0;
  Clock::time_point lampAt{};
};

// The code transmitter's link driven through the real main window and its own link engine, so
// the workers' reports travel through the window's queued calls as in the program.
class TransmitterWindow {
 public:
  // Without `startLink` the link's monitor never starts of itself.
  explicit TransmitterWindow(const std::string& workDir, bool show = true, bool startLink = true);
  ~TransmitterWindow();

  BenchWindow& Window() { return *dlg_; }
  void StartMonitor();  // what the link's start timer does when it fires
  bool LinkUp() const { return dlg_->LinkUp(); }
  void Download() { dlg_->OnDownload(); }
  void Upload() { dlg_->OnUpload(); }
  void Close();  // the exit path: reports are cut, the link stops, the file is saved

 private:
  std::unique_ptr<BenchWindow> dlg_;
  bool closed_ = false;
};

// Code-box window: the factory's code-box engine with the real comm control.
std::unique_ptr<BenchWindow> OpenBoxWindow(bool show = true);

// Frames at the simulated device, time-stamped as the device sees them: a request when its
// last byte has arrived, an answer when its first byte leaves.
struct SimEvent {
  Clock::time_point at;
  bool toDevice;
  size_t bytes;
  uint8_t cmd;
  int block;
};

class SimTrace {
 public:
  void Attach(sim::TransmitterSim& sim);
  void Clear();
  std::vector<SimEvent> Events() const;

 private:
  void Note(const std::string& line);
  mutable std::mutex m_;
  std::vector<SimEvent> events_;
};

// Line time of n bytes, 10 bits each, in milliseconds.
inline double LineMs(double bytes, int baud) { return bytes * 10.0 * 1000.0 / baud; }

}  // namespace km27::bench
