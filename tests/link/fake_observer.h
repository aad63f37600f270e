#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link_observer.h"

namespace km27::testing {

// Records an engine's facts in their order, and on which thread they came; safe to read from
// another thread under Lock() or through WaitFor().
class FakeObserver : public LinkObserver {
 public:
  // One letter a fact, in order: F found, L lost, S started, P progressed, C sealed, J judged,
  // R received, E ended, X failed.
  std::string order;
  bool linkUp = false;
  std::vector<LinkPlace> found;
  std::vector<TransferProgress> progress;
  std::vector<uint8_t> sealed;
  std::vector<TransferOutcome> judged, ended;
  std::vector<ReceivedProgramme> received;
  std::vector<LinkFailure> failures;
  std::vector<std::string> verdicts;  // each verdict in short: Verdict()
  std::thread::id loopThread;  // when set, facts from any other thread are counted
  int offThread = 0;
  bool closing = false;  // facts from here on are counted
  int afterClose = 0;

  // "download ok", "download failed", "upload ok", "upload failed", or a read-back's "same",
  // "mismatch", "readback failed".
  static std::string Verdict(const TransferOutcome& o) {
    if (o.readBack)
      return o.verify == VerifyOutcome::kSame ? "same" : o.verify == VerifyOutcome::kMismatch ? "mismatch" : "readback failed";
    return std::string(o.kind == TransferKind::kUpload ? "upload " : "download ") + (o.ok ? "ok" : "failed");
  }

  void LinkFound(const LinkPlace& p) override {
    Record('F', [&] {
      linkUp = true;
      found.push_back(p);
    });
  }
  void LinkLost(const LinkPlace&) override { Record('L', [&] { linkUp = false; }); }
  void TransferStarted(TransferKind, int) override { Record('S', [] {}); }
  void TransferProgressed(const TransferProgress& p) override { Record('P', [&] { progress.push_back(p); }); }
  void DownloadSealed(uint8_t b) override { Record('C', [&] { sealed.push_back(b); }); }
  void TransferJudged(const TransferOutcome& o) override {
    Record('J', [&] {
      judged.push_back(o);
      verdicts.push_back(Verdict(o));
    });
  }
  void ProgrammeReceived(const ReceivedProgramme& r) override { Record('R', [&] { received.push_back(r); }); }
  void TransferEnded(const TransferOutcome& o) override { Record('E', [&] { ended.push_back(o); }); }
  void LinkFailed(LinkFailure c, int) override { Record('X', [&] { failures.push_back(c); }); }

  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(m_); }
  // Waits until `pred` (called under the lock) holds, or `ms` passed; it may also look at things
  // that do not notify, so it is checked every few milliseconds.
  bool WaitFor(const std::function<bool()>& pred, int ms = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(m_);
    while (!pred()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      cv_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
  }
  // The transfer judged last has ended too (what comes with a verdict has come).
  bool EndedSinceVerdict() const {
    const size_t j = order.rfind('J'), e = order.rfind('E');
    return j != std::string::npos && e != std::string::npos && e > j;
  }
  int CountVerdicts(const std::string& v) const { return int(std::count(verdicts.begin(), verdicts.end(), v)); }
  // The programme a window holding `before` would have after the last upload.
  Programme Uploaded(const Programme& before) const { return received.empty() ? before : received.back().Over(before); }
  bool SawProgress(TransferKind kind, int done, int attempt = 1) const {
    for (const TransferProgress& p : progress)
      if (p.kind == kind && p.done == done && p.attempt == attempt) return true;
    return false;
  }

 private:
  void Record(char fact, const std::function<void()>& change) {
    {
      std::lock_guard<std::mutex> lock(m_);
      order += fact;
      if (loopThread != std::thread::id() && std::this_thread::get_id() != loopThread) ++offThread;
      if (closing) ++afterClose;
      change();
    }
    cv_.notify_all();
  }
  std::mutex m_;
  std::condition_variable cv_;
};

}  // namespace km27::testing
