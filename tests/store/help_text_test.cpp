#include "store/help_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include "temp_dir.h"

namespace km27 {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class HelpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
  }
  TempDir tmp{"help"};
  const std::string dir = tmp.path, path = dir + "/KM27A.txt";
};

TEST_F(HelpFileTest, ContentIsGbkWithCrLfAndTwoLineBreaks) {
  // "帮助" in GBK is B0 EF D6 FA.
  EXPECT_EQ(HelpFileContent("帮\n\t助", "\n2."), "\xB0\xEF\r\n\t\xD6\xFA\r\n\r\n2.\r\n");
  bool ok = true;
  HelpFileContent("\xF0\x9F\x98\x80", "", &ok);  // an emoji has no GBK form
  EXPECT_FALSE(ok);
}

TEST_F(HelpFileTest, WrittenOnlyWhenMissing) {
  HelpFileResult r = EnsureHelpFile(path, "一", "二");
  ASSERT_TRUE(r.ok) << StoreErrorText(r.failure);
  EXPECT_TRUE(r.created);
  EXPECT_EQ(ReadAll(path), HelpFileContent("一", "二"));
  { std::ofstream(path, std::ios::binary) << "operator's own"; }
  r = EnsureHelpFile(path, "一", "二");
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.created);
  EXPECT_EQ(ReadAll(path), "operator's own");
}

TEST_F(HelpFileTest, FailureIsReportedAndLeavesNoFileBehind) {
  HelpFileResult r = EnsureHelpFile(dir + "/no/such/dir/KM27A.txt", "a", "b");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, StoreError::kCannotCreate);
  r = EnsureHelpFile(path, "\xF0\x9F\x98\x80", "b");
  EXPECT_EQ(r.failure.code, StoreError::kNotGbk);
  // Nor any temporary sibling.
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
}  // namespace km27
