#include "bench/bench_stats.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

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

std::string MachineLine() {
  std::ifstream in("/proc/loadavg");
  double a = 0, b = 0, c = 0;
  in >> a >> b >> c;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%ld cores, load average %.2f %.2f %.2f", sysconf(_SC_NPROCESSORS_ONLN), a, b, c);
  return buf;
}

}  // namespace km27::bench
