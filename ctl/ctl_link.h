#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "ctl/ctl_output.h"
#include "link/device_models.h"
#include "link/link_engine.h"
#include "link/link_host.h"
#include "link/poll_loop.h"
#include "link/window_call_queue.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"
#include "model/param_model.h"
#include "port/com_names.h"

// The engines of the window, driven from the command line: a LinkHost on a PollLoop, and a
// session that finds one lower machine and runs one transfer with it.
namespace km27::ctl {

// Ctrl+C (and SIGTERM) while the loop runs: the handler only writes the signal's number to a
// pipe the loop watches, and the loop stops what runs. A second signal ends the process at once.
class SignalWatch {
 public:
  explicit SignalWatch(PollLoop& loop);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  bool Ok() const { return ok_; }
  int Signal() const { return signal_; }  // 0 until one came

 private:
  PollLoop& loop_;
  PollLoop::WatchId watch_ = 0;
  bool ok_ = false;
  int signal_ = 0;
};

class CtlHost : public LinkHost {
 public:
  CtlHost(PollLoop& loop, Output& out);
  ~CtlHost() override;

  void Attach(LinkEngine* engine) { engine_ = engine; }
  // No report may reach the engine from here on; before LinkEngine::Stop().
  void CloseCalls() { calls_.Close(); }
  std::optional<TransferKind> ProgressKind() const {
    return progress_ ? std::optional<TransferKind>(progress_->kind) : std::nullopt;
  }

  std::optional<TransferOutcome> outcome;
  std::optional<DeviceInfo> deviceInfo;  // what an upload brought; the command decides where it goes

  // LinkHost
  void SetLampState(int) override {}
  void SetStatusText(const std::string&) override {}
  void SetButtonStates(const ButtonStates&) override {}
  void SetTimer(int id, int ms) override;
  void KillTimer(int id) override;
  void ShowCounts() override {}
  void ShowMessage(const std::string& utf8) override { out_.Message(utf8); }
  void DeviceInfoReceived(const DeviceInfo& info) override { deviceInfo = info; }
  bool RunOnWindowThread(const std::function<void()>& fn) override;
  void TransferProgressed(const TransferProgress& p) override;
  void TransferEnded(const TransferOutcome& o) override;

 private:
  void OnTimer(int id);
  void CompleteProgress();

  PollLoop& loop_;
  Output& out_;
  LinkEngine* engine_ = nullptr;
  std::map<int, PollLoop::TimerId> timers_;
  std::optional<TransferProgress> progress_;  // the last one shown
  WindowCallQueue calls_;
};

// Where the command was told to look, and what it found.
struct PortChoice {
  ComEnvironment env;
  bool chosen = false;  // --com or --device: that port only
  int com = 0;
};
PortChoice ChoosePort(int com, const std::string& device);

// One lower machine's engine, as the window runs it, for one command.
class LinkSession {
 public:
  LinkSession(PollLoop& loop, SignalWatch& signals, Output& out, DeviceModel model, const PortChoice& ports,
              ParamModel& param, const std::optional<DeviceInfo>& info, const LinkTiming& timing);
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  enum class Found { kFound, kNotFound, kInterrupted };
  // Runs until the device answers, one whole search over the ports found none, or a signal.
  Found Find();
  int ComPort() const;  // where it answers
  std::string Device() const;

  // One transfer to its end; nothing when a signal stopped it.
  std::optional<TransferOutcome> Download(bool verify);
  std::optional<TransferOutcome> Upload();
  // How far a download came: it changed the device, or it was already being read back.
  bool DeviceTouched() const { return engine_->DeviceTouched(); }
  bool ReadBackBegun() const { return host_.ProgressKind() == TransferKind::kReadBack; }
  // What an upload brought of the code transmitter's device information.
  const std::optional<DeviceInfo>& ReceivedInfo() const { return host_.deviceInfo; }

  // Stops the engine: waits are cut short, its threads joined, its port closed.
  void Stop();

 private:
  std::optional<TransferOutcome> Run();
  bool Interrupted() const { return signals_.Signal() != 0; }

  PollLoop& loop_;
  SignalWatch& signals_;
  const DeviceModelInfo& model_;
  PortChoice ports_;
  CtlHost host_;
  std::unique_ptr<LinkEngine> engine_;
  bool stopped_ = false;
};

}  // namespace km27::ctl
