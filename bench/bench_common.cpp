#include "bench/bench_common.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fcntl.h>

#include <QEventLoop>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "store/device_info.h"

namespace km27::bench {

QApplication& App(int& argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = [&] {
    auto* a = new QApplication(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));
    // The windows' remembered choices go to a scratch place, never the user's own.
    QStandardPaths::setTestModeEnabled(true);
    static QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QCoreApplication::setOrganizationName(QStringLiteral("km27-bench"));
    return a;
  }();
  return *app;
}

bool RunUntil(const std::function<bool()>& pred, int timeoutMs) {
  if (pred()) return true;
  QEventLoop loop;
  QTimer check;
  check.setTimerType(Qt::PreciseTimer);
  bool result = false;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (pred()) {
      result = true;
      loop.quit();
    }
  });
  QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, [&] { loop.quit(); });
  check.start(1);
  loop.exec();
  return result || pred();
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, [&] { loop.quit(); });
  loop.exec();
}

GapMeter::GapMeter() {
  schedFd_ = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
  statFd_ = ::open("/proc/thread-self/stat", O_RDONLY | O_CLOEXEC);
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(1);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

GapMeter::~GapMeter() {
  if (schedFd_ >= 0) ::close(schedFd_);
  if (statFd_ >= 0) ::close(statFd_);
}

long GapMeter::ReadMajorFaults() const {
  char buf[1024];
  ssize_t n = statFd_ >= 0 ? ::pread(statFd_, buf, sizeof buf - 1, 0) : -1;
  if (n <= 0) return 0;
  buf[n] = '\0';
  // Fields after the command name: state ppid pgrp session tty tpgid flags minflt cminflt majflt.
  const char* p = std::strrchr(buf, ')');
  if (!p) return 0;
  long majflt = 0;
  std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %ld", &majflt);
  return majflt;
}

bool GapMeter::ReadSchedStat(double& runMs, double& waitMs) const {
  char buf[128];
  ssize_t n = schedFd_ >= 0 ? ::pread(schedFd_, buf, sizeof buf - 1, 0) : -1;
  if (n <= 0) return false;
  buf[n] = '\0';
  unsigned long long run = 0, wait = 0;
  if (std::sscanf(buf, "%llu %llu", &run, &wait) != 2) return false;
  runMs = double(run) / 1e6;
  waitMs = double(wait) / 1e6;
  return true;
}

void GapMeter::Tick() {
  auto now = Clock::now();
  double run = 0, wait = 0;
  bool sched = ReadSchedStat(run, wait);
  long faults = ReadMajorFaults();
  if (running_) {
    double gap = Ms(now - last_);
    gaps_.push_back(gap);
    double onCpu = sched ? run - lastRun_ : 0, waiting = sched ? wait - lastWait_ : 0;
    if (gap > longest_.gap) longest_ = {gap, onCpu, waiting, faults - lastFaults_};
    if (gap - waiting > longestOwn_.gap - longestOwn_.waitingForCpu) longestOwn_ = {gap, onCpu, waiting, faults - lastFaults_};
  }
  last_ = now;
  lastRun_ = run;
  lastWait_ = wait;
  lastFaults_ = faults;
  running_ = true;
}

void GapMeter::Start() {
  // The first gap runs from here: the thread may block before the timer ticks even once.
  running_ = false;
  Tick();
  timer_.start();
}

void GapMeter::Stop() {
  timer_.stop();
  // The time since the last tick counts too: a blocked thread may not have ticked again yet.
  Tick();
  running_ = false;
}

void BenchWindow::SetStatusText(const std::string& utf8) {
  CParamDlg::SetStatusText(utf8);
  status = utf8;
  statusAt = Clock::now();
}

void BenchWindow::SetButtonStates(const km27::ui::ButtonStates& states) {
  CParamDlg::SetButtonStates(states);
  allButtons = std::all_of(states.enabled.begin(), states.enabled.end(), [](bool b) { return b; });
  buttonsAt = Clock::now();
}

void BenchWindow::SetLampState(int state) {
  CParamDlg::SetLampState(state);
  lampState = state;
  lampAt = Clock::now();
}

TransmitterWindow::TransmitterWindow(const std::string& workDir, bool show, bool startLink) {
  if (chdir(workDir.c_str()) != 0) std::perror("chdir");  // the parameter file lives there
  // Device information at hand, as after an upload: without it every download would first
  // read the device's own, which the measured floors leave out.
  DeviceInfo info{};
  if (!LoadDeviceInfo(workDir, info)) SaveDeviceInfo(workDir, info);
  dlg_ = std::make_unique<BenchWindow>();
  dlg_->SetDeviceModel(CodeTransmitter);
  if (!startLink) {
    LinkTiming never;
    never.linkStartMs = 24 * 3600 * 1000;
    dlg_->SetLinkTiming(never);
  }
  dlg_->OnInitDialog();
  if (show) dlg_->show();
}

TransmitterWindow::~TransmitterWindow() {
  Close();
  dlg_.reset();
}

void TransmitterWindow::StartMonitor() { dlg_->Engine()->SearchNow(); }

void TransmitterWindow::Close() {
  if (closed_) return;
  closed_ = true;
  dlg_->reject();  // the exit path, as the close box takes it
}

std::unique_ptr<BenchWindow> OpenBoxWindow(bool show) {
  auto dlg = std::make_unique<BenchWindow>();
  dlg->SetDeviceModel(CodeBox);
  dlg->OnInitDialog();
  if (show) dlg->show();
  return dlg;
}

void SimTrace::Attach(sim::TransmitterSim& sim) {
  sim.SetLog([this](const std::string& line) { Note(line); });
}

void SimTrace::Clear() {
  std::lock_guard<std::mutex> lock(m_);
  events_.clear();
}

std::vector<SimEvent> SimTrace::Events() const {
  std::lock_guard<std::mutex> lock(m_);
  return events_;
}

void SimTrace::Note(const std::string& line) {
  auto at = Clock::now();
  bool toDevice;
  if (line.compare(0, 3, "<- ") == 0)
    toDevice = true;
  else if (line.compare(0, 3, "-> ") == 0 && line.compare(0, 4, "-> (") != 0)
    toDevice = false;
  else
    return;
  std::string hex = line.substr(3);
  std::vector<int> bytes;
  std::istringstream in(hex);
  std::string tok;
  while (in >> tok) bytes.push_back(int(std::strtol(tok.c_str(), nullptr, 16)));
  if (bytes.size() < 4) return;
  std::lock_guard<std::mutex> lock(m_);
  events_.push_back({at, toDevice, bytes.size(), uint8_t(bytes[2]), bytes[3]});
}

}  // namespace km27::bench
