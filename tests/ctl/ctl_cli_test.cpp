// km27ctl's command line, its show command, and the manual pages of both programs.
#include <cstdio>

#include "ctl/ctl_fixture.h"
#include "km27_version.h"

namespace km27::testing {
namespace {

class CtlCommandLine : public CtlTest {
 protected:
  static std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buf[4096];
      while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
      pclose(p);
    }
    return out;
  }
};

const char* const kOptions[] = {"--model", "--com",  "--device", "--no-verify", "--json",  "--quiet",
                                "--help",  "--version", "--log", "--no-log",    "--since", "--lang"};
const char* const kCommands[] = {"ports", "probe", "download", "upload", "verify", "show", "log", "diff"};
const char* const kExitCodes[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "130"};

TEST_F(CtlCommandLine, UsageErrorsExitWithTwoAndSayWhyAlsoInJson) {
  const Strings wrong[] = {
      {},                                           // no command
      {"flash"},                                    // no such command
      {"download", "KM27A.dat"},                    // a transfer needs the model
      {"download", "--model", "KM27B", "x.dat"},   // no such model
      {"upload", "--model", "KM27C"},               // no file
      {"probe", "--model", "KM27A", "--com", "10"},  // the code box is looked for on COM1..COM9
      {"ports", "--com", "x"},
      {"verify", "--model", "KM27C", "--no-verify", "x.dat"},
      {"ports", "--frobnicate"},
      {"ports", "--device", "--quiet"},             // a forgotten value is not the next option
      {"probe", "--device", "tcp://u:pw@h:1"},       // a URL carries no password
      {"ports", "--net-allowance", "80"},            // only for a network port
      {"upload", "--model", "KM27C", "--device", "tcp://h:1", "x.dat"},  // cannot change speed
  };
  for (const Strings& args : wrong) {
    const CtlResult r = Run(args);
    EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(Has(r.err, "km27ctl:")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_TRUE(Has(Run({"upload", "--model", "KM27C", "--device", "tcp://h:1", "x.dat"}).err, "rfc2217://h:1"));
  const CtlResult r = Run({"download", "--json", "x.dat"});
  EXPECT_EQ(r.code, 2);
  const nlohmann::json j = r.Json();
  EXPECT_EQ(j["exit_code"], 2);
  EXPECT_FALSE(j["ok"].get<bool>());
  EXPECT_EQ(j["error"]["code"], "usage");
  EXPECT_TRUE(Has(j["error"]["message"].get<std::string>(), "--model")) << j.dump();
  const nlohmann::json forgotten = Run({"probe", "--model", "--json"}).Json();
  EXPECT_TRUE(Has(forgotten["error"]["message"].get<std::string>(), "--model 缺少参数")) << forgotten.dump();
}

TEST_F(CtlCommandLine, HelpAndVersionNameEveryOptionCommandAndExitCode) {
  for (const char* language : {"zh", "en"}) {
    lang = language;
    const CtlResult help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* o : kOptions) EXPECT_TRUE(Has(help.out, o)) << language << " " << o;
    for (const char* c : kCommands) EXPECT_TRUE(Has(help.out, std::string("  ") + c)) << language << " " << c;
    for (const char* e : kExitCodes) EXPECT_TRUE(Has(help.out, std::string("\n  ") + e + " ")) << language << " " << e;
  }
  const CtlResult version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, std::string("km27ctl ") + KM27_VERSION + "\n");
}

// --lang wherever it stands, else the locale: LC_ALL, LC_MESSAGES, LANG, the first one set.
TEST_F(CtlCommandLine, TheLanguageIsLangElseTheLocales) {
  if (windows) GTEST_SKIP() << "Windows chooses by the user's interface language, not by these variables";
  lang.clear();
  const std::map<std::string, std::string> english{{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "en_US.UTF-8"}};
  const std::map<std::string, std::string> c{{"LC_ALL", "C"}, {"LC_MESSAGES", ""}, {"LANG", "en_US.UTF-8"}};
  const struct {
    std::map<std::string, std::string> locale;
    Strings args;
    const char* said;
    bool inEnglish;
  } cases[] = {
      {english, {"flash"}, "km27ctl: unknown command flash (km27ctl --help", true},
      {english, {"--help"}, "Usage: km27ctl [options]", true},
      {c, {"flash"}, "km27ctl: 未知命令 flash（用 km27ctl --help", false},
      {english, {"--lang", "zh", "flash"}, "未知命令 flash", false},
      {c, {"flash", "--lang=en"}, "unknown command flash", true},
      {english, {"--lang", "fr", "ports"}, "--lang must be zh or en, not \"fr\"", true},  // in the locale's language
  };
  for (const auto& t : cases) {
    locale = t.locale;
    const CtlResult r = Run(t.args);
    EXPECT_TRUE(Has(r.out + r.err, t.said)) << ::testing::PrintToString(t.args) << r.out << r.err;
    EXPECT_FALSE(t.inEnglish && HasCjk(r.out + r.err)) << r.out << r.err;
  }
}

TEST_F(CtlCommandLine, ShowPrintsEveryCarrierWithItsStepsAndTheLineOptions) {
  WriteProgramme();
  const CodeCatalogue catalogue;
  CtlResult r = Run({"show", "KM27A.dat"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (int c = 0; c < kCarrierCount; ++c) EXPECT_TRUE(Has(r.out, CarrierTitle(c) + "：")) << c;
  EXPECT_TRUE(Has(r.out, CarrierTitle(1) + "：4 步")) << r.out;
  EXPECT_TRUE(Has(r.out, CarrierTitle(2) + "：空")) << r.out;
  const ParamEntry e = programme.table.Entry(17, 2);
  EXPECT_TRUE(Has(r.out, catalogue.Name(3, e.code))) << r.out;
  EXPECT_TRUE(Has(r.out, "TB3060-2002")) << r.out;  // 移频, second choice
  EXPECT_TRUE(Has(r.out, "规范模式")) << r.out;     // ZPW2000, second choice

  r = Run({"show", "--json", "KM27A.dat"});
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json j = r.Json();
  ASSERT_EQ(j["carriers"].size(), size_t(kCarrierCount));
  const nlohmann::json& steps = j["carriers"][17]["steps"];
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[2]["step"], 3);
  EXPECT_EQ(steps[2]["code"], e.code);
  EXPECT_EQ(steps[2]["code_name"], catalogue.Name(3, e.code));
  EXPECT_EQ(steps[2]["seconds"], e.seconds);
  EXPECT_EQ(j["carriers"][17]["family"], "交流计数");
  EXPECT_EQ(j["line_options"][0]["value"], 1);
  EXPECT_EQ(j["counts"]["carriers"], 6);
  // Scripts read the same values whatever language the person at the terminal reads.
  lang = "en";
  r = Run({"show", "--json", "KM27A.dat"});
  EXPECT_EQ(r.Json()["carriers"], j["carriers"]);
  EXPECT_EQ(r.Json()["line_options"], j["line_options"]);
  lang = "zh";

  r = Run({"show", "absent.dat"});
  EXPECT_EQ(r.code, 3);

  // A name that is not UTF-8 still gives valid JSON (the parser refuses anything else).
  const std::string odd = "名\xff.dat";
  ASSERT_EQ(std::rename((work + "/KM27A.dat").c_str(), (work + "/" + odd).c_str()), 0);
  r = Run({"show", "--json", odd});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.Json()["file"], "名\\xff.dat");
}

TEST_F(CtlCommandLine, OutputThatCannotBeWrittenExitsWithEightAndSaysSo) {
  WriteProgramme();
  int closedPipe[2];
  ASSERT_EQ(pipe2(closedPipe, O_CLOEXEC), 0);
  close(closedPipe[0]);  // the reader is gone before anything is written
  for (const int fd : {open("/dev/full", O_WRONLY | O_CLOEXEC), closedPipe[1]}) {
    outFd = fd;
    const CtlResult r = Run({"show", "KM27A.dat"});
    close(fd);
    EXPECT_EQ(r.code, 8) << "a full disk, then a closed pipe";
    EXPECT_TRUE(Has(r.err, "km27ctl: 输出无法写入")) << r.err;
  }
}

TEST_F(CtlCommandLine, ManualPagesRenderWithoutWarningsAndDocumentTheirProgram) {
  if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "groff is not installed";
  // The Chinese pages in man/, the English ones in man/en/; -k reads the UTF-8 as man does.
  for (const std::string folder : {"/man/", "/man/en/"}) {
    for (const std::string page : {"km27ctl.1", "km27param.1"}) {
      const std::string path = std::string(KM27_SOURCE_DIR) + folder + page;
      const std::string source = ReadAll(path);
      ASSERT_FALSE(source.empty()) << path;
      EXPECT_TRUE(Has(source, std::string("\"") + KM27_VERSION + "\"")) << path << ": the version in .TH";
      EXPECT_EQ(Shell("groff -k -man -Tutf8 -ww -z '" + path + "' 2>&1"), "") << path;
    }
    const std::string ctl =
        Shell("groff -k -man -Tutf8 -P-cbu '" + std::string(KM27_SOURCE_DIR) + folder + "km27ctl.1' 2>/dev/null");
    for (const char* o : kOptions) EXPECT_TRUE(Has(ctl, o)) << folder << o;
    for (const char* c : kCommands) EXPECT_TRUE(Has(ctl, c)) << folder << c;
    for (const char* e : kExitCodes)
      EXPECT_TRUE(Has(ctl, std::string(" ") + e + " ") || Has(ctl, std::string(" ") + e + "\n")) << folder << e;
  }
}

}  // namespace
}  // namespace km27::testing
