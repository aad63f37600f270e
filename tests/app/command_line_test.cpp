// km27param's own options: --help and --version answer without a display and without opening a
// window; --workdir and --desktop choose the working directory.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "km27_version.h"
#include "temp_dir.h"

namespace {

// Runs km27param with no display of any kind; its output and exit status.
std::string RunWithoutDisplay(const std::string& args, int* status) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + std::string(KM27_BINARY_DIR) +
                              "/km27param' " + args + " 2>&1";
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[1024];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  *status = pclose(p);
  return out;
}

TEST(ProgramCommandLine, HelpAndVersionNeedNoDisplay) {
  int status = -1;
  const std::string help = RunWithoutDisplay("--help", &status);
  EXPECT_EQ(status, 0) << help;
  EXPECT_NE(help.find("--version"), std::string::npos) << help;
  EXPECT_NE(help.find("km27ctl"), std::string::npos) << help;
  const std::string version = RunWithoutDisplay("--version", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(version, std::string("km27param ") + KM27_VERSION + "\n");
}

// The usage text follows --lang wherever it stands on the line.
TEST(ProgramCommandLine, HelpInTheChosenLanguage) {
  int status = -1;
  EXPECT_NE(RunWithoutDisplay("--help --lang zh", &status).find("用法"), std::string::npos);
  const std::string en = RunWithoutDisplay("--help --lang en", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(en.find("--lang"), std::string::npos) << en;
  EXPECT_EQ(en.find("用法"), std::string::npos) << en;
}

}  // namespace

namespace {

// The working directory: the current one as always, another one given, or the per-user one of
// a start from the desktop's menu.
class WorkDirOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.empty());
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    before = cwd;
  }
  void TearDown() override {
    if (chdir(before.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << before;
  }
  // Our options are read and removed; everything else stays for the toolkit.
  StartOptions Read(std::vector<std::string> args) {
    args.insert(args.begin(), "km27param");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = int(args.size());
    StartOptions o = ReadStartOptions(argc, argv.data());
    left.assign(argv.begin() + 1, argv.begin() + argc);
    return o;
  }
  TempDir tmp{"workdir"};
  const std::string root = tmp.path;
  std::string before;
  std::vector<std::string> left;
};

TEST_F(WorkDirOptions, OurOptionsAreTakenAndTheToolkitsLeft) {
  StartOptions o = Read({"-platform", "offscreen"});
  EXPECT_EQ(o.exitCode, -1);
  EXPECT_EQ(o.workDir, "") << "without an option the current directory stays, as always";
  EXPECT_EQ(left, (std::vector<std::string>{"-platform", "offscreen"}));

  o = Read({"--workdir", root + "/a", "-platform", "offscreen"});
  EXPECT_EQ(o.workDir, root + "/a");
  EXPECT_EQ(left, (std::vector<std::string>{"-platform", "offscreen"}));
  o = Read({"--workdir=" + root + "/b"});
  EXPECT_EQ(o.workDir, root + "/b");
  EXPECT_TRUE(left.empty());
  o = Read({"--workdir"});
  EXPECT_EQ(o.exitCode, 2) << "a missing directory is a usage error";

  // The log named relative to where the program was started, not to its working directory.
  o = Read({"--log", "t.jsonl", "--workdir", root + "/a"});
  EXPECT_TRUE(o.logChosen);
  EXPECT_EQ(o.logPath, before + "/t.jsonl");
  EXPECT_TRUE(left.empty());
  o = Read({"--no-log", "-platform", "offscreen"});
  EXPECT_TRUE(o.logChosen);
  EXPECT_EQ(o.logPath, "");
  EXPECT_EQ(left, (std::vector<std::string>{"-platform", "offscreen"}));
  EXPECT_FALSE(Read({}).logChosen) << "without either, KM27_LOG or the user's log";

  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  EXPECT_EQ(Read({"--desktop"}).workDir, root + "/data/km27param");
  unsetenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  const std::string savedHome = home ? home : "";
  setenv("HOME", root.c_str(), 1);
  EXPECT_EQ(DesktopWorkDir(), root + "/.local/share/km27param");
  // Without HOME the settings would go under /.config: the account's home takes its place.
  unsetenv("HOME");
  SetHomeFromAccount();
  const passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_STREQ(getenv("HOME"), pw->pw_dir);
  setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(WorkDirOptions, LanguageFromTheCommandLineOverTheMenusChoiceOverTheSystems) {
  using km27::Language;
  const Language zh = Language::kChinese, en = Language::kEnglish;
  struct Case {
    std::vector<std::string> args;
    std::string remembered;
    Language system, expected;
  } cases[] = {
      {{}, "", zh, zh}, {{}, "", en, en}, {{}, "en", zh, en}, {{}, "zh", en, zh}, {{}, "fr", en, en},
      {{"--lang", "zh"}, "en", en, zh}, {{"--lang=en"}, "zh", zh, en},
  };
  for (const Case& c : cases) {
    const StartOptions o = Read(c.args);
    EXPECT_EQ(o.exitCode, -1);
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(ChooseLanguage(o.language, c.remembered, c.system), c.expected) << c.remembered;
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--lang"}, {"--lang", "fr"}}) {
    const StartOptions o = Read(bad);
    EXPECT_EQ(o.exitCode, 2) << "a missing or unknown language is a usage error";
    EXPECT_NE(o.say, nullptr);
  }
}

TEST_F(WorkDirOptions, TheDirectoryIsMadeAndEnteredOrWhyNotIsSaid) {
  std::string error;
  ASSERT_TRUE(EnterWorkDir(root + "/x/y/z", &error)) << error;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), root + "/x/y/z");
  EXPECT_TRUE(EnterWorkDir(root + "/x", &error)) << "an existing directory is simply entered";

  // A file where the directory should be: refused, with the reason.
  std::fclose(std::fopen((root + "/file").c_str(), "w"));
  error.clear();
  EXPECT_FALSE(EnterWorkDir(root + "/file/sub", &error));
  EXPECT_NE(error.find("无法建立工作目录"), std::string::npos) << error;
}

}  // namespace
