#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "ctl/ctl_output.h"
#include "link/device_models.h"
#include "link/link_engine.h"
#include "link/link_observer.h"
#include "link/poll_loop.h"
#include "model/code_catalogue.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"
#include "port/com_names.h"
#include "port/stop_requests.h"

// The engines of the window, driven from the command line: an observer of their facts, and a
// session that finds one lower machine and runs one transfer with it on a PollLoop.
namespace km27::ctl {

// Ctrl+C (and SIGTERM; on Windows also Ctrl+Break and a closing console) while the loop runs:
// the handler only marks the request on a handle the loop watches, and the loop stops what
// runs. A second request ends the process at once.
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
  StopRequests requests_;
  PollLoop::WatchId watch_ = 0;
  bool ok_ = false;
  int signal_ = 0;
};

class CtlHost : public LinkObserver {
 public:
  explicit CtlHost(Output& out) : out_(out) {}

  std::optional<TransferKind> ProgressKind() const {
    return progress_ ? std::optional<TransferKind>(progress_->kind) : std::nullopt;
  }

  std::optional<TransferOutcome> outcome;
  std::optional<ReceivedProgramme> received;  // what an upload brought; the command decides where it goes

  void TransferProgressed(const TransferProgress& p) override;
  void TransferJudged(const TransferOutcome& o) override;
  void ProgrammeReceived(const ReceivedProgramme& r) override { received = r; }
  void TransferEnded(const TransferOutcome& o) override;
  void LinkFailed(LinkFailure cause, int systemError) override;

 private:
  void CompleteProgress();

  Output& out_;
  CodeCatalogue catalogue_;  // names what a read-back found
  std::optional<TransferProgress> progress_;  // the last one shown
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
              const std::optional<DeviceInfo>& info, const LinkTiming& timing);
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  enum class Found { kFound, kNotFound, kInterrupted };
  // Runs until the device answers, one whole search over the ports found none, or a signal.
  Found Find();
  int ComPort() const;  // where it answers
  std::string Device() const;

  // One transfer to its end; nothing when a signal stopped it.
  std::optional<TransferOutcome> Download(const Programme& programme, bool verify);
  std::optional<TransferOutcome> Upload();
  // How far a download came: it changed the device, or it was already being read back.
  bool DeviceTouched() const { return engine_->DeviceTouched(); }
  bool ReadBackBegun() const { return host_.ProgressKind() == TransferKind::kReadBack; }
  // What an upload brought.
  const std::optional<ReceivedProgramme>& Received() const { return host_.received; }

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
