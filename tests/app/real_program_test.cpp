// The real programs end to end: km27param on an X server of its own (Xvfb), driven by real
// input events (xdotool), against km27sim processes on pseudo-terminals, with a terminal that
// another process holds open on COM1.
#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "store/param_file.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

const std::string kBin = KM27_BINARY_DIR;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitFor(const std::function<bool()>& pred, int ms, int stepMs = 50) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
  }
  return true;
}

bool OnPath(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// A child process with its output in a file; killed when the object goes.
class Process {
 public:
  Process(const Strings& args, const std::string& dir, const Strings& env, const std::string& log) : log_(log) {
    pid_ = fork();
    if (pid_ != 0) return;
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    unsetenv("QT_QPA_PLATFORM");  // the test runner's offscreen platform is not for this one
    setenv("KM27_LOG", (log + ".transfers.jsonl").c_str(), 1);  // never the user's log
    for (const auto& e : env) putenv(strdup(e.c_str()));
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ~Process() { Kill(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // True when it ended within `ms`; `status` from waitpid.
  bool WaitExit(int ms, int* status = nullptr) {
    int st = 0;
    const bool ended = WaitFor([&] { return pid_ <= 0 || waitpid(pid_, &st, WNOHANG) == pid_; }, ms, 20);
    if (ended && pid_ > 0) {
      pid_ = -1;
      if (status) *status = st;
    }
    return ended;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  std::string Output() const { return ReadAll(log_); }

 private:
  pid_t pid_ = -1;
  std::string log_;
};

// Runs a command and returns what it printed (empty when it failed).
std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    if (pclose(p) != 0) out.clear();
  }
  return out;
}

// A terminal that "another program" (a child of this test, which does nothing with it) holds
// open at a speed and mode of its own; the test keeps the master to see what reaches it.
class HeldTerminal {
 public:
  bool Open(const std::string& link) {
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) return false;
    char name[128] = {};
    ttyname_r(slave, name, sizeof name);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    t.c_cflag |= CSTOPB | PARENB;  // 4800 7E2: nothing our tool would ever choose
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7;
    cfsetispeed(&t, B4800);
    cfsetospeed(&t, B4800);
    tcsetattr(slave, TCSANOW, &t);
    tcgetattr(master_, &before_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    holder_ = fork();
    if (holder_ == 0)
      for (;;) pause();
    close(slave);  // only the holder has it open now
    return symlink(name, link.c_str()) == 0;
  }
  ~HeldTerminal() {
    if (holder_ > 0) {
      kill(holder_, SIGKILL);
      waitpid(holder_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  // Bytes written to the held terminal since it was opened.
  std::string Received() {
    std::string got;
    char buf[256];
    for (ssize_t n; (n = read(master_, buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    return got;
  }
  bool Unchanged() const {
    termios now{};
    tcgetattr(master_, &now);
    return now.c_cflag == before_.c_cflag && now.c_iflag == before_.c_iflag && now.c_lflag == before_.c_lflag &&
           now.c_oflag == before_.c_oflag && cfgetospeed(&now) == cfgetospeed(&before_);
  }

 private:
  int master_ = -1;
  pid_t holder_ = -1;
  termios before_{};
};

class RealProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* p : {"Xvfb", "xdotool"})
      if (!OnPath(p)) GTEST_SKIP() << p << " is not installed";
    ASSERT_FALSE(root.empty());
    // The server picks a free display number itself and writes it to a pipe: two runs at once
    // can never take the same one. Without -noreset it resets when its last client (the
    // readiness check below) leaves, and a program connecting in that moment is turned away.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    xvfb = std::make_unique<Process>(
        Strings{"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, "",
        Strings{}, root + "/xvfb.log");
    close(pipeFds[1]);
    std::string number;
    pollfd p{pipeFds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 10000) > 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n') number += c;
    close(pipeFds[0]);
    ASSERT_FALSE(number.empty()) << "the X server gave no display number";
    display = ":" + number;
    ASSERT_TRUE(WaitFor([&] { return !X("xdotool getdisplaygeometry").empty(); }, 10000)) << "no X server";
  }
  void TearDown() override {
    xvfb.reset();
  }

  std::string X(const std::string& args) { return Shell("DISPLAY=" + display + " " + args + " 2>/dev/null"); }
  // Windows titled exactly `title`.
  Strings Windows(const std::string& title) {
    Strings ids;
    const std::string out = X("xdotool search --onlyvisible --name '^" + title + "$'");
    for (size_t at = 0; at < out.size();) {
      const size_t nl = out.find('\n', at);
      const std::string id = out.substr(at, nl - at);
      if (!id.empty()) ids.push_back(id);
      at = nl == std::string::npos ? out.size() : nl + 1;
    }
    return ids;
  }
  std::string WaitWindow(const std::string& title, int ms = 20000) {
    std::string id;
    WaitFor([&] {
      const Strings w = Windows(title);
      if (!w.empty()) id = w.front();
      return !id.empty();
    }, ms);
    return id;
  }
  void Keys(const std::string& window, const std::string& keys) {
    X("xdotool windowfocus --sync " + window);
    X("xdotool key --clearmodifiers " + keys);
  }
  // Picks the lower machine in the start-up dialog (the code box, or the code transmitter it
  // offers first) and returns the main window; empty when either window did not come.
  std::string OpenMainWindow(bool codeBox = false) {
    const std::string select = WaitWindow("下位机选择");
    if (select.empty()) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it map and take input
    if (codeBox) X("xdotool mousemove --window " + select + " 95 97 click 1");
    Keys(select, "Return");
    return WaitWindow("参数设置工具");
  }

  struct Outcome {
    bool exited = false;
    std::string work;
  };

  // One operator session: the working file as `setup` leaves it, the held terminal on COM1 and
  // the lower machine on `com`; pick the model, answer the start-up message, download until
  // the machine has the programme, exit (giving up the save if it is refused).
  Outcome Session(bool codeBox, int com, const std::function<void(const std::string& work)>& setup) {
    Outcome o;
    o.work = root + "/work-" + std::to_string(++sessions);
    const std::string comDir = o.work + "-com", lockDir = o.work + "-lock";
    for (const std::string& d : {o.work, comDir, lockDir}) EXPECT_EQ(mkdir(d.c_str(), 0755), 0);
    setup(o.work);
    HeldTerminal held;
    EXPECT_TRUE(held.Open(comDir + "/COM1"));
    const std::string saved = o.work + "-device.img";
    // The box keeps the line's pace, the code transmitter sends at once.
    Strings simArgs{kBin + "/km27sim", "--model", codeBox ? "KM27A" : "KM27C", "--com-dir", comDir,
                    "--com", std::to_string(com), "--verbose"};
    if (!codeBox) simArgs.insert(simArgs.end(), {"--no-pace", "--save", saved});
    Process sim(simArgs, "", {}, o.work + "-sim.log");
    EXPECT_TRUE(WaitFor([&] { struct stat st; return lstat((comDir + "/COM" + std::to_string(com)).c_str(), &st) == 0; },
                        10000));
    const Strings env{"DISPLAY=" + display, "KM27_COM_DIR=" + comDir, "KM27_LOCK_DIR=" + lockDir};
    Process tool({kBin + "/km27param", "--lang", "zh"}, o.work, env, o.work + "-tool.log");

    const std::string main = OpenMainWindow(codeBox);
    EXPECT_FALSE(main.empty()) << tool.Output();
    if (main.empty()) return o;
    // The start-up message carries the same title; Enter answers it (the window swallows Enter).
    EXPECT_TRUE(WaitFor([&] { return Windows("参数设置工具").size() >= 2; }, 10000)) << "no start-up message";
    EXPECT_TRUE(WaitFor([&] {
      const Strings w = Windows("参数设置工具");
      if (w.size() < 2) return true;
      Keys(w.back(), "Return");
      return false;
    }, 10000, 300));
    // F7 does nothing until the lower machine is found; it is found once it has the programme.
    auto delivered = [&] {
      if (!codeBox) {
        struct stat st;
        return stat(saved.c_str(), &st) == 0;
      }
      return sim.Output().find("box: frame valid") != std::string::npos;
    };
    EXPECT_TRUE(WaitFor([&] {
      if (delivered()) return true;
      Keys(main, "F7");
      return false;
    }, 40000, 1000)) << "the lower machine on COM" << com << " was never found\n" << tool.Output();
    EXPECT_EQ(held.Received(), "") << "bytes were written to a terminal another program holds";
    EXPECT_TRUE(held.Unchanged()) << "a terminal another program holds was reconfigured";

    Keys(main, "F9");
    o.exited = WaitFor([&] {
      if (tool.WaitExit(0)) return true;
      // A transfer still under way asks: the operator waits for it (Alt+W). A refused save
      // asks: the operator gives up (放弃, Alt+D).
      const Strings w = Windows("参数设置工具");
      if (w.size() >= 2) Keys(w.back(), "alt+w alt+d");
      return false;
    }, 20000, 300);
    EXPECT_TRUE(o.exited) << tool.Output();
    EXPECT_EQ(held.Received(), "");
    EXPECT_TRUE(held.Unchanged());
    return o;
  }

  // Files of `dir` (and below) whose bytes are exactly `bytes`.
  static int CopiesOf(const std::string& dir, const std::string& bytes) {
    int n = 0;
    const std::string list = Shell("find '" + dir + "' -type f");
    for (size_t at = 0; at < list.size();) {
      const size_t nl = list.find('\n', at);
      const std::string f = list.substr(at, nl - at);
      if (!f.empty() && ReadAll(f) == bytes) ++n;
      at = nl == std::string::npos ? list.size() : nl + 1;
    }
    return n;
  }

  TempDir tmp{"real"};
  const std::string root = tmp.path;
  std::string display;
  std::unique_ptr<Process> xvfb;
  int sessions = 0;
};

std::string ValidFile() {
  km27::ParamOptions o;
  km27::ParamTable t;
  t.SetEntry(4, 0, {3, 8});
  km27::UpdateCarrierMask(t, o);
  const auto image = km27::BuildParamFileImage(o, t);
  return std::string(image.begin(), image.end());
}

TEST_F(RealProgram, UnreadableWorkingFilesSurviveAndHeldTerminalsAreLeftAlone) {
  std::string otherVersion = ValidFile();
  otherVersion[50 + 6] = '2';
  std::string otherMaker = ValidFile();
  otherMaker[3] = 'x';
  const std::string damaged = ValidFile().substr(0, 1055);
  struct Kind {
    const char* name;
    const std::string* bytes;  // null: a folder of that name
    bool codeBox;
    int com;
  } kinds[] = {{"another version", &otherVersion, false, 3},
               {"another maker", &otherMaker, true, 2},
               {"1055 bytes", &damaged, false, 5},
               {"a folder", nullptr, true, 4}};
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const Outcome o = Session(k.codeBox, k.com, [&](const std::string& work) {
      const std::string file = work + "/" + km27::kParamFileName;
      if (k.bytes) {
        std::ofstream(file, std::ios::binary) << *k.bytes;
      } else {
        mkdir(file.c_str(), 0755);
        std::ofstream(file + "/kept", std::ios::binary) << "the operator's";
      }
    });
    if (HasFatalFailure()) return;
    if (k.bytes) {
      EXPECT_EQ(CopiesOf(o.work, *k.bytes), 1) << "the unreadable file is gone";
      km27::ParamOptions po;
      km27::ParamTable pt;
      EXPECT_TRUE(km27::LoadParamFile(o.work + "/" + km27::kParamFileName, po, pt)) << "no new working file";
    } else {
      EXPECT_EQ(ReadAll(o.work + "/" + km27::kParamFileName + "/kept"), "the operator's");
    }
  }
}

}  // namespace

namespace {

// Where the files go: started as the desktop's menu starts it (the entry's Exec line), the tool
// works in the per-user directory, not in the home directory it was started in; given
// --workdir, in that one.
TEST_F(RealProgram, TheMenuEntryAndWorkdirChooseWhereTheFilesGo) {
  const std::string home = root + "/home", data = root + "/data", other = root + "/elsewhere/station-7";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  std::ifstream entry(std::string(KM27_SOURCE_DIR) + "/packaging/org.km27.km27param.desktop");
  std::string line, exec;
  while (std::getline(entry, line))
    if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
  ASSERT_EQ(exec, "km27param --desktop");
  const Strings env{"DISPLAY=" + display, "HOME=" + home, "XDG_DATA_HOME=" + data,
                    "KM27_COM_DIR=" + root + "/no-com", "KM27_LOCK_DIR=" + root};
  for (const Strings& args : {Strings{kBin + "/km27param", "--lang", "zh", "--desktop"},
                              Strings{kBin + "/km27param", "--lang", "zh", "--workdir", other}}) {
    Process tool(args, home, env, root + "/tool.log");
    const std::string main = OpenMainWindow();
    ASSERT_FALSE(main.empty()) << tool.Output();
    Keys(main, "F2");
    Keys(main, "F9");
    ASSERT_TRUE(tool.WaitExit(20000)) << tool.Output();
  }
  km27::ParamOptions o;
  km27::ParamTable t;
  EXPECT_TRUE(km27::LoadParamFile(data + "/km27param/" + km27::kParamFileName, o, t)) << "not in the per-user directory";
  EXPECT_TRUE(km27::LoadParamFile(other + "/" + km27::kParamFileName, o, t)) << "not in the --workdir directory";
  struct stat st;
  EXPECT_NE(stat((home + "/" + km27::kParamFileName).c_str(), &st), 0) << "the files landed in the home directory";
}

}  // namespace

namespace {

// A kill or a closed terminal ends the window as 退出 does: the edit is in the working file;
// a working file changed on disk meanwhile stays, and the window's programme goes beside it.
TEST_F(RealProgram, TermAndHangUpSaveTheWindowsEdits) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    const std::string work = root + "/signal-" + std::to_string(sig), file = work + "/" + km27::kParamFileName;
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    Process tool({kBin + "/km27param", "--lang", "zh"}, work, {"DISPLAY=" + display, "KM27_COM_DIR=" + root + "/no-com"}, work + ".log");
    const std::string main = OpenMainWindow();
    ASSERT_FALSE(main.empty()) << tool.Output();
    // Keys are handled in order: once the chooser the second one opens is up, the edit is made.
    Keys(main, "F2 ctrl+shift+s");
    Keys(WaitWindow("程序另存为"), "Escape");
    ASSERT_TRUE(WaitFor([&] { return Windows("程序另存为").empty(); }, 10000));
    if (sig == SIGHUP) std::ofstream(file, std::ios::binary) << ValidFile();
    tool.Signal(sig);
    int status = -1;
    ASSERT_TRUE(tool.WaitExit(20000, &status)) << tool.Output();
    EXPECT_EQ(status, 0) << tool.Output();
    std::string ours = file;
    if (sig == SIGHUP) {
      EXPECT_EQ(ReadAll(file), ValidFile()) << "a file changed on disk was replaced without asking";
      ours = Shell("ls -d '" + file + "'.unsaved-*");
      ours = ours.substr(0, ours.find('\n'));
    }
    km27::ParamOptions o;
    km27::ParamTable t;
    ASSERT_TRUE(km27::LoadParamFile(ours, o, t)) << ours << tool.Output();
    EXPECT_EQ(km27::CountTable(t).entries, 1) << "the edit was lost";
  }
}

}  // namespace
