#include "ctl/ctl_link.h"

#include "ctl/ctl_system.h"
#include "link/link_timing.h"
#include "link/serial_comm.h"
#include "model/status_texts.h"
#include "model/transfer_texts.h"

namespace km27::ctl {

// ---- signals ------------------------------------------------------------------------------

SignalWatch::SignalWatch(PollLoop& loop) : loop_(loop), requests_(kStopInterrupt | kStopTerminate) {
  if (!requests_.Ok()) return;
  watch_ = loop_.WatchHandle(requests_.Handle(), kReadable, [this](unsigned) {
    const int s = requests_.Take();
    if (s != 0 && signal_ == 0) {
      signal_ = s;
      requests_.Release();  // a second Ctrl+C ends the process at once
    }
  });
  ok_ = true;
}

SignalWatch::~SignalWatch() {
  if (ok_) loop_.Unwatch(watch_);
}

// ---- host ---------------------------------------------------------------------------------

// The engines report each block as it begins; the bar is filled when a stage has ended well.
void CtlHost::CompleteProgress() {
  if (!progress_ || progress_->done >= progress_->total) return;
  TransferProgress done = *progress_;
  done.done = done.total;
  done.attempt = 1;
  TransferProgressed(done);
}

void CtlHost::TransferProgressed(const TransferProgress& p) {
  // A read-back begins only after its download went well.
  if (progress_ && progress_->kind != p.kind) CompleteProgress();
  progress_ = p;
  out_.Progress(p);
}

void CtlHost::TransferEnded(const TransferOutcome& o) {
  if (o.ok && (!o.readBack || o.verify != VerifyOutcome::kReadBackFailed)) CompleteProgress();
  out_.EndProgress();
  outcome = o;
}

// What the window would show in a box after a read-back.
void CtlHost::TransferJudged(const TransferOutcome& o) {
  if (!o.readBack) return;
  if (const std::string told = VerifyMessage(o.verify, o.difference, catalogue_); !told.empty()) out_.Message(told);
}

void CtlHost::LinkFailed(LinkFailure cause, int) {
  switch (cause) {
    case LinkFailure::kThreadStart: out_.Message(text::kThreadStartFailed()); break;
  }
}

// ---- session ------------------------------------------------------------------------------

PortChoice ChoosePort(int com, const std::string& device) {
  PortChoice c;
  c.env = ComEnvironment::FromProcess();
  if (com > 0 || !device.empty()) {
    c.chosen = true;
    c.com = com > 0 ? com : 1;
    c.env.onlyPort = c.com;
    c.env.onlyDevice = device;
  }
  return c;
}

LinkSession::LinkSession(PollLoop& loop, SignalWatch& signals, Output& out, DeviceModel model, const PortChoice& ports,
                         const std::optional<DeviceInfo>& info, const LinkTiming& timing)
    : loop_(loop), signals_(signals), model_(ModelInfo(model)), ports_(ports), host_(out) {
  const ComEnvironment env = ports.env;
  auto makeComm = [&loop, env]() -> std::unique_ptr<CommControl> {
    auto comm = std::make_unique<SerialComm>(loop);
    comm->SetComEnvironment(env);
    return comm;
  };
  engine_ = model_.makeEngine(EngineParts{loop, host_, timing, info, makeComm, env});
}

LinkSession::~LinkSession() { Stop(); }

void LinkSession::Stop() {
  if (stopped_) return;
  stopped_ = true;
  engine_->Stop();
}

LinkSession::Found LinkSession::Find() {
  engine_->Start();
  // The window waits before its first look so that it can draw itself; there is nothing to
  // draw here.
  engine_->SearchNow();
  const SearchRules& rules = model_.search;
  const int stepsPerPass = rules.perPort ? (ports_.chosen ? 1 : model_.lastCom) : 1;
  loop_.RunUntil([&] {
    const int passes = engine_->SpoiledAnswers() > 0 ? rules.passesWhenSpoiled : rules.passes;
    return engine_->LinkUp() || engine_->SearchSteps() >= passes * stepsPerPass || Interrupted();
  });
  if (Interrupted()) return Found::kInterrupted;
  return engine_->LinkUp() ? Found::kFound : Found::kNotFound;
}

int LinkSession::ComPort() const { return engine_->LinkComPort(); }

std::string LinkSession::Device() const { return ResolvedDevice(ComDevicePath(ComPort(), ports_.env)); }

std::optional<TransferOutcome> LinkSession::Download(const Programme& programme, bool verify) {
  engine_->SetVerifyAfterDownload(verify);
  engine_->OnDownload(programme);
  return Run();
}

std::optional<TransferOutcome> LinkSession::Upload() {
  engine_->OnUpload();
  return Run();
}

std::optional<TransferOutcome> LinkSession::Run() {
  if (!engine_->TransferRunning()) return std::nullopt;  // the engine said why (its thread could not start)
  loop_.RunUntil([&] { return host_.outcome.has_value() || Interrupted(); });
  if (Interrupted()) {
    Stop();
    return std::nullopt;
  }
  return host_.outcome;
}

}  // namespace km27::ctl
