// Start-up: time from launching km27param to its device selection dialog on the screen, then
// (after Enter confirms the code transmitter) to the main window, and the main window's
// memory. Runs the program on an X server of its own (Xvfb) and watches the windows being
// mapped there.
//
//   startup_bench [--runs N] [--settle-ms MS]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_stats.h"

using namespace km27::bench;

namespace {

const char kSelectTitle[] = "下位机选择";
const char kMainTitle[] = "参数设置工具";

pid_t Spawn(const std::vector<std::string>& args, const std::string& dir, const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  for (const auto& e : env) putenv(strdup(e.c_str()));
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string WindowTitle(Display* d, Window w) {
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) == Success && data) {
    title.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
  }
  return title;
}

// Waits for a top-level window with this title to be mapped; returns it, or 0 at the limit.
Window WaitMapped(Display* d, const char* title, int timeoutMs, Clock::time_point* when) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type != MapNotify) continue;
      auto at = Clock::now();
      if (WindowTitle(d, e.xmap.window) == title) {
        *when = at;
        return e.xmap.window;
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    pollfd p{ConnectionNumber(d), POLLIN, 0};
    poll(&p, 1, int(left));
  }
}

void SendKey(Display* d, Window w, KeySym sym) {
  XKeyEvent k{};
  k.display = d;
  k.window = w;
  k.root = DefaultRootWindow(d);
  k.subwindow = None;
  k.time = CurrentTime;
  k.same_screen = True;
  k.keycode = XKeysymToKeycode(d, sym);
  k.type = KeyPress;
  XSendEvent(d, w, True, KeyPressMask, reinterpret_cast<XEvent*>(&k));
  k.type = KeyRelease;
  XSendEvent(d, w, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&k));
  XFlush(d);
}

int FreeDisplay() {
  for (int n = 90; n < 200; ++n) {
    struct stat st;
    std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
    if (stat(lock.c_str(), &st) != 0 && stat(sock.c_str(), &st) != 0) return n;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argc, argv);
  std::printf("Machine at the start: %s\n\n", MachineLine().c_str());
  const int runs = args.Int("--runs", 10);
  const int settleMs = args.Int("--settle-ms", 2000);
  const std::string program = ProgramDir() + "/../km27param";

  int n = FreeDisplay();
  if (n < 0) return 1;
  const std::string display = ":" + std::to_string(n);
  pid_t xvfb = Spawn({"Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "", {});
  Display* d = nullptr;
  for (int k = 0; k < 100 && !d; ++k) {
    usleep(50000);
    d = XOpenDisplay(display.c_str());
  }
  if (!d) {
    std::fprintf(stderr, "no X server on %s\n", display.c_str());
    Stop(xvfb);
    return 1;
  }
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, True);

  std::vector<double> toSelect, toMain, hwmSelect, hwmMain, rssMain;
  for (int run = 0; run < runs; ++run) {
    TempDir work("work");
    XSync(d, True);  // forget the last run's windows
    auto t0 = Clock::now();
    // The link is pointed at an empty COM directory: the monitor scans and finds nothing.
    pid_t pid = Spawn({program}, work.path,
                      {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "KM27_COM_DIR=" + work.path});
    Clock::time_point shown{}, mainShown{};
    Window select = WaitMapped(d, kSelectTitle, 20000, &shown);
    if (!select) {
      std::fprintf(stderr, "run %d: no selection dialog\n", run);
      Stop(pid);
      continue;
    }
    toSelect.push_back(Ms(shown - t0));
    usleep(300000);  // let it paint and settle before reading its memory
    hwmSelect.push_back(double(StatusKb("VmHWM", pid)));
    auto confirm = Clock::now();
    SendKey(d, select, XK_Return);  // the default button: 确认 with the code transmitter checked
    if (!WaitMapped(d, kMainTitle, 20000, &mainShown)) {
      std::fprintf(stderr, "run %d: no main window\n", run);
      Stop(pid);
      continue;
    }
    toMain.push_back(Ms(mainShown - confirm));
    usleep(useconds_t(settleMs) * 1000);
    hwmMain.push_back(double(StatusKb("VmHWM", pid)));
    rssMain.push_back(double(StatusKb("VmRSS", pid)));
    Stop(pid);
  }
  XCloseDisplay(d);
  Stop(xvfb);

  std::printf("km27param on Xvfb (xcb platform), %d runs; times to the window being mapped\n\n", runs);
  if (toSelect.empty()) return 1;
  std::printf("| figure | median | min..max |\n|---|---:|---:|\n");
  std::printf("| launch to selection dialog shown (ms) | %.1f | %.1f..%.1f |\n", Median(toSelect), Min(toSelect), Max(toSelect));
  std::printf("| the same, first run on the fresh X server (ms) | %.1f | |\n", toSelect.front());
  std::printf("| Enter to main window shown (ms) | %.1f | %.1f..%.1f |\n", Median(toMain), Min(toMain), Max(toMain));
  std::printf("| peak memory with the selection dialog, VmHWM (MiB) | %.1f | %.1f..%.1f |\n", Median(hwmSelect) / 1024,
              Min(hwmSelect) / 1024, Max(hwmSelect) / 1024);
  std::printf("| peak memory with the main window, VmHWM (MiB), %d ms after it showed | %.1f | %.1f..%.1f |\n", settleMs,
              Median(hwmMain) / 1024, Min(hwmMain) / 1024, Max(hwmMain) / 1024);
  std::printf("| resident memory with the main window, VmRSS (MiB) | %.1f | %.1f..%.1f |\n", Median(rssMain) / 1024,
              Min(rssMain) / 1024, Max(rssMain) / 1024);
  std::printf("\nMachine at the end: %s\n", MachineLine().c_str());
  return 0;
}
