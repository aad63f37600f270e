#pragma once
// Statistics and process helpers of the benchmarks, without Qt (the start-up driver talks to
// the X server through Xlib, whose macros do not mix with Qt's headers).
#include <chrono>
#include <string>
#include <vector>

namespace km27::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v);
double Percentile(std::vector<double> v, double p);  // p in 0..100, nearest rank
double Min(const std::vector<double>& v);
double Max(const std::vector<double>& v);

// --name value / --flag on the command line.
class Args {
 public:
  Args(int argc, char** argv) : argc_(argc), argv_(argv) {}
  int Int(const char* name, int def) const;
  double Double(const char* name, double def) const;
  bool Flag(const char* name) const;
  std::string Str(const char* name, const std::string& def) const;

 private:
  const char* Value(const char* name) const;
  int argc_;
  char** argv_;
};

struct TempDir {
  std::string path;
  explicit TempDir(const char* tag);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

// Processor time of the whole process (user + system), seconds.
double CpuSeconds();
// A "VmXxx:" line of /proc/<pid>/status in kB (pid 0 = this process); -1 when missing.
long StatusKb(const char* field, int pid = 0);
// "2 cores, load average 0.35 0.40 0.51": the conditions a figure was taken under.
std::string MachineLine();
// Directory of this program (to find km27sim and km27param beside it).
std::string ProgramDir();

}  // namespace km27::bench
