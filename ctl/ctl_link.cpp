#include "ctl/ctl_link.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "link/link_timing.h"
#include "link/serial_comm.h"
#include "model/status_texts.h"
#include "model/transfer_texts.h"

namespace km27::ctl {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
  const int saved = errno;
  const unsigned char s = static_cast<unsigned char>(signo);
  (void)!::write(g_signalPipe[1], &s, 1);
  errno = saved;
}

void SetHandler(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM}) sigaction(s, &sa, nullptr);
}

std::string Resolved(const std::string& path) {
  if (path.empty()) return path;
  char* r = realpath(path.c_str(), nullptr);
  if (!r) return path;
  std::string s(r);
  free(r);
  return s;
}

}  // namespace

// ---- signals ------------------------------------------------------------------------------

SignalWatch::SignalWatch(PollLoop& loop) : loop_(loop) {
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  watch_ = loop_.WatchHandle(g_signalPipe[0], kReadable, [this](unsigned) {
    unsigned char s = 0;
    if (::read(g_signalPipe[0], &s, 1) == 1 && signal_ == 0) {
      signal_ = s;
      SetHandler(SIG_DFL);  // a second Ctrl+C ends the process at once
    }
  });
  SetHandler(OnSignal);
  ok_ = true;
}

SignalWatch::~SignalWatch() {
  if (!ok_) return;
  SetHandler(SIG_DFL);
  loop_.Unwatch(watch_);
  for (int& fd : g_signalPipe) {
    ::close(fd);
    fd = -1;
  }
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
    case LinkFailure::kThreadStart: out_.Message(text::kThreadStartFailed); break;
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

std::string LinkSession::Device() const { return Resolved(ComDevicePath(ComPort(), ports_.env)); }

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
