#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_observer.h"
#include "link/poll_loop.h"
#include "link/transmitter_link.h"
#include "model/code_catalogue.h"
#include "model/param_model.h"
#include "sim/transmitter_sim.h"

namespace km27::testing {

// A window stand-in: its own thread runs a PollLoop, where the engine's calls and the workers'
// reports run, and it records the engine's facts.
class FakeWindow : public FakeObserver {
 public:
  FakeWindow() {
    thread_ = std::thread([this] {
      loop_.RunUntil([this] { return quit_.load(); });
    });
    loopThread = thread_.get_id();
  }
  ~FakeWindow() override { Shutdown(); }

  EventLoop& Loop() { return loop_; }

  // Runs fn on the window's thread and waits for it.
  void Do(const std::function<void()>& fn) {
    std::promise<void> done;
    loop_.Post([&] {
      fn();
      done.set_value();
    });
    done.get_future().wait();
  }

  // The exit path: the link stops; no fact may come from then on.
  void Close(LinkEngine& engine) {
    Do([&] {
      {
        auto lock = Lock();
        closing = true;
      }
      engine.Stop();
    });
  }

  void Shutdown() {
    quit_ = true;
    loop_.Quit();
    if (thread_.joinable()) thread_.join();
  }

 private:
  PollLoop loop_;
  std::atomic<bool> quit_{false};
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
    link = std::make_unique<TransmitterLink>(window.Loop(), window, startInfo, timing);
    link->SetVerifyAfterDownload(verify);
    link->SetComEnvironment(env);
    window.Do([&] {
      link->Start();
      link->SearchNow();
    });
  }
  void Download() {
    const Programme p = model.Snapshot();
    window.Do([&] { link->OnDownload(p); });
  }

  bool WaitLamp(int state, int ms = 10000) {
    return window.WaitFor([&] { return window.linkUp == (state == 1); }, ms);
  }
  // The last verdict is `v` (see FakeObserver::Verdict) and the transfer has ended.
  bool WaitVerdict(const std::string& v, int ms = 20000) {
    return window.WaitFor(
        [&] { return !window.verdicts.empty() && window.verdicts.back() == v && window.EndedSinceVerdict(); }, ms);
  }
  bool WaitEnded(size_t count, int ms = 20000) {
    return window.WaitFor([&] { return window.ended.size() >= count; }, ms);
  }
  size_t InfoReceived() {
    auto lock = window.Lock();
    return window.received.size();
  }
  std::string Verdicts() {
    auto lock = window.Lock();
    std::string all;
    for (auto& t : window.verdicts) all += t + "|";
    return all;
  }
  int CountVerdicts(const std::string& v) {
    auto lock = window.Lock();
    return window.CountVerdicts(v);
  }
  bool SawProgress(TransferKind kind, int done) {
    auto lock = window.Lock();
    return window.SawProgress(kind, done);
  }
  // The programme the window would hold after the last upload.
  Programme Uploaded() {
    auto lock = window.Lock();
    return window.Uploaded(model.Snapshot());
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
