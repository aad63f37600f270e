// The parameter file under hostile conditions: a process killed in the middle of saving, a file
// system that refuses the bytes, a folder or a file we may not use. The operator's file must
// always stay whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "store/param_file.h"
#include "temp_dir.h"

using namespace km27;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Two distinguishable programmes.
void State(int which, ParamOptions& o, ParamTable& t) {
  o.bytes.fill(uint8_t(which));
  t.bytes.fill(uint8_t(0x40 + which));
}

}  // namespace

TEST(ParamFileSafety, KilledWhileSavingLeavesTheOldOrTheNewFile) {
  const TempDir tmp("safety");
  const std::string dir = tmp.path;
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/KM27A.dat";
  ParamOptions o[2];
  ParamTable t[2];
  State(1, o[0], t[0]);
  State(2, o[1], t[1]);
  const auto image0 = BuildParamFileImage(o[0], t[0]);
  const auto image1 = BuildParamFileImage(o[1], t[1]);
  const Bytes images[2] = {Bytes(image0.begin(), image0.end()), Bytes(image1.begin(), image1.end())};
  ASSERT_TRUE(SaveParamFile(path, o[0], t[0]).ok);

  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> delayUs(0, 8000);
  const int kRounds = 100;
  for (int round = 0; round < kRounds; ++round) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0;; ++i) SaveParamFile(path, o[i % 2], t[i % 2]);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes now = ReadFile(path);
    ASSERT_TRUE(now == images[0] || now == images[1]) << "round " << round << ": " << now.size() << " bytes";
    ParamOptions lo;
    ParamTable lt;
    ASSERT_TRUE(LoadParamFile(path, lo, lt)) << round;
  }
  // A later save sweeps away temporary files that a kill left behind.
  ASSERT_TRUE(SaveParamFile(path, o[0], t[0]).ok);
  const std::string count = "test $(ls -A '" + dir + "' | wc -l) -eq 1";
  EXPECT_EQ(std::system(count.c_str()), 0);
}

TEST(ParamFileSafety, FullFileSystemFailsTheSaveAndKeepsTheOldFile) {
  const TempDir tmp("safety");
  const std::string dir = tmp.path;
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/KM27A.dat";
  ParamOptions o;
  ParamTable t;
  State(3, o, t);
  ASSERT_TRUE(SaveParamFile(path, o, t).ok);
  const Bytes old = ReadFile(path);

  const std::string msg = RunInChild([&] {
    // A file-size limit below the file's size stands in for a full disk. The signal keeps its
    // default action (the end of the process): the save itself must hold it back.
    signal(SIGXFSZ, SIG_DFL);
    rlimit lim{500, 500};
    setrlimit(RLIMIT_FSIZE, &lim);
    SaveResult r = SaveParamFile(path, ParamOptions{}, ParamTable{});
    return (r.ok ? "1 " : "0 ") + std::to_string(r.failure.sysError) + " " + StoreErrorText(r.failure);
  });
  ASSERT_FALSE(msg.empty());
  EXPECT_EQ(msg.substr(0, 2 + std::to_string(EFBIG).size() + 1), "0 " + std::to_string(EFBIG) + " ") << msg;
  EXPECT_EQ(ReadFile(path), old);
  const std::string count = "test $(ls -A '" + dir + "' | wc -l) -eq 1";
  EXPECT_EQ(std::system(count.c_str()), 0) << "the failed temporary file must be removed";
}

// Root ignores permissions, so the attempts run in a child as an unprivileged user.
TEST(ParamFileSafety, PermissionsRefusedAreReportedAndTheFileKept) {
  const TempDir tmp("safety");
  const std::string dir = tmp.path;
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/KM27A.dat";
  ParamOptions o;
  ParamTable t;
  State(4, o, t);
  ASSERT_TRUE(SaveParamFile(path, o, t).ok);
  const Bytes old = ReadFile(path);
  auto asNobody = [](const std::function<std::string()>& body) {
    return RunInChild([&] {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return std::string("skip");
      return body();
    });
  };

  // A read-only folder: the save fails with the system's reason, naming the file.
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  const std::string msg = asNobody([&] {
    SaveResult r = SaveParamFile(path, {}, {});
    return (r.ok ? "1" : "0") + r.path + "|" + std::to_string(r.failure.sysError) + "|" + StoreErrorText(r.failure);
  });
  if (msg == "skip") GTEST_SKIP() << "cannot change to user 65534";
  ASSERT_FALSE(msg.empty());
  EXPECT_EQ(msg[0], '0') << "a save into a read-only folder must fail";
  EXPECT_NE(msg.find(path), std::string::npos);
  EXPECT_NE(msg.find("|" + std::to_string(EACCES) + "|"), std::string::npos) << msg;
  EXPECT_EQ(ReadFile(path), old);

  // A file its owner may not read is unopenable at start-up, and never to be replaced.
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0200), 0);
  ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  const std::string own = asNobody([&] {
    ParamOptions co;
    ParamTable ct;
    const ParamFileStart c = LoadParamFileAtStart(path, co, ct, 0);
    return std::to_string(c.kind) + (c.MayReplace() ? " replace" : " keep");
  });
  EXPECT_EQ(own, std::to_string(ParamFileStart::kUnopenable) + " keep");
}
