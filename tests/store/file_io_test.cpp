// The one way files are written: what it does to the file that is already there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "child_process.h"
#include "store/device_info.h"
#include "store/file_io.h"
#include "store/help_text.h"
#include "store/param_file.h"
#include "temp_dir.h"

namespace km27 {
namespace {

class FileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
  }
  static std::string Read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }
  static mode_t Mode(const std::string& p) {
    struct stat st{};
    stat(p.c_str(), &st);
    return st.st_mode & 07777;
  }
  SaveResult Save(const std::string& s, ExistingFile e = ExistingFile::kReplace, bool* created = nullptr) {
    return WriteFileAtomically(path, s.data(), s.size(), e, created);
  }

  TempDir tmp{"fileio"};
  const std::string dir = tmp.path, path = dir + "/KM27A.dat";
};

TEST_F(FileIo, AReadOnlyFileIsProtectedWhoeverSaves) {
  Write(path, "the operator's protected programme");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  SaveResult r = Save("new");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, StoreError::kReadOnly);
  EXPECT_EQ(r.failure.sysError, EACCES);
  EXPECT_EQ(r.path, path);
  EXPECT_EQ(Read(path), "the operator's protected programme");
  EXPECT_EQ(Mode(path), 0444u);

  // The same for an unprivileged operator whose own file has no write permission for him.
  ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(path.c_str(), 0464), 0);  // others may write; its owner may not
  const std::string msg = RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return std::string("skip");
    const SaveResult s = Save("new");
    return std::string(s.ok ? "saved" : "refused") + " " + std::to_string(s.failure.sysError);
  });
  if (msg == "skip") GTEST_SKIP() << "cannot change to user 65534";
  EXPECT_EQ(msg, "refused " + std::to_string(EACCES));
  EXPECT_EQ(Read(path), "the operator's protected programme");
}

TEST_F(FileIo, AWritableFileKeepsItsModeAndOwner) {
  Write(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);  // the operator's file, saved by root
  }
  ASSERT_TRUE(Save("new").ok);
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Mode(path), 0640u);
  if (root) {
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
}

TEST_F(FileIo, ANewFileGetsTheUsualModeNotATemporaryFilesMode) {
  const mode_t old = umask(027);
  const SaveResult r = Save("new");
  umask(old);
  ASSERT_TRUE(r.ok) << StoreErrorText(r.failure);
  EXPECT_EQ(Mode(path), 0640u);
}

TEST_F(FileIo, ALinkStaysALinkAndItsTargetIsWritten) {
  const std::string target = dir + "/station-7.dat";
  Write(target, "old");
  ASSERT_EQ(symlink("station-7.dat", path.c_str()), 0);
  ASSERT_TRUE(Save("new").ok);
  struct stat st{};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Read(target), "new");
}

TEST_F(FileIo, AFolderOfThatNameIsNeverReplaced) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  Write(path + "/inside", "x");
  const SaveResult r = Save("new");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, StoreError::kNotReplaceable);
  EXPECT_EQ(r.failure.sysError, EISDIR);
  EXPECT_EQ(Read(path + "/inside"), "x");
}

TEST_F(FileIo, KeepLetsAnExistingFileWin) {
  bool created = true;
  Write(path, "operator's");
  ASSERT_TRUE(Save("ours", ExistingFile::kKeep, &created).ok);
  EXPECT_FALSE(created);
  EXPECT_EQ(Read(path), "operator's");
  unlink(path.c_str());
  ASSERT_TRUE(Save("ours", ExistingFile::kKeep, &created).ok);
  EXPECT_TRUE(created);
  EXPECT_EQ(Read(path), "ours");
}

TEST_F(FileIo, ReadingRefusesWhatIsNoRegularFileWithoutWaiting) {
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ReadFileBytes(fifo, 100).ok);  // would block forever if it waited for a writer
  ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
  const ReadResult d = ReadFileBytes(dir + "/folder", 100);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.failure.code, StoreError::kNotRegularFile);
  EXPECT_EQ(d.failure.sysError, EISDIR);
  Write(path, std::string(101, 'x'));
  const ReadResult big = ReadFileBytes(path, 100);
  EXPECT_FALSE(big.ok);
  EXPECT_TRUE(big.tooLarge);
  EXPECT_EQ(big.fileSize, 101u);
  const ReadResult ok = ReadFileBytes(path, 101);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.bytes, std::string(101, 'x'));
  // A file in /proc says it is empty; what it holds counts.
  const ReadResult proc = ReadFileBytes("/proc/self/maps", 16);
  EXPECT_FALSE(proc.ok);
  EXPECT_TRUE(proc.tooLarge);
  EXPECT_EQ(proc.failure.code, StoreError::kTooLargeUnsized);
  EXPECT_EQ(proc.failure.detail.number, 16);
}

TEST_F(FileIo, AllThreeFilesGoThroughTheSameRules) {
  // Each of the tool's files, made read-only by the operator, is left as it was.
  const std::string info = dir + "/" + kDeviceInfoFileName;
  Write(info, "operator's info");
  Write(path, "operator's programme");
  ASSERT_EQ(chmod(info.c_str(), 0444), 0);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_FALSE(SaveDeviceInfo(dir, DeviceInfo{}).ok);
  EXPECT_FALSE(SaveParamFile(path, {}, {}).ok);
  EXPECT_EQ(Read(info), "operator's info");
  EXPECT_EQ(Read(path), "operator's programme");
  // The help file is only ever created, never replaced.
  const std::string help = dir + "/" + kHelpFileName;
  Write(help, "mine");
  EXPECT_TRUE(EnsureHelpFile(help, "a", "b").ok);
  EXPECT_EQ(Read(help), "mine");
}

}  // namespace
}  // namespace km27
