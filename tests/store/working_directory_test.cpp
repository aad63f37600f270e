#include <gtest/gtest.h>

#include <cerrno>

#include "store/file_io.h"
#include "temp_dir.h"

namespace km27 {
namespace {

// The folder calls the window's start-up makes, on each system: drive letters and mixed
// separators on Windows, names outside the machine's code page (the wide calls), errors as
// errno numbers.
TEST(WorkingDirectory, NestedFoldersAreMadeEnteredAndFound) {
  TempDir tmp("cwd");
  ASSERT_FALSE(tmp.path.empty());
  const std::string before = CurrentDirectory();
  ASSERT_FALSE(before.empty());
  const std::string dir = tmp / "工作/a/b";
  int err = 0;
  ASSERT_TRUE(MakeDirectories(dir, &err)) << SystemErrorText(err);
  EXPECT_TRUE(MakeDirectories(dir, &err)) << "an existing folder counts as made";
  ASSERT_TRUE(ChangeDirectory(dir, &err)) << SystemErrorText(err);
  const std::string here = CurrentDirectory();
  EXPECT_TRUE(WriteFileAtomically("mark", "x", 1).ok);
  EXPECT_TRUE(ChangeDirectory(before, &err));
  EXPECT_TRUE(PathExists(dir + "/mark")) << "entered " << here;
  EXPECT_TRUE(PathExists(here + "/mark")) << "the working directory is reported as " << here;

  ASSERT_TRUE(WriteFileAtomically(tmp / "file", "x", 1).ok);
  err = 0;
  EXPECT_FALSE(MakeDirectories(tmp / "file/sub", &err));
  EXPECT_NE(err, 0);
  err = 0;
  EXPECT_FALSE(ChangeDirectory(tmp / "missing", &err));
  EXPECT_EQ(err, ENOENT);
}

}  // namespace
}  // namespace km27
