#include "bench/bench_common.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QEventLoop>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace km27::bench {

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t rank = size_t(std::ceil(p / 100.0 * double(v.size())));
  if (rank < 1) rank = 1;
  if (rank > v.size()) rank = v.size();
  return v[rank - 1];
}

double Min(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

const char* Args::Value(const char* name) const {
  for (int i = 1; i + 1 < argc_; ++i)
    if (std::strcmp(argv_[i], name) == 0) return argv_[i + 1];
  return nullptr;
}
int Args::Int(const char* name, int def) const {
  const char* v = Value(name);
  return v ? std::atoi(v) : def;
}
double Args::Double(const char* name, double def) const {
  const char* v = Value(name);
  return v ? std::atof(v) : def;
}
bool Args::Flag(const char* name) const {
  for (int i = 1; i < argc_; ++i)
    if (std::strcmp(argv_[i], name) == 0) return true;
  return false;
}
std::string Args::Str(const char* name, const std::string& def) const {
  const char* v = Value(name);
  return v ? v : def;
}

TempDir::TempDir(const char* tag) {
  std::string tmpl = std::string("/tmp/km27-bench-") + tag + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data())) path = buf.data();
}
TempDir::~TempDir() {
  if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
}

QApplication& App(int& argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = [&] {
    auto* a = new QApplication(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));
    return a;
  }();
  return *app;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long StatusKb(const char* field, int pid) {
  std::ifstream in(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}

std::string ProgramDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = '\0';
  std::string p = buf;
  return p.substr(0, p.rfind('/'));
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
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(1);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] {
    auto now = Clock::now();
    if (running_) gaps_.push_back(Ms(now - last_));
    last_ = now;
    running_ = true;
  });
}

void GapMeter::Start() {
  // The first gap runs from here: the thread may block before the timer ticks even once.
  last_ = Clock::now();
  running_ = true;
  timer_.start();
}

void GapMeter::Stop() {
  timer_.stop();
  // The time since the last tick counts too: a blocked thread may not have ticked again yet.
  if (running_) gaps_.push_back(Ms(Clock::now() - last_));
  running_ = false;
}

void BenchWindow::SetStatusText(const std::string& utf8) {
  CParamDlg::SetStatusText(utf8);
  status = utf8;
  statusAt = Clock::now();
}

void BenchWindow::SetButtonStates(const km27::ButtonStates& states) {
  CParamDlg::SetButtonStates(states);
  allButtons = std::all_of(states.enabled.begin(), states.enabled.end(), [](bool b) { return b; });
  buttonsAt = Clock::now();
}

void BenchWindow::SetLampState(int state) {
  CParamDlg::SetLampState(state);
  lampState = state;
  lampAt = Clock::now();
  ++lampReports;
}

TransmitterWindow::TransmitterWindow(const std::string& workDir, bool show) : workDir_(workDir) {
  if (chdir(workDir.c_str()) != 0) std::perror("chdir");
  dlg_ = std::make_unique<BenchWindow>();
  dlg_->SetDeviceModel(CodeTransmitter);
  dlg_->OnInitDialog();
  // A window whose own link starts the monitor later has set timer 110.
  if (!dlg_->TimerActive(TIMER_LINK_START)) {
    own_ = std::make_unique<TransmitterLink>(dlg_->Param(), *dlg_, workDir, ActiveLinkTiming());
    own_->Start();
  }
  if (show) dlg_->show();
}

TransmitterWindow::~TransmitterWindow() {
  Close();
  own_.reset();
  dlg_.reset();
}

void TransmitterWindow::StartMonitor() {
  if (own_)
    own_->OnTimer(TIMER_LINK_START);
  else
    dlg_->OnTimer(TIMER_LINK_START);
}

bool TransmitterWindow::LinkUp() const { return own_ ? own_->LinkUp() : dlg_->LinkUp(); }

void TransmitterWindow::Download() {
  if (own_)
    own_->OnDownload();
  else
    dlg_->OnDownload();
}

void TransmitterWindow::Upload() {
  if (own_)
    own_->OnUpload();
  else
    dlg_->OnUpload();
}

void TransmitterWindow::Close() {
  if (closed_) return;
  closed_ = true;
  dlg_->reject();  // the exit path, as the close box takes it
  if (own_) own_->Stop();
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

void Row(const std::vector<std::string>& cols, const std::vector<int>& widths) {
  std::string s = "|";
  for (size_t i = 0; i < cols.size(); ++i) {
    int w = i < widths.size() ? widths[i] : 10;
    std::string c = cols[i];
    // Column widths count characters, not bytes (the headers are ASCII; keep it simple).
    if (int(c.size()) < w) c = std::string(size_t(w) - c.size(), ' ') + c;
    s += " " + c + " |";
  }
  std::printf("%s\n", s.c_str());
}

std::string Fmt(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace km27::bench
