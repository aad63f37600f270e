// The window's exit path when the programme cannot be saved: a directory the operator may not
// write to, a file-size limit, a full file system. Each runs the window in a child process of
// this test program (the situation needs another user, a limit or a mount of its own), where
// the operator is first told and goes back to the window, then fixes the cause and retries, or
// gives up. Nothing may be lost: the old file stays whole until a save succeeds, and the
// programme in the window survives every failed save.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "model/status_texts.h"
#include "store/param_file.h"
#include "ui/controls/ms_flex_grid.h"
#include "ui/param_dlg.h"
#include "ui_test_support.h"
#include "temp_dir.h"

using namespace km27;

namespace {

constexpr const char kDirVar[] = "KM27_SAFETY_DIR";
constexpr const char kFixVar[] = "KM27_SAFETY_FIX";  // chmod | rlimit | filler | giveup
constexpr const char kFiller[] = "filler";
constexpr int kEntriesBefore = 3;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The programme on disk before the window opens.
void WriteOldFile(const std::string& dir) {
  ParamOptions o;
  ParamTable t;
  for (int s = 0; s < kEntriesBefore; ++s) t.SetEntry(0, s, {uint8_t(s + 1), uint8_t(10 + s)});
  UpdateCarrierMask(t, o);
  ASSERT_TRUE(SaveParamFile(dir + "/" + kParamFileName, o, t).ok);
}

struct ChildResult {
  int status = -1;
  std::string output;
};

// Runs WindowSaveChild.ExitPath of this program in `dir` with `fix`, after `setup` ran in the
// forked child (limits, user, mounts).
ChildResult RunChild(const std::string& dir, const std::string& fix, const std::function<void()>& setup) {
  const std::string out = dir + ".out";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    setenv(kDirVar, dir.c_str(), 1);
    setenv(kFixVar, fix.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setup();
    execl("/proc/self/exe", "ui_tests", "--gtest_filter=WindowSaveChild.ExitPath", static_cast<char*>(nullptr));
    _exit(127);
  }
  ChildResult r;
  waitpid(pid, &r.status, 0);
  r.output = ReadAll(out);
  unlink(out.c_str());
  return r;
}

class WindowFileSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    umount2(dir.c_str(), MNT_DETACH);  // only where a test mounted something
  }

  void ExpectChildPassed(const ChildResult& r) {
    EXPECT_TRUE(WIFEXITED(r.status)) << "the window's process was killed by signal "
                                     << (WIFSIGNALED(r.status) ? WTERMSIG(r.status) : 0) << "\n" << r.output;
    EXPECT_EQ(WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1, 0) << r.output;
    EXPECT_NE(r.output.find("[  PASSED  ] 1 test"), std::string::npos) << r.output;
    // What the operator was told, for the record.
    const size_t at = r.output.find("asked: ");
    ASSERT_NE(at, std::string::npos) << "the operator was never told";
    std::printf("%s\n", r.output.substr(at, r.output.find("\n\n", at) - at).c_str());
  }
  // After a retry that succeeded: the new programme, and no temporary file left behind.
  void ExpectNewFile() {
    ParamOptions o;
    ParamTable t;
    ASSERT_TRUE(LoadParamFile(dir + "/" + kParamFileName, o, t));
    EXPECT_EQ(CountTable(t).entries, kEntriesBefore + 1);
    QDir d(QString::fromStdString(dir));
    EXPECT_EQ(d.entryList(QDir::Files).filter(kParamFileName).size(), 1) << d.entryList().join(",").toStdString();
  }

  TempDir tmp{"safety"};
  const std::string dir = tmp.path;
};

TEST_F(WindowFileSafety, ReadOnlyDirectoryIsReportedAndRetriedOnceWritable) {
  WriteOldFile(dir);
  // The operator owns the directory and the file but has made the directory read-only; root
  // would write regardless, so the window runs as another user.
  ASSERT_EQ(chown((dir + "/" + kParamFileName).c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  const ChildResult r = RunChild(dir, "chmod", [] {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
  });
  if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 126) GTEST_SKIP() << "cannot change to user 65534";
  ExpectChildPassed(r);
  ExpectNewFile();
}

TEST_F(WindowFileSafety, GivingUpInAReadOnlyDirectoryKeepsTheOldFile) {
  WriteOldFile(dir);
  const std::string old = ReadAll(dir + "/" + kParamFileName);
  ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  const ChildResult r = RunChild(dir, "giveup", [] {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
  });
  if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 126) GTEST_SKIP() << "cannot change to user 65534";
  ExpectChildPassed(r);
  EXPECT_EQ(ReadAll(dir + "/" + kParamFileName), old);
}

TEST_F(WindowFileSafety, FileSizeLimitIsReportedNotFatal) {
  WriteOldFile(dir);
  // A write past the limit raises SIGXFSZ, whose default action ends the process: the window
  // must survive it and report the failed write instead.
  const ChildResult r = RunChild(dir, "rlimit", [] {
    signal(SIGXFSZ, SIG_DFL);
    rlimit lim{512, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &lim);
  });
  ExpectChildPassed(r);
  ExpectNewFile();
}

TEST_F(WindowFileSafety, FullFileSystemIsReportedAndRetriedOnceThereIsRoom) {
  // A small file system of its own, mounted in the child's own mount namespace: the old file,
  // then a filler that takes every remaining block.
  const std::string d = dir;
  const ChildResult r = RunChild(dir, "filler", [d] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("km27", d.c_str(), "tmpfs", 0, "size=16k") != 0)
      _exit(126);
  });
  if (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 126) GTEST_SKIP() << "cannot mount a tmpfs here";
  // The tmpfs went with the child's namespace: its verdict is all there is to see.
  ExpectChildPassed(r);
}

// The window's side, run only as a child of the tests above.
TEST(WindowSaveChild, ExitPath) {
  const char* dir = std::getenv(kDirVar);
  const char* fixVar = std::getenv(kFixVar);
  if (!dir || !fixVar) GTEST_SKIP() << "runs only as a child of WindowFileSafety";
  const std::string fix = fixVar;
  ASSERT_EQ(chdir(dir), 0);
  const std::string file = std::string(dir) + "/" + kParamFileName;
  if (fix == "filler") {
    // The old file on the fresh file system, then a filler that takes every block left.
    WriteOldFile(dir);
    const int fd = ::open(kFiller, O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    char block[512] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    ::close(fd);
  }
  const std::string old = ReadAll(file);
  ASSERT_EQ(old.size(), kParamFileSize);

  EnsureApp();
  ScriptedAnswers answers;
  auto dlg = std::make_unique<CParamDlg>();
  answers.InstallOn(*dlg);
  dlg->SetDeviceModel(CodeBox);
  dlg->OnInitDialog();
  dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  ASSERT_EQ(CountTable(dlg->Param().table).entries, kEntriesBefore);
  QTest::keyClick(dlg->grid, Qt::Key_F2);  // one step more than on disk
  const ParamTable edited = dlg->Param().table;
  ASSERT_EQ(CountTable(edited).entries, kEntriesBefore + 1);

  int asked = 0;
  answers.answer = [&](const ScriptedAnswers::Asked& a) {
    ++asked;
    // The message names the file by its full path and gives the reason.
    EXPECT_EQ(a.icon, QMessageBox::Critical);
    EXPECT_TRUE(a.text.contains(QString::fromStdString(file))) << a.text.toStdString();
    EXPECT_TRUE(a.text.contains(QString::fromUtf8("原因："))) << a.text.toStdString();
    EXPECT_TRUE(a.buttons.testFlag(QMessageBox::Retry) && a.buttons.testFlag(QMessageBox::Cancel) &&
                a.buttons.testFlag(QMessageBox::Discard));
    std::printf("asked: %s\n", a.text.toStdString().c_str());
    if (fix == "giveup") return QMessageBox::Discard;
    if (asked == 1) return QMessageBox::Cancel;
    if (fix == "chmod") {
      EXPECT_EQ(chmod(".", 0755), 0);
    } else if (fix == "rlimit") {
      rlimit lim{RLIM_INFINITY, RLIM_INFINITY};
      EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    } else if (fix == "filler") {
      EXPECT_EQ(unlink(kFiller), 0);
    }
    return QMessageBox::Retry;
  };

  QTest::keyClick(dlg->grid, Qt::Key_F9);
  ASSERT_EQ(asked, 1);
  if (fix == "giveup") {
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(ReadAll(file), old) << "giving up must leave the old file as it was";
    return;
  }
  // Back in the window: the programme is still there and the old file is whole.
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(dlg->Param().table == edited);
  EXPECT_EQ(ReadAll(file), old);

  QTest::keyClick(dlg->grid, Qt::Key_F9);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(dlg->isVisible());
  ParamOptions o;
  ParamTable t;
  ASSERT_TRUE(LoadParamFile(file, o, t));
  EXPECT_TRUE(t == edited);
}

}  // namespace
