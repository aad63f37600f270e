#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link_host.h"
#include "link/transmitter_link.h"
#include "link/window_call_queue.h"
#include "model/code_catalogue.h"
#include "model/param_model.h"
#include "sim/transmitter_sim.h"

namespace km27::testing {

// A window stand-in: its own thread runs the engine's window-side calls and the workers'
// reports (through a WindowCallQueue), and records what the window would show.
class FakeWindow : public LinkHost {
 public:
  FakeWindow() : queue_([this] { Wake(); }) { thread_ = std::thread([this] { Loop(); }); }
  ~FakeWindow() override { Shutdown(); }

  // Runs fn on the window's thread and waits for it.
  void Do(const std::function<void()>& fn) {
    auto done = std::make_shared<bool>(false);
    {
      std::lock_guard<std::mutex> lock(m_);
      tasks_.push_back([fn, done, this] {
        fn();
        {
          std::lock_guard<std::mutex> l(m_);
          *done = true;
        }
        cv_.notify_all();
      });
    }
    cv_.notify_all();
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return *done; });
  }

  // The exit path: no report may get through from here on, then the link stops.
  void Close(LinkEngine& engine) {
    Do([&] {
      queue_.Close();
      {
        std::lock_guard<std::mutex> lock(m_);
        closing_ = true;
      }
      engine.Stop();
    });
  }

  void Shutdown() {
    {
      std::lock_guard<std::mutex> lock(m_);
      quit_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // Waits until pred (called under the window's record lock) holds; it may also look at
  // things that do not notify, so it is checked every few milliseconds.
  bool WaitFor(const std::function<bool()>& pred, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(m_);
    while (!pred()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      cv_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
  }

  // LinkHost
  void SetLampState(int state) override { Record([&] { lamp = state; ++lampChanges; }); }
  void SetStatusText(const std::string& utf8) override { Record([&] { texts.push_back(utf8); }); }
  void SetButtonStates(const ButtonStates& states) override { Record([&] { buttons = states; }); }
  void SetTimer(int id, int ms) override { Record([&] { timers.push_back({id, ms}); }); }
  void KillTimer(int id) override { Record([&] { killed.push_back(id); }); }
  void ShowCounts() override { Record([&] { ++countsShown; }); }
  void ShowMessage(const std::string& utf8) override { Record([&] { messages.push_back(utf8); }); }
  void DeviceInfoReceived(const DeviceInfo& info) override { Record([&] { infoReceived.push_back(info); }); }
  bool RunOnWindowThread(const std::function<void()>& fn) override { return queue_.Call(fn); }

  // Records (guarded by m_; read them inside WaitFor or after Lock()).
  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(m_); }
  int lamp = -1;
  int lampChanges = 0;
  std::vector<std::string> texts;
  ButtonStates buttons;
  std::vector<std::pair<int, int>> timers;
  std::vector<int> killed;
  int countsShown = 0;
  std::vector<std::string> messages;
  std::vector<DeviceInfo> infoReceived;
  int callsAfterClose = 0;
  bool onWindowThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  int offThreadCalls = 0;

 private:
  void Record(const std::function<void()>& change) {
    bool mine = onWindowThread();
    {
      std::lock_guard<std::mutex> lock(m_);
      if (closing_) ++callsAfterClose;
      if (!mine) ++offThreadCalls;
      change();
    }
    cv_.notify_all();
  }
  void Wake() {
    {
      std::lock_guard<std::mutex> lock(m_);
      woken_ = true;
    }
    cv_.notify_all();
  }
  void Loop() {
    for (;;) {
      std::deque<std::function<void()>> tasks;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return quit_ || woken_ || !tasks_.empty(); });
        if (quit_ && tasks_.empty()) break;
        woken_ = false;
        tasks.swap(tasks_);
      }
      for (auto& t : tasks) t();
      queue_.RunPending();
    }
    queue_.Close();
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  bool woken_ = false;
  bool quit_ = false;
  bool closing_ = false;
  WindowCallQueue queue_;
  std::thread thread_;
};

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/km27-link-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

// Real logic, a tenth of the waits; a silent port costs 200 ms instead of 6 s.
inline LinkTiming TestTiming() {
  LinkTiming t = LinkTiming().Scaled(10);
  t.readTotalConstantMs = 200;
  t.readIntervalMs = 20;
  return t;
}

class TransmitterLinkTest : public ::testing::Test {
 protected:
  TransmitterLinkTest() : model(catalogue) {}

  void SetUp() override {
    env.comDir = com.path;
  }
  void TearDown() override {
    if (link) window.Close(*link);
    window.Shutdown();
  }

  sim::TransmitterSim& AddSim(int n, sim::TransmitterSimOptions o = {}) {
    sims.push_back(std::make_unique<sim::TransmitterSim>(o));
    EXPECT_TRUE(sims.back()->Start(com.path, n)) << sims.back()->Error();
    return *sims.back();
  }

  // The download alone, unless a test asks for its read-back.
  void StartLink(LinkTiming timing = TestTiming(), bool verify = false) {
    link = std::make_unique<TransmitterLink>(model, window, startInfo, timing);
    link->SetVerifyAfterDownload(verify);
    link->SetComEnvironment(env);
    window.Do([&] { link->Start(); });
    window.Do([&] { link->OnTimer(TIMER_LINK_START); });
  }

  // The lamp and the buttons that go with it (the window gets them one after the other).
  bool WaitLamp(int state, int ms = 10000) {
    return window.WaitFor([&] { return window.lamp == state && window.buttons.enabled[kButtonUpload] == (state == 1); }, ms);
  }
  bool WaitText(const std::string& text, int ms = 20000) {
    return window.WaitFor([&] { return !window.texts.empty() && window.texts.back() == text; }, ms);
  }
  size_t InfoReceived() {
    auto lock = window.Lock();
    return window.infoReceived.size();
  }
  std::string Texts() {
    auto lock = window.Lock();
    std::string all;
    for (auto& t : window.texts) all += t + "|";
    return all;
  }
  int CountTexts(const std::string& text) {
    auto lock = window.Lock();
    int n = 0;
    for (auto& t : window.texts) n += t == text;
    return n;
  }
  bool SawText(const std::string& text) {
    auto lock = window.Lock();
    for (auto& t : window.texts)
      if (t == text) return true;
    return false;
  }

  TempDir com;
  DeviceInfo startInfo{};  // what the window read from its device information file
  ComEnvironment env;
  CodeCatalogue catalogue;
  ParamModel model;
  std::vector<std::unique_ptr<sim::TransmitterSim>> sims;
  FakeWindow window;
  std::unique_ptr<TransmitterLink> link;
};

}  // namespace km27::testing
